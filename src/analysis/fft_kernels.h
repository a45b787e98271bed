// SPDX-License-Identifier: GPL-3.0-or-later
// Internal to the spectrum engine: the tables one transform size needs and
// the kernels that run over them. Kept free of inline code so that the AVX2
// translation unit shares nothing with the portable ones but plain data.
#pragma once

#include <cstddef>
#include <cstdint>

namespace miral::analysis::detail {

// Everything precomputed for one size n (a power of two) and one window.
// Only the pointers are read by the kernels; SpectrumEngine owns the storage.
struct FftPlan {
    std::size_t n = 0;
    unsigned log2n = 0;

    // n factors: window value times gain times 1/(2n). The 1/n is the forward
    // scale of the transform and the 1/2 belongs to separating the two real
    // channels from the one complex transform; both are powers of two, so the
    // scaling is exact. Without a window (nullptr) every sample is
    // multiplied by scale, 1/(2n).
    const double* window = nullptr;
    double scale = 0.0;

    // e^(-j 2 pi k / n) for k < n/2 (portable kernel and scalar edges).
    const double* rootRe = nullptr;
    const double* rootIm = nullptr;

    // Portable kernel: ReverseBits(i, n) for i < n.
    const std::uint32_t* reverse = nullptr;

    // Vector kernel (n >= 64), see fft_kernels_avx2.cpp for the layout:
    // groupReverse[g] = 4 * (g reversed in log2(n) - 4 bits) for g < n/32;
    // stageTwiddle: per radix-4 stage of span h (4, 16, ...) the factors
    // W^j, W^2j, W^3j (W = e^(-j 2 pi / 4h)) for j < h, six doubles per j, the
    // stages one after the other; radix2Twiddle: e^(-j 2 pi j / (n/4)) for
    // j < n/8 as (re, im) pairs, used when log2(n) is odd; finalTwiddle: per
    // chunk c of four j = 4c .. 4c+3 (c < n/32), W^j, W^2j, W^3j with
    // W = e^(-j 2 pi / n) as six vectors of four.
    const std::uint32_t* groupReverse = nullptr;
    const double* stageTwiddle = nullptr;
    const double* radix2Twiddle = nullptr;
    const double* finalTwiddle = nullptr;

    // Work arrays of n doubles each, 64-byte aligned.
    double* workRe = nullptr;
    double* workIm = nullptr;
};

// The spectra of both channels, bins 0 .. n/2, as separate real and
// imaginary arrays: X[k] = (1/n) sum x[m] e^(-j 2 pi k m / n) of the record
// as it is (no window). Each array has kSpectrumPad spare elements before
// bin 0 and after bin n/2, which FillSpectrumPads sets to the bins that lie
// there (X[-m] = conj X[m], X[n/2 + m] = conj X[n/2 - m]), so that the
// vector window can read its neighbours without wrapping.
inline constexpr std::size_t kSpectrumPad = 12;
struct HalfSpectra {
    double* re[2] = {nullptr, nullptr};  // channel A, channel B; bin 0 at index 0
    double* im[2] = {nullptr, nullptr};
};

// A window given as a sum of cosines, w[i] = sum_m b_m cos(2 pi m i / n),
// m < terms, applied to a spectrum: Xw[k] = tap[0] X[k] + sum_m tap[m]
// (X[k - m] + X[k + m]) with tap[0] = b_0 and tap[m] = b_m / 2. Exact for a
// record of n points (the window is periodic over them).
inline constexpr int kMaxWindowTerms = 7;
struct WindowTaps {
    double tap[kMaxWindowTerms] = {1.0};
    int terms = 1;
};

// The largest |X[k]|^2 of each channel's unwindowed spectrum, bins 0 .. n/2.
struct RawPeaks {
    double a = 0, b = 0;
};

// The largest and the smallest value of each channel's result (see Scan*).
struct PeaksAndFloors {
    double peakA, floorA, peakB, floorB;
};

// Both kernels: the unwindowed spectra of timeA and timeB (plan.window
// nullptr: plan.scale) into s, bins 0 .. n/2 (pads untouched).
void SpectraPortable(const FftPlan& plan, const double* timeA, const double* timeB, const HalfSpectra& s);
void SpectraAvx2(const FftPlan& plan, const double* timeA, const double* timeB, const HalfSpectra& s);
// The pads of s (n >= 2 kSpectrumPad).
void FillSpectrumPads(const HalfSpectra& s, std::size_t n);

// The window applied to the spectra, then magnitude and phase (degrees) of all
// n bins of each channel (bins above n/2 from their conjugates; with mirrors
// false bins 0 .. n/2 only, nothing beyond); a phase array that is nullptr
// gets nothing (that channel's magnitudes only). The portable
// form reads the pads from n = 64 on (and wraps the bins below that); the
// vector form needs them and n >= 64.
RawPeaks WindowMagPhasePortable(const HalfSpectra& s, std::size_t n, const WindowTaps& w, double* magA,
                                double* phaseA, double* magB, double* phaseB, bool mirrors = true);
// With `scan`, the vector forms also give what ScanAvx2 of the magnitudes
// (or powers) of bins 0 .. n/2 they wrote gives, from the same pass (of the
// values before any zeroing below).
// With `channel` 0 or 1 the vector forms do that channel only (its arrays,
// peak and scan; the other's are left as they are), and with `zero` they
// write a magnitude (power) at or below zero->limit as 0 in the same pass,
// its phase as +90 (into the channel's phases, or when the pass computes
// none, into zero->phase if that is not nullptr; powers have no phase). A NaN
// is never zeroed here; zeroed and nan tell whether any value was zeroed and
// whether a magnitude was NaN.
struct ZeroBelow {
    double limit = 0.0;
    double* phase = nullptr;
    bool zeroed = false;
    bool nan = false;
};
RawPeaks WindowMagPhaseAvx2(const HalfSpectra& s, std::size_t n, const WindowTaps& w, double* magA,
                            double* phaseA, double* magB, double* phaseB, bool mirrors = true,
                            PeaksAndFloors* scan = nullptr, int channel = -1, ZeroBelow* zero = nullptr);
// The largest |X[k]|^2 of one channel's unwindowed spectrum (bins 0 .. n/2)
// exactly as WindowMagPhaseAvx2 (.a) and WindowPowerAvx2 (.b) find it, from
// a pass that only reads the spectrum.
RawPeaks UnwindowedPeaksAvx2(const HalfSpectra& s, std::size_t n, int channel);
// The window applied to the spectra, then |Xw[k]|^2 of bins 0 .. n/2 only.
RawPeaks WindowPowerPortable(const HalfSpectra& s, std::size_t n, const WindowTaps& w, double* powerA,
                             double* powerB);
RawPeaks WindowPowerAvx2(const HalfSpectra& s, std::size_t n, const WindowTaps& w, double* powerA,
                         double* powerB, PeaksAndFloors* scan = nullptr, int channel = -1,
                         ZeroBelow* zero = nullptr);

// The power path of both kernels: window timeA and timeB, transform them
// and write |X[k]|^2 of bins 0 .. n/2 of each channel (nothing beyond n/2).
void PowerPortable(const FftPlan& plan, const double* timeA, const double* timeB, double* powerA,
                   double* powerB);
void PowerAvx2(const FftPlan& plan, const double* timeA, const double* timeB, double* powerA, double* powerB);

// The vector kernel's magnitude and phase of count values, with the phase of
// each value's conjugate (the mirrored bin), by the rules of
// ToMagnitudePhaseOne. For tests of the vector arithmetic.
void MagnitudePhaseAvx2(const double* re, const double* im, double* mag, double* phase,
                        double* phaseOfConjugate, std::size_t count);

// out[i] = m == 0 ? -450 : scale * (2000 ln m - 5160); in place allowed.
// With `shown`, each out[i] that is a finite number is also written to
// shown[i] (the display's unaveraged update, in the same pass).
void DisplayLogPortable(const double* magnitude, double* out, std::size_t count, double scale,
                        double* shown = nullptr);
void DisplayLogAvx2(const double* magnitude, double* out, std::size_t count, double scale,
                    double* shown = nullptr);

// The LF average of the display, LfAverage of analyzer_stage.h (0.9 of the
// average plus 0.1 of the new value; a new value that is no finite number
// leaves the average, an average that is none takes the new value), over
// count values, with the same roundings. The arrays must not overlap.
void LfAverageAvx2(double* shown, const double* fresh, std::size_t count);
// shown[i] = fresh[i] where fresh[i] is a finite number (the display's
// unaveraged update).
void TakeFiniteAvx2(double* shown, const double* fresh, std::size_t count);

// The largest and the smallest of count values of a and of b (count >= 1),
// for the round-off floor of the engine.
PeaksAndFloors ScanPortable(const double* a, const double* b, std::size_t count);
PeaksAndFloors ScanAvx2(const double* a, const double* b, std::size_t count);

// True when this CPU and operating system run the AVX2 + FMA kernels.
bool CpuHasAvx2Fma();

}  // namespace miral::analysis::detail
