// SPDX-License-Identifier: GPL-3.0-or-later
// The distortion analyzer's method, and why it holds to a tenth of a dB.
//
// Window. The newest n samples of each channel are weighted by a 7-term
// Blackman-Harris window (periodic over n points), whatever window the
// spectrum display uses. Its sidelobes lie below -180 dB and its main lobe is
// exactly 7 bins either side of a tone. So the power of every tone is
// confined to 15 bins, and a harmonic at -120 dBc, or noise at -130 dBFS, is
// never covered by the fundamental's leakage. (A 4-term window such as the
// Blackman-Nuttall has sidelobes near -98 dB: the skirt of a full-scale tone
// would then read as distortion around -100 dBc, which is too close to the
// levels the analyzer must resolve.) The transform runs in double precision,
// whose round-off floor is near -300 dB, far below anything measured.
//
// The window is a sum of cosines periodic over the n points, so weighting
// the samples by it is exactly a 13-tap convolution of the unwindowed bins
// (the spectrum engine's WindowedPower). The analyzer therefore uses the
// transform that the spectrum display has already made of the same window
// instead of a second one. The taps cancel the unwindowed leakage of a
// full-scale tone down to the window's own sidelobes; what is left of
// rounding is of the order of 1e-16 of that leakage, again near -300 dB.
//
// Power. The spectrum is scaled so that each bin holds mean square (counts^2):
// with W = sum w^2, a tone's bins add up to its mean square (Parseval), for
// any position of the tone between bins, and white noise of variance s^2
// gives 2 s^2 / n per bin. Summing bins is therefore exact for tones and for
// noise alike, which reading peak bins is not.
//
// Fundamental. The strongest bin above DC's lobe is the fundamental's. Its
// fractional position mu (in bins) is the least-squares fit of the window's
// exact spectrum (a sum of 13 shifted Dirichlet kernels of n points) to the
// five magnitudes around the peak: a parabola through the logarithms gives a
// start, a golden-section search refines it to 1e-7 bin. The frequency is
// mu x bin width, the bin width already carrying the clock correction.
//
// Figures. F is the power in the fundamental's lobe (round(mu) +- 8 bins,
// fewer for low fundamentals, see the guard);
// each harmonic h sums the same lobe around round(h mu), less the noise that
// its lobe is expected to hold (the mean of the bins between the lobes either
// side of it, times the lobe's bin count), never below zero. THD = sqrt(sum
// of H2 .. H10 in the band / F). THD+N = sqrt(everything in the band except
// DC's lobe and the fundamental's / F); SINAD is its inverse in dB; SNR
// leaves out the harmonics' powers as well; ENOB = (SINAD - 1.76) / 6.02.
//
// Guard. Each tone's stretch of bins must hold its main lobe (+-4.5 bins
// already hold all but 5e-6 of its power) and must not reach into the main
// lobe of its neighbour (7 bins from the neighbour), or a full-scale
// fundamental would read as distortion in H2's stretch. With L bins summed
// either side that needs mu >= L + 7.5, so the stretch is L = min(8,
// floor(mu - 7.5)) and a fundamental below 12.5 bins (L = 5) is reported as
// below the guard, with no figures, instead of counting bins twice. More FFT
// points lower the guard (8.4 Hz at 44100 Hz and 65536 points).
//
// Average. The power spectra of successive acquisitions are averaged: the
// plain mean until the chosen count is reached, then an exponential average
// with the same weight. The average restarts when the size, the bin width,
// the count or the fundamental's bin (by more than 2 bins) changes.
#include "analysis/distortion_analyzer.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <numbers>

namespace miral::analysis {
namespace {

constexpr std::array<double, 7> kBh7 = {0.27105140069342, 0.43329793923448, 0.21812299954311,
                                        0.06592544638803, 0.01081174209837, 0.00077658482522,
                                        0.00001388721735};
constexpr int kTerms = 7;

// The window as the spectrum engine applies it to a transformed record:
// w = sum (-1)^m a_m cos(2 pi m i / n).
constexpr CosineWindow kBh7Window = {{kBh7[0], -kBh7[1], kBh7[2], -kBh7[3], kBh7[4], -kBh7[5], kBh7[6]},
                                     kTerms};
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

double Db10(double ratio) {
    return ratio > 1e-30 ? 10.0 * std::log10(ratio) : kDistFloorDb;
}

bool PowerOfTwo(std::size_t n) {
    return n != 0 && (n & (n - 1)) == 0;
}

// Magnitudes of the window's spectrum at offsets j - delta (j = -2 .. 2) from
// a tone, each relative to the peak; cm = e^(-j pi m / n) for m = -6 .. 6.
void LobeShape(double delta, std::size_t n, const double* cmRe, const double* cmIm, double out[5]) {
    const double pi = std::numbers::pi;
    const double nd = static_cast<double>(n);
    const double s = std::sin(pi * delta);
    // Dirichlet kernel sin(pi x) / sin(pi x / n) at x = d - delta, d = -8 .. 8.
    double dr[17];
    for (int d = -8; d <= 8; ++d) {
        const double x = d - delta;
        if (std::fabs(x) < 1e-12) {
            dr[d + 8] = nd;
        } else {
            const double num = (d % 2 == 0) ? -s : s;  // sin(pi (d - delta))
            dr[d + 8] = num / std::sin(pi * x / nd);
        }
    }
    for (int j = -2; j <= 2; ++j) {
        double re = 0, im = 0;
        for (int m = -(kTerms - 1); m <= kTerms - 1; ++m) {
            const double a = m == 0 ? kBh7[0] : 0.5 * kBh7[static_cast<std::size_t>(std::abs(m))];
            const double v = a * dr[j - m + 8];
            re += v * cmRe[m + kTerms - 1];
            im += v * cmIm[m + kTerms - 1];
        }
        out[j + 2] = std::hypot(re, im) / (kBh7[0] * nd);
    }
}

// Least-squares fit of c x shape to the five magnitudes a: the fractional
// offset delta of the tone from the centre bin.
double FitOffset(const double a[5], std::size_t n) {
    double cmRe[2 * kTerms - 1], cmIm[2 * kTerms - 1];
    for (int m = -(kTerms - 1); m <= kTerms - 1; ++m) {
        const double ph = -std::numbers::pi * m / static_cast<double>(n);
        cmRe[m + kTerms - 1] = std::cos(ph);
        cmIm[m + kTerms - 1] = std::sin(ph);
    }
    auto score = [&](double delta) {
        double g[5];
        LobeShape(delta, n, cmRe, cmIm, g);
        double ag = 0, gg = 0;
        for (int j = 0; j < 5; ++j) {
            ag += a[j] * g[j];
            gg += g[j] * g[j];
        }
        return gg > 0 ? ag * ag / gg : 0.0;
    };
    // Start: a parabola through the logarithms of the three middle bins.
    const double lm = std::log(std::max(a[1], 1e-300));
    const double l0 = std::log(std::max(a[2], 1e-300));
    const double lp = std::log(std::max(a[3], 1e-300));
    const double den = lm - 2 * l0 + lp;
    double start = den < 0 ? 0.5 * (lm - lp) / den : 0.0;
    start = std::clamp(start, -0.6, 0.6);
    double lo = std::max(start - 0.12, -0.7), hi = std::min(start + 0.12, 0.7);
    const double r = (std::sqrt(5.0) - 1) / 2;
    double x1 = hi - r * (hi - lo), x2 = lo + r * (hi - lo);
    double f1 = score(x1), f2 = score(x2);
    for (int it = 0; it < 34; ++it) {
        if (f1 < f2) {
            lo = x1;
            x1 = x2;
            f1 = f2;
            x2 = lo + r * (hi - lo);
            f2 = score(x2);
        } else {
            hi = x2;
            x2 = x1;
            f2 = f1;
            x1 = hi - r * (hi - lo);
            f1 = score(x1);
        }
    }
    return 0.5 * (lo + hi);
}

// Sum of p over [from, to] clipped to [lo, hi]; the count of bins in *count.
double RangeSum(const double* p, long from, long to, long lo, long hi, long* count) {
    from = std::max(from, lo);
    to = std::min(to, hi);
    *count = to >= from ? to - from + 1 : 0;
    // Four running sums: one long chain of additions waits for each one.
    double s0 = 0, s1 = 0, s2 = 0, s3 = 0;
    long k = from;
    for (; k + 3 <= to; k += 4) {
        s0 += p[k];
        s1 += p[k + 1];
        s2 += p[k + 2];
        s3 += p[k + 3];
    }
    for (; k <= to; ++k) s0 += p[k];
    return (s0 + s1) + (s2 + s3);
}

// The first index of the largest of p[from .. to) (from < to): as the plain
// loop "if (p[k] > p[best]) best = k" finds it, NaN never taken. The largest
// value first, in four lanes that carry no index (the compiler makes vector
// maxima of them), then the first index that holds it; with p[from] NaN
// nothing is larger, as in the plain loop, and from is the answer.
std::size_t FirstLargest(const double* p, std::size_t from, std::size_t to) {
    double top[4];
    for (double& t : top) t = p[from];
    std::size_t k = from + 1;
    for (; k + 4 <= to; k += 4) {
        for (std::size_t l = 0; l < 4; ++l) top[l] = p[k + l] > top[l] ? p[k + l] : top[l];
    }
    for (; k < to; ++k) top[0] = p[k] > top[0] ? p[k] : top[0];
    double largest = top[0];
    for (std::size_t l = 1; l < 4; ++l) largest = top[l] > largest ? top[l] : largest;
    for (k = from; k < to; ++k)
        if (p[k] == largest) return k;
    return from;
}

void Invalidate(DistFigures& f) {
    f.f0 = f.levelRms = f.levelDbfs = f.levelVolts = kNaN;
    f.thd = f.thdN = f.thdDb = f.thdNDb = f.sinadDb = f.snrDb = f.enob = kNaN;
    f.harmonicDbc.fill(kNaN);
    f.harmonicAboveNoise.fill(false);
}

}  // namespace

const char* DistStatusText(DistStatus s) {
    switch (s) {
        case DistStatus::Off:
            return "off";
        case DistStatus::Ok:
            return "ok";
        case DistStatus::NoSignal:
            return "no signal";
        case DistStatus::BelowGuard:
            return "f0 below guard";
        case DistStatus::OutOfBand:
            return "f0 outside band";
    }
    return "off";
}

double BlackmanHarris7(std::size_t i, std::size_t n) {
    const double t = 2.0 * std::numbers::pi * static_cast<double>(i) / static_cast<double>(n);
    double w = 0, sign = 1;
    for (int m = 0; m < kTerms; ++m) {
        w += sign * kBh7[static_cast<std::size_t>(m)] * std::cos(m * t);
        sign = -sign;
    }
    return w;
}

double BlackmanHarris7Response(double nu, std::size_t n) {
    const double pi = std::numbers::pi;
    const double nd = static_cast<double>(n);
    double re = 0, im = 0;
    for (int m = -(kTerms - 1); m <= kTerms - 1; ++m) {
        const double a = m == 0 ? kBh7[0] : 0.5 * kBh7[static_cast<std::size_t>(std::abs(m))];
        const double x = nu - m;
        const double dr = std::fabs(x) < 1e-12 ? nd : std::sin(pi * x) / std::sin(pi * x / nd);
        re += a * dr * std::cos(-pi * m / nd);
        im += a * dr * std::sin(-pi * m / nd);
    }
    return std::hypot(re, im) / (kBh7[0] * nd);
}

DistortionAnalyzer::DistortionAnalyzer() {
    for (int c = 0; c < 2; ++c) {
        power_[c].assign(kDistMaxPoints / 2 + 1, 0.0);
        avg_[c].assign(kDistMaxPoints / 2 + 1, 0.0);
        Invalidate(figures_[c]);
    }
    BuildWindow(kDistMaxPoints);
}

void DistortionAnalyzer::BuildWindow(std::size_t n) {
    double w2 = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const double w = BlackmanHarris7(i, n);
        w2 += w * w;
    }
    windowN_ = n;
    // The engine returns |(1/n) sum x w e^..|^2; a one-sided bin of mean
    // square is 2 n / sum(w^2) times it.
    powerScale_ = 2.0 * static_cast<double>(n) / w2;
}

void DistortionAnalyzer::Prepare(std::size_t n) {
    if (n < 64 || n > kDistMaxPoints || !PowerOfTwo(n)) return;
    if (n != windowN_) BuildWindow(n);
}

void DistortionAnalyzer::Reset() {
    count_ = {0, 0};
}

void DistortionAnalyzer::Clear() {
    Reset();
    for (auto& f : figures_) {
        f = DistFigures{};
        Invalidate(f);
    }
}

bool DistortionAnalyzer::Begin(std::size_t n, const DistSettings& s) {
    if (n < 64 || n > kDistMaxPoints || !PowerOfTwo(n) || !(s.binWidth > 0)) {
        for (auto& f : figures_) {
            f.status = DistStatus::Off;
            Invalidate(f);
        }
        return false;
    }
    if (n != windowN_) BuildWindow(n);
    const int averages = std::clamp(s.averages, 1, 100);
    if (n != n_ || s.binWidth != binWidth_ || averages != averages_) count_ = {0, 0};
    n_ = n;
    binWidth_ = s.binWidth;
    averages_ = averages;
    return true;
}

void DistortionAnalyzer::Analyze(const double* a, const double* b, std::size_t n, const DistSettings& s) {
    if (!Begin(n, s)) return;
    if (!engine_) engine_ = std::make_unique<SpectrumEngine>();
    engine_->Transform(a, b, n);
    engine_->WindowedPower(kBh7Window, power_[0].data(), power_[1].data());
    Accumulate(s);
}

void DistortionAnalyzer::AnalyzeSpectra(const SpectrumEngine& engine, std::size_t n, const DistSettings& s) {
    if (engine.keptSize() != n) n = 0;  // no spectra of this window: Off
    if (!Begin(n, s)) return;
    engine.WindowedPower(kBh7Window, power_[0].data(), power_[1].data());
    Accumulate(s);
}

void DistortionAnalyzer::ShareSpectrumPass(SpectrumEngine& engine) {
    engine.AlsoWindowedPower(kBh7Window, power_[0].data(), power_[1].data());
}

void DistortionAnalyzer::Accumulate(const DistSettings& s) {
    const std::size_t half = n_ / 2;
    for (int c = 0; c < 2; ++c) {
        const double* m2 = power_[c].data();
        const std::size_t peak = FirstLargest(m2, kDistDcBins + 1, half);
        if (count_[c] > 0 && std::abs(static_cast<long>(peak) - peakBin_[c]) > 2) count_[c] = 0;
        if (count_[c] == 0) peakBin_[c] = static_cast<int>(peak);
        double* p = avg_[c].data();
        if (count_[c] == 0) {
            for (std::size_t k = 0; k <= half; ++k) p[k] = powerScale_ * m2[k];
        } else {
            const double weight = 1.0 / std::min(count_[c] + 1, averages_);
            for (std::size_t k = 0; k <= half; ++k) p[k] += (powerScale_ * m2[k] - p[k]) * weight;
        }
        count_[c] = std::min(count_[c] + 1, averages_);
        Measure(c, s);
    }
}

void DistortionAnalyzer::Measure(int channel, const DistSettings& s) {
    DistFigures& f = figures_[channel];
    Invalidate(f);
    const double* p = avg_[channel].data();
    const double bw = s.binWidth;
    const long half = static_cast<long>(n_ / 2);
    f.averaged = count_[channel];
    f.guardHz = kDistGuardBins * bw;
    // Band edges as bins, whatever the settings hold (never beyond the spectrum).
    auto toBin = [&](double hz, double fallback) {
        const double b = hz / bw;
        return std::clamp(std::isfinite(b) ? b : fallback, 0.0, static_cast<double>(half));
    };
    const long kLow =
        std::max(static_cast<long>(std::ceil(toBin(s.bandLow, 0))), static_cast<long>(kDistDcBins) + 1);
    const long kHigh = std::min(static_cast<long>(std::floor(toBin(s.bandHigh, half))), half - 1);
    f.bandLowHz = kLow * bw;
    f.bandHighHz = kHigh * bw;

    const long k0 = static_cast<long>(FirstLargest(p, kDistDcBins + 1, static_cast<std::size_t>(half)));
    if (!(p[k0] > 0)) {
        f.status = DistStatus::NoSignal;
        return;
    }
    if (k0 + 0.5 < kDistGuardBins) {
        f.status = DistStatus::BelowGuard;
        return;
    }
    if (k0 + 2 >= half) {
        f.status = DistStatus::OutOfBand;
        return;
    }
    double amp[5];
    for (int j = -2; j <= 2; ++j) amp[j + 2] = std::sqrt(p[k0 + j]);
    const double mu = static_cast<double>(k0) + FitOffset(amp, n_);
    if (mu < kDistGuardBins) {
        f.status = DistStatus::BelowGuard;
        return;
    }
    const long c0 = std::lround(mu);
    const long L = std::min<long>(kDistLobeBins, static_cast<long>(std::floor(mu - 7.5)));

    long cnt = 0;
    // Sums run over separate stretches of bins and are never formed by
    // subtracting one from another: next to a full-scale fundamental, noise
    // at -130 dBFS is below the rounding of a sum that holds the fundamental.
    // Noise density: the band without DC's lobe and every harmonic's main
    // lobe (8 bins either side, whatever L).
    const long X = kDistLobeBins;
    double noiseSum = 0;
    long noiseCount = 0;
    long from = kLow;
    for (long r = 1;; ++r) {
        const long c = std::lround(static_cast<double>(r) * mu);
        if (c - L > kHigh) break;
        noiseSum += RangeSum(p, from, c - X - 1, kLow, kHigh, &cnt);
        noiseCount += cnt;
        from = std::max(from, c + X + 1);
    }
    noiseSum += RangeSum(p, from, kHigh, kLow, kHigh, &cnt);
    noiseCount += cnt;
    const double globalDensity = noiseCount >= 16 ? noiseSum / static_cast<double>(noiseCount) : 0.0;
    // Locally: up to 64 bins either side between this tone's main lobe and
    // its neighbours'.
    const long gap = std::min(static_cast<long>(std::min(mu / 2, mu - X)), X + 64);
    auto density = [&](long c) {
        long c1 = 0, c2 = 0;
        const double s1 = RangeSum(p, c - gap, c - X - 1, kLow, kHigh, &c1);
        const double s2 = RangeSum(p, c + X + 1, c + gap, kLow, kHigh, &c2);
        return c1 + c2 >= 8 ? (s1 + s2) / static_cast<double>(c1 + c2) : globalDensity;
    };

    const double lobe0 = RangeSum(p, c0 - L, c0 + L, 0, half, &cnt);
    const double fund = lobe0 - density(c0) * static_cast<double>(cnt);
    f.f0 = mu * bw;
    // A tone must stand 20 dB above the noise its own lobe holds.
    if (!(fund > 0) || lobe0 < 100.0 * globalDensity * static_cast<double>(2 * L + 1)) {
        f.f0 = kNaN;
        f.status = DistStatus::NoSignal;
        return;
    }
    if (c0 < kLow || c0 > kHigh) {
        f.status = DistStatus::OutOfBand;
        return;
    }
    long c1 = 0, c2 = 0;
    const double residual =
        RangeSum(p, kLow, c0 - L - 1, kLow, kHigh, &c1) + RangeSum(p, c0 + L + 1, kHigh, kLow, kHigh, &c2);
    double harmonics = 0;
    for (int h = 2; h <= kDistHighestHarmonic; ++h) {
        const long c = std::lround(h * mu);
        if (c < kLow || c > kHigh) continue;
        const double lobe = RangeSum(p, c - L, c + L, kLow, kHigh, &cnt);
        const double expected = density(c) * static_cast<double>(cnt);
        const double power = std::max(lobe - expected, 0.0);
        f.harmonicAboveNoise[static_cast<std::size_t>(h)] = lobe > 2 * expected;
        harmonics += power;
        f.harmonicDbc[static_cast<std::size_t>(h)] = Db10(power / fund);
    }
    const double noise = std::max(residual - harmonics, 0.0);
    f.status = DistStatus::Ok;
    f.levelRms = std::sqrt(fund);
    f.levelDbfs = Db10(fund / (0.5 * s.fullScaleCounts * s.fullScaleCounts));
    f.levelVolts = f.levelRms * s.voltsPerCount;
    f.thd = std::sqrt(harmonics / fund);
    f.thdN = std::sqrt(residual / fund);
    f.thdDb = Db10(harmonics / fund);
    f.thdNDb = Db10(residual / fund);
    f.sinadDb = -f.thdNDb;
    f.snrDb = noise > 0 ? 10.0 * std::log10(fund / noise) : -kDistFloorDb;
    f.enob = (f.sinadDb - 1.76) / 6.02;
}

}  // namespace miral::analysis
