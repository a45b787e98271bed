// SPDX-License-Identifier: GPL-3.0-or-later
// A complex transform for long records (a swept measurement's whole
// recording, up to 2^22 points): in place, natural order, radix 2, with its
// tables made once for its size. Not for the processing cycle (the spectrum
// engine serves that).
#pragma once

#include <complex>
#include <cstddef>
#include <vector>

namespace miral::analysis {

class LongFft {
  public:
    // n a power of two from 2 to 2^22 (std::invalid_argument otherwise).
    explicit LongFft(std::size_t n);
    std::size_t size() const { return n_; }
    // X[k] = sum x[m] e^(-j 2 pi k m / n) (no scaling).
    void Forward(std::complex<double>* x) const;
    // x[m] = (1/n) sum X[k] e^(+j 2 pi k m / n).
    void Inverse(std::complex<double>* x) const;

  private:
    void Transform(std::complex<double>* x, bool inverse) const;
    std::size_t n_;
    std::vector<std::complex<double>> twiddle_;  // e^(-j 2 pi k / n), k < n/2
    std::vector<std::size_t> swaps_;             // pairs (i, j), i < j, of the bit reversal
};

}  // namespace miral::analysis
