// SPDX-License-Identifier: GPL-3.0-or-later
#include "analysis/fft.h"

#include <cmath>
#include <stdexcept>
#include <utility>
#include <vector>

namespace miral::analysis {
namespace {

// cos and sin of pi r / 65536 with r the 16-bit reversal of the entry's index:
// the butterfly groups of every stage, for every size, read it by group number.
struct TwiddleTable {
    std::vector<double> cosine;
    std::vector<double> sine;

    TwiddleTable() : cosine(kMaxFftSize), sine(kMaxFftSize) {
        const double pi = 4.0 * std::atan(1.0);
        for (std::uint32_t i = 0; i < kMaxFftSize; ++i) {
            const double angle = pi * ReverseBits(i, kMaxFftSize) / static_cast<double>(kMaxFftSize);
            cosine[i] = std::cos(angle);
            sine[i] = std::sin(angle);
        }
    }
};

const TwiddleTable& Twiddles() {
    static const TwiddleTable table;  // built by the first transform, kept until exit
    return table;
}

bool IsPowerOfTwo(std::size_t n) {
    return n != 0 && (n & (n - 1)) == 0;
}

}  // namespace

std::uint32_t ReverseBits(std::uint32_t value, std::uint32_t n) {
    std::uint32_t c = n / 2;
    std::uint32_t r = 0;
    while (c > 0) {
        c /= 2;
        r = 2 * r + (value & 1u);
        value >>= 1;
    }
    return r;
}

void BitReversePermute(double* re, double* im, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t j = ReverseBits(static_cast<std::uint32_t>(i), static_cast<std::uint32_t>(n));
        if (i < j) {
            std::swap(re[i], re[j]);
            std::swap(im[i], im[j]);
        }
    }
}

void Fft(double* re, double* im, std::size_t n, int direction) {
    if (!IsPowerOfTwo(n) || n > kMaxFftSize) {
        throw std::invalid_argument("Fft: size must be a power of two from 1 to 65536");
    }
    const TwiddleTable& table = Twiddles();
    const double sigma = direction == 1 ? 1.0 : -1.0;
    const double g = direction == 1 ? 0.5 : 1.0;
    for (std::size_t half = n / 2; half >= 1; half /= 2) {
        for (std::size_t start = 0; start < n; start += 2 * half) {
            const std::size_t k = start / (2 * half);
            const double c = table.cosine[k];
            const double s = table.sine[k];
            for (std::size_t i = start; i < start + half; ++i) {
                const double ur = re[i];
                const double ui = im[i];
                const double xr = re[i + half];
                const double xi = im[i + half];
                const double tr = xr * c + sigma * xi * s;
                const double ti = xi * c - sigma * xr * s;
                re[i] = g * (ur + tr);
                re[i + half] = g * (ur - tr);
                im[i] = g * (ui + ti);
                im[i + half] = g * (ui - ti);
            }
        }
    }
    BitReversePermute(re, im, n);
}

MagnitudePhase ToMagnitudePhaseOne(double re, double im) {
    MagnitudePhase out;
    out.magnitude = std::sqrt(re * re + im * im);
    double p;
    if (std::fabs(re) >= kPhaseTinyReal) {
        p = std::atan(im / std::fabs(re)) * kDegreesPerRadian;
    } else {
        p = im >= 0 ? 90.0 : -90.0;
    }
    if (re < 0) p = 180.0 - p;
    out.phase = p;
    return out;
}

void ToMagnitudePhase(const double* re, const double* im, double* mag, double* phase, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        const MagnitudePhase mp = ToMagnitudePhaseOne(re[i], im[i]);
        mag[i] = mp.magnitude;
        phase[i] = mp.phase;
    }
}

}  // namespace miral::analysis
