// SPDX-License-Identifier: GPL-3.0-or-later
// The transform's definition, summed in long double: the independent truth
// of the transform tests. X[k] = (1/n) sum x[m] e^(-j 2 pi k m / n).
#pragma once

#include <cmath>
#include <complex>
#include <cstddef>
#include <vector>

namespace miral::test {

template <class T>
std::vector<std::complex<long double>> LongDoubleDft(const std::vector<T>& x) {
    const std::size_t n = x.size();
    const long double pi = 3.141592653589793238462643383279502884L;
    std::vector<std::complex<long double>> out(n);
    for (std::size_t k = 0; k < n; ++k) {
        std::complex<long double> s = 0;
        for (std::size_t m = 0; m < n; ++m) {
            const long double a =
                -2 * pi * static_cast<long double>((k * m) % n) / static_cast<long double>(n);
            s += std::complex<long double>(x[m]) * std::complex<long double>(std::cos(a), std::sin(a));
        }
        out[k] = s / static_cast<long double>(n);
    }
    return out;
}

}  // namespace miral::test
