// SPDX-License-Identifier: GPL-3.0-or-later
// The transfer-function stage on spectra of known devices: records through a
// wire, a delay or an inverter, transformed by the plain FFT.
#include "analysis/transfer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "analysis/fft.h"

namespace miral::analysis {
namespace {

constexpr std::size_t kN = 2048;
constexpr std::size_t kH = kN / 2;

struct Spectra {
    std::vector<double> magA, phaseA, magB, phaseB;
};

void Spectrum(const std::vector<double>& x, std::vector<double>& mag, std::vector<double>& phase) {
    mag = x;
    phase.assign(x.size(), 0.0);
    Fft(mag.data(), phase.data(), x.size(), 1);
    ToMagnitudePhase(mag.data(), phase.data(), mag.data(), phase.data(), x.size());
}

// Channel B: white noise (the excitation); channel A: gain x B delayed by
// `delay` samples (circularly, so that every bin sees exactly that delay).
Spectra Device(double gain, int delay, unsigned seed = 7) {
    std::mt19937 rng(seed);
    std::normal_distribution<double> noise(0.0, 3000.0);
    std::vector<double> b(kN), a(kN);
    for (double& v : b) v = noise(rng);
    for (std::size_t i = 0; i < kN; ++i) a[i] = gain * b[(i + kN - static_cast<std::size_t>(delay)) % kN];
    Spectra s;
    Spectrum(a, s.magA, s.phaseA);
    Spectrum(b, s.magB, s.phaseB);
    return s;
}

TransferInputs Inputs(Spectra& s, double minLevel = 0) {
    TransferInputs in;
    in.magnitudeA = s.magA.data();
    in.phaseA = s.phaseA.data();
    in.magnitudeB = s.magB.data();
    in.phaseB = s.phaseB.data();
    in.bins = kH;
    in.minLevel = minLevel;
    in.binWidth = 44100.0 / kN;
    return in;
}

TEST(TransferStage, WireGivesGainOneAndPhaseZeroAtEveryValidBin) {
    Spectra s = Device(1.0, 0);
    const std::vector<double> magB = s.magB;
    TransferResult r = TransferBranch(Inputs(s, 10));
    EXPECT_FALSE(r.inversionFold);
    int valid = 0;
    for (std::size_t i = 1; i < kH; ++i) {
        if (s.magA[i] == 0.0) continue;  // below "Min Lev."
        ++valid;
        EXPECT_NEAR(s.magA[i], 1.0, 1e-9) << i;
        EXPECT_NEAR(s.phaseA[i], 0.0, 1e-6) << i;
        EXPECT_NEAR(s.magB[i], std::sqrt(magB[i]), 1e-6) << i;  // sqrt(gain x |B|)
    }
    EXPECT_GT(valid, static_cast<int>(kH) - 20);
}

TEST(TransferStage, MinLevelDecidesWhichBinsAreDivided) {
    Spectra s = Device(0.5, 3);
    // Bin 100 of A just below its threshold (1e-6 x 20), bin 200 of B just
    // below its own (0.001 x 20): both invalid; bin 300 of B just above it: valid.
    s.magA[100] = 1.99e-5;
    s.magB[200] = 0.0199;
    s.magB[300] = 0.0201;
    s.magA[300] = 0.01;
    const double phase299 = s.phaseA[299] - s.phaseB[299];
    TransferBranch(Inputs(s, 20));
    for (std::size_t i : {100u, 200u}) {
        EXPECT_EQ(s.magA[i], 0.0);
        EXPECT_EQ(s.magB[i], 1.0);
        EXPECT_EQ(s.phaseA[i], s.phaseA[i - 1]);  // the previous bin's phase
    }
    EXPECT_NEAR(s.magA[300], 0.01 / 0.0201, 1e-9);
    EXPECT_NEAR(s.phaseA[299], FoldPhase(phase299, false), 1e-9);

    // "Min Lev." at 0: every bin with non-zero magnitudes is valid, however small.
    Spectra t = Device(1e-9, 0);
    t.magA[50] = 0.0;
    TransferBranch(Inputs(t, 0));
    EXPECT_EQ(t.magA[50], 0.0);
    for (std::size_t i = 1; i < kH; ++i)
        if (i != 50) {
            EXPECT_NEAR(t.magA[i], 1e-9, 1e-15) << i;
        }

    // A gain too large for a double is no gain: the bin is invalid, not infinite.
    Spectra u = Device(1.0, 0);
    u.magA[60] = 1e300;
    u.magB[60] = 1e-300;
    TransferBranch(Inputs(u, 0));
    EXPECT_EQ(u.magA[60], 0.0);
    EXPECT_EQ(u.magB[60], 1.0);
    EXPECT_EQ(u.phaseA[60], u.phaseA[59]);
}

// An inverting device whose phase wanders around 180 degrees (+-20), given
// as spectra: channel B at unit magnitude with phases spread over the circle.
Spectra Inverter() {
    Spectra s;
    s.magA.assign(kN, 2.0);
    s.magB.assign(kN, 1.0);
    s.phaseA.assign(kN, 0.0);
    s.phaseB.assign(kN, 0.0);
    for (std::size_t k = 0; k < kN; ++k) {
        const double b = 37.0 * static_cast<double>(k);  // degrees, any turn
        const double a = b + 180.0 + 20.0 * std::sin(4.0 * std::acos(-1.0) * static_cast<double>(k) / kH);
        const double r = std::acos(-1.0) / 180.0;
        s.phaseB[k] = ToMagnitudePhaseOne(std::cos(b * r), std::sin(b * r)).phase;  // -90 .. 270
        s.phaseA[k] = ToMagnitudePhaseOne(std::cos(a * r), std::sin(a * r)).phase;
    }
    return s;
}

TEST(TransferStage, InvertingDeviceWithBothInputsInvertedFoldsContinuously) {
    Spectra s = Inverter();
    TransferInputs in = Inputs(s);
    in.bothInverted = true;
    TransferResult r = TransferBranch(in);
    EXPECT_TRUE(r.inversionFold);
    EXPECT_FALSE(r.phasePositive);
    for (std::size_t k = 1; k < kH; ++k) {
        const double want = -180.0 + 20.0 * std::sin(4.0 * std::acos(-1.0) * static_cast<double>(k) / kH);
        ASSERT_NEAR(s.phaseA[k], want, 1e-6) << k;
        EXPECT_GT(s.phaseA[k], -360.0);
        EXPECT_LE(s.phaseA[k], 0.0);
        if (k > 1) {
            EXPECT_LT(std::fabs(s.phaseA[k] - s.phaseA[k - 1]), 1.0) << k;  // no jump anywhere
        }
    }
    // With one input inverted the same device is not folded: its phase
    // jumps between +180 and -180 wherever it crosses 180.
    Spectra u = Inverter();
    EXPECT_FALSE(TransferBranch(Inputs(u)).inversionFold);
    int jumps = 0;
    for (std::size_t k = 1; k < kH; ++k) {
        EXPECT_GE(u.phaseA[k], -180.0);
        EXPECT_LE(u.phaseA[k], 180.0);
        if (k > 1) jumps += std::fabs(u.phaseA[k] - u.phaseA[k - 1]) > 300.0;
    }
    EXPECT_GE(jumps, 3);
    // A non-inverting device with both inputs inverted stays in (-180, 180].
    Spectra w = Device(1.0, 1);
    TransferInputs both = Inputs(w);
    both.bothInverted = true;
    EXPECT_FALSE(TransferBranch(both).inversionFold);
    EXPECT_NEAR(w.phaseA[10], -360.0 * 10 / kN, 1e-6);
}

TEST(TransferStage, FoldingHandlesPhasesManyTurnsAway) {
    // A channel-delay correction can leave channel B's phase turns away.
    EXPECT_DOUBLE_EQ(FoldPhase(-100.0 - 3 * 360.0, false), -100.0);
    EXPECT_DOUBLE_EQ(FoldPhase(170.0 + 5 * 360.0, false), 170.0);
    EXPECT_DOUBLE_EQ(FoldPhase(-190.0, false), 170.0);
    EXPECT_DOUBLE_EQ(FoldPhase(-190.0, true), -190.0);
    EXPECT_DOUBLE_EQ(FoldPhase(10.0 + 7 * 360.0, true), -350.0);
    EXPECT_DOUBLE_EQ(FoldPhase(0.0, true), 0.0);
}

TEST(TransferStage, AvgSmoothsGainAndInputAndThePhaseUnlessPhaseSmoothingIsOn) {
    for (bool smoothPhase : {true, false}) {
        Spectra s = Device(2.0, 0);
        s.magA[400] *= 12;      // one disturbed bin spreads over its 11 neighbours
        s.phaseB[700] -= 33.0;  // the transfer phase of bin 700 becomes +33
        TransferInputs in = Inputs(s);
        in.smooth = true;
        in.smoothPhase = smoothPhase;
        TransferBranch(in);
        EXPECT_NEAR(s.magA[400], 2.0 + 22.0 / 11, 1e-9);
        EXPECT_NEAR(s.magA[395], 2.0 + 22.0 / 11, 1e-9);
        EXPECT_NEAR(s.magA[394], 2.0, 1e-9);
        if (smoothPhase) {
            EXPECT_NEAR(s.phaseA[700], 3.0, 1e-6);
            EXPECT_NEAR(s.phaseA[705], 3.0, 1e-6);
        } else {
            EXPECT_NEAR(s.phaseA[700], 33.0, 1e-6);
            EXPECT_NEAR(s.phaseA[701], 0.0, 1e-6);
        }
        // The mains bins of the gain take the mean of b - 3 and b + 3 first.
        const std::size_t mains = static_cast<std::size_t>(50.0 / in.binWidth);
        EXPECT_NEAR(s.magA[mains], 2.0, 1e-9);
    }
}

}  // namespace
}  // namespace miral::analysis
