// SPDX-License-Identifier: GPL-3.0-or-later
// The plain in-place radix-2 FFT and the magnitude/phase conversion.
//
// These routines define the instrument's transform: SpectrumEngine
// (fft_engine.h) computes the same results much faster and is what the
// processing cycle runs; these stay as the definition and as a second
// implementation to check it against.
#pragma once

#include <cstddef>
#include <cstdint>

namespace miral::analysis {

// Degrees per radian as the phase readouts have always used it (not the
// exactly rounded 180/pi).
inline constexpr double kDegreesPerRadian = 57.295779507424825;

// Magnitudes whose real part is below this are given a phase of +-90 degrees.
inline constexpr double kPhaseTinyReal = 1e-80;

// The largest transform size.
inline constexpr std::size_t kMaxFftSize = 65536;

// value with its log2(n) low bits in reverse order (n a power of two).
std::uint32_t ReverseBits(std::uint32_t value, std::uint32_t n);

// Swaps re[i] with re[j] and im[i] with im[j] for every i < j = ReverseBits(i, n).
void BitReversePermute(double* re, double* im, std::size_t n);

// In-place complex transform, natural order in and out; n is a power of two
// from 1 to 65536 (std::invalid_argument otherwise). direction 1 is forward,
// X[k] = (1/n) sum x[m] e^(-j 2 pi k m / n); anything else is the unscaled
// inverse with e^(+j ...).
void Fft(double* re, double* im, std::size_t n, int direction);

struct MagnitudePhase {
    double magnitude;
    double phase;  // degrees, -90 .. 270
};

// Magnitude sqrt(re^2 + im^2) and phase in degrees: atan(im / |re|) when
// |re| >= 1e-80, else +90 (im >= 0) or -90; then 180 - p when re < 0.
MagnitudePhase ToMagnitudePhaseOne(double re, double im);

// The same per element over count elements. Each element's re and im are read
// before either output is written, so mag and phase may be re and im.
void ToMagnitudePhase(const double* re, const double* im, double* mag, double* phase, std::size_t count);

}  // namespace miral::analysis
