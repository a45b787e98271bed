// SPDX-License-Identifier: GPL-3.0-or-later
// The transfer-function view in the processing cycle: its set-up, and Bode
// diagrams of known devices on the simulated bench and from WAV files.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "core/instrument.h"
#include "core/operate.h"
#include "core/runner.h"
#include "cycle_bench.h"
#include "display/recording_canvas.h"

namespace miral::core {
namespace {

namespace fs = std::filesystem;

struct Bench : test::CycleBench {
    Bench() : CycleBench("transfer") {}
    // The simulated bench (or a WAV card) with 4096-point FFTs.
    void start(const std::string& dut, const std::string& audio = "sim") {
        power(audio, dut);
        set("ComboBox3", "16");
    }
    // Gain (dB) and phase (degrees) drawn at a bin.
    double gainDb(int bin) const {
        return in.st.DisplayA[static_cast<std::size_t>(bin)] / in.st.ScaleB / 2000 * 20 / std::log(10.0);
    }
    double phase(int bin) const { return in.st.DisplayPhase[static_cast<std::size_t>(bin)]; }
    int binOf(double hz) const { return static_cast<int>(hz / in.st.BinWidth + 0.5); }
};

TEST(TransferCycle, EnteringSetsUpTheExcitationOfTheCheckedRadio) {
    Bench b;
    b.start("wire");
    b.in.panel.setDown(Ctl::modeb, true);  // as the time view left it
    b.set("trasf", "1");                   // "B - Noise" is checked at first
    const Panel& p = b.in.panel;
    EXPECT_TRUE(p.down(Ctl::gennoise1));
    EXPECT_TRUE(p.down(Ctl::genx1));
    EXPECT_EQ(p.value(Ctl::genampl), 20);
    EXPECT_EQ(p.value(Ctl::gensweep), 50);
    EXPECT_EQ(p.value(Ctl::genfreq), 16000);  // the divider in hertz on range " 1"
    EXPECT_EQ(p.caption(Ctl::Label131), "50%");
    EXPECT_FALSE(p.down(Ctl::gensweep1));
    EXPECT_TRUE(p.down(Ctl::genon1));
    EXPECT_FALSE(p.down(Ctl::genon2));
    EXPECT_FALSE(p.down(Ctl::db20));
    EXPECT_FALSE(p.down(Ctl::db40));
    EXPECT_TRUE(p.down(Ctl::nuttal));
    EXPECT_TRUE(p.down(Ctl::ylog));
    EXPECT_TRUE(p.down(Ctl::xlog));
    EXPECT_TRUE(p.down(Ctl::avg));
    EXPECT_EQ(b.in.st.LfRestartCount, 7);
    EXPECT_EQ(b.in.st.MainFrequency, 16);
    EXPECT_EQ(b.in.st.FMin, 80);
    EXPECT_EQ(b.in.st.FMax, 22050);
    EXPECT_FALSE(p.enabled(Ctl::modeb));
    EXPECT_TRUE(p.down(Ctl::modea));
    EXPECT_EQ(b.in.st.FftSize, 4096);
    // The band knobs follow (the upper one in steps of 100 Hz).
    b.runner.runFor(0.05);
    EXPECT_EQ(b.in.st.FMin, 80);
    EXPECT_EQ(b.in.st.FMax, 22000);

    // Each radio button sets up its own excitation.
    b.set("RadioButton3", "1");  // "C - Sin Sweep"
    EXPECT_TRUE(p.down(Ctl::gensin1));
    EXPECT_TRUE(p.down(Ctl::genx3));
    EXPECT_EQ(p.value(Ctl::genampl), 46);
    EXPECT_EQ(p.value(Ctl::gensweep), 90);
    EXPECT_EQ(p.caption(Ctl::Label131), "1K");
    EXPECT_TRUE(p.down(Ctl::gensweep1));
    EXPECT_EQ(p.caption(Ctl::Label128), "Sweep");
    b.set("RadioButton4", "1");  // "D - Sqr Sweep"
    EXPECT_TRUE(p.down(Ctl::gensqr1));
    EXPECT_TRUE(p.down(Ctl::genx1));
    EXPECT_EQ(p.value(Ctl::genampl), 23);
    EXPECT_EQ(p.value(Ctl::gensweep), 100);
    b.set("RadioButton1", "1");  // "A - Pulse "
    EXPECT_TRUE(p.down(Ctl::gensqr1));
    EXPECT_FALSE(p.down(Ctl::gensweep1));
    EXPECT_EQ(p.value(Ctl::genampl), 25);
    EXPECT_EQ(p.caption(Ctl::Label131), "50%");
    // The impedance view drives its shunt at full amplitude and keeps its own Y axis.
    b.set("ylog", "0");
    b.set("zeta", "1");
    EXPECT_EQ(p.value(Ctl::genampl), 100);
    EXPECT_FALSE(p.down(Ctl::ylog));
}

TEST(TransferCycle, WithoutAutoAdjustOnlyTheViewAndTheBandChange) {
    Bench b;
    b.start("wire");
    b.set("CheckBox9", "0");
    b.set("gensin1", "1");
    b.set("genampl", "70");
    b.set("hann", "1");
    b.set("ylog", "0");
    b.runner.runFor(0.01);
    const Panel& p = b.in.panel;
    const Ctl kept[] = {Ctl::genon1, Ctl::gensin1, Ctl::gennoise1, Ctl::genx3, Ctl::hann,
                        Ctl::nuttal, Ctl::ylog,    Ctl::avg,       Ctl::db20,  Ctl::genon2};
    std::vector<bool> before;
    for (Ctl c : kept) before.push_back(p.down(c));
    const int freq = p.value(Ctl::genfreq);
    b.in.st.FMin = 64;  // as the band knobs left it
    b.set("trasf", "1");
    for (std::size_t i = 0; i < before.size(); ++i) EXPECT_EQ(p.down(kept[i]), before[i]) << i;
    EXPECT_EQ(p.value(Ctl::genfreq), freq);
    EXPECT_EQ(p.value(Ctl::genampl), 70);
    EXPECT_EQ(b.in.st.LfRestartCount, 0);
    EXPECT_EQ(b.in.st.FMin, 100);  // 64 Hz becomes 100 Hz
    EXPECT_EQ(b.in.st.FMax, 22050);
    EXPECT_FALSE(p.enabled(Ctl::modeb));
    EXPECT_FALSE(b.in.st.DisplayPrimed);  // the frequency view was set up again
    EXPECT_EQ(p.value(Ctl::tb1), 10);     // and the knobs retuned: 100 Hz on "x 10"
    EXPECT_TRUE(p.down(Ctl::tb12));
    b.in.st.FMin = 3;
    b.set("RadioButton1", "1");
    EXPECT_EQ(b.in.st.FMin, 5);

    // Leaving the device views only brings the upper limit back within the band.
    b.set("Frequenza", "1");
    b.in.st.FMax = 30000;
    b.in.trasfClick();
    EXPECT_EQ(b.in.st.FMax, 22050);
    EXPECT_EQ(p.value(Ctl::tb2), 220);  // 160, then retuned by the frequency view
    EXPECT_TRUE(p.down(Ctl::tb23));
    EXPECT_EQ(p.value(Ctl::genampl), 70);
}

// The default excitation ("B - Noise") on the simulated bench: two runs give
// the same picture bit for bit; another seed gives another noise table and
// another picture.
TEST(TransferCycle, NoiseExcitationRepeatsBitForBitOnTheSimulatedBench) {
    struct Run {
        std::vector<double> display;
        std::vector<float> table;
    };
    auto run = [](std::optional<std::uint64_t> seed) {
        Bench b;
        if (seed) b.in.setNoiseSeed(*seed);
        b.start("rc-lowpass:R=1000,C=1e-7");
        b.set("trasf", "1");
        EXPECT_TRUE(b.in.panel.down(Ctl::gennoise1));
        b.runner.runFor(0.3);
        Run r;
        r.display.assign(b.in.st.DisplayA.begin(), b.in.st.DisplayA.begin() + b.in.st.FftSize / 2);
        const float* t = b.in.tables().PublishedA();
        r.table.assign(t, t + b.in.tables().PlaybackLength.load());
        return r;
    };
    const Run first = run(std::nullopt);
    const Run second = run(std::nullopt);
    ASSERT_EQ(first.table.size(), 44100u);
    EXPECT_TRUE(first.table == second.table);
    ASSERT_EQ(first.display.size(), second.display.size());
    for (std::size_t i = 0; i < first.display.size(); ++i) {
        // Bit for bit: the same doubles, not merely close ones.
        ASSERT_EQ(std::memcmp(&first.display[i], &second.display[i], sizeof(double)), 0) << i;
    }
    const Run other = run(12345);
    EXPECT_FALSE(other.table == first.table);
    EXPECT_FALSE(other.display == first.display);
}

TEST(TransferCycle, WireGivesUnityGainAndZeroPhase) {
    Bench b;
    b.start("wire");
    b.set("trasf", "1");
    b.runner.runFor(0.3);
    for (int bin = b.binOf(b.in.st.FMin); bin < b.in.st.FftSize / 2 - 10; bin += 7) {
        EXPECT_NEAR(b.gainDb(bin), 0.0, 0.01) << bin;
        EXPECT_NEAR(b.phase(bin), 0.0, 0.05) << bin;
    }
}

TEST(TransferCycle, RcLowPassIsThreeDbDownAndMinus45DegreesAtItsCorner) {
    Bench b;
    b.start("rc-lowpass:R=1000,C=1e-7");
    b.set("trasf", "1");
    b.runner.runFor(1.5);
    // The first bin at or below -3 dB.
    int corner = 0;
    for (int bin = b.binOf(100); bin < b.in.st.FftSize / 2; ++bin) {
        if (b.gainDb(bin) <= -3.0103) {
            corner = bin;
            break;
        }
    }
    ASSERT_GT(corner, 0);
    const double fc = 1 / (2 * std::acos(-1.0) * 1000 * 1e-7);  // 1591.5 Hz
    EXPECT_NEAR(corner * b.in.st.BinWidth, fc, 0.01 * fc);
    EXPECT_NEAR(b.phase(corner), -45.0, 1.0);
    // A decade below: flat, and a small lag (noise excitation: a few
    // hundredths of a dB and a tenth of a degree of scatter).
    EXPECT_NEAR(b.gainDb(b.binOf(fc / 10)), -0.043, 0.1);
    EXPECT_NEAR(b.phase(b.binOf(fc / 10)), -5.7, 0.5);
}

TEST(TransferCycle, PhaseCurveComesBeforeGainAndInputTraces) {
    Bench b;
    b.start("rc-lowpass:R=1000,C=1e-7");
    b.set("trasf", "1");
    b.set("tic2", "1");
    b.runner.runFor(0.5);
    b.buffer.clear();
    b.runner.runFor(0.001);
    std::vector<int> order;
    for (const auto& c : b.buffer.callsOf(display::DrawCall::Kind::Polyline)) {
        for (int slot : {SlotXfrPhase, SlotXfrGain, SlotXfrIn})
            if (c.pen.color == b.in.slotColor(slot) && (order.empty() || order.back() != slot))
                order.push_back(slot);
        EXPECT_EQ(c.pen.width, 2);
    }
    EXPECT_EQ(order, (std::vector<int>{SlotXfrPhase, SlotXfrGain, SlotXfrIn}));
    // "Split XFR": gain above, channel B below; the phase curve within the
    // lower area's phase scale (0 to -90 degrees: its upper half).
    const auto& st = b.in.st;
    ASSERT_NE(st.LowerTop, 0);
    for (const auto& c : b.polylines(SlotXfrGain))
        for (const auto& pt : c.points) EXPECT_LE(pt.y, st.UpperBottom - 4);
    for (const auto& c : b.polylines(SlotXfrIn))
        for (const auto& pt : c.points) EXPECT_GE(pt.y, st.LowerTop);
    for (const auto& c : b.polylines(SlotXfrPhase)) {
        for (const auto& pt : c.points) {
            EXPECT_GE(pt.y, static_cast<int>(b.in.phaseCurveRow(1)));
            EXPECT_LE(pt.y, static_cast<int>(b.in.phaseCurveRow(-91)));
        }
    }
}

// A WAV card whose channel A is channel B inverted: white noise on B.
std::string InverterWav(const fs::path& dir) {
    const fs::path p = dir / "inverter.wav";
    SF_INFO info{};
    info.samplerate = 44100;
    info.channels = 2;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE* f = sf_open(p.c_str(), SFM_WRITE, &info);
    EXPECT_NE(f, nullptr);
    std::mt19937 rng(3);
    std::uniform_real_distribution<float> noise(-0.3f, 0.3f);
    std::vector<float> frames(2 * 65536);
    for (std::size_t i = 0; i < 65536; ++i) {
        const float x = noise(rng);
        frames[2 * i] = -x;
        frames[2 * i + 1] = x;
    }
    sf_writef_float(f, frames.data(), 65536);
    sf_close(f);
    return "wav:" + p.string();
}

TEST(TransferCycle, InvertingDeviceWithBothInputsInvertedIsFoldedBelowZero) {
    Bench b;
    b.start("", InverterWav(b.dir));
    // No excitation set-up: no LF average nor smoothing, which would blur
    // phases that sit on +-180.
    b.set("CheckBox9", "0");
    b.set("lowf", "0");
    b.set("ylog", "1");
    b.set("trasf", "1");
    b.runner.runFor(0.3);
    const int h = b.in.st.FftSize / 2;
    for (int bin = 20; bin < h - 10; bin += 11) EXPECT_NEAR(std::fabs(b.phase(bin)), 180.0, 0.5) << bin;

    b.set("Inv1", "1");
    b.set("Inv2", "1");
    b.runner.runFor(0.3);
    for (int bin = 20; bin < h - 10; bin += 11) EXPECT_NEAR(b.phase(bin), -180.0, 0.5) << bin;
    // The phase grid is labelled from 0 at its top down to -360 (as 360 .. 0)
    // and -180 lies in its middle.
    b.buffer.clear();
    b.runner.runFor(0.001);
    bool top = false;
    for (const auto& t : b.buffer.callsOf(display::DrawCall::Kind::Text))
        top = top || (t.text == "360" && t.to.y + 10 == b.in.st.LowerTop + 2);
    EXPECT_TRUE(top);
    EXPECT_NEAR(b.in.phaseCurveRow(-180), (b.in.phaseCurveRow(0) + b.in.phaseCurveRow(-360)) / 2, 1e-9);
    EXPECT_NEAR(b.in.phaseCurveRow(0), b.in.st.LowerTop + 2, 2.0);
}

}  // namespace
}  // namespace miral::core
