// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "analysis/band.h"
#include "analysis/scope.h"

namespace miral::analysis {
namespace {

constexpr double kPi = 3.14159265358979323846;

TEST(NoteScale, NamesAndCents) {
    EXPECT_STREQ(NoteName(NoteIndex(440)), "La");
    EXPECT_NEAR(CentsOffset(440), 0, 1e-9);
    EXPECT_STREQ(NoteName(NoteIndex(445)), "La");
    EXPECT_NEAR(CentsOffset(445), 1200 * std::log2(445.0 / 440), 1e-9);
    EXPECT_EQ(static_cast<int>(CentsOffset(445)), 19);
    EXPECT_STREQ(NoteName(NoteIndex(453)), "La#");
    EXPECT_EQ(static_cast<int>(CentsOffset(453)), -49);
    EXPECT_STREQ(NoteName(NoteIndex(261.63)), "Do");
    EXPECT_STREQ(NoteName(NoteIndex(9.9)), "Off");
    EXPECT_EQ(CentsOffset(9.9), 0);
    // Every equal-tempered note from 20 Hz to 10 kHz names itself with 0 cents.
    const char* order[12] = {"La", "La#", "Si", "Do", "Do#", "Re", "Re#", "Mi", "Fa", "Fa#", "Sol", "Sol#"};
    for (int m = -48; m <= 48; ++m) {
        double f = 440 * std::pow(2.0, m / 12.0);
        EXPECT_STREQ(NoteName(NoteIndex(f)), order[((m % 12) + 12) % 12]) << f;
        EXPECT_NEAR(CentsOffset(f), 0, 1e-6);
    }
}

TEST(Band, FixedWidthsKeepTheSpanAtTheEdges) {
    Band b;
    BandKnobs k;
    k.widthPosition = 3;  // 100 Hz per division
    k.centerKnob = 300;
    UpdateBand(b, k);
    EXPECT_DOUBLE_EQ(b.fmin, 5);
    EXPECT_DOUBLE_EQ(b.fmax, 1005);
    k.widthPosition = 0;
    k.centerKnob = 30;
    UpdateBand(b, k);
    EXPECT_DOUBLE_EQ(b.fmin, 5);
    EXPECT_DOUBLE_EQ(b.fmax, 105);
    k.widthPosition = 7;
    k.centerKnob = 22000;
    UpdateBand(b, k);
    EXPECT_DOUBLE_EQ(b.fmin, 6050);
    EXPECT_DOUBLE_EQ(b.fmax, 22050);
    // A held centre is kept whatever the knob says.
    b.fcenter = 1000;
    k.centerHeld = true;
    k.widthPosition = 2;
    UpdateBand(b, k);
    EXPECT_DOUBLE_EQ(b.fmin, 750);
    EXPECT_DOUBLE_EQ(b.fmax, 1250);
}

TEST(Band, FreeBand) {
    Band b;
    BandKnobs k;
    k.widthPosition = kFreeBand;
    k.minKnob = 500;
    k.maxKnob = 2000;
    k.centerKnob = 1000;
    UpdateBand(b, k);
    EXPECT_DOUBLE_EQ(b.fmin, 500);
    EXPECT_DOUBLE_EQ(b.fmax, 2000);
    k.minKnob = 50;
    k.maxKnob = 20;
    UpdateBand(b, k);
    EXPECT_DOUBLE_EQ(b.fmin, 50);
    EXPECT_DOUBLE_EQ(b.fmax, 51);
    k.maxKnob = 40000;
    UpdateBand(b, k);
    EXPECT_DOUBLE_EQ(b.fmax, 22050);
}

TEST(Band, KnobSettingsAndDrag) {
    EXPECT_EQ(KnobFor(2000).multiplierIndex, 2);
    EXPECT_EQ(KnobFor(2000).value, 20);
    EXPECT_EQ(KnobFor(150).multiplierIndex, 1);
    EXPECT_EQ(KnobFor(150).value, 15);
    EXPECT_EQ(KnobFor(99.9).multiplierIndex, 0);
    EXPECT_EQ(KnobFor(99.9).value, 99);
    Band b{1000, 3000, 2000};
    EXPECT_DOUBLE_EQ(DragCenter(2000, b, 567, 567, 44100), 10);      // clamped at 10 Hz
    EXPECT_DOUBLE_EQ(DragCenter(12000, b, 567, 567, 44100), 10000);  // one band width lower
    EXPECT_DOUBLE_EQ(DragCenter(12000, b, -20000, 567, 44100), 44100 / 2.0 - 500);
}

TEST(TimeBase, WindowsOfEveryPosition) {
    const double base = 44100, scale = 51200.0 / 44100;
    const int windows[9] = {4409, 4409, 4409, 881, 881, 881, 881, 264, 88};
    const int decimation[9] = {200, 60, 20, 30, 10, 3, 1, 1, 1};
    for (int p = 0; p <= 8; ++p) {
        TimeBase t = ComputeTimeBase(p, base, scale, 4, 88200);
        EXPECT_EQ(t.timeWindow, windows[p]) << p;
        EXPECT_EQ(t.decimation, decimation[p]) << p;
        EXPECT_EQ(t.timeBaseRate, 44100) << p;
    }
    EXPECT_EQ(ComputeTimeBase(7, base, scale, 2, 88200).timeWindow, 529);
    EXPECT_EQ(ComputeTimeBase(8, base, scale, 2, 88200).timeWindow, 176);
    EXPECT_EQ(ComputeTimeBase(8, base, scale, 2, 88200).timeBaseRate, 88200);
    EXPECT_EQ(ComputeTimeBase(6, base, scale, 1, 88200).timeBaseRate, 44100);
    // A maximum rate below the base rate keeps the multiplier at 1.
    TimeBase low = ComputeTimeBase(8, base, scale, 1, 22050);
    EXPECT_EQ(low.timeBaseRate, 44100);
    EXPECT_GT(low.timeWindow, 0);
    EXPECT_STREQ(TimeBaseLabel(6), "1mSec");
}

// A window of a sine of `freq` cycles per window sample, in count units.
std::vector<double> sineWindow(int n, double cyclesPerSample, double amplitude, double phase) {
    std::vector<double> w(65536, 0.0);
    for (int i = 0; i < n; ++i) w[i] = amplitude * std::sin(2 * kPi * cyclesPerSample * i + phase);
    return w;
}

TEST(Trigger, StartsAtARisingOrFallingZeroCrossing) {
    const int tw = 881;
    for (double phase : {0.0, 0.7, 2.0, 4.5}) {
        auto w = sineWindow(tw, 1000.0 / 44100, 10000, phase);
        TriggerInput in;
        in.window = w.data();
        in.scale = 0.1;
        in.timeWindow = tw;
        TriggerResult r = SearchTrigger(in);
        ASSERT_TRUE(r.found);
        // Rising: below the level just before, above it at the trigger point.
        EXPECT_LT(w[r.index - 1], 50);
        EXPECT_GT(w[r.index + 1], 0);
        EXPECT_GT(w[r.index + 3], w[r.index - 3]);
        EXPECT_LE(r.index, tw / 2);
        in.negativeSlope = true;
        TriggerResult f = SearchTrigger(in);
        ASSERT_TRUE(f.found);
        EXPECT_LT(w[f.index + 3], w[f.index - 3]);
    }
}

TEST(Trigger, HysteresisIgnoresSmallNoise) {
    const int tw = 881;
    std::vector<double> w(65536, 0.0);
    for (int i = 0; i < tw; ++i) w[i] = (i % 2 ? 1 : -1) * 200.0;  // +-20 units at scale 0.1
    TriggerInput in;
    in.window = w.data();
    in.scale = 0.1;
    in.timeWindow = tw;
    in.wideHysteresis = true;
    EXPECT_FALSE(SearchTrigger(in).found);
    in.wideHysteresis = false;
    EXPECT_TRUE(SearchTrigger(in).found);
}

TEST(Trigger, LowPassTriggersOnTheSlowWave) {
    const int tw = 881;
    std::vector<double> w(65536, 0.0);
    // A slow wave crossing zero once (rising) at sample 300, with a strong
    // fast ripple that crosses zero everywhere.
    for (int i = 0; i < tw; ++i) w[i] = 20.0 * (i - 300) + 3000.0 * (i % 2 ? 1 : -1);
    TriggerInput in;
    in.window = w.data();
    in.scale = 0.1;
    in.timeWindow = tw;
    in.lowPass = true;
    TriggerResult r = SearchTrigger(in);
    ASSERT_TRUE(r.found);
    EXPECT_NEAR(r.index, 300, 25);  // the filter lags a little
    in.lowPass = false;
    TriggerResult fast = SearchTrigger(in);
    ASSERT_TRUE(fast.found);
    EXPECT_GT(fast.index, 400);  // the ripple triggers near the middle
}

TEST(Trigger, RollFreshCaptureAndPretrigger) {
    const int tw = 881;
    auto w = sineWindow(tw, 1000.0 / 44100, 10000, 0.3);
    TriggerInput in;
    in.window = w.data();
    in.scale = 0.1;
    in.timeWindow = tw;
    TriggerResult locked = SearchTrigger(in);
    ASSERT_TRUE(locked.found);
    in.roll = true;
    EXPECT_FALSE(SearchTrigger(in).found);
    EXPECT_EQ(SearchTrigger(in).index, tw / 2);
    in.roll = false;
    in.freshCapture = true;
    EXPECT_EQ(SearchTrigger(in).index, tw / 2);
    in.freshCapture = false;
    // A pretrigger of 100 samples: the crossing sits 100 samples into the
    // picture, the latest one at or before the middle plus 100 (a period
    // is 44.1 samples).
    in.pretriggerSamples = 100;
    const TriggerResult shifted = SearchTrigger(in);
    ASSERT_TRUE(shifted.found);
    const int crossing = shifted.index + 100;
    EXPECT_LT(w[crossing], 0);
    EXPECT_GT(w[crossing + 1], 0);
    EXPECT_LE(crossing, tw / 2 + 100);
    EXPECT_GT(crossing, tw / 2 + 100 - 45);
    in.pretriggerSamples = 5000;
    EXPECT_EQ(SearchTrigger(in).index, 0);
    // A crossing closer to the window's start than the pretrigger is drawn
    // at its own index: the picture cannot start before the window.
    std::vector<double> step(65536, 0.0);
    for (int i = 0; i < tw; ++i) step[i] = i <= 30 ? -5000.0 : 5000.0;
    in.window = step.data();
    in.pretriggerSamples = 100;
    const TriggerResult early = SearchTrigger(in);
    EXPECT_TRUE(early.found);
    EXPECT_EQ(early.index, 0);
    in.window = w.data();
    // Source B without a crossing also runs free from the middle.
    std::vector<double> flat(65536, 0.0);
    in.window = flat.data();
    in.pretriggerSamples = 0;
    EXPECT_EQ(SearchTrigger(in).index, tw / 2);
    EXPECT_EQ(PretriggerSamples(50, 51200.0 / 44100), static_cast<int>(50 * 512 / (51200.0 / 44100) * 0.01));
}

TEST(Trigger, CopyAndAverage) {
    std::vector<double> w(65536);
    for (int i = 0; i < 65536; ++i) w[i] = i;
    std::vector<double> t(65536, 0.0);
    CopyTrace(t.data(), w.data(), 10, 5, false, 65536);
    EXPECT_EQ(t[0], 10);
    EXPECT_EQ(t[4], 14);
    CopyTrace(t.data(), w.data(), 20, 5, true, 65536);
    EXPECT_DOUBLE_EQ(t[0], 0.9 * 10 + 0.1 * 20);
    CopyTrace(t.data(), w.data(), 65530, 100, false, 65536);  // never reads beyond the window array
    EXPECT_EQ(t[5], 65535);
}

}  // namespace
}  // namespace miral::analysis
