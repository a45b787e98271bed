// SPDX-License-Identifier: GPL-3.0-or-later
// The distortion analyzer on analytic signals: every figure against what was
// put into the signal (tone amplitudes, noise variance), not against the
// analyzer's own arithmetic.
#include "analysis/distortion_analyzer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <numbers>
#include <random>
#include <vector>

namespace miral::analysis {
namespace {

constexpr double kPi = std::numbers::pi;

struct Tone {
    int harmonic;  // 1 = fundamental
    double dbc;    // level relative to the fundamental (ignored for 1)
};

// n samples of a fundamental of peak `amp` counts at f (Hz) with harmonics,
// plus white Gaussian noise of r.m.s. `noise` counts.
std::vector<double> Signal(std::size_t n, double rate, double f, double amp, const std::vector<Tone>& tones,
                           double noise, unsigned seed = 1) {
    std::vector<double> x(n);
    std::mt19937_64 rng(seed);
    std::normal_distribution<double> g(0.0, 1.0);
    for (std::size_t i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) / rate;
        double v = amp * std::sin(2 * kPi * f * t + 0.3);
        for (const Tone& h : tones)
            v += amp * std::pow(10.0, h.dbc / 20) * std::sin(2 * kPi * h.harmonic * f * t + 0.7 * h.harmonic);
        x[i] = v + noise * g(rng);
    }
    return x;
}

double TrueThdDb(const std::vector<Tone>& tones, double f, double bandHigh) {
    double s = 0;
    for (const Tone& h : tones)
        if (h.harmonic * f <= bandHigh) s += std::pow(10.0, h.dbc / 10);
    return 10 * std::log10(s);
}

DistSettings Settings(std::size_t n, double rate, double bandHigh = 20000) {
    DistSettings s;
    s.binWidth = rate / static_cast<double>(n);
    s.bandLow = 20;
    s.bandHigh = std::min(bandHigh, 0.45 * rate);
    s.averages = 1;
    s.voltsPerCount = 1e-3;
    return s;
}

TEST(DistortionAnalyzer, WindowResponseIsTheWindowsOwnDft) {
    // The closed form against a plain DFT of the window's samples.
    const std::size_t n = 256;
    for (double nu : {0.0, 0.25, 0.5, 1.3, 2.75, 6.9, 7.0, 9.5}) {
        std::complex<double> sum = 0, peak = 0;
        for (std::size_t i = 0; i < n; ++i) {
            const double w = BlackmanHarris7(i, n);
            sum += w * std::polar(1.0, -2 * kPi * nu * static_cast<double>(i) / n);
            peak += w;
        }
        EXPECT_NEAR(BlackmanHarris7Response(nu, n), std::abs(sum) / std::abs(peak), 1e-12) << nu;
    }
    EXPECT_NEAR(BlackmanHarris7(n / 2, n), 1.0, 1e-12);
    // Sidelobes below -160 dB from the 8th bin on.
    for (double nu = 8; nu < 100; nu += 0.37) EXPECT_LT(BlackmanHarris7Response(nu, 65536), 1e-8) << nu;
}

TEST(DistortionAnalyzer, HarmonicsOnAndOffBinAcrossTheBand) {
    DistortionAnalyzer an;
    const std::vector<Tone> tones = {{2, -60}, {3, -70}, {4, -90}, {5, -100}};
    struct Case {
        double rate;
        std::size_t n;
        double f;
    };
    // On a bin (1000 Hz at 64000 / 65536 x 1024 ...) and between bins.
    const Case cases[] = {{44100, 65536, 20.5},
                          {44100, 65536, 440},
                          {44100, 65536, 997.3},
                          {44100, 16384, 1000},
                          {96000, 65536, 96000.0 / 65536 * 700},
                          {96000, 65536, 3333.33},
                          {44100, 65536, 19000.7},
                          {96000, 32768, 15001.1},
                          {48000, 65536, 48000.0 / 65536 * 1365.5}};
    for (const Case& c : cases) {
        const auto x = Signal(c.n, c.rate, c.f, 20000, tones, 0.0);
        const DistSettings s = Settings(c.n, c.rate);
        an.Reset();
        an.Analyze(x.data(), x.data(), c.n, s);
        const DistFigures& d = an.figures(0);
        ASSERT_EQ(d.status, DistStatus::Ok) << c.f;
        EXPECT_NEAR(d.f0 / c.f - 1, 0.0, 1e-6) << c.f;
        EXPECT_NEAR(d.levelRms, 20000 / std::sqrt(2.0), 20000 / std::sqrt(2.0) * 1e-6) << c.f;
        EXPECT_NEAR(d.levelDbfs, 20 * std::log10(20000.0 / 32768), 1e-4);
        const double thd = TrueThdDb(tones, c.f, s.bandHigh);
        if (std::isfinite(thd)) {
            EXPECT_NEAR(d.thdDb, thd, 0.01) << c.f;
            EXPECT_NEAR(d.thdNDb, thd, 0.01) << c.f;  // no noise: THD+N is THD
        }
        for (const Tone& h : tones) {
            if (h.harmonic * c.f > s.bandHigh) {
                EXPECT_TRUE(std::isnan(d.harmonicDbc[static_cast<std::size_t>(h.harmonic)])) << c.f;
            } else {
                EXPECT_NEAR(d.harmonicDbc[static_cast<std::size_t>(h.harmonic)], h.dbc, 0.01)
                    << c.f << " H" << h.harmonic;
            }
        }
        if (6 * c.f <= s.bandHigh) {
            EXPECT_LT(d.harmonicDbc[6], -200) << c.f;  // not injected
        }
    }
}

TEST(DistortionAnalyzer, NoiseAndHarmonicsAgainstTheirInjectedPowers) {
    DistortionAnalyzer an;
    const double rate = 48000, f = 1234.5, amp = 30000;
    const std::size_t n = 65536;
    struct Case {
        double hDbc;       // H2 .. H5 each at this level
        double noiseDbfs;  // r.m.s. of the white noise relative to a full-scale sine
    };
    for (const Case c : {Case{-60, -80}, Case{-80, -110}, Case{-100, -130}, Case{-110, -130},
                         Case{-120, -130}, Case{-170, -100}, Case{-170, -130}}) {
        const std::vector<Tone> tones = {{2, c.hDbc}, {3, c.hDbc}, {4, c.hDbc}, {5, c.hDbc}};
        const double sigma = 32768 / std::sqrt(2.0) * std::pow(10.0, c.noiseDbfs / 20);
        const auto x = Signal(n, rate, f, amp, tones, sigma, 7);
        DistSettings s = Settings(n, rate);
        an.Reset();
        an.Analyze(x.data(), x.data(), n, s);
        const DistFigures& d = an.figures(0);
        ASSERT_EQ(d.status, DistStatus::Ok);
        const double fund = amp * amp / 2;
        const double harm = 4 * fund * std::pow(10.0, c.hDbc / 10);
        const double noiseInBand = sigma * sigma * (s.bandHigh - s.bandLow) / (rate / 2);
        const double thd = 10 * std::log10(harm / fund);
        const double thdN = 10 * std::log10((harm + noiseInBand) / fund);
        // THD to 0.1 dB wherever the noise in a harmonic's 17 bins is at least
        // 40 dB below it (the noise adds to the harmonic with a random phase).
        const double lobeNoise = sigma * sigma * 2 * 17 / n;
        if (harm / 4 > 1e4 * lobeNoise) {
            EXPECT_NEAR(d.thdDb, thd, 0.1) << c.hDbc << " " << c.noiseDbfs;
        }
        EXPECT_NEAR(d.thdNDb, thdN, 0.2) << c.hDbc << " " << c.noiseDbfs;
        EXPECT_NEAR(d.snrDb, 10 * std::log10(fund / noiseInBand), 0.3) << c.hDbc << " " << c.noiseDbfs;
        EXPECT_NEAR(d.sinadDb, -thdN, 0.2);
        EXPECT_NEAR(d.enob, (-thdN - 1.76) / 6.02, 0.05);
        EXPECT_NEAR(d.f0 / f - 1, 0.0, 1e-6);
    }
}

TEST(DistortionAnalyzer, AveragingNarrowsTheNoiseAndRestartsOnANewTone) {
    DistortionAnalyzer an;
    const double rate = 44100, f = 1000;
    const std::size_t n = 8192;
    DistSettings s = Settings(n, rate);
    s.averages = 50;
    // H3 at -105 dBc under noise whose share of its lobe is about -112 dB:
    // one window scatters, fifty averaged ones (with the noise removed) land
    // within a fraction of a dB.
    const double sigma = 32768 / std::sqrt(2.0) * std::pow(10.0, -90 / 20.0);
    for (unsigned k = 0; k < 50; ++k) {
        const auto x = Signal(n, rate, f, 32000, {{3, -105}}, sigma, 100 + k);
        an.Analyze(x.data(), x.data(), n, s);
    }
    EXPECT_EQ(an.figures(0).averaged, 50);
    EXPECT_NEAR(an.figures(0).harmonicDbc[3], -105, 0.5);
    // Another frequency: the average starts over.
    const auto y = Signal(n, rate, 2000, 32000, {}, sigma, 1);
    an.Analyze(y.data(), y.data(), n, s);
    EXPECT_EQ(an.figures(0).averaged, 1);
    EXPECT_NEAR(an.figures(0).f0, 2000, 2000e-6);
}

TEST(DistortionAnalyzer, LowFundamentalsAreRefusedNotCountedTwice) {
    DistortionAnalyzer an;
    const double rate = 44100;
    // 16384 points: 2.69 Hz per bin, the guard at 12.5 bins is about 33.6 Hz.
    const std::size_t n = 16384;
    const DistSettings s = Settings(n, rate);
    for (double f : {7.0, 20.0, 33.0}) {
        const auto x = Signal(n, rate, f, 20000, {{2, -40}}, 0.0);
        an.Reset();
        an.Analyze(x.data(), x.data(), n, s);
        EXPECT_EQ(an.figures(0).status, DistStatus::BelowGuard) << f;
        EXPECT_TRUE(std::isnan(an.figures(0).thdDb));
        EXPECT_NEAR(an.figures(0).guardHz, 12.5 * rate / n, 1e-9);
    }
    // Just above the guard, a full-scale fundamental does not leak into
    // H2's stretch: H2 at -120 dBc still reads right.
    for (double bins : {12.7, 13.0, 15.5}) {
        const double f = bins * rate / n;
        const auto x = Signal(n, rate, f, 32000, {{2, -120}, {3, -100}}, 0.0);
        an.Reset();
        an.Analyze(x.data(), x.data(), n, s);
        ASSERT_EQ(an.figures(0).status, DistStatus::Ok) << bins;
        EXPECT_NEAR(an.figures(0).harmonicDbc[2], -120, 0.1) << bins;
        EXPECT_NEAR(an.figures(0).thdDb, 10 * std::log10(1e-12 + 1e-10), 0.1) << bins;
        EXPECT_NEAR(an.figures(0).f0 / f - 1, 0, 1e-6) << bins;
    }
    // Just above the guard every harmonic has its own lobe: a 50 Hz square
    // wave's odd harmonics 1/h give THD = sqrt(sum over h = 3, 5, .. 9 of 1/h^2).
    const double f = 50.3;
    std::vector<double> x(n);
    for (std::size_t i = 0; i < n; ++i) {
        double v = 0;
        for (int h = 1; h <= 9; h += 2)
            v += 20000.0 / h * std::sin(2 * kPi * h * f * static_cast<double>(i) / rate);
        x[i] = v;
    }
    an.Reset();
    an.Analyze(x.data(), x.data(), n, s);
    ASSERT_EQ(an.figures(0).status, DistStatus::Ok);
    const double thd = std::sqrt(1.0 / 9 + 1.0 / 25 + 1.0 / 49 + 1.0 / 81);
    EXPECT_NEAR(an.figures(0).thd, thd, thd * 0.001);
}

TEST(DistortionAnalyzer, BothChannelsAreMeasuredEachOnItsOwn) {
    DistortionAnalyzer an;
    const double rate = 96000;
    const std::size_t n = 32768;
    const auto a = Signal(n, rate, 1000, 25000, {{2, -80}}, 0.0);
    const auto b = Signal(n, rate, 3210.7, 5000, {{3, -65}}, 0.0);
    an.Analyze(a.data(), b.data(), n, Settings(n, rate));
    EXPECT_NEAR(an.figures(0).thdDb, -80, 0.01);
    EXPECT_NEAR(an.figures(1).thdDb, -65, 0.01);
    EXPECT_NEAR(an.figures(1).f0, 3210.7, 3210.7e-6);
    // A silent channel B says so, whatever A carries.
    const std::vector<double> silent(n, 0.0);
    an.Analyze(a.data(), silent.data(), n, Settings(n, rate));
    EXPECT_EQ(an.figures(0).status, DistStatus::Ok);
    EXPECT_EQ(an.figures(1).status, DistStatus::NoSignal);
    // Noise alone is no signal either.
    const auto noise = Signal(n, rate, 1000, 0.0, {}, 100.0);
    an.Analyze(noise.data(), noise.data(), n, Settings(n, rate));
    EXPECT_EQ(an.figures(0).status, DistStatus::NoSignal);
}

TEST(DistortionAnalyzer, QuantisedSineReadsTheQuantisationLimit) {
    // A full-scale sine rounded to 16 bits: THD+N is set by the quantisation
    // noise, q^2 / 12 over the whole half band, so -98.1 dB less the share
    // of the half band that lies outside 20 Hz .. 19845 Hz.
    DistortionAnalyzer an;
    const double rate = 44100, f = 997;
    const std::size_t n = 65536;
    std::vector<double> x(n);
    for (std::size_t i = 0; i < n; ++i)
        x[i] = std::nearbyint(32767 * std::sin(2 * kPi * f * static_cast<double>(i) / rate + 0.1));
    const DistSettings s = Settings(n, rate);
    an.Analyze(x.data(), x.data(), n, s);
    const double fund = 32767.0 * 32767 / 2;
    const double expected = 10 * std::log10(1.0 / 12 * (s.bandHigh - s.bandLow) / (rate / 2) / fund);
    EXPECT_NEAR(an.figures(0).thdNDb, expected, 0.3);
}

}  // namespace
}  // namespace miral::analysis

namespace miral::analysis {
namespace {

TEST(DistortionAnalyzer, HarmonicsUnderTheNoiseAreMarked) {
    // H2 far above the noise, H3 not injected: H2 stands out, H3 does not.
    DistortionAnalyzer an;
    const double rate = 48000;
    const std::size_t n = 16384;
    const auto x = Signal(n, rate, 1000, 30000, {{2, -70}}, 30000 * std::pow(10.0, -100 / 20.0), 3);
    an.Analyze(x.data(), x.data(), n, Settings(n, rate));
    EXPECT_TRUE(an.figures(0).harmonicAboveNoise[2]);
    EXPECT_FALSE(an.figures(0).harmonicAboveNoise[3]);
}

// In the cycle the analyzer takes the spectra that the display's transform
// of the window keeps (whatever window the display uses): the figures are
// those of the analyzer transforming the window itself, to the last bit, for
// both channels, through an average; spectra of another size give none.
TEST(DistortionAnalyzer, SpectraOfTheDisplaysTransformGiveTheSameFigures) {
    const double rate = 44100;
    const std::size_t n = 65536;
    DistortionAnalyzer alone, shared;
    SpectrumEngine display;
    std::vector<double> mag[2], phase[2];
    for (int c = 0; c < 2; ++c) {
        mag[c].resize(n);
        phase[c].resize(n);
    }
    DistSettings s = Settings(n, rate);
    s.averages = 3;
    for (unsigned seed = 1; seed <= 4; ++seed) {
        const auto a =
            Signal(n, rate, 997.3, 30000, {{2, -80}, {3, -95}}, 30000 * std::pow(10.0, -110 / 20.0), seed);
        const auto b = Signal(n, rate, 51.7, 12000, {{3, -60}}, 3, seed + 10);
        display.Analyze(a.data(), b.data(), n, seed % 2 ? WindowKind::Hann : WindowKind::FlatTop,
                        mag[0].data(), phase[0].data(), mag[1].data(), phase[1].data());
        shared.AnalyzeSpectra(display, n, s);
        alone.Analyze(a.data(), b.data(), n, s);
        for (int c = 0; c < 2; ++c) {
            const DistFigures& f = shared.figures(c);
            const DistFigures& g = alone.figures(c);
            ASSERT_EQ(f.status, DistStatus::Ok) << c;
            EXPECT_EQ(f.averaged, g.averaged);
            EXPECT_EQ(f.f0, g.f0) << c;
            EXPECT_EQ(f.levelRms, g.levelRms) << c;
            EXPECT_EQ(f.thdDb, g.thdDb) << c;
            EXPECT_EQ(f.thdNDb, g.thdNDb) << c;
            EXPECT_EQ(f.snrDb, g.snrDb) << c;
            for (int h = 2; h <= kDistHighestHarmonic; ++h) {
                const auto i = static_cast<std::size_t>(h);
                if (!std::isnan(g.harmonicDbc[i])) {
                    EXPECT_EQ(f.harmonicDbc[i], g.harmonicDbc[i]) << h;
                }
            }
        }
    }
    EXPECT_EQ(shared.figures(0).averaged, 3);
    EXPECT_NEAR(shared.figures(0).thdDb, TrueThdDb({{2, -80}, {3, -95}}, 997.3, 20000), 0.1);
    // The display's spectra are of 16384 points: no measurement of 65536.
    const auto x = Signal(16384, rate, 1000, 30000, {}, 1);
    display.Analyze(x.data(), x.data(), 16384, WindowKind::Hann, mag[0].data(), phase[0].data(),
                    mag[1].data(), phase[1].data());
    shared.AnalyzeSpectra(display, n, s);
    EXPECT_EQ(shared.figures(0).status, DistStatus::Off);
    EXPECT_EQ(shared.figures(1).status, DistStatus::Off);
}

}  // namespace
}  // namespace miral::analysis
