// SPDX-License-Identifier: GPL-3.0-or-later
#include "analysis/tone_fit.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

namespace miral::analysis {
namespace {

constexpr int kMaxTerms = 7;

// Magnitudes of the window's spectrum at offsets j - delta (j = -2 .. 2) from
// a tone. tap[m + 6] = (-1)^m b_|m| / 2 (b_0 whole), cm = e^(-j pi m / n) for
// m = -6 .. 6: the kernels' phases relative to the one of offset 0.
void LobeShape(double delta, std::size_t n, const double* tap, int terms, const double* cmRe,
               const double* cmIm, double out[5]) {
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
        for (int m = -(terms - 1); m <= terms - 1; ++m) {
            const double v = tap[m + kMaxTerms - 1] * dr[j - m + 8];
            re += v * cmRe[m + kMaxTerms - 1];
            im += v * cmIm[m + kMaxTerms - 1];
        }
        out[j + 2] = std::hypot(re, im);
    }
}

}  // namespace

double FitToneOffset(const double mag[5], std::size_t n, const CosineWindow& w) {
    const int terms = std::clamp(w.terms, 1, kMaxTerms);
    double tap[2 * kMaxTerms - 1] = {};
    double cmRe[2 * kMaxTerms - 1], cmIm[2 * kMaxTerms - 1];
    for (int m = -(kMaxTerms - 1); m <= kMaxTerms - 1; ++m) {
        const int a = std::abs(m);
        if (a < terms) tap[m + kMaxTerms - 1] = (a % 2 ? -1.0 : 1.0) * (a == 0 ? w.b[0] : 0.5 * w.b[a]);
        const double ph = -std::numbers::pi * m / static_cast<double>(n);
        cmRe[m + kMaxTerms - 1] = std::cos(ph);
        cmIm[m + kMaxTerms - 1] = std::sin(ph);
    }
    auto score = [&](double delta) {
        double g[5];
        LobeShape(delta, n, tap, terms, cmRe, cmIm, g);
        // The peak and its two neighbours only: a second tone a few bins
        // away reaches less into them than into the bins further out.
        double ag = 0, gg = 0;
        for (int j = 1; j < 4; ++j) {
            ag += mag[j] * g[j];
            gg += g[j] * g[j];
        }
        return gg > 0 ? ag * ag / gg : 0.0;
    };
    // Start: a parabola through the logarithms of the three middle bins;
    // then a golden-section search for the best fit near it.
    const double lm = std::log(std::max(mag[1], 1e-300));
    const double l0 = std::log(std::max(mag[2], 1e-300));
    const double lp = std::log(std::max(mag[3], 1e-300));
    const double den = lm - 2 * l0 + lp;
    double start = den < 0 ? 0.5 * (lm - lp) / den : 0.0;
    start = std::clamp(start, -0.6, 0.6);
    // The parabola is a poor start for the rectangular window's narrow lobe
    // and the flat top's flat one: their search spans the whole bin.
    const double reach = terms == 1 || terms >= 5 ? 0.7 : 0.15;
    double lo = std::max(start - reach, -0.7), hi = std::min(start + reach, 0.7);
    const double r = (std::sqrt(5.0) - 1) / 2;
    double x1 = hi - r * (hi - lo), x2 = lo + r * (hi - lo);
    double f1 = score(x1), f2 = score(x2);
    for (int it = 0; it < 48; ++it) {
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

double ToneBin(const double* mag, std::size_t bins, std::size_t peak, std::size_t n, const CosineWindow& w) {
    constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
    if (mag == nullptr || peak < 1 || peak + 1 >= bins) return kNaN;
    std::size_t k = peak;
    if (mag[peak - 1] > mag[k]) k = peak - 1;
    if (mag[peak + 1] > mag[k]) k = peak + 1;
    // A peak rises above at least one neighbour (a flat stretch is none).
    const bool peakHere =
        mag[k] >= mag[k - 1] && mag[k] >= mag[k + 1] && (mag[k] > mag[k - 1] || mag[k] > mag[k + 1]);
    if (k < 2 || k + 2 >= bins || !(mag[k] > 0) || !peakHere) return kNaN;
    double a[5];
    for (int j = -2; j <= 2; ++j) a[j + 2] = mag[k + static_cast<std::size_t>(j + 2) - 2];
    for (double v : a)
        if (!std::isfinite(v)) return kNaN;
    return static_cast<double>(k) + FitToneOffset(a, n, w);
}

}  // namespace miral::analysis
