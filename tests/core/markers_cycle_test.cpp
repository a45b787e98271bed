// SPDX-License-Identifier: GPL-3.0-or-later
// The markers and the distortion readout in the processing cycle: the
// simulated bench with a distorting device, drawn into recording canvases.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "core/instrument.h"
#include "core/operate.h"
#include "core/runner.h"
#include "cycle_bench.h"
#include "display/number_text.h"
#include "display/recording_canvas.h"

namespace miral::core {
namespace {

namespace fs = std::filesystem;

struct Bench : test::CycleBench {
    Bench() : CycleBench("markers") {}
    // The simulated bench with the main generator on a full-amplitude sine;
    // `divider` sets the FFT size (16: 4096 points).
    void start(const std::string& dut, int divider, int hz = 1000) {
        power("sim", dut);
        set("ComboBox3", std::to_string(divider));
        set("genfreq", std::to_string(hz));
        set("genx4", "1");
        set("genampl", "100");
        set("genon1", "1");
        set("markerview", "1");
    }
    void marker(Ctl handle, MouseButton b = MouseButton::Left) { in.panel.userPress(handle, b); }
    // Drags a handle by dx pixels with the left button held (taken 4 pixels
    // right of its left edge).
    void drag(Ctl handle, int dx) {
        ShiftState held;
        held.left = true;
        in.panel.userMouseDown(handle, MouseButton::Left, 4, 4, held);
        in.panel.userMouseMove(handle, held, 4 + dx, 4);
        in.panel.userMouseUp(handle, MouseButton::Left, 4 + dx, 4, ShiftState{});
    }
    int left(Ctl handle) const { return in.panel.state(handle).left; }
    // Runs one cycle and returns the texts it drew.
    std::vector<display::DrawCall> cycleTexts() {
        buffer.clear();
        runner.runFor(0.001);
        return buffer.callsOf(display::DrawCall::Kind::Text);
    }
    static const display::DrawCall* find(const std::vector<display::DrawCall>& calls,
                                         std::string_view prefix) {
        for (const auto& c : calls)
            if (c.text.rfind(prefix, 0) == 0) return &c;
        return nullptr;
    }
};

// The figure after `label` in the distortion line, in per cent.
double figure(const std::string& line, const std::string& label) {
    const auto at = line.find(label);
    if (at == std::string::npos) return -1;
    return std::stod(line.substr(at + label.size()));
}

TEST(MarkersCycle, DistortionOfTheSimulatedDeviceMatchesItsHarmonics) {
    Bench b;
    // The device adds a 2nd harmonic 60 dB and a 3rd 70 dB below a full-scale
    // sine (a sine of peak a: the 2nd a times, the 3rd a^2 times weaker).
    b.start("harmonics:h2=-60,h3=-70", 8);
    b.set("flat", "1");  // flat top: no scalloping between the tone and its harmonics
    b.set("maxx", "0");
    b.set("modea", "1");
    b.marker(Ctl::mark1x);
    b.runner.runFor(0.5);
    double peak = 0;
    for (int i = 0; i < b.in.st.FftSize; ++i)
        peak = std::max(peak, std::abs(b.in.st.TimeWorkA[static_cast<std::size_t>(i)]));
    const double a = peak / 32768;
    ASSERT_GT(a, 0.5);
    const double h2 = 1e-3 * a, h3 = std::pow(10.0, -3.5) * a * a;
    const std::string line = b.in.panel.text(Ctl::Edit11);
    ASSERT_EQ(line.rfind("Noise + THD=", 0), 0u) << line;
    EXPECT_NEAR(figure(line, "THD="), 100 * std::hypot(h2, h3), 0.003) << line;
    EXPECT_NEAR(figure(line, "Overtone THD="), 100 * h3, 0.002) << line;
    EXPECT_NEAR(figure(line, "%  @"), 1000, b.in.st.BinWidth) << line;
    // Drawn at (20, bottom of the upper area - 2) on the background colour.
    const auto texts = b.cycleTexts();
    const display::DrawCall* t = Bench::find(texts, "Noise + THD=");
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->to, (display::Point{20, b.in.st.UpperBottom - 2}));
    EXPECT_EQ(t->brush.style, display::BrushStyle::Solid);
    EXPECT_EQ(t->brush.color, b.in.slotColor(SlotBackground));
    EXPECT_EQ(t->font.size, 8);

    // "A+B": the same signal on both inputs cancels; drawn at x = 8, clear.
    b.set("modeab", "1");
    const auto both = b.cycleTexts();
    t = Bench::find(both, "True THD=");
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->to, (display::Point{8, b.in.st.UpperBottom - 2}));
    EXPECT_EQ(t->brush.style, display::BrushStyle::Clear);
}

TEST(MarkersCycle, SameSignalOnBothInputsReadsZero) {
    Bench b;
    // The wire feeds L to A and R to B; the auxiliary generator off, R carries
    // the main generator's signal too.
    b.start("harmonics:h2=-50", 16);
    b.set("maxx", "0");
    b.marker(Ctl::mark1x);
    b.runner.runFor(0.3);
    const std::string line = b.in.panel.text(Ctl::Edit11);
    ASSERT_EQ(line.rfind("True THD=", 0), 0u) << line;
    // A has the device's harmonic, B does not: A's figure remains.
    EXPECT_NEAR(figure(line, "True THD="), 0.3, 0.05) << line;
    b.in.streams().SetDeviceUnderTest("wire");
    b.runner.runFor(0.3);
    EXPECT_EQ(b.in.panel.text(Ctl::Edit11).rfind("True THD=0%  Overtone THD=0%  @", 0), 0u)
        << b.in.panel.text(Ctl::Edit11);
}

TEST(MarkersCycle, DistortionOnlyWithMarker1AndWithoutAvgOrMax) {
    Bench b;
    b.start("harmonics:h2=-60", 16);
    b.runner.runFor(0.3);
    auto distortionDrawn = [&] {
        const auto texts = b.cycleTexts();
        return Bench::find(texts, "True THD=") != nullptr || Bench::find(texts, "Noise + THD=") != nullptr;
    };
    ASSERT_TRUE(b.in.panel.down(Ctl::maxx));
    b.marker(Ctl::mark1x);
    EXPECT_FALSE(distortionDrawn());  // "Max" down
    b.set("maxx", "0");
    EXPECT_TRUE(distortionDrawn());
    b.marker(Ctl::mark1x, MouseButton::Right);  // marker 1 off
    EXPECT_EQ(b.in.panel.tag(Ctl::mark1x), 0);
    EXPECT_FALSE(distortionDrawn());
    b.marker(Ctl::mark1x);
    b.set("markerview", "0");
    EXPECT_FALSE(distortionDrawn());
    b.set("markerview", "1");
    b.set("trasf", "1");
    EXPECT_FALSE(distortionDrawn());
}

TEST(MarkersCycle, HandlesAreShownSwitchedAndDraggedWithinTheStrip) {
    Bench b;
    b.start("wire", 16);
    for (Ctl h : {Ctl::mark1x, Ctl::mark2x, Ctl::mark3x, Ctl::mark4x}) EXPECT_TRUE(b.in.panel.visible(h));
    // A right click on the screen hides the markers, a left click shows them.
    b.in.panel.userPress(Ctl::PaintBox1, MouseButton::Right, 100, 100);
    EXPECT_FALSE(b.in.panel.down(Ctl::markerview));
    EXPECT_FALSE(b.in.panel.visible(Ctl::mark3x));
    b.in.panel.userPress(Ctl::PaintBox1, MouseButton::Left, 100, 100);
    EXPECT_TRUE(b.in.panel.visible(Ctl::mark3x));

    EXPECT_EQ(b.left(Ctl::mark2x), 40);
    b.drag(Ctl::mark2x, 100);  // the left edge moves by the pointer's offset
    EXPECT_EQ(b.left(Ctl::mark2x), 140);
    b.drag(Ctl::mark2x, 430);  // 570 is the last place before the pin
    EXPECT_EQ(b.left(Ctl::mark2x), 570);
    b.drag(Ctl::mark2x, 1);  // past the screen panel's width - 15
    EXPECT_EQ(b.left(Ctl::mark2x), 568);
    b.drag(Ctl::mark2x, -1000);
    EXPECT_EQ(b.left(Ctl::mark2x), 8);
    // A small nudge: taken 3 pixels right of its edge and moved 3 pixels
    // left, then 2 right, the handle follows the pointer exactly.
    b.drag(Ctl::mark2x, 100);
    ASSERT_EQ(b.left(Ctl::mark2x), 108);
    ShiftState held;
    held.left = true;
    b.in.panel.userMouseDown(Ctl::mark2x, MouseButton::Left, 3, 4, held);
    b.in.panel.userMouseMove(Ctl::mark2x, held, 0, 4);
    EXPECT_EQ(b.left(Ctl::mark2x), 105);
    b.in.panel.userMouseMove(Ctl::mark2x, held, 5, 4);  // the pointer 2 pixels further right
    EXPECT_EQ(b.left(Ctl::mark2x), 107);
    b.in.panel.userMouseUp(Ctl::mark2x, MouseButton::Left, 5, 4, ShiftState{});
    b.drag(Ctl::mark2x, -1000);
    // Without the left button held the handle does not move.
    b.in.panel.userMouseMove(Ctl::mark2x, ShiftState{}, 50, 4);
    EXPECT_EQ(b.left(Ctl::mark2x), 8);
    EXPECT_EQ(b.in.panel.tag(Ctl::mark2x), 1);  // the press switched it on
}

TEST(MarkersCycle, ReadoutBlockOnTheTraceAndTunemarkKeepsTheFrequency) {
    Bench b;
    b.start("wire", 16);
    b.runner.runFor(0.3);
    const double w = b.in.st.BinWidth;
    const int tone = static_cast<int>(1000 / w + 0.5);
    // Marker 1 and 2 over the tone's column, marker 3 further right.
    const int column =
        static_cast<int>(display::MapAxis(tone * w, b.in.st.PlotSpan, b.in.st.FMin, b.in.st.FMax, true) + 3);
    for (Ctl h : {Ctl::mark1x, Ctl::mark2x}) {
        b.marker(h);
        b.drag(h, column + 4 - b.left(h));
    }
    b.marker(Ctl::mark3x);
    b.drag(Ctl::mark3x, 450 - b.left(Ctl::mark3x));
    auto texts = b.cycleTexts();
    const display::MarkerCapture& m1 = b.in.markerCapture(0);
    const display::MarkerCapture& m2 = b.in.markerCapture(1);
    EXPECT_EQ(m1.x, column);
    EXPECT_EQ(m1.bin, m2.bin);
    EXPECT_NEAR(m1.bin, tone, 1);
    // Same bin, same frequency; the level difference is only the extra
    // decimals of marker 1.
    const std::string freq = display::NumberText(std::trunc(m1.bin * w * 10 + 0.5) * 0.1, 6).str() + " Hz.";
    int freqTexts = 0;
    for (const auto& t : texts) freqTexts += t.text == freq;
    EXPECT_EQ(freqTexts, 2);
    const display::DrawCall* diff = Bench::find(texts, "(");
    ASSERT_NE(diff, nullptr);
    EXPECT_LT(std::abs(std::stod(diff->text.substr(1))), 0.01) << diff->text;
    // Marker 1's level is the tone's: about 57 dB for this amplitude.
    const display::DrawCall* level =
        Bench::find(texts, display::NumberText(m1.value / b.in.st.ScaleB / 230.2585, 4).view());
    ASSERT_NE(level, nullptr);
    EXPECT_EQ(level->to.x, column + 4);
    // The dotted line in marker 1's line colour and the dot on the trace.
    const auto lines = b.buffer.callsOf(display::DrawCall::Kind::Line);
    bool dotted = false, dot = false;
    for (const auto& l : lines) {
        dotted = dotted || (l.pen.style == display::PenStyle::Dot && l.from.x == column &&
                            l.pen.color == b.in.slotColor(SlotMark1Trace));
        dot = dot ||
              (l.pen.width == 5 && l.from.x == column && l.pen.color == b.in.slotColor(SlotMarker1) &&
               l.from.y == std::clamp(static_cast<int>(m1.y), b.in.st.UpperTop, b.in.st.UpperBottom - 4));
    }
    EXPECT_TRUE(dotted);
    EXPECT_TRUE(dot);

    // In the linear view the difference line is dashes.
    b.set("ylog", "0");
    texts = b.cycleTexts();
    int dashes = 0;
    for (const auto& t : texts) dashes += t.text == "-------------";
    EXPECT_EQ(dashes, 2);  // markers 2 and 3

    // tunemark puts each switched-on handle over its bin's column: after the
    // band moves, marker 3 follows its frequency.
    const int bin3 = b.in.markerCapture(2).bin;
    ASSERT_NE(bin3, 0);
    b.in.st.FMax = 10000;
    b.in.tunemark();
    const int expected =
        static_cast<int>(display::MapAxis(bin3 * w, b.in.st.PlotSpan, b.in.st.FMin, 10000, true) + 7);
    EXPECT_EQ(b.left(Ctl::mark3x), expected);
    EXPECT_EQ(b.left(Ctl::mark4x), 104);  // switched off: stays
}

TEST(MarkersCycle, InTheTransferViewMarker1ShowsThePhaseOnTheCurve) {
    Bench b;
    b.start("rc-lowpass:R=1k,C=100n", 16);
    b.set("trasf", "1");
    b.marker(Ctl::mark1x);
    b.drag(Ctl::mark1x, 300 - b.left(Ctl::mark1x));
    b.runner.runFor(0.5);
    const auto texts = b.cycleTexts();
    const display::MarkerCapture& m1 = b.in.markerCapture(0);
    ASSERT_NE(m1.bin, 0);
    // A low-pass lags: the phase is negative, printed with 7 characters.
    EXPECT_LT(m1.phase, -1);
    const display::DrawCall* phase = Bench::find(texts, display::NumberText(m1.phase, 7).str() + " Deg.");
    ASSERT_NE(phase, nullptr);
    // The second dot sits on the phase curve: 360 degrees over 0.475 of the
    // plot height, +180 eight rows below the middle.
    const int h = b.in.st.PlotHeight;
    const double curve = h / 2 - (m1.phase - 180) * h * 19.0 / 36.0 * 0.0025 + 8;
    EXPECT_EQ(phase->to.y, static_cast<int>(curve - 8) - 12);
    bool dot = false;
    for (const auto& l : b.buffer.callsOf(display::DrawCall::Kind::Line))
        dot = dot || (l.pen.width == 5 && l.from.x == 296 && l.from.y == static_cast<int>(curve - 8) + 8);
    EXPECT_TRUE(dot);
}

TEST(MarkersCycle, AMarkerThatCaughtNothingKeepsItsPlace) {
    // Right after power-on no cycle has run: the restored handles must not
    // be thrown to the left edge by a view change.
    Bench b;
    ASSERT_TRUE(b.in.streams().SelectDriver("sim", audio::TimeMode::Simulated));
    b.in.FormCreate();
    b.in.FormActivate();
    ASSERT_FALSE(b.in.panel.down(Ctl::Tempo));
    b.in.panel.setBounds(Ctl::mark4x, 300, 408, 9, 9);
    b.in.panel.setTag(Ctl::mark4x, 1);
    b.in.tunemark();
    EXPECT_EQ(b.left(Ctl::mark4x), 300);
    EXPECT_EQ(b.in.markerCapture(3).bin, 0);
}

}  // namespace
}  // namespace miral::core
