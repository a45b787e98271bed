// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Test helpers for the table builder: a straightforward second implementation
// (a library sine call per sample, every product in 64 bits) and a plain DFT.

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <vector>

#include "generator/table_builder.h"

namespace miral::generator::testing {

inline constexpr double kPi = 3.14159265358979323846;

struct ReferenceTables {
    int n = 0;
    double f1 = 0.0;
    double f2 = 0.0;
    std::vector<double> a;
    std::vector<double> b;
};

inline std::int64_t euclid(std::int64_t v, std::int64_t n) {
    return ((v % n) + n) % n;
}

// The builder's formulas written out literally. Only for rates the rate combo
// offers (no clamping).
inline ReferenceTables referenceBuild(const GeneratorControls& c, std::uint64_t& noise) {
    ReferenceTables r;
    double f1 = std::trunc(c.genfreq * 0.001 * c.mainRange + 0.1);
    int n = c.dacRate;
    if (!c.genon1) {
        f1 = 0;
    } else if (c.freqVar && c.gensqr1 && !c.gensweep1) {
        const std::int64_t d = static_cast<std::int64_t>(n / f1) / 2 * 2;
        if (d > 0) n = static_cast<int>(std::trunc(static_cast<double>(d) * f1));
    }
    const double f2 = c.genon2 ? std::trunc(c.genfreq2 * 0.001 * c.auxRange + 0.1) : 0.0;
    const int mode = c.modulationMode;
    double a1 = c.genampl * 320.0;
    double a2 = c.genampl2 * 320.0;
    if (c.db20) a1 *= 0.1;
    if (c.db40) a1 *= 0.01;
    if (mode == 1 || mode == 5) {
        if (c.db20) a2 *= 0.1;
        if (c.db40) a2 *= 0.01;
    }
    double s = 2.0;
    switch (c.sweepRange) {
        case SweepRange::Thousand:
            s = 0.1;
            break;
        case SweepRange::Hundred:
            s = 1.0;
            break;
        case SweepRange::Ten:
            s = 10.0;
            break;
        case SweepRange::One:
            s = 100.0;
            break;
        case SweepRange::Half:
            s = 2.0;
            break;
    }
    const bool duty = c.sweepRange != SweepRange::Half && !c.gensweep1;
    const double w = c.gensweep / s;
    const int h = n / 2;
    const auto f1i = static_cast<std::int64_t>(f1);
    const auto f2i = static_cast<std::int64_t>(f2);

    r.n = n;
    r.f1 = f1;
    r.f2 = f2;
    r.a.assign(static_cast<std::size_t>(n), 0.0);
    r.b.assign(static_cast<std::size_t>(n), 0.0);
    double peak = 1.0;
    for (int i = 0; i < n; ++i) {
        double m = 0.0;
        double a = 0.0;
        std::int64_t t = i;
        const int fold = i > h ? n - i : i;
        if (c.gensweep1 && mode != 4)
            t = static_cast<std::int64_t>(std::trunc((c.gensweep * fold / (n * 0.5) / s + 1) * i));
        if (c.genon2 && c.gensin2) a += std::sin(2 * kPi * f2 * i / n) * a2;
        if (c.genon2 && c.gentri2) {
            std::int64_t k = euclid(f2i * i, n);
            if (k >= h) k = n - k;
            a += static_cast<double>(2 * k - h) * a2 / h;
        }
        if (c.genon2 && c.gensqr2) a += (euclid(f2i * i, n) < h ? 1 : -1) * a2;
        if (mode == 4 && f1 != 0)
            t = static_cast<std::int64_t>(std::trunc(c.gensweep * a * 3.125e-5 / s * 130 / f1 + i));
        if (c.genon1 && c.gensin1) m += std::sin(2 * kPi * f1 * static_cast<double>(t) / n) * a1 + 0.5;
        if (c.genon1 && c.gentri1) {
            std::int64_t k = euclid(f1i * t, n);
            if (k >= h) k = n - k;
            m += static_cast<double>(2 * k - h) * a1 / h;
        }
        if (c.genon1 && c.gensqr1) {
            const std::int64_t k = euclid(f1i * t, n);
            if (duty)
                m += (static_cast<double>(k) < w ? 1 : -1) * a1;
            else
                m += (k < h ? 1 : -1) * a1;
        }
        if (c.genon1 && c.gennoise1) {
            noise = noise * 22695477u + 1u;
            const std::int64_t rnd = static_cast<std::int64_t>((noise >> 32) & 0x7FFFFFFFu) % 10000000;
            m += std::trunc(static_cast<double>(rnd - 5000000)) * a1 * 2e-7;
        }
        const double q = 1.0 / 32768.0;
        double x = 0.0;
        double y = 0.0;
        switch (mode) {
            case 2:
                x = (a * 3.125e-5 + 1.0) * m * q;
                break;
            case 3:
                x = m * a * 3.125e-5 * q;
                break;
            case 4:
                x = m * q;
                break;
            case 5:
                x = m * q;
                y = a * q;
                break;
            default:
                x = (m + a) * q;
                break;
        }
        if (mode != 5) y = x;
        peak = std::max({peak, std::fabs(x), std::fabs(y)});
        r.a[static_cast<std::size_t>(i)] = x;
        r.b[static_cast<std::size_t>(i)] = y;
    }
    for (int i = 0; i < n; ++i) {
        r.a[static_cast<std::size_t>(i)] /= peak * 1.1;
        r.b[static_cast<std::size_t>(i)] /= peak * 1.1;
    }
    return r;
}

// Amplitude of the sinusoid at `bin` (whole hertz for a one-second table) in
// the first n entries of x: 2/n |sum x[j] e^(-2 pi i bin j / n)|.
template <typename T>
double lineAmplitude(const T* x, int n, int bin) {
    std::complex<double> sum = 0.0;
    for (int j = 0; j < n; ++j) {
        const auto phase = static_cast<double>((static_cast<std::int64_t>(bin) * j) % n);
        const double angle = -2.0 * kPi * phase / n;
        sum += static_cast<double>(x[j]) * std::complex<double>(std::cos(angle), std::sin(angle));
    }
    return 2.0 * std::abs(sum) / n;
}

}  // namespace miral::generator::testing
