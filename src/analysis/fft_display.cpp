// SPDX-License-Identifier: GPL-3.0-or-later
#include "analysis/fft_display.h"

#include "analysis/fft_kernels.h"

namespace miral::analysis {

void ToDisplayLog(const double* magnitude, double* out, std::size_t count, double scale, FftKernel kernel,
                  double* shown) {
    if (kernel == FftKernel::Avx2 && detail::CpuHasAvx2Fma()) {
        detail::DisplayLogAvx2(magnitude, out, count, scale, shown);
    } else {
        detail::DisplayLogPortable(magnitude, out, count, scale, shown);
    }
}

void ToDisplayLinear(const double* magnitude, double* out, std::size_t count, double scale) {
    for (std::size_t i = 0; i < count; ++i) out[i] = magnitude[i] * scale * 1.44;
}

}  // namespace miral::analysis
