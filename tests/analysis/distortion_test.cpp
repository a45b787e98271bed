// SPDX-License-Identifier: GPL-3.0-or-later
// Harmonic distortion from display arrays built from known magnitudes: the
// figures against the root-sum-square of the harmonics put in.
#include "analysis/distortion.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace miral::analysis {
namespace {

constexpr int kBins = 8192;

// Display arrays of both channels, as the spectrum stage writes them from
// magnitudes (log: s (2000 ln m - 5160); linear: 1.44 s m).
struct Spectra {
    bool ylog = true;
    double sA = 12 / 9.2, sB = 0.6 / 9.2;
    std::vector<double> magA = std::vector<double>(kBins, 1e-3);
    std::vector<double> magB = std::vector<double>(kBins, 1e-3);
    std::vector<double> a, b;
    double unit(double m, double s) const { return ylog ? s * (2000 * std::log(m) - 5160) : 1.44 * s * m; }
    Distortion measure(int f0, bool both = false) {
        // One spare bin past the spectrum with a huge value: it must never be read.
        a.assign(kBins + 64, unit(1e9, sA));
        b.assign(kBins + 64, unit(1e9, sB));
        for (int i = 0; i < kBins; ++i) {
            a[static_cast<std::size_t>(i)] = unit(magA[static_cast<std::size_t>(i)], sA);
            b[static_cast<std::size_t>(i)] = unit(magB[static_cast<std::size_t>(i)], sB);
        }
        DistortionInputs in;
        in.displayA = a.data();
        in.displayB = b.data();
        in.bins = kBins;
        in.fundamentalBin = f0;
        in.scaleA = sA;
        in.scaleB = sB;
        in.ylog = ylog;
        in.bothChannels = both;
        return MeasureDistortion(in);
    }
};

TEST(Distortion, FiguresAreTheRootSumSquareOfTheHarmonicsOverTheFundamental) {
    for (bool ylog : {true, false}) {
        Spectra s;
        s.ylog = ylog;
        const int f0 = 300;
        s.magA[f0] = 10000;
        s.magA[2 * f0] = 10;     // -60 dB
        s.magA[3 * f0] = 3;      // about -70 dB
        s.magA[5 * f0 + 4] = 1;  // a drifted 5th, inside its window of 15 bins either side
        const Distortion d = s.measure(f0);
        ASSERT_TRUE(d.valid);
        EXPECT_NEAR(d.thd, std::sqrt(100.0 + 9 + 1) / 10000, 1e-9);
        EXPECT_NEAR(d.overtone, std::sqrt(9.0 + 1) / 10000, 1e-9);
        // The fundamental in mV r.m.s.: 0.0758 x m on either scale.
        EXPECT_NEAR(d.fundamentalMv, 0.0758 * 10000, 0.003 * 758) << ylog;
    }
}

TEST(Distortion, OctavesCountOnlyTowardTheFirstFigure) {
    const int f0 = 100;
    for (int r = 2; r <= 10; ++r) {
        Spectra s;
        s.magA[f0] = 10000;
        s.magA[static_cast<std::size_t>(r * f0)] = 100;
        const Distortion d = s.measure(f0);
        EXPECT_NEAR(d.thd, 0.01, 1e-5) << r;
        const bool octave = r == 2 || r == 4 || r == 8;
        EXPECT_EQ(IsOctave(r), octave);
        if (octave) {
            EXPECT_LT(d.overtone, 1e-5) << r;
        } else {
            EXPECT_NEAR(d.overtone, 0.01, 1e-5) << r;
        }
    }
    EXPECT_TRUE(IsOctave(128));
    EXPECT_FALSE(IsOctave(96));
}

TEST(Distortion, BothChannelsAlikeCancelAndChannelBIsReadAtChannelAsPeaks) {
    Spectra s;
    const int f0 = 200;
    for (auto* m : {&s.magA, &s.magB}) {
        (*m)[f0] = 5000;
        (*m)[2 * f0 + 2] = 5;
        (*m)[3 * f0 - 7] = 2;
    }
    Distortion d = s.measure(f0, true);
    EXPECT_GT(d.thdA, 1e-3);
    EXPECT_EQ(d.thd, 0.0);
    EXPECT_EQ(d.overtone, 0.0);
    // Channel B's harmonic one bin off channel A's peak is missed: B is read
    // where A peaks, so the difference is (nearly) all of A's figure.
    s.magB[2 * f0 + 2] = 1e-3;
    s.magB[2 * f0 + 3] = 5;
    d = s.measure(f0, true);
    EXPECT_NEAR(d.thd, d.thdA - d.thdB, 1e-15);
    EXPECT_NEAR(d.thdB, 2.0 / 5000, 1e-6);
    // B more distorted than A: a negative difference reads 0.
    s.magB[2 * f0 + 2] = 50;
    EXPECT_EQ(s.measure(f0, true).thd, 0.0);
}

TEST(Distortion, NoHarmonicBelowHalfTheSizeReadsZero) {
    Spectra s;
    const int f0 = kBins / 2 + 10;
    s.magA[static_cast<std::size_t>(f0)] = 1000;
    const Distortion d = s.measure(f0);
    EXPECT_TRUE(d.valid);
    EXPECT_EQ(d.thd, 0.0);
    EXPECT_EQ(d.overtone, 0.0);
    // Outside the spectrum there is nothing to measure.
    EXPECT_FALSE(s.measure(0).valid);
    EXPECT_FALSE(s.measure(kBins).valid);
}

TEST(Distortion, SearchWindowsStayInsideTheSpectrum) {
    Spectra s;
    // A fundamental on bin 1: the 2nd harmonic's window would start at bin -4
    // (the sanitizer sees any read before the array).
    s.magA[1] = 1000;
    Distortion d = s.measure(1);
    EXPECT_TRUE(d.valid);
    EXPECT_TRUE(std::isfinite(d.thd));
    // The last harmonic's window runs past the end: the huge values there are
    // never read.
    const int f0 = kBins / 3 + 1;  // the 2nd harmonic lies 5 bins below the end
    s.magA[static_cast<std::size_t>(f0)] = 1000;
    s.magA[static_cast<std::size_t>(2 * f0)] = 1;
    d = s.measure(f0);
    EXPECT_NEAR(d.thd, 1e-3, 1e-8);
}

TEST(Distortion, FundamentalFrequencyInWholeHertz) {
    EXPECT_EQ(FundamentalHz(372, 2.68494), 998);  // 998.798 Hz
    EXPECT_EQ(FundamentalHz(1, 999.96), 1000);    // rounds to 1000.0 first
    EXPECT_EQ(FundamentalHz(0, 2.68494), 0);
}

}  // namespace
}  // namespace miral::analysis
