// SPDX-License-Identifier: GPL-3.0-or-later
#include "analysis/fft_display.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

namespace miral::analysis {
namespace {

std::vector<FftKernel> Kernels() {
    std::vector<FftKernel> k{FftKernel::Portable};
    if (FftKernelSupported(FftKernel::Avx2)) k.push_back(FftKernel::Avx2);
    return k;
}

// The formula as written, in long double.
long double Want(double m, double scale) {
    if (m == 0) return -450.0L;
    return static_cast<long double>(scale) * (2000.0L * std::log(static_cast<long double>(m)) - 5160.0L);
}

TEST(DisplayLog, MatchesTheFormulaOverTheWholeRange) {
    std::mt19937 rng(5);
    std::uniform_real_distribution<double> exponent(-300.0, 300.0);
    std::vector<double> m;
    for (int i = 0; i < 20000; ++i) m.push_back(std::pow(10.0, exponent(rng)));
    // Around the places a reduction might slip: powers of two, sqrt(2) and 1.
    for (double p = 1e-300; p < 1e300; p *= 2) {
        m.push_back(p);
        m.push_back(std::nextafter(p, 0.0));
        m.push_back(p * std::sqrt(2.0));
        m.push_back(std::nextafter(p * std::sqrt(2.0), 0.0));
    }
    m.push_back(1.0);
    m.push_back(16442.0);
    m.push_back(std::numeric_limits<double>::min());
    m.push_back(std::numeric_limits<double>::max());
    for (FftKernel kernel : Kernels()) {
        for (double scale : {1.0, 0.37}) {
            std::vector<double> out(m.size());
            ToDisplayLog(m.data(), out.data(), m.size(), scale, kernel);
            for (std::size_t i = 0; i < m.size(); ++i) {
                const long double want = Want(m[i], scale);
                // A few units in the last place of ln m, in display units.
                const long double tol = scale * 2000.0L * 4e-16L * (std::fabs(std::log(m[i])) + 1.0L);
                ASSERT_LE(std::fabs(out[i] - want), tol) << "m = " << m[i] << " kernel " << int(kernel);
            }
        }
    }
}

TEST(DisplayLog, ZeroAndOddValues) {
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    // Mixed into vectors with ordinary values, at every position.
    for (FftKernel kernel : Kernels()) {
        for (std::size_t pos = 0; pos < 9; ++pos) {
            for (double odd : {0.0, -0.0, 4.9e-324, 1e-310, -3.0, inf, nan}) {
                std::vector<double> m(9, 100.0);
                m[pos] = odd;
                ToDisplayLog(m.data(), m.data(), m.size(), 2.0, kernel);  // in place
                for (std::size_t i = 0; i < m.size(); ++i) {
                    if (i != pos) {
                        EXPECT_NEAR(m[i], 2.0 * (2000.0 * std::log(100.0) - 5160.0), 1e-9);
                    } else if (odd == 0) {
                        EXPECT_EQ(m[i], -450.0);  // exactly, whatever the scale
                    } else if (odd < 0 || std::isnan(odd)) {
                        EXPECT_TRUE(std::isnan(m[i]));
                    } else if (std::isinf(odd)) {
                        EXPECT_EQ(m[i], inf);
                    } else {
                        EXPECT_NEAR(m[i], 2.0 * (2000.0 * std::log(odd) - 5160.0), 1e-9) << odd;
                    }
                }
            }
        }
    }
}

TEST(DisplayLog, FullScaleSineReadsAbout62dB) {
    // A full-scale Hann-windowed sine on a bin has magnitude 32768 / 2 * 2.0071 / 2;
    // the dB grid puts one division at 230 display units.
    const double m = 32768.0 / 2 * 2.0071 / 2;
    double v;
    ToDisplayLog(&m, &v, 1, 1.0);
    EXPECT_NEAR(v / 230.0, 62.0, 0.5);
}

TEST(DisplayLinear, ScalesBy144) {
    std::vector<double> m{0.0, 1.0, 16442.0, 3.5};
    ToDisplayLinear(m.data(), m.data(), m.size(), 0.5);
    EXPECT_EQ(m[0], 0.0);
    EXPECT_DOUBLE_EQ(m[1], 0.72);
    EXPECT_DOUBLE_EQ(m[2], 16442.0 * 0.5 * 1.44);
    EXPECT_DOUBLE_EQ(m[3], 3.5 * 0.72);
}

}  // namespace
}  // namespace miral::analysis
