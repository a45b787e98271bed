// SPDX-License-Identifier: GPL-3.0-or-later
// Conversion of plain spectrum magnitudes into display units.
#pragma once

#include <cstddef>

#include "analysis/fft_engine.h"

namespace miral::analysis {

// Logarithmic display units: out[i] = scale * (2000 ln m - 5160), and exactly
// -450 for m == 0 (whatever the scale). A negative or NaN m gives NaN, as the
// logarithm does. out may be magnitude itself.
// With `shown`, each result that is a finite number is also written there
// (in the same pass).
void ToDisplayLog(const double* magnitude, double* out, std::size_t count, double scale,
                  FftKernel kernel = BestFftKernel(), double* shown = nullptr);

// Linear display units: out[i] = m * scale * 1.44. out may be magnitude itself.
void ToDisplayLinear(const double* magnitude, double* out, std::size_t count, double scale);

}  // namespace miral::analysis
