// SPDX-License-Identifier: GPL-3.0-or-later
// Where a tone lies between the bins of a windowed spectrum: the window's
// exact spectrum (a sum of shifted Dirichlet kernels of n points) fitted to
// the magnitudes around the tone's peak. Exact for a lone tone wherever it
// falls, for any window that is a sum of cosines (every window of the
// analyzer, the rectangular one included).
#pragma once

#include <cstddef>

#include "analysis/window.h"

namespace miral::analysis {

// The least-squares fit of c x the window's spectrum to the magnitudes of a
// peak (mag[2], the largest) and its neighbours mag[1] and mag[3] (mag[0] and
// mag[4] are not used): the tone's offset from the middle bin, -0.7 .. 0.7
// bins, to about 1e-7 bin.
double FitToneOffset(const double mag[5], std::size_t n, const CosineWindow& w);

// The position, in bins, of the tone whose largest magnitude lies in
// mag[peak - 1 .. peak + 1] (mag holds bins 0 .. bins - 1 of an n-point
// transform); NaN when there is no peak there or too few bins around it.
double ToneBin(const double* mag, std::size_t bins, std::size_t peak, std::size_t n, const CosineWindow& w);

}  // namespace miral::analysis
