// SPDX-License-Identifier: GPL-3.0-or-later
// The transfer-function analyzer's stage: the two spectra of a device under
// test (channel B its input, channel A its output) become its gain |A|/|B|
// and phase phiA - phiB per bin, with the smoothing of the device views.
//
// Plain kernel over the spectrum work arrays; the caller gathers the control
// values. Nothing here allocates.
#pragma once

#include <cstddef>

namespace miral::analysis {

// The bin whose phase difference decides whether the device inverts,
// whatever the FFT size.
inline constexpr std::size_t kReferenceBin = 251;

struct TransferInputs {
    // Magnitude and phase (degrees) of both channels, bins 0 .. bins - 1,
    // rewritten in place: channel A's magnitude becomes the gain, its phase
    // the transfer phase, channel B's magnitude sqrt(gain x |B|).
    double* magnitudeA = nullptr;
    double* phaseA = nullptr;
    double* magnitudeB = nullptr;
    double* phaseB = nullptr;
    std::size_t bins = 0;       // FftSize / 2
    double minLevel = 0;        // the "Min Lev." knob: bins below it on either channel are invalid
    bool bothInverted = false;  // `Inv1` and `Inv2` both down
    bool smooth = false;        // "Avg" down: mains repair and 11-bin smoothing
    bool smoothPhase = true;    // the transfer phase is smoothed too ("Phase_Smoth" 0)
    double binWidth = 1;        // Hz per bin (where the mains bins lie)
};

struct TransferResult {
    // The device inverts and both inputs are inverted: the phase is folded
    // into (-360, 0] instead of (-180, 180].
    bool inversionFold = false;
    // The transfer phases of bins 5 .. bins - 6 sum to more than 0.
    bool phasePositive = false;
};

// Folds a phase into -180 .. 180, or into -360 .. 0 with inversionFold.
double FoldPhase(double p, bool inversionFold);

// One cycle of the stage. A bin is valid when |A| > 1e-6 x minLevel and
// |B| > 0.001 x minLevel; an invalid bin gets gain 0, channel B magnitude 1
// and the previous bin's phase (no division takes place).
TransferResult TransferBranch(const TransferInputs& in);

}  // namespace miral::analysis
