// SPDX-License-Identifier: GPL-3.0-or-later
// The swept measurement against closed forms: a device made of a first-order
// recursive filter (its exact response is known at every frequency) and a
// polynomial (its harmonics are known for every amplitude).
#include "analysis/log_sweep.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <random>
#include <vector>

#include "analysis/long_fft.h"
#include "support/long_dft.h"

namespace miral::analysis {
namespace {

const double kPi = std::acos(-1.0);

TEST(LongFft, MatchesTheDefinition) {
    std::mt19937 rng(5);
    std::uniform_real_distribution<double> u(-1, 1);
    for (std::size_t n : {2u, 8u, 64u, 512u}) {
        std::vector<std::complex<double>> x(n);
        for (auto& v : x) v = {u(rng), u(rng)};
        const auto want = test::LongDoubleDft(x);  // scaled by 1/n
        std::vector<std::complex<double>> got = x;
        LongFft fft(n);
        fft.Forward(got.data());
        for (std::size_t k = 0; k < n; ++k) {
            EXPECT_NEAR(got[k].real() / n, static_cast<double>(want[k].real()), 1e-14) << n << " " << k;
            EXPECT_NEAR(got[k].imag() / n, static_cast<double>(want[k].imag()), 1e-14) << n << " " << k;
        }
        fft.Inverse(got.data());
        for (std::size_t k = 0; k < n; ++k) EXPECT_NEAR(std::abs(got[k] - x[k]), 0.0, 1e-14);
    }
    EXPECT_THROW(LongFft(3), std::invalid_argument);
}

// y[m] = b x[m] + a y[m - 1]: H = b / (1 - a e^(-jw)).
struct Recursive {
    double a, b;
    std::complex<double> At(double f, double rate) const {
        return b / (1.0 - a * std::polar(1.0, -2 * kPi * f / rate));
    }
    std::vector<double> Run(const std::vector<double>& x) const {
        std::vector<double> y(x.size());
        double last = 0;
        for (std::size_t i = 0; i < x.size(); ++i) y[i] = last = b * x[i] + a * last;
        return y;
    }
};

std::vector<double> LogFrequencies(double from, double to, int perDecade) {
    std::vector<double> f;
    const int steps = static_cast<int>(std::round(std::log10(to / from) * perDecade));
    for (int i = 0; i <= steps; ++i) f.push_back(from * std::pow(to / from, static_cast<double>(i) / steps));
    return f;
}

// The played sweep with silence after it (for the device's tail), as recorded.
std::vector<double> Played(const LogSweepPlan& plan, double amplitude) {
    std::vector<double> x(plan.samples + static_cast<std::size_t>(plan.rate / 2), 0.0);
    RenderLogSweep(plan, x.data());
    for (double& v : x) v *= amplitude;
    return x;
}

TEST(LogSweep, ThePlanIsSynchronizedAndCoversTheBand) {
    for (double rate : {44100.0, 48000.0, 96000.0}) {
        const LogSweepPlan p = PlanLogSweep(20, 20000, 3.0, rate);
        EXPECT_NEAR(p.f1 * p.L, std::round(p.f1 * p.L), 1e-6);
        EXPECT_LT(p.f1, 10.0);
        EXPECT_NEAR(static_cast<double>(p.samples) / rate, 3.0, 1.0 / rate);
        EXPECT_GT(p.f2, 20000.0);
        EXPECT_LE(p.f2, 0.47 * rate);
        // Its n-th harmonic is itself, L ln n earlier: sin(n phi(t)) = sin(phi(t + L ln n)).
        const double t = 1.3;
        auto phi = [&](double s) { return 2 * kPi * p.f1 * p.L * std::expm1(s / p.L); };
        for (int n = 2; n <= 5; ++n)
            EXPECT_NEAR(std::sin(n * phi(t)), std::sin(phi(t + p.L * std::log(n))), 1e-6) << n;
    }
}

TEST(LogSweep, TheResponseOfAKnownFilterAndItsHarmonics) {
    const double rate = 48000;
    const LogSweepPlan plan = PlanLogSweep(20, 20000, 3.0, rate);
    const std::vector<double> freqs = LogFrequencies(20, 20000, 24);
    const double amplitude = 0.5;
    const std::vector<double> x = Played(plan, amplitude);

    // A wire: 0 dB, 0 degrees, and what the method itself leaves in the
    // harmonics' places: over the lowest octaves a 3 s sweep spends too few
    // cycles to keep the orders wholly apart.
    auto floorDbc = [](double f) { return f < 30 ? -80.0 : f < 60 ? -100.0 : -115.0; };
    {
        const LogSweepResult r = AnalyzeLogSweep(plan, amplitude, x.data(), nullptr, x.size(), freqs);
        for (std::size_t i = 0; i < freqs.size(); ++i) {
            EXPECT_NEAR(r.gainDb[i], 0.0, 0.005) << freqs[i];
            EXPECT_NEAR(r.phaseDeg[i], 0.0, 0.05) << freqs[i];
            for (int h = 2; h <= 5; ++h) {
                if (std::isfinite(r.harmonicDbc[h][i])) {
                    EXPECT_LT(r.harmonicDbc[h][i], floorDbc(freqs[i])) << h << " " << freqs[i];
                }
            }
        }
        EXPECT_EQ(r.latency, 0);
        // Each harmonic is read up to where it leaves the band.
        EXPECT_TRUE(std::isfinite(r.harmonicDbc[2][freqs.size() / 2]));
        EXPECT_TRUE(std::isnan(r.harmonicDbc[2].back()));
    }

    // A low-pass (corner near 1.2 kHz), then a polynomial: H2 = k2 a / 2 and
    // H3 = k3 a^2 / 4 below the fundamental a = amplitude |H| that reaches it.
    const Recursive lowpass{0.855, 0.145};
    const double k2 = 2 * std::pow(10.0, -60 / 20.0), k3 = 4 * std::pow(10.0, -70 / 20.0);
    std::vector<double> y = lowpass.Run(x);
    for (double& v : y) v = v + k2 * v * v + k3 * v * v * v;
    // With the device's input recorded as the reference, and with the
    // played sweep as the reference (one channel wired).
    for (bool withReference : {true, false}) {
        const LogSweepResult r =
            AnalyzeLogSweep(plan, amplitude, y.data(), withReference ? x.data() : nullptr, y.size(), freqs);
        int h2Checked = 0, h3Checked = 0;
        for (std::size_t i = 0; i < freqs.size(); ++i) {
            const double f = freqs[i];
            const std::complex<double> want = lowpass.At(f, rate);
            EXPECT_NEAR(r.gainDb[i], 20 * std::log10(std::abs(want)), 0.02) << f;
            EXPECT_NEAR(r.phaseDeg[i], std::arg(want) * 180 / kPi, 0.2) << f;
            const double a = amplitude * std::abs(want);
            const double h2 = 20 * std::log10(k2 * a / 2), h3 = 20 * std::log10(k3 * a * a / 4);
            // Where the harmonic stands 20 dB above what the method leaves.
            if (std::isfinite(r.harmonicDbc[2][i]) && h2 > floorDbc(f) + 20) {
                EXPECT_NEAR(r.harmonicDbc[2][i], h2, 0.5) << "H2 at " << f;
                ++h2Checked;
            }
            if (std::isfinite(r.harmonicDbc[3][i]) && h3 > floorDbc(f) + 20) {
                EXPECT_NEAR(r.harmonicDbc[3][i], h3, 0.5) << "H3 at " << f;
                ++h3Checked;
            }
        }
        EXPECT_GT(h2Checked, 40);
        EXPECT_GT(h3Checked, 30);
    }
}

}  // namespace
}  // namespace miral::analysis
