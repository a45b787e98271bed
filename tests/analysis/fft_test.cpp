// SPDX-License-Identifier: GPL-3.0-or-later
// The plain FFT routines: bit reversal, the transform against its definition,
// and the magnitude/phase rules.
#include "analysis/fft.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <random>
#include <stdexcept>
#include <vector>

#include "analysis/window.h"
#include "support/long_dft.h"

namespace miral::analysis {
namespace {

const double kPi = 4.0 * std::atan(1.0);

TEST(ReverseBits, ReversesLog2nLowBits) {
    EXPECT_EQ(ReverseBits(1, 8), 4u);
    EXPECT_EQ(ReverseBits(3, 8), 6u);
    EXPECT_EQ(ReverseBits(6, 8), 3u);
    EXPECT_EQ(ReverseBits(1, 65536), 32768u);
    EXPECT_EQ(ReverseBits(0x1234, 65536), 0x2C48u);
    EXPECT_EQ(ReverseBits(0, 1), 0u);
    // Bits above log2(n) are ignored, and reversing twice gives the value back.
    EXPECT_EQ(ReverseBits(8 + 1, 8), 4u);
    for (std::uint32_t i = 0; i < 1024; ++i) EXPECT_EQ(ReverseBits(ReverseBits(i, 1024), 1024), i);
}

TEST(BitReversePermute, MovesEachElementToItsReversedIndexAndBack) {
    const std::size_t n = 256;
    std::vector<double> re(n), im(n);
    for (std::size_t i = 0; i < n; ++i) {
        re[i] = static_cast<double>(i);
        im[i] = -static_cast<double>(i);
    }
    BitReversePermute(re.data(), im.data(), n);
    for (std::size_t i = 0; i < n; ++i) {
        const double from = ReverseBits(static_cast<std::uint32_t>(i), n);
        EXPECT_EQ(re[i], from);
        EXPECT_EQ(im[i], -from);
    }
    BitReversePermute(re.data(), im.data(), n);
    for (std::size_t i = 0; i < n; ++i) EXPECT_EQ(re[i], static_cast<double>(i));
}

TEST(Fft, ForwardMatchesTheDefinition) {
    std::mt19937 rng(11);
    std::uniform_real_distribution<double> u(-1000.0, 1000.0);
    for (std::size_t n = 1; n <= 1024; n *= 2) {
        std::vector<std::complex<double>> x(n);
        std::vector<double> re(n), im(n);
        for (std::size_t i = 0; i < n; ++i) {
            x[i] = {u(rng), u(rng)};
            re[i] = x[i].real();
            im[i] = x[i].imag();
        }
        Fft(re.data(), im.data(), n, 1);
        const auto want = test::LongDoubleDft(x);
        for (std::size_t k = 0; k < n; ++k) {
            ASSERT_NEAR(re[k], static_cast<double>(want[k].real()), 1e-12) << "n " << n << " k " << k;
            ASSERT_NEAR(im[k], static_cast<double>(want[k].imag()), 1e-12) << "n " << n << " k " << k;
        }
    }
}

TEST(Fft, InverseIsUnscaledAndUndoesTheForward) {
    const std::size_t n = 4096;
    std::mt19937 rng(12);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    std::vector<double> re(n), im(n);
    for (std::size_t i = 0; i < n; ++i) {
        re[i] = u(rng);
        im[i] = u(rng);
    }
    const auto re0 = re, im0 = im;
    Fft(re.data(), im.data(), n, 1);
    Fft(re.data(), im.data(), n, -1);  // any direction but 1 is the inverse
    for (std::size_t i = 0; i < n; ++i) {
        ASSERT_NEAR(re[i], re0[i], 1e-13);
        ASSERT_NEAR(im[i], im0[i], 1e-13);
    }
    // The inverse of a unit impulse at 0 is all ones (no 1/n).
    std::vector<double> r(8, 0.0), i8(8, 0.0);
    r[0] = 1.0;
    Fft(r.data(), i8.data(), 8, 0);
    for (double v : r) EXPECT_DOUBLE_EQ(v, 1.0);
}

TEST(Fft, RejectsSizesThatAreNotPowersOfTwoUpTo65536) {
    std::vector<double> re(131072), im(131072);
    EXPECT_THROW(Fft(re.data(), im.data(), 0, 1), std::invalid_argument);
    EXPECT_THROW(Fft(re.data(), im.data(), 3, 1), std::invalid_argument);
    EXPECT_THROW(Fft(re.data(), im.data(), 131072, 1), std::invalid_argument);
    EXPECT_NO_THROW(Fft(re.data(), im.data(), 65536, 1));
}

TEST(Fft, UnitCosineOnABinGivesHalfAtKAndNMinusKWithPhaseZero) {
    const std::size_t n = 1024, k = 37;
    std::vector<double> re(n + 1), im(n + 1, 0.0);
    for (std::size_t i = 0; i < n; ++i) re[i] = std::cos(2 * kPi * k * i / n);
    Fft(re.data(), im.data(), n, 1);
    ToMagnitudePhase(re.data(), im.data(), re.data(), im.data(), n);
    EXPECT_NEAR(re[k], 0.5, 1e-14);
    EXPECT_NEAR(re[n - k], 0.5, 1e-14);
    EXPECT_NEAR(im[k], 0.0, 1e-10);
    for (std::size_t b = 0; b < n; ++b) {
        if (b != k && b != n - k) {
            EXPECT_LT(re[b], 1e-14) << b;
        }
    }
}

TEST(Fft, ZerosGiveMagnitudeZeroAndPhasePlus90) {
    const std::size_t n = 512;
    std::vector<double> re(n, 0.0), im(n, 0.0);
    Fft(re.data(), im.data(), n, 1);
    ToMagnitudePhase(re.data(), im.data(), re.data(), im.data(), n);
    for (std::size_t b = 0; b < n; ++b) {
        EXPECT_EQ(re[b], 0.0);
        EXPECT_EQ(im[b], 90.0);
    }
}

TEST(Fft, FullScaleSineOnABinWithHann) {
    // The analysis of a cycle: window of count n + 1, forward transform,
    // magnitude and phase. Peak amplitude A on a bin: A / 2 * gain / 2.
    const std::size_t n = 16384, k = 1000;
    std::vector<double> re(n + 1, 0.0), im(n + 1, 0.0);
    for (std::size_t i = 0; i < n; ++i) re[i] = 32768.0 * std::sin(2 * kPi * k * i / n);
    ApplyHann(re.data(), im.data(), n + 1);
    Fft(re.data(), im.data(), n, 1);
    ToMagnitudePhase(re.data(), im.data(), re.data(), im.data(), n);
    EXPECT_NEAR(re[k], 32768.0 / 2 * 2.0071 / 2, 1e-6);  // 16442.16
    EXPECT_NEAR(re[k - 1], 32768.0 / 2 * 2.0071 / 4, 1e-6);
    // A sine is a cosine delayed by 90 degrees: -90, which the rule also writes
    // as 270 (within 9e-9: the stored degrees factor is not exactly 180/pi).
    EXPECT_NEAR(std::fmod(im[k] + 360.0, 360.0), 270.0, 1e-8);
}

TEST(ToMagnitudePhaseOne, PhaseRuleCoversMinus90To270) {
    const auto p = [](double re, double im) { return ToMagnitudePhaseOne(re, im).phase; };
    // 45 degrees as the stored factor makes it (slightly short of 45).
    const double d45 = std::atan(1.0) * kDegreesPerRadian;
    EXPECT_NEAR(d45, 45.0, 5e-9);
    EXPECT_EQ(p(1, 1), d45);
    EXPECT_EQ(p(1, -1), -d45);
    EXPECT_EQ(p(-1, 1), 180.0 - d45);
    EXPECT_EQ(p(-1, -1), 180.0 + d45);
    EXPECT_EQ(p(-1, 0), 180.0);       // re < 0, im = 0
    EXPECT_EQ(p(-1e-90, -1), 270.0);  // re < 0 and tiny, im < 0
    EXPECT_EQ(p(-1e-90, 1), 90.0);
    EXPECT_EQ(p(0, -5), -90.0);
    EXPECT_EQ(p(0, 0), 90.0);
    EXPECT_EQ(p(-0.0, 0), 90.0);
    EXPECT_EQ(p(1e-81, 3), 90.0);  // below 1e-80: exactly 90
    EXPECT_EQ(p(2, 0), 0.0);
    // From 1e-80 on the arctangent is used, with the stored degrees factor.
    EXPECT_EQ(p(1e-80, 1e-80), d45);
    EXPECT_EQ(p(1, 1e300), std::atan(1e300) * kDegreesPerRadian);
    EXPECT_DOUBLE_EQ(ToMagnitudePhaseOne(3, -4).magnitude, 5.0);
}

TEST(ToMagnitudePhase, ReadsBothPartsBeforeWritingInPlace) {
    std::vector<double> re{3, -1, 0, -2}, im{4, 0, -7, -2};
    std::vector<double> want;
    for (std::size_t i = 0; i < re.size(); ++i) {
        const MagnitudePhase mp = ToMagnitudePhaseOne(re[i], im[i]);
        want.push_back(mp.magnitude);
        want.push_back(mp.phase);
    }
    ToMagnitudePhase(re.data(), im.data(), re.data(), im.data(), re.size());
    for (std::size_t i = 0; i < re.size(); ++i) {
        EXPECT_EQ(re[i], want[2 * i]);
        EXPECT_EQ(im[i], want[2 * i + 1]);
    }
}

}  // namespace
}  // namespace miral::analysis
