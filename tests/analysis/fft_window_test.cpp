// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "analysis/fft_engine.h"
#include "analysis/window.h"

namespace miral::analysis {
namespace {

const double kPi = 4.0 * std::atan(1.0);

// Each window against the figures the literature gives for its shape: the
// coherent gain (mean over peak) and the equivalent noise bandwidth in bins,
// n * sum(w^2) / sum(w)^2, both computed from what the routine writes. The
// tolerances are the rounding of the published figures.
struct Case {
    WindowKind kind;
    void (*apply)(double*, double*, std::size_t);
    double coherentGain, coherentTolerance;
    double noiseBandwidth, noiseTolerance;
};

const Case kCases[] = {
    // F. J. Harris, "On the use of windows for harmonic analysis with the DFT",
    // Proc. IEEE 66 (1978), table I.
    {WindowKind::Hann, ApplyHann, 0.50, 0.005, 1.50, 0.005},
    {WindowKind::Hamming, ApplyHamming, 0.54, 0.005, 1.36, 0.005},
    {WindowKind::Blackman, ApplyBlackman, 0.42, 0.005, 1.73, 0.005},
    // A. H. Nuttall, "Some windows with very good sidelobe behavior", IEEE
    // Trans. ASSP 29 (1981): the minimum 4-term window, ENBW 1.9761 bins; its
    // coherent gain is its first coefficient, 0.3635819.
    {WindowKind::Nuttall, ApplyNuttall, 0.3636, 0.00005, 1.9761, 0.00005},
    // The 5-term flat top (Gade and Herlufsen, Bruel & Kjaer Technical Review
    // 3/1987): coherent gain 0.2156 once normalised to a peak of 1 (the
    // normalised first coefficient 0.21557895), noise bandwidth 3.77 bins.
    {WindowKind::FlatTop, ApplyFlatTop, 0.2156, 0.0005, 3.77, 0.005},
};

// The window of a transform of n points as the spectrum stage applies it
// (count n + 1), read back from a record of ones.
std::vector<double> WindowOf(const Case& c, std::size_t n) {
    std::vector<double> re(n + 1, 1.0), im(n + 1, 0.0);
    c.apply(re.data(), im.data(), n + 1);
    re.resize(n);
    return re;
}

TEST(Windows, CoherentGainAndNoiseBandwidthAreThePublishedOnes) {
    const std::size_t n = 16384;
    for (const Case& c : kCases) {
        const std::vector<double> w = WindowOf(c, n);
        double sum = 0, squares = 0, peak = 0;
        for (double v : w) {
            sum += v;
            squares += v * v;
            peak = std::max(peak, v);
        }
        const double nd = static_cast<double>(n);
        EXPECT_NEAR(sum / nd / peak, c.coherentGain, c.coherentTolerance) << static_cast<int>(c.kind);
        EXPECT_NEAR(nd * squares / (sum * sum), c.noiseBandwidth, c.noiseTolerance)
            << static_cast<int>(c.kind);
    }
}

// The loss of a tone half a bin off against one on the bin, through the
// engine that the processing cycle runs (Harris 1978, table I).
TEST(Windows, ScallopingLossOfAToneHalfABinOffIsThePublishedOne) {
    const std::size_t n = 16384, bin = 1000;
    struct Loss {
        WindowKind kind;
        double db;
    };
    const Loss losses[] = {{WindowKind::Rectangular, -3.92},
                           {WindowKind::Hann, -1.42},
                           {WindowKind::Hamming, -1.75},
                           {WindowKind::Blackman, -1.10}};
    SpectrumEngine engine;
    std::vector<double> onBin(n), offBin(n), magA(n), phaseA(n), magB(n), phaseB(n);
    for (std::size_t m = 0; m < n; ++m) {
        const double t = 2 * kPi * static_cast<double>(m) / static_cast<double>(n);
        onBin[m] = 10000.0 * std::cos(t * static_cast<double>(bin));
        offBin[m] = 10000.0 * std::cos(t * (static_cast<double>(bin) + 0.5));
    }
    for (const Loss& l : losses) {
        engine.Analyze(onBin.data(), offBin.data(), n, l.kind, magA.data(), phaseA.data(), magB.data(),
                       phaseB.data());
        // Half a bin off, the tone falls between bins bin and bin + 1 alike.
        EXPECT_NEAR(magB[bin], magB[bin + 1], 1e-3 * magB[bin]) << static_cast<int>(l.kind);
        EXPECT_NEAR(20 * std::log10(magB[bin] / magA[bin]), l.db, 0.005) << static_cast<int>(l.kind);
    }
}

TEST(Windows, MultiplyByWindowTimesGainAndLeaveTheSecondArrayAlone) {
    const std::size_t n = 1024, count = n + 1;
    for (const Case& c : kCases) {
        const std::vector<double> w = WindowOf(c, n);
        std::vector<double> re(count), im(count, 42.0);
        for (std::size_t i = 0; i < count; ++i) re[i] = 1.0 + 0.001 * static_cast<double>(i);
        const auto x = re;
        c.apply(re.data(), im.data(), count);
        for (std::size_t i = 0; i < count; ++i) {
            // The record is weighted point by point: the same factor as a record of ones.
            if (i < n) {
                ASSERT_NEAR(re[i], w[i] * x[i], 1e-15 * std::fabs(x[i]) * 8) << i;
            }
            ASSERT_EQ(im[i], 42.0);
            // The engine's table holds exactly the same factors.
            ASSERT_EQ(re[i], WindowFactor(c.kind, i, count) * x[i]);
        }
        // Periodic over the n transformed points: the spare last point repeats the first.
        EXPECT_NEAR(re[n] / x[n], re[0] / x[0], 1e-12) << static_cast<int>(c.kind);
    }
}

TEST(Windows, HannOfCountNPlusOneIsZeroAtTheEndsAndFullAtTheMiddle) {
    const std::size_t n = 16384;
    std::vector<double> re(n + 1, 1.0), im(n + 1, 0.0);
    ApplyHann(re.data(), im.data(), n + 1);
    EXPECT_NEAR(re[0], 0.0, 1e-15);
    EXPECT_NEAR(re[n], 0.0, 1e-15);
    EXPECT_DOUBLE_EQ(re[n / 2], 2.0071);
    // Periodic over the n transformed points: symmetric about n/2.
    for (std::size_t i = 1; i < n / 2; i += 97) EXPECT_NEAR(re[i], re[n - i], 1e-12);
}

TEST(Windows, PeakValuesOfTheOtherWindows) {
    const std::size_t n = 64;
    EXPECT_NEAR(WindowFactor(WindowKind::Hamming, 0, n + 1), 0.08 * 1.8601, 1e-15);
    EXPECT_NEAR(WindowFactor(WindowKind::Hamming, n / 2, n + 1), 1.8601, 1e-15);
    EXPECT_NEAR(WindowFactor(WindowKind::Blackman, 0, n + 1), 0.0, 1e-15);
    EXPECT_NEAR(WindowFactor(WindowKind::Blackman, n / 2, n + 1), 2.3874, 1e-14);
    EXPECT_NEAR(WindowFactor(WindowKind::Nuttall, n / 2, n + 1), 1.0 * 2.7561, 1e-14);
    EXPECT_NEAR(WindowFactor(WindowKind::FlatTop, n / 2, n + 1), 4.6402, 1e-14);
    EXPECT_EQ(WindowFactor(WindowKind::Rectangular, 5, n + 1), 1.0);
}

TEST(Windows, RectangularLeavesTheRecordAndTinyCountsStayFinite) {
    std::vector<double> re{1, 2, 3}, im{0, 0, 0};
    ApplyWindow(WindowKind::Rectangular, re.data(), im.data(), 3);
    EXPECT_EQ(re, (std::vector<double>{1, 2, 3}));
    // One point: theta would be 0/0; it is taken as 0.
    for (const Case& c : kCases) {
        double one = 1.0, other = 0.0;
        c.apply(&one, &other, 1);
        EXPECT_TRUE(std::isfinite(one)) << static_cast<int>(c.kind);
        c.apply(&one, &other, 0);  // nothing to do
    }
}

}  // namespace
}  // namespace miral::analysis
