// SPDX-License-Identifier: GPL-3.0-or-later
// Analysis windows of the spectrum analyzer.
#pragma once

#include <array>
#include <cstddef>

namespace miral::analysis {

// The window choices of the "WINDOW" buttons; Rectangular is "all buttons up".
enum class WindowKind { Rectangular, Hann, Hamming, Blackman, Nuttall, FlatTop };

// Amplitude gain that each window's values are multiplied by, so that a sine
// on a bin keeps roughly its unwindowed height.
inline constexpr double kHannGain = 2.0071;
inline constexpr double kHammingGain = 1.8601;
inline constexpr double kBlackmanGain = 2.3874;
inline constexpr double kNuttallGain = 2.7561;
inline constexpr double kFlatTopGain = 1.0;

// A window given as a sum of cosines over the n points of a record:
// w[i] = sum_m b[m] cos(2 pi m i / n), m < terms (at most 7). Every window
// of the spectrum analyzer is one (periodic over the n transformed points).
struct CosineWindow {
    std::array<double, 7> b{};
    int terms = 0;
};

// The display's windows as sums of cosines, their gains included
// (Rectangular is b = {1}).
CosineWindow CosineWindowOf(WindowKind kind);

// Window value times gain for point i of count points, theta = 2 pi i / (count - 1).
// Rectangular gives 1. A single point (count 1) uses theta = 0.
double WindowFactor(WindowKind kind, std::size_t i, std::size_t count);

// Multiply re[0 .. count-1] in place by window times gain. The second array
// is part of the routine's calling convention and is never touched. The
// spectrum stage passes count = N + 1, so the window is periodic over the N
// transformed points and point N lands in the spare last element.
void ApplyHann(double* re, double* im, std::size_t count);
void ApplyHamming(double* re, double* im, std::size_t count);
void ApplyBlackman(double* re, double* im, std::size_t count);
void ApplyNuttall(double* re, double* im, std::size_t count);
void ApplyFlatTop(double* re, double* im, std::size_t count);

// Dispatch on kind; Rectangular leaves re unchanged.
void ApplyWindow(WindowKind kind, double* re, double* im, std::size_t count);

}  // namespace miral::analysis
