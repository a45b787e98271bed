// SPDX-License-Identifier: GPL-3.0-or-later
// Harmonic distortion of channel A from the drawn spectrum: the total
// harmonic distortion (every harmonic below half the FFT size), the overtone
// distortion (only the harmonics that are not octaves of the fundamental)
// and the fundamental's level in millivolts r.m.s. With both channels shown,
// channel B's figures, read at channel A's harmonic peaks, are subtracted,
// so that what the source itself carries cancels out.
//
// Levels are taken from the display arrays: with a logarithmic Y axis a
// display value v of a trace with range factor s stands for the linear level
// 10^(v / s / 4605.17) (4605.17 = 2000 ln 10); with a linear axis v itself.
#pragma once

namespace miral::analysis {

struct DistortionInputs {
    const double* displayA = nullptr;  // drawn values of channel A, bins 0 .. bins - 1
    const double* displayB = nullptr;  // and of channel B
    int bins = 0;                      // half the FFT size: harmonics are searched below it
    int fundamentalBin = 0;            // the fundamental chosen from the peak list
    double scaleA = 1;                 // range factor of trace A
    double scaleB = 1;                 // range factor of trace B
    bool ylog = true;                  // logarithmic display values
    bool bothChannels = false;         // "A+B": channel B's figures are subtracted
};

struct Distortion {
    bool valid = false;  // false: no fundamental inside the spectrum, nothing to show
    // The shown figures as fractions (x 100 for per cent); 0 when below 1e-6.
    double thd = 0;
    double overtone = 0;
    // The fundamental of channel A in millivolts r.m.s.
    double fundamentalMv = 0;
    // Each channel's own figures before the subtraction.
    double thdA = 0, thdB = 0, overtoneA = 0, overtoneB = 0;
};

// Linear level of a display value of a trace with range factor s.
double DisplayLevel(double v, double s, bool ylog);

// Whether the harmonic number r is an octave of the fundamental (2, 4, 8 ... 128).
bool IsOctave(int r);

// The measurement. The harmonics' search windows are cut to bins 0 ..
// bins - 1; a fundamental outside 1 .. bins - 1 gives no measurement.
Distortion MeasureDistortion(const DistortionInputs& in);

// The fundamental frequency as whole hertz: the bin's frequency rounded to
// 0.1 Hz and then cut to the hertz.
long long FundamentalHz(int bin, double binWidth);

}  // namespace miral::analysis
