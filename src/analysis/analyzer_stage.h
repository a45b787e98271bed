// SPDX-License-Identifier: GPL-3.0-or-later
// The spectrum stage of the frequency views, after the FFT: fix-ups of the
// raw spectrum, the channel-delay correction, the conversion to display
// units, the LF average of the display arrays, the frequency smoothing of the
// transfer-function and impedance views, and the list of spectral peaks from
// which the fundamental is chosen.
//
// Plain kernels over arrays: the caller gathers the control values and
// passes them in. Nothing here allocates.
#pragma once

#include <array>
#include <cstddef>

namespace miral::analysis {

// ---- Raw spectrum fix-ups ----------------------------------------------------

// Bins 0 and 1 take the value of bin 2 (the DC and the window's leakage
// around it would otherwise dwarf the display). values has at least 3 bins.
void SuppressDc(double* values);

// Channel B's phase is reduced by i x 360 x binWidth x delay x 1e-9 degrees
// at bin i (delay in nanoseconds), for bins 0 .. count - 1. A delay of 0
// leaves the phase untouched.
void CorrectChannelDelay(double* phase, std::size_t count, double binWidth, double delayNs);

// A sudden change of the level of channel A: the sum of its magnitude over
// bins h/4 < i < h/3, compared with the previous cycle's sum. Used by the
// transfer-function and impedance views to restart the LF average when the
// device under test changes.
class LevelJumpDetector {
  public:
    // Forms this cycle's sum, remembers it, and tells whether it differs from
    // the previous one by more than a factor of ten (either way). Both sums
    // are compared as whole positive numbers, guarded by 1e-10.
    bool Update(const double* magnitude, std::size_t bins);
    double previousSum() const { return previous_; }

  private:
    double previous_ = 0.0;
};

// ---- Display units -------------------------------------------------------------

// What the display arrays hold in the plain spectrum and transfer-function
// views.
enum class DisplayRow {
    SpectrumLinear,  // m x scale x 1.44
    SpectrumLog,     // scale x (2000 ln m - 5160): dB re 1 mV r.m.s. on the dB grid
    GainLinear,      // g x scale x 1904.8 (100 % of the gain grid at 1)
    GainLog,         // scale x 2000 ln g
};

// In-place conversion of count values to display units. In the logarithmic
// rows a value of exactly 0 becomes -450 instead of a logarithm. With
// `shown`, the results of bins 1 .. count - 1 that are finite numbers are
// also written there: the display's unaveraged update (see DisplayUpdate's
// `taken`), in the same pass where the row allows.
void ToDisplayUnits(DisplayRow row, double* values, std::size_t count, double scale, double* shown = nullptr);

// Transfer-function view with LF on: the gain bins 48 .. 52 (where the
// generator's start-up disturbance lands) are bridged from bins 48 and 52.
void RepairLowGainBins(double* values);

// ---- LF average of the display arrays --------------------------------------------

struct DisplayUpdate {
    // This cycle's values in display units, and channel A's phase in degrees.
    const double* a = nullptr;
    const double* b = nullptr;
    const double* phaseA = nullptr;
    // The drawn values, kept from cycle to cycle.
    double* displayA = nullptr;
    double* displayB = nullptr;
    double* displayPhase = nullptr;
    std::size_t bins = 0;      // bins 1 .. bins - 1 are updated; bin 0 never
    bool primed = false;       // the display arrays already hold a first copy
    bool lowf = false;         // "LF": exponential average 0.9 / 0.1
    bool hold = false;         // "HOLD" freezes the average
    bool transfer = false;     // transfer-function view: bins of A below -4200 keep their values
    bool phaseUnwrap = false;  // "Phase_Smoth": unwrap the new phase against the average
    bool keepA = false;        // no reading on channel A this cycle: A and the phase keep their values
    // A and B were already taken over by ToDisplayUnits with `shown`; only
    // valid where the update is the unaveraged one (not primed or no LF),
    // outside the transfer view and with keepA false.
    bool taken = false;
};

// One step of the LF average of a value: 0.9 of the average, 0.1 of the new
// value. A new value that is no finite number leaves the average as it is;
// an average that is none starts again from the new value.
double LfAverage(double average, double fresh);

// One display update. Unprimed or with LF up the display arrays take this
// cycle's values; with LF down they move a tenth of the way towards them,
// unless HOLD is down, which leaves them as they are. Values that are no
// finite number never enter the display arrays (the bin keeps what it
// shows). Returns the new primed state (a cycle that keeps A primes nothing).
bool UpdateDisplay(const DisplayUpdate& u);

// ---- Smoothing of the transfer-function and impedance views ----------------------

// The bins of 50, 100 and 150 Hz (trunc(f / binWidth)) take the mean of the
// bins three below and three above. A bin whose neighbours fall outside
// 0 .. count - 1 is left alone.
void MainsRepair(double* values, std::size_t count, double binWidth);

// Bins 5 .. bins - 6 become the mean of the 11 original values around them
// (i - 5 .. i + 5); the other bins keep their values. In place.
void Smooth11(double* values, std::size_t bins);

// ---- Peak list and fundamental ------------------------------------------------------

struct Peak {
    double value = 0.0;
    int bin = 0;
};

// The strongest spectral peaks of channel A, strongest first. 30 slots are
// kept; one more takes what falls off the end.
struct PeakList {
    static constexpr int kKept = 30;
    std::array<Peak, kKept + 1> slot{};

    void Reset() { slot.fill(Peak{}); }
    // Inserts in descending order: the first slot 0 .. 29 whose value it
    // exceeds receives it and the slots below move down by one.
    void Insert(double value, int bin);
    // Inserts every local maximum among bins first .. end - 1 that is above
    // minLevel and not smaller than either neighbour. values[end] must be
    // readable (a bin past the last should hold 0).
    void Scan(const double* values, int first, int end, double minLevel);
    // Clears the slots below a tenth of the strongest and, with `solo`, lets a
    // lower-frequency peak above 0.33 of the current leader take slot 0 (the
    // fundamental of a harmonic series whose strongest partial is a harmonic).
    // Returns the fundamental's bin: slot 0's, 0 for an empty list.
    int ChooseFundamental(bool solo);
    // Sorts the 30 kept slots by bin, ascending (values travel with them).
    void SortByBin();
};

// ---- Frequency meter and note tuner -----------------------------------------------

struct TunerReading {
    long long roundedHz = 0;  // the "Frequency" readout: whole hertz, rounded
    double measuredHz = 0;    // whole hertz, truncated (centring the band on it)
    int note = 0;             // NoteIndex: 0 "Off", 1 "La" .. 12 "Sol#"
    double cents = 0;         // deviation from the note, -50 .. 50
    int shownCents = 0;       // the deviation as shown: truncated toward zero
    bool outOfTune = false;   // more than 9 cents off: red
};

// The reading of a fundamental frequency f (Hz); below 10 Hz "Off" with no
// deviation.
TunerReading ReadTuner(double f);

}  // namespace miral::analysis
