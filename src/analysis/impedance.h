// SPDX-License-Identifier: GPL-3.0-or-later
// The impedance meter: the complex impedance of a device measured through a
// known shunt, per FFT bin, and the RLC meter's classification, test
// frequency and readings.
//
// Wiring (the formulas below assume it). Plain shunt: the generator drives
// the device and the shunt in series; channel B sees the generator side (the
// device and the shunt), channel A the shunt alone, loaded by the input
// impedance Rin of channel A. With U = Rs || Rin:
//     Z = U x (B / A - 1).
// "Shunt (Serial)": the shunt Rs runs from the generator to the device, the
// device goes to ground; channel B sees the generator side, channel A the
// device, again loaded by Rin. With h = Rin / (Rin + Rs):
//     Z = U / (h x B / A - 1).
//
// Plain kernels over arrays; the caller gathers the control values. Nothing
// here allocates.
#pragma once

#include <cstddef>

namespace miral::analysis {

// ---- Display units of the impedance view ---------------------------------------------

// Ohms per display unit and range factor in the linear view (as every linear
// readout of the instrument: 0.0525 x v / scale).
inline constexpr double kOhmsPerLinearUnit = 0.0525;
// Pixels per display unit and RowUnit of the linear impedance trace, drawn up
// from the bottom of the upper area: 230 x 0.0525, so that |Z| = V ohms sits on
// the linear grid's line V.
inline constexpr double kLinearImpedanceRow = 230.0 * kOhmsPerLinearUnit;

// |Z| (ohms) in display units with a range factor: 2000 x scale x ln|Z| on the
// logarithmic axis (0 becomes -450), |Z| x scale / 0.0525 on the linear one.
double ImpedanceToDisplay(double ohms, double scale, bool ylog);
// The inverse: 10^(v / scale / 4605.17) or v x 0.0525 / scale.
double ImpedanceFromDisplay(double v, double scale, bool ylog);

// ---- The per-bin impedance --------------------------------------------------------------

struct ImpedanceInputs {
    // Magnitude and phase (degrees) of both channels, bins 0 .. bins - 1.
    // Channel A's pair becomes |Z| (ohms) and the phase of Z (degrees,
    // -90 .. 90); channel B keeps its own (smoothed with "Avg").
    double* magnitudeA = nullptr;
    double* phaseA = nullptr;
    double* magnitudeB = nullptr;
    double* phaseB = nullptr;
    std::size_t bins = 0;           // FftSize / 2 (at least 3)
    double shunt = 10;              // Rs, ohms
    double inputImpedance = 10000;  // Rin of channel A, ohms
    bool serial = false;            // "Shunt (Serial)"
    // The RLC meter's correction of the phase of impedances far above the shunt.
    bool highImpedanceCorrection = false;
    // Resistive class with `rlcmode` down: the phase is squeezed to 2 %.
    bool squeezePhase = false;
    bool smooth = false;      // "Avg" down: mains repair and 11-bin smoothing of all four arrays
    bool smoothPhase = true;  // the phase of Z is smoothed too ("Phase_Smoth" 0)
    double binWidth = 1;
    // The RLC meter's test bin (2 .. bins - 1; otherwise none): its phase is
    // also reported as measured, without the high-impedance correction and
    // the smoothing.
    int readingBin = -1;
};

struct ImpedanceResult {
    // The shunt and the input impedance are positive numbers: there is an
    // impedance to show. Otherwise channel A's arrays hold zeros, which are
    // no reading.
    bool valid = false;
    // The phases of Z over bins 5 .. bins - 6 sum to more than 0 (inductive side).
    bool phasePositive = false;
    // The phase of Z at the reading bin as measured (degrees, -90 .. 90).
    bool readingValid = false;
    double readingPhase = 0;
};

// Shunt in parallel with the input: U = Rs x Rin / (Rs + Rin) (0 when both are 0).
double ShuntWithInput(double shunt, double inputImpedance);

// One cycle of the stage. Bins where |A| < 1e-30 (or whose impedance is no
// finite number) repeat the previous bin.
ImpedanceResult ImpedanceBranch(const ImpedanceInputs& in);

// ---- RLC meter ------------------------------------------------------------------------

enum class RlcClass { Resistive, Capacitive, Inductive };

// The class of the device from the drawn trace (display units, bins of an
// FFT of fftSize points): the mean ratio of |Z| at fftSize/10 and 3 fftSize/10
// to |Z| at fftSize/30, over 200 bins each. Both within 0.9 .. 1.1:
// resistive; else falling |Z| is capacitive, rising inductive.
RlcClass ClassifyDevice(const double* display, int fftSize, double scale, bool ylog);

struct TestPointInputs {
    RlcClass cls = RlcClass::Resistive;
    double z0 = 0;  // |Z| at bin fftSize / 4, ohms
    int fftSize = 16384;
    int adcRate = 44100;
    double overrideHz = 0;       // "RLC_Freq_C", "_L" or "_R" for the class; 0: none
    bool smoothChecked = false;  // "smoth": the high-impedance correction for capacitors above 1 kohm
    bool zLimits = true;         // "Z Limits"
    double shunt = 10;
    double ratio1 = 20;   // "Ratio_1"
    double ratio2 = 200;  // "Ratio_2"
};

struct TestPoint {
    int bin = 0;
    // Set or cleared for capacitors only (the caller keeps it otherwise).
    bool setsCorrection = false;
    bool highImpedanceCorrection = false;
    int precision = 1;  // 1, or 0 / -1 when |Z| lies 20 / 200 times from the shunt
};

// The test frequency (as a bin) for the class, the correction flag and the
// precision of the readouts.
TestPoint ChooseTestPoint(const TestPointInputs& in);

// Averages of the drawn trace over a window of bins.
struct RlcReading {
    double phase = 0;      // mean phase, degrees
    double ohms = 0;       // mean |Z|
    double cos = 0;        // mean cos(phase)
    double sin = 0;        // |mean sin(phase)|
    double tan = 0;        // |mean tan(phase)|: the quality factor
    double frequency = 0;  // bin x binWidth
};

struct ReadingInputs {
    const double* display = nullptr;  // `DisplayA`
    const double* phase = nullptr;    // `DisplayPhase`
    int bins = 0;                     // valid bins 0 .. bins - 1
    double scale = 1;                 // trace A's range factor
    bool ylog = true;
    double binWidth = 1;
};

// Reactive reading at bin b over b - w + 1 .. b + w - 1 (at least bin b).
RlcReading ReactiveReading(const ReadingInputs& in, int b, int w);
// Resistive reading at bin b over b - w .. b + w - 1 (at least bin b); the
// phase runs through cos with pi taken as 3.141592.
RlcReading ResistiveReading(const ReadingInputs& in, int b, int w);

}  // namespace miral::analysis
