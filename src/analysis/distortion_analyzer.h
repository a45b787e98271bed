// SPDX-License-Identifier: GPL-3.0-or-later
// The distortion analyzer: fundamental frequency and level, THD, THD+N,
// SINAD, SNR, ENOB and the harmonics H2 .. H10 of both channels, measured on
// the newest window with a window function of its own (see the .cpp for the
// method and why it is exact to a tenth of a dB).
//
// Plain kernel: arrays and explicit parameters in, figures out. Everything
// AnalyzeSpectra needs is allocated by the constructor for the largest
// window (65536 points); it allocates nothing. Analyze, which transforms the
// samples itself, makes its transform and the tables of a size the first
// time it needs them.
#pragma once

#include <array>
#include <cstddef>
#include <memory>
#include <vector>

#include "analysis/fft_engine.h"

namespace miral::analysis {

inline constexpr std::size_t kDistMaxPoints = 65536;
inline constexpr int kDistHighestHarmonic = 10;  // H2 .. H10 are reported one by one
// Half-width, in bins, of the stretch summed around each tone: the window's
// main lobe ends 7 bins either side of the tone, and rounding the tone's
// position to a bin adds half a bin. Low fundamentals use fewer bins (down to
// 5, which still holds all but 5e-6 of a tone's power) so that no tone's main
// lobe reaches into its neighbour's stretch.
inline constexpr int kDistLobeBins = 8;
inline constexpr int kDistMinLobeBins = 5;
// The lowest fundamental, in bins: 5 bins summed either side and 7 more to
// the end of the neighbour's main lobe, plus half a bin of rounding.
inline constexpr double kDistGuardBins = kDistMinLobeBins + 7.5;
// Bins 0 .. 7 hold DC's main lobe and never count.
inline constexpr int kDistDcBins = 7;

enum class DistStatus {
    Off,         // nothing analysed yet
    Ok,          // figures valid
    NoSignal,    // no tone stands out of the floor
    BelowGuard,  // the fundamental is too low for this resolution (more FFT points help)
    OutOfBand,   // the fundamental lies outside the measurement band
};

const char* DistStatusText(DistStatus s);

struct DistSettings {
    double binWidth = 1.0;  // Hz per bin: sample rate / points / clock correction
    double bandLow = 20.0;  // measurement band, Hz
    double bandHigh = 20000.0;
    int averages = 1;                // power average over this many acquisitions, 1 .. 100
    double voltsPerCount = 0.0;      // r.m.s. volts per r.m.s. count (the instrument's calibration)
    double fullScaleCounts = 32768;  // the peak of a full-scale sine, counts
};

struct DistFigures {
    DistStatus status = DistStatus::Off;
    int averaged = 0;                      // acquisitions in the average
    double guardHz = 0;                    // the lowest fundamental this resolution measures
    double bandLowHz = 0, bandHighHz = 0;  // the band actually used (bin edges)
    // Valid with status Ok (NaN otherwise).
    double f0 = 0;             // Hz
    double levelRms = 0;       // r.m.s. counts
    double levelDbfs = 0;      // dB relative to a full-scale sine
    double levelVolts = 0;     // V r.m.s.
    double thd = 0, thdN = 0;  // ratios of r.m.s. values (x 100 for per cent)
    double thdDb = 0, thdNDb = 0, sinadDb = 0, snrDb = 0, enob = 0;
    // harmonicDbc[h] for h = 2 .. 10: level relative to the fundamental; NaN
    // when the harmonic lies outside the band. A harmonic that does not stand
    // out of the noise reads kDistFloorDb.
    std::array<double, kDistHighestHarmonic + 1> harmonicDbc{};
    // Whether harmonic h holds clearly more than the noise expected in its
    // bins (twice as much); a harmonic that does not is noise as far as
    // this window can tell, whatever its figure.
    std::array<bool, kDistHighestHarmonic + 1> harmonicAboveNoise{};
};

// dB figures are never below this (a ratio of zero).
inline constexpr double kDistFloorDb = -300.0;

class DistortionAnalyzer {
  public:
    DistortionAnalyzer();

    // Sets up the window's scale for n points ahead of the first
    // measurement of that size (which otherwise does it, without allocating).
    void Prepare(std::size_t n);

    // Forgets the average.
    void Reset();
    // Forgets the average and the figures (status Off).
    void Clear();

    // One acquisition: a and b hold the n newest samples (counts) of channel
    // A and B; n a power of two from 64 to 65536 (others give status Off).
    // The power spectra join the running average (restarted when the size,
    // the bin width, the averages or the fundamental's bin change), and the
    // figures of both channels are computed from it.
    void Analyze(const double* a, const double* b, std::size_t n, const DistSettings& s);

    // The same acquisition from a spectrum engine that has just transformed
    // the n newest samples (its Analyze or Transform of this window): the
    // analyzer's window is applied to the spectra the engine keeps, so the
    // record is not transformed a second time. Status Off when the engine
    // keeps no spectra of n points.
    void AnalyzeSpectra(const SpectrumEngine& engine, std::size_t n, const DistSettings& s);
    // Has `engine` weight its spectra with this analyzer's window in the pass
    // that makes its own magnitudes (SpectrumEngine::AlsoWindowedPower), for
    // the AnalyzeSpectra calls that follow each of its Analyze calls. The
    // engine must not outlive the analyzer.
    void ShareSpectrumPass(SpectrumEngine& engine);

    const DistFigures& figures(int channel) const { return figures_[channel ? 1 : 0]; }

    // The averaged one-sided power spectrum of a channel (mean square per
    // bin, bins 0 .. n/2) and its length.
    const double* power(int channel) const { return avg_[channel ? 1 : 0].data(); }
    std::size_t bins() const { return n_ / 2 + 1; }

  private:
    bool Begin(std::size_t n, const DistSettings& s);
    void Accumulate(const DistSettings& s);
    void Measure(int channel, const DistSettings& s);
    void BuildWindow(std::size_t n);

    // The transform of Analyze on the samples, made by its first call: the
    // instrument's cycle uses AnalyzeSpectra and never needs one.
    std::unique_ptr<SpectrumEngine> engine_;
    std::size_t windowN_ = 0;                   // the size powerScale_ holds for
    double powerScale_ = 0;                     // |X|^2 to mean square per bin
    std::array<std::vector<double>, 2> power_;  // this acquisition's |X|^2, bins 0 .. n/2
    std::array<std::vector<double>, 2> avg_;
    std::array<int, 2> count_{};
    std::array<int, 2> peakBin_{};
    std::size_t n_ = 0;
    double binWidth_ = 0;
    int averages_ = 0;
    std::array<DistFigures, 2> figures_{};
};

// The 7-term Blackman-Harris window, periodic over n points, peak 1.
double BlackmanHarris7(std::size_t i, std::size_t n);
// Its spectrum's magnitude nu bins away from a tone, relative to the peak
// (exact for n points: a sum of shifted Dirichlet kernels).
double BlackmanHarris7Response(double nu, std::size_t n);

}  // namespace miral::analysis
