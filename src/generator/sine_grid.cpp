// SPDX-License-Identifier: GPL-3.0-or-later
#include "generator/sine_grid.h"

#include <algorithm>
#include <cmath>

#include "generator/table_builder.h"

namespace miral::generator {

namespace {
constexpr double kTwoPi = 6.283185307179586476925286766559;
// Points between exact restarts of the rotation; the rounding error of the
// rotation grows by a few ulp per step, so 64 steps stay near 1e-14.
constexpr int kBlock = 64;
}  // namespace

SineGrid::SineGrid() : values_(static_cast<std::size_t>(kMaxTableLength), 0.0) {}

void SineGrid::prepare(int n) {
    n = std::clamp(n, 1, capacity());
    if (n == size_) return;
    double* v = values_.data();
    // Only the first quarter (or half, for lengths that are not multiples of
    // four) is computed; the rest is mirrored, so the grid is exactly odd
    // (v[n-k] = -v[k]) and exactly 0 at a whole and half turn and +-1 at the
    // quarter turns.
    const int half = n / 2;
    const int quarter = n % 4 == 0 ? n / 4 : half;
    const double step = kTwoPi / n;
    const double cw = std::cos(step);
    const double sw = std::sin(step);
    for (int start = 0; start <= quarter; start += kBlock) {
        // Restart each block from the exact angle, then rotate point by point.
        const double angle = step * start;
        double c = std::cos(angle);
        double s = std::sin(angle);
        const int end = std::min(quarter + 1, start + kBlock);
        for (int k = start; k < end; ++k) {
            v[k] = s;
            const double nc = c * cw - s * sw;
            s = s * cw + c * sw;
            c = nc;
        }
    }
    v[0] = 0.0;
    if (n % 4 == 0) {
        v[quarter] = 1.0;
        for (int k = quarter + 1; k <= half; ++k) v[k] = v[half - k];
    }
    if (n % 2 == 0) v[half] = 0.0;
    for (int k = half + 1; k < n; ++k) v[k] = -v[n - k];
    size_ = n;
}

}  // namespace miral::generator
