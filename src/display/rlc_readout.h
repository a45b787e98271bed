// SPDX-License-Identifier: GPL-3.0-or-later
// The RLC meter's readout lines (capacitance or inductance with series
// resistance and quality factor, |Z|, or resistance) and their drawing on the
// screen: large while the meter has the screen to itself, small beside
// marker 1 otherwise.
#pragma once

#include <string_view>

#include "display/canvas.h"
#include "display/number_text.h"

namespace miral::display {

// Averages of the drawn |Z| and phase around the reading's bin.
struct RlcFigures {
    double phase = 0;      // mean phase, degrees
    double ohms = 0;       // mean |Z|
    double cos = 0;        // mean cos(phase)
    double sin = 0;        // |mean sin(phase)|
    double tan = 0;        // |mean tan(phase)|
    double frequency = 0;  // Hz
};

struct RlcTexts {
    NumText main;       // `Edit11`: "1.234 uF.  ", "0 pF. " ...
    NumText series;     // `Edit12`: series resistance, or the resistance
    NumText quality;    // `Edit13`: "Q=12.3 @1020 Hz.  "
    NumText impedance;  // `Edit15`: "Z=1.592 K  @1020 Hz.  "
};

// A capacitor (C = sin / (|Z| 2 pi f) less the probe capacitance) or an
// inductor (L = |Z| sin / (2 pi f)), with series resistance |Z| cos less the
// probe resistance, Q and |Z|. precision is 1, 0 or -1 (digits kept: 3 + it).
// A capacitance below 0.1 pF reads "0 pF. ", an inductance below 0.1 uH
// "0 nH. " (series and Q then " "). A value that comes out as no finite
// number reads "---", and so do the values derived from it.
RlcTexts ReactiveTexts(const RlcFigures& f, bool capacitor, int precision, double probePf,
                       double probeMilliOhm);

// All four lines "---": there is no impedance to read.
RlcTexts NoReadingTexts();

// The resistance |Z| cos less the probe resistance; "0 Ohm" below 0.1 mOhm,
// "---" when it is no finite number.
NumText ResistiveText(const RlcFigures& f, int precision, double probeMilliOhm);

struct RlcDrawInputs {
    bool meterActive = false;  // the meter has the screen: large texts
    bool resistive = false;    // the resistive readout (only `Edit12`)
    double phase = 0;          // the mean phase of the reading
    int row = 0;               // the readout line: the upper area's top, or marker 1's row
    bool overload = false;     // an input reached 31000 counts: the main line in "Mark1Trace"
    Color labels = colors::Yellow;
    Color mark1Trace = colors::Red;
};

// Draws the lines at x = 8 with a clear brush; the font size is 8 afterwards.
void DrawRlcReadout(Canvas& c, const RlcDrawInputs& in, std::string_view edit11, std::string_view edit12,
                    std::string_view edit13, std::string_view edit15);

}  // namespace miral::display
