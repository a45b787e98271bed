// SPDX-License-Identifier: GPL-3.0-or-later
// The FFT stage of the frequency views: both channels windowed, transformed
// and turned into magnitude and phase, every processing cycle.
#pragma once

#include <array>
#include <cstddef>
#include <memory>

#include "analysis/window.h"

namespace miral::analysis {

enum class FftKernel {
    Portable,  // plain C++, any x86-64 (or other) CPU
    Avx2,      // AVX2 + FMA vector code, chosen at run time when the CPU has it
};

// Computes, for the two time windows of a cycle, the spectrum of each channel
// as the plain routines of fft.h define it (window with count n + 1, forward
// Fft, ToMagnitudePhase over n bins), equal to them up to rounding and much
// faster: X[k] = (1/n) sum x[m] e^(-j 2 pi k m / n) of the windowed record,
// magnitude and phase in degrees by the -90 .. 270 rule, for all n bins
// (bins above n/2 are the conjugates of those below, phase by the same rule).
//
// Both channels go through one complex transform (A real, B imaginary) of
// the record as it is, and are separated by conjugate symmetry into the
// spectra of bins 0 .. n/2, which the engine keeps. A window is then applied
// to the spectra: a window that is a sum of cosines over the n points
// multiplies the record exactly as a short convolution of the bins does
// (Xw[k] = b0 X[k] + sum b_m / 2 (X[k - m] + X[k + m])). So one transform
// serves every window asked of the same record: the display's in Analyze,
// and any other by WindowedPower (the distortion analyzer's).
//
// A magnitude at the transform's round-off level relative to the other
// channel's peak (at most about 1e-11 of it, see fft_engine.cpp) reads as
// exactly 0 with phase +90, so that a silent channel beside a loud one reads
// silence. Sizes from 64 up use the AVX2 kernel when the CPU has AVX2 and
// FMA; smaller sizes and other CPUs the portable one.
//
// Tables for a size are built the first time it is used (or by Prepare) and
// kept. After that, Analyze, Transform and WindowedPower allocate nothing.
// Not thread-safe: one engine per thread.
class SpectrumEngine {
  public:
    SpectrumEngine();
    ~SpectrumEngine();
    SpectrumEngine(const SpectrumEngine&) = delete;
    SpectrumEngine& operator=(const SpectrumEngine&) = delete;

    // Builds the tables for n and window ahead of the first Analyze.
    void Prepare(std::size_t n, WindowKind window);

    // timeA, timeB: n samples each. n: a power of two from 1 to 65536
    // (std::invalid_argument otherwise). Writes elements 0 .. n-1 of the four
    // output arrays: magnitude into magA / magB, phase in degrees into phaseA /
    // phaseB. Nothing beyond n - 1 is written; in particular the spare element
    // n of the 65537-element spectrum arrays keeps whatever it held (the plain
    // routines write the window's last point there, which no stage reads).
    // The outputs must not overlap the inputs or each other.
    void Analyze(const double* timeA, const double* timeB, std::size_t n, WindowKind window, double* magA,
                 double* phaseA, double* magB, double* phaseB);

    // As Analyze, for a caller that reads bins 0 .. n/2 only: elements 0 ..
    // n/2 of the four arrays are written, nothing beyond (the bins above n/2
    // are the conjugates of those below). With phaseOfB false channel B's
    // phase is not computed: phaseB gets +90 where channel B's magnitude
    // reads exactly 0 (as Analyze writes it there) and keeps its values
    // elsewhere.
    void AnalyzeHalf(const double* timeA, const double* timeB, std::size_t n, WindowKind window, double* magA,
                     double* phaseA, double* magB, double* phaseB, bool phaseOfB = true);

    // The transform alone: keeps the spectra of both channels for
    // WindowedPower, as Analyze does from 64 points on (below that Analyze
    // windows the record itself and keeps nothing). n as for Analyze.
    void Transform(const double* timeA, const double* timeB, std::size_t n);
    // The size of the record whose spectra are kept (0 before the first
    // Analyze or Transform).
    std::size_t keptSize() const;
    // |Xw[k]|^2 for k = 0 .. n/2 (n = keptSize(), nothing beyond n/2 written)
    // of the kept spectra weighted by w, as if the record had been multiplied
    // by w before the transform: Xw[k] = (1/n) sum x[m] w[m] e^(-j 2 pi k m / n).
    // The round-off rule of AnalyzePower. Allocates nothing; no effect
    // without kept spectra or with w.terms outside 1 .. 7.
    void WindowedPower(const CosineWindow& w, double* powerA, double* powerB) const;
    // For a caller that takes WindowedPower(w, powerA, powerB) of every
    // Analyze's spectra: from now on Analyze and AnalyzeHalf make it in the
    // same pass over the spectra (each channel's spectra are read once for
    // both), and WindowedPower with this window and these arrays finds it
    // made. The arrays must stay valid (n/2 + 1 elements for every n used);
    // null arrays end it.
    void AlsoWindowedPower(const CosineWindow& w, double* powerA, double* powerB);

    // The power path, for a caller with a window of its own that needs neither
    // magnitude nor phase. UseWindow takes n factors w (n as for Analyze;
    // copied, tables for n built: it may allocate). AnalyzePower then weights
    // timeA and timeB by w and writes |X[k]|^2, X[k] = (1/n) sum x[m] w[m]
    // e^(-j 2 pi k m / n), for k = 0 .. n/2 only, into powerA / powerB
    // (nothing beyond n/2). A power at the transform's round-off level
    // relative to the other channel's peak power (the square of Analyze's
    // limit) reads as exactly 0. n must be the size of the last UseWindow
    // (std::invalid_argument otherwise). Allocates nothing.
    void UseWindow(std::size_t n, const double* w);
    void AnalyzePower(const double* timeA, const double* timeB, std::size_t n, double* powerA,
                      double* powerB);

    // The kernel in use: the fastest one this CPU runs, unless changed.
    FftKernel kernel() const;
    // Selects a kernel; false (and no change) when the CPU cannot run it.
    bool UseKernel(FftKernel kernel);

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// The fastest kernel this CPU runs.
FftKernel BestFftKernel();
bool FftKernelSupported(FftKernel kernel);

}  // namespace miral::analysis
