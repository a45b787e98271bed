// SPDX-License-Identifier: GPL-3.0-or-later
// The distortion analyzer in the running instrument, on the simulated bench:
// a generator tone through a device that adds known harmonics and noise, the
// figures as the print names give them, the time view, and the panel.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "core/store_rig.h"

namespace miral::core {
namespace {

using namespace miral::core::testing;

double field(const Instrument& in, const std::string& name) {
    const auto v = in.printField(name);
    EXPECT_TRUE(v.has_value()) << name;
    return v ? std::stod(*v) : NAN;
}

TEST(DistortionCycle, FiguresOfTheBenchsHarmonicsAndNoise) {
    ConfigDir cfg;
    Rig r(cfg.dir, "harmonics:h2=-60,h3=-70+noise:dbfs=-100");
    r.set("genon1", "1");
    r.runner.runFor(0.6);
    const Instrument& in = r.in;
    ASSERT_EQ(*in.printField("DistStatus"), "ok");
    // The generator's 440 Hz: with no correction stored the bench reads it as it plays it.
    EXPECT_NEAR(field(in, "DistF0"), 440, 440e-6);
    // The bench distorts x + k2 x^2 + k3 x^3 with k2 = 2 x 10^(-60/20) and
    // k3 = 4 x 10^(-70/20): for a tone of peak A (full scale 1) H2 sits at
    // -60 dB + 20 log A and H3 at -70 dB + 40 log A below it.
    const double level = field(in, "DistLevelDbfs");
    EXPECT_LT(level, -1);
    EXPECT_NEAR(field(in, "DistH2Db"), -60 + level, 0.1);
    EXPECT_NEAR(field(in, "DistH3Db"), -70 + 2 * level, 0.1);
    const double h = std::pow(10.0, (-60 + level) / 10) + std::pow(10.0, (-70 + 2 * level) / 10);
    EXPECT_NEAR(field(in, "DistThdDb"), 10 * std::log10(h), 0.1);
    EXPECT_NEAR(field(in, "DistThdPct"), 100 * std::sqrt(h), 100 * std::sqrt(h) * 0.012);
    // White noise of r.m.s. 10^(-100/20) of full scale (3 dB more than -100
    // dB below a full-scale sine) over the half band; the band is 20 Hz ..
    // 0.45 x 44100 Hz of it.
    const double band = (0.45 * 44100 - 20) / (44100.0 / 2);
    const double noise = 2 * std::pow(10.0, -100 / 10.0) * band / std::pow(10.0, level / 10);
    EXPECT_NEAR(field(in, "DistThdNDb"), 10 * std::log10(h + noise), 0.2);
    EXPECT_NEAR(field(in, "DistSnrDb"), -10 * std::log10(noise), 0.3);
    EXPECT_NEAR(field(in, "DistSinadDb"), -field(in, "DistThdNDb"), 1e-9);
    EXPECT_NEAR(field(in, "DistEnob"), (field(in, "DistSinadDb") - 1.76) / 6.02, 1e-9);
    // Channel B: the same tone without the harmonics, the same noise.
    ASSERT_EQ(*in.printField("DistBStatus"), "ok");
    EXPECT_LT(field(in, "DistBThdDb"), -100);
    const double levelB = field(in, "DistBLevelDbfs");
    EXPECT_NEAR(field(in, "DistBThdNDb"), -100 + 10 * std::log10(2 * band) - levelB, 0.2);
    EXPECT_NEAR(field(in, "DistBF0"), field(in, "DistF0"), 440e-6);
    // The level in volts uses the calibration of the "Fund." readout: full
    // scale reads 1.246 V r.m.s.
    EXPECT_NEAR(field(in, "DistLevelV"), 1.2459 * std::pow(10.0, level / 20), 1.2459 * 1e-3);
}

TEST(DistortionCycle, BandAveragesAndTheTimeView) {
    ConfigDir cfg;
    Rig r(cfg.dir, "harmonics:h2=-60,h3=-70");
    r.set("genon1", "1");
    r.set("distavg", "4");
    r.set("disthigh", "1000");  // H3 at 1320 Hz is left out
    r.runner.runFor(1.0);
    const Instrument& in = r.in;
    ASSERT_EQ(*in.printField("DistStatus"), "ok");
    EXPECT_EQ(*in.printField("DistAveraged"), "4");
    EXPECT_EQ(*in.printField("DistH3Db"), "nan");
    EXPECT_NEAR(field(in, "DistThdDb"), field(in, "DistH2Db"), 1e-9);
    EXPECT_LE(field(in, "DistBandHigh"), 1000);
    // The time view holds no measurement: the figures say so.
    r.click("Tempo");
    r.runner.runFor(0.05);
    EXPECT_EQ(*in.printField("DistStatus"), "off");
    EXPECT_EQ(*in.printField("DistThdDb"), "nan");
    r.click("Frequenza");
    r.runner.runFor(0.5);
    EXPECT_EQ(*in.printField("DistStatus"), "ok");
}

TEST(DistortionCycle, TheKeyShowsThePanelBesideTheScreen) {
    ConfigDir cfg;
    Rig r(cfg.dir, "harmonics:h2=-60");
    display::RecordingCanvas box{164, 600};
    r.in.panel.setCanvas(Ctl::PaintBox6, &box);
    r.set("genon1", "1");
    r.runner.runFor(0.6);
    EXPECT_FALSE(r.in.panel.visible(Ctl::pan3));
    EXPECT_TRUE(box.calls().empty());  // not drawn while hidden
    r.click("distview");
    r.runner.runFor(0.1);
    EXPECT_TRUE(r.in.panel.visible(Ctl::pan3));
    EXPECT_EQ(r.in.panel.formWidth(), 848);
    // Beside the screen, not over it.
    const ControlState& screen = r.in.panel.state(Ctl::screen);
    EXPECT_GE(r.in.panel.state(Ctl::pan3).left, screen.left + screen.width);
    std::string text;
    for (const auto& c : box.callsOf(display::DrawCall::Kind::Text)) text += c.text + "|";
    for (const char* s : {"THD|", "THD+N|", "SINAD|", "SNR|", "ENOB|", "Level|", "A|", "B|"})
        EXPECT_NE(text.find(s), std::string::npos) << s << " in " << text;
    // The "Panel" key brings the side panels back.
    r.in.panel.setCanvas(Ctl::PaintBox6, nullptr);
    r.click("fun");
    EXPECT_FALSE(r.in.panel.down(Ctl::distview));
    EXPECT_FALSE(r.in.panel.visible(Ctl::pan3));
}

}  // namespace
}  // namespace miral::core
