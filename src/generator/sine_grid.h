// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <vector>

namespace miral::generator {

// sin(2 pi k / n) for k = 0 .. n-1. Every generator frequency and phase
// index is a whole number, so sin(2 pi f t / n) is always one of these n
// values, picked by (f t) mod n. The grid holds room for the longest table
// from construction on; prepare() refills it only when n changes.
class SineGrid {
  public:
    SineGrid();

    // Makes the grid hold n points (2 <= n <= capacity()). Does nothing when it
    // already does.
    void prepare(int n);

    int size() const { return size_; }
    int capacity() const { return static_cast<int>(values_.size()); }
    const double* data() const { return values_.data(); }
    double operator[](int k) const { return values_[static_cast<std::size_t>(k)]; }

  private:
    std::vector<double> values_;
    int size_ = 0;
};

}  // namespace miral::generator
