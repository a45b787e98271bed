// SPDX-License-Identifier: GPL-3.0-or-later
// The oscilloscope in the processing cycle, on the simulated bench, drawing
// into recording canvases.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "core/instrument.h"
#include "core/operate.h"
#include "core/runner.h"
#include "cycle_bench.h"
#include "display/qimage_canvas.h"
#include "display/recording_canvas.h"

namespace miral::core {
namespace {

namespace fs = std::filesystem;

struct Scope : test::CycleBench {
    Scope() : CycleBench("scope") { power(); }
    int presents() const {
        return static_cast<int>(screen.callsOf(display::DrawCall::Kind::CopyRect).size());
    }
    // A 1 kHz sine from the main generator into both inputs, scope at 1 ms/div.
    void sine1k() {
        set("genfreq", "1000");
        set("genx4", "1");
        set("genampl", "100");
        set("genon1", "1");
        set("Tempo", "1");
        set("mainselect", "6");
    }
};

TEST(ScopeCycle, StableTriggerAtTheRisingZeroCrossing) {
    Scope s;
    s.sine1k();
    s.runner.runFor(0.5);
    EXPECT_TRUE(s.in.st.TriggerFound);
    EXPECT_EQ(s.in.st.TimeWindow, 881);
    const double* t = s.in.st.SpectrumWorkReA.data();  // the trace of channel A
    // The picture starts on the last sample before the crossing: a 1 kHz sine
    // at 44100 Hz moves by up to about 4100 counts per sample near zero.
    EXPECT_LE(t[0], 0);
    EXPECT_GT(t[0], -4500);
    EXPECT_GT(t[1], 0);
    EXPECT_GT(t[3], t[1]);
    s.runner.runFor(0.05);
    EXPECT_LE(t[0], 0);  // and it stays there, picture after picture
    EXPECT_GT(t[1], 0);
    s.set("Slope", "1");
    s.runner.runFor(0.01);
    EXPECT_GE(t[0], 0);  // "Neg": the falling crossing
    EXPECT_LT(t[1], 0);
    EXPECT_GT(t[1], t[3]);
    // The time view draws the 11 vertical grid lines and "T=1mSec" in the label line.
    bool label = false;
    for (const auto& call : s.buffer.callsOf(display::DrawCall::Kind::Text))
        if (call.text.find("T=1mSec") != std::string::npos) label = true;
    EXPECT_TRUE(label);
}

// The rising zero crossing of a sine of known frequency (radians per sample)
// in a window, from a least-squares fit x[i] = a cos(w i) + b sin(w i) + c:
// the crossing time (in samples) at or after `from`.
double RisingCrossingAfter(const double* x, int n, double w, double from) {
    double m[3][4] = {};
    for (int i = 0; i < n; ++i) {
        const double f[3] = {std::cos(w * i), std::sin(w * i), 1.0};
        for (int r = 0; r < 3; ++r) {
            for (int c = 0; c < 3; ++c) m[r][c] += f[r] * f[c];
            m[r][3] += f[r] * x[i];
        }
    }
    for (int p = 0; p < 3; ++p)
        for (int r = p + 1; r < 3; ++r) {
            const double k = m[r][p] / m[p][p];
            for (int c = p; c < 4; ++c) m[r][c] -= k * m[p][c];
        }
    double coef[3];
    for (int r = 2; r >= 0; --r) {
        double v = m[r][3];
        for (int c = r + 1; c < 3; ++c) v -= m[r][c] * coef[c];
        coef[r] = v / m[r][r];
    }
    // a cos + b sin = R sin(w i + phi); rising through -c where w i + phi = -asin(c / R) (mod 2 pi).
    const double amplitude = std::hypot(coef[0], coef[1]);
    const double phi = std::atan2(coef[0], coef[1]);
    const double turn = 2 * std::acos(-1.0);
    double t = (-std::asin(coef[2] / amplitude) - phi) / w;
    t -= std::floor((t - from) / (turn / w)) * (turn / w);
    return t;
}

// A tone whose period is no whole number of samples (1003 Hz at 44100 Hz):
// at every pretrigger from the left edge to the right edge the rising zero
// crossing of every picture sits the knob's share of half the window from
// the left edge.
TEST(ScopeCycle, PretriggerPutsTheCrossingAtItsColumnInEveryPicture) {
    Scope s;
    s.set("genfreq", "1003");
    s.set("genx4", "1");
    s.set("genampl", "100");
    s.set("genon1", "1");
    s.set("Tempo", "1");
    s.set("mainselect", "6");
    s.runner.runFor(0.3);
    const double w = 2 * std::acos(-1.0) * 1003 / 44100;
    const int window = s.in.st.TimeWindow;
    ASSERT_EQ(window, 881);
    for (int knob : {0, 50, 90, 95, 100}) {
        s.set("pretrigger", std::to_string(knob));
        s.runner.runFor(0.02);
        const int shift = s.in.st.PretriggerSamples;
        EXPECT_EQ(shift, static_cast<int>(knob * 512 / s.in.st.HorizontalScale * 0.01));
        for (int cycle = 0; cycle < 12; ++cycle) {
            s.runner.runFor(0.001);
            ASSERT_TRUE(s.in.st.TriggerFound) << knob;
            const int start = s.in.st.TriggerIndex;
            // The picture is whole: its last point is still in the window.
            EXPECT_LE(start + 441, window) << knob;
            const double crossing =
                RisingCrossingAfter(s.in.st.TimeWorkA.data(), window, w, start + shift - 5);
            // The trigger point is the last sample below the level: the
            // crossing lies within the sample after it.
            EXPECT_GT(crossing - start, shift) << "pretrigger " << knob << " cycle " << cycle;
            EXPECT_LE(crossing - start, shift + 1.05) << "pretrigger " << knob << " cycle " << cycle;
            // On the drawn trace: below zero at the column, above it one further.
            const double* trace = s.in.st.SpectrumWorkReA.data();
            EXPECT_LT(trace[shift], 0) << knob;
            EXPECT_GT(trace[shift + 1] - trace[shift], 3000) << knob;
        }
    }
}

TEST(ScopeCycle, NormalModeKeepsThePictureAndSingleShotGivesOne) {
    Scope s;
    s.set("Tempo", "1");
    s.set("mainselect", "6");
    s.runner.runFor(0.3);  // no signal
    int autoPresents = s.presents();
    EXPECT_GT(autoPresents, 250);  // "Auto" draws every cycle
    s.set("trignorm", "1");
    int before = s.presents();
    s.runner.runFor(0.2);
    EXPECT_EQ(s.presents(), before);  // nothing found: the screen keeps its picture
    s.set("trigauto", "1");
    s.runner.runFor(0.01);
    EXPECT_GT(s.presents(), before);
    // Single shot with a signal: one picture per press of "Res".
    s.sine1k();
    s.set("trigsingle", "1");
    s.runner.runFor(0.3);
    before = s.presents();
    s.runner.runFor(0.1);
    EXPECT_EQ(s.presents(), before);
    s.in.panel.userPress(Ctl::trigreset);
    EXPECT_FALSE(s.in.panel.down(Ctl::trigreset));
    s.runner.runFor(0.1);
    EXPECT_EQ(s.presents(), before + 1);
}

TEST(ScopeCycle, RollNeverLocksAndAveragingSettlesAfterAChange) {
    Scope s;
    s.sine1k();
    s.runner.runFor(0.3);
    EXPECT_TRUE(s.in.st.TriggerFound);
    s.set("roll", "1");
    s.runner.runFor(0.05);
    EXPECT_FALSE(s.in.st.TriggerFound);
    EXPECT_EQ(s.in.st.TriggerIndex, 881 / 2);
    s.set("roll", "0");
    s.set("avg", "1");
    s.runner.runFor(0.05);
    EXPECT_EQ(s.in.st.SettleCount, 0);
    s.set("pos1", "20");  // any knob movement restarts the settling
    EXPECT_EQ(s.in.st.SettleCount, 4);
    s.runner.runFor(0.001);  // both traces drawn: two steps per cycle
    EXPECT_EQ(s.in.st.SettleCount, 2);
}

TEST(ScopeCycle, TimeBaseChangeClearsTheRing) {
    Scope s;
    s.sine1k();
    s.runner.runFor(0.3);
    s.set("mainselect", "0");
    EXPECT_EQ(s.in.ring().VisibleWriteIndex(), 0);
    for (int slot = 0; slot < audio::CaptureRing::kSize; slot += 101)
        ASSERT_EQ(s.in.ring().SampleA(slot), 0.0f);
    EXPECT_TRUE(s.in.st.FreshCapture);
    EXPECT_TRUE(s.in.st.InputRestartPending);
    EXPECT_EQ(s.in.st.Decimation, 200);
    s.set("mainselect", "8");
    EXPECT_EQ(s.in.st.TimeWindow, 88);
    s.runner.runFor(0.2);
    EXPECT_FALSE(s.in.st.FreshCapture);
}

TEST(ScopeCycle, HoldKeepsAnInvertedTrace) {
    Scope s;
    s.sine1k();
    s.set("Inv1", "1");
    s.runner.runFor(0.3);
    s.set("hold", "1");
    std::vector<double> held(s.in.st.TimeWorkA.begin(), s.in.st.TimeWorkA.begin() + 881);
    s.runner.runFor(0.1);
    for (int i = 0; i < 881; ++i) ASSERT_EQ(s.in.st.TimeWorkA[i], held[i]) << i;
}

// A full-scale sine blown up far beyond the screen, by a huge "Mag_Scale"
// (either sign) or by a -120 dB gain correction, is drawn as the steep strokes
// of its zero crossings, frame after frame, on a real raster canvas: no
// stall, no arithmetic overflow (the sanitizer build aborts on one).
TEST(ScopeCycle, TracesFarBeyondTheScreenDrawAsStrokes) {
    Scope s;
    display::QImageCanvas raster(1134, 800, display::colors::Black);
    s.in.setScreenBuffer(&raster);
    s.sine1k();
    s.set("modea", "1");  // channel A only
    s.runner.runFor(0.3);
    const display::Color thin = s.in.slotColor(static_cast<int>(display::Slot::TTrace1));
    const display::Color wide = s.in.slotColor(static_cast<int>(display::Slot::TTrace2));
    // Columns whose trace ink runs from the top row of the plot to its bottom.
    auto strokes = [&] {
        int n = 0;
        for (int x = 4; x < 560; ++x) {
            bool whole = true;
            for (int y = 4; y < 395 && whole; ++y) {
                const display::Color p = raster.pixel(x, y);
                whole = p == thin || p == wide;
            }
            n += whole;
        }
        return n;
    };
    EXPECT_EQ(strokes(), 0);  // 1 V/div: the sine stays on the screen

    auto frames = [&](const char* what) {
        const int before = s.presents();
        s.runner.runFor(0.005);
        EXPECT_GE(s.presents() - before, 4) << what;
        // Ten periods on the screen: about 20 zero crossings, each one a
        // stroke a few pixels wide.
        const int n = strokes();
        EXPECT_GE(n, 15) << what;
        EXPECT_LE(n, 120) << what;
    };
    s.set("range1", "0");
    s.set("dc1", "1");
    for (int mag : {100000, -2147483647 - 1, 2147483647}) {
        s.in.st.MagScale = mag;
        frames(mag == 100000 ? "Mag x100000" : "Mag at the int limits");
    }
    s.in.st.MagScale = 10;
    s.set("dc1", "0");
    s.set("range1", "7");
    // Typed, the box refuses a gain this far out; put into the box directly,
    // it still draws ("Diff.  Gain (dB)" is checked).
    s.in.panel.setText(Ctl::Edit5, "-120");
    frames("gain correction -120 dB");
}

}  // namespace
}  // namespace miral::core
