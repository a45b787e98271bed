// SPDX-License-Identifier: GPL-3.0-or-later
// The displayed frequency band and the note scale.
//
// Notes are equal-tempered with "La" = 440 Hz and Italian names; a frequency
// maps to its nearest note and its deviation in cents.
#pragma once

namespace miral::analysis {

// 0 "Off" for f < 10 Hz, else 1..12: "La", "La#", "Si", "Do", ... "Sol#".
int NoteIndex(double f);
// Deviation from the nearest note in cents, in [-50, 50); 0 below 10 Hz.
double CentsOffset(double f);
// The name of a note index 0..12 ("" outside).
const char* NoteName(int index);

// Band-width knob positions 0..7: hertz per division; position 8 is "Free".
constexpr int kFreeBand = 8;
double BandHzPerDivision(int position);

struct Band {
    double fmin = 10;
    double fmax = 22050;
    double fcenter = 1000;
};

// What the band knobs say, already multiplied by their "x 1/10/100" buttons.
struct BandKnobs {
    int widthPosition = kFreeBand;  // fftselect
    double minKnob = 10;            // tb1 x multiplier
    double maxKnob = 16000;         // tb2 x multiplier
    double centerKnob = 5500;       // tb4 x multiplier
    bool centerHeld = false;        // the centre was set by a click or drag: keep it
    int adcRate = 44100;
};

// One update of the band from the knobs (the cycle runs it every time).
void UpdateBand(Band& band, const BandKnobs& knobs);

// How a band frequency is shown on a knob with "x 1", "x 10", "x 100"
// multipliers: below 100 the "x 1" button and the value itself, below 1000
// "x 10" and a tenth, else "x 100" and a hundredth (truncated).
struct KnobSetting {
    int multiplierIndex;  // 0 "x 1", 1 "x 10", 2 "x 100"
    int value;
};
KnobSetting KnobFor(double frequency);

// Dragging the screen moves the band: the centre follows the pointer by
// (x - lastX) screen pixels out of `screenWidth`, kept within 10 Hz ..
// adcRate/2 - 500 Hz.
double DragCenter(double center, const Band& band, int dx, int screenWidth, int adcRate);

}  // namespace miral::analysis
