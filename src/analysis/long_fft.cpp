// SPDX-License-Identifier: GPL-3.0-or-later
#include "analysis/long_fft.h"

#include <cmath>
#include <numbers>
#include <stdexcept>
#include <utility>

namespace miral::analysis {

LongFft::LongFft(std::size_t n) : n_(n) {
    if (n < 2 || n > (std::size_t{1} << 22) || (n & (n - 1)) != 0)
        throw std::invalid_argument("LongFft: the size must be a power of two from 2 to 2^22");
    twiddle_.resize(n / 2);
    for (std::size_t k = 0; k < n / 2; ++k) {
        // Each twiddle from its own angle: no error builds up along the table.
        const double a = -2.0 * std::numbers::pi * static_cast<double>(k) / static_cast<double>(n);
        twiddle_[k] = {std::cos(a), std::sin(a)};
    }
    int bits = 0;
    while ((std::size_t{1} << bits) < n) ++bits;
    for (std::size_t i = 0; i < n; ++i) {
        std::size_t r = 0;
        for (int b = 0; b < bits; ++b)
            if (i & (std::size_t{1} << b)) r |= std::size_t{1} << (bits - 1 - b);
        if (i < r) {
            swaps_.push_back(i);
            swaps_.push_back(r);
        }
    }
}

void LongFft::Transform(std::complex<double>* x, bool inverse) const {
    for (std::size_t s = 0; s < swaps_.size(); s += 2) std::swap(x[swaps_[s]], x[swaps_[s + 1]]);
    for (std::size_t len = 2; len <= n_; len <<= 1) {
        const std::size_t half = len / 2, step = n_ / len;
        for (std::size_t start = 0; start < n_; start += len) {
            for (std::size_t k = 0; k < half; ++k) {
                std::complex<double> w = twiddle_[k * step];
                if (inverse) w = std::conj(w);
                const std::complex<double> u = x[start + k];
                const std::complex<double> v = x[start + k + half] * w;
                x[start + k] = u + v;
                x[start + k + half] = u - v;
            }
        }
    }
}

void LongFft::Forward(std::complex<double>* x) const {
    Transform(x, false);
}

void LongFft::Inverse(std::complex<double>* x) const {
    Transform(x, true);
    const double scale = 1.0 / static_cast<double>(n_);
    for (std::size_t i = 0; i < n_; ++i) x[i] *= scale;
}

}  // namespace miral::analysis
