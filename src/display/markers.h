// SPDX-License-Identifier: GPL-3.0-or-later
// The four markers of the frequency views and the readouts that ride on
// them.
//
// A marker is a small handle on the strip below the screen. Every cycle it
// snaps to trace A: it lands on the first drawn column at or right of its
// handle and, within that column, on the highest point. Its block of texts
// (frequency, level, phase in the transfer and impedance views, and for
// markers 2 to 4 the level relative to marker 1) is written beside the
// marker or, with "Border", in a row of boxes along the top edge; a dotted
// line and a dot show where it sits. The distortion readout line is built
// here too, from the figures of analysis/distortion.h.
#pragma once

#include "display/canvas.h"
#include "display/number_text.h"
#include "display/spectrum_traces.h"

namespace miral::display {

constexpr int kMarkerCount = 4;

// What a marker caught on trace A.
struct MarkerCapture {
    int bin = 0;       // 0: nothing caught this cycle
    int x = -1000000;  // the column
    double y = 0;      // the row before clamping
    // Trace A's value and the drawn phase at the bin; kept until the next
    // capture, so a marker that catches nothing shows its last reading.
    double value = 0;
    double phase = 0;
};

// Start of a cycle: bins, columns and rows back to "nothing caught".
void ResetMarkerCaptures(MarkerCapture* markers);

// Snaps the markers to the columns trace A drew this cycle (in drawing
// order). handleLeft: the left edges of the four handles (strip
// coordinates, 4 pixels right of the screen column they point at).
void CaptureMarkers(MarkerCapture* markers, const int* handleLeft, const TraceColumn* columns,
                    int columnCount, const double* displayA, const double* displayPhase);

// The measurement view the readouts describe.
enum class MarkerView { Spectrum, Transfer, Impedance };

struct MarkerTextInputs {
    MarkerView view = MarkerView::Spectrum;
    bool ylog = true;     // dB view; up: linear view
    double scaleA = 1;    // range factor of trace A
    double binWidth = 1;  // Hz per bin
};

struct MarkerTexts {
    NumText value;       // level ("dB.", "mV.", "%" or ohms)
    NumText difference;  // markers 2 to 4: relative to marker 1
    NumText frequency;   // 0.1 Hz resolution
    NumText phase;       // transfer and impedance views only
    // The level figure the texts were made from (dB in the dB view); marker
    // 1's is the reference of the others' difference line.
    double level = 0;
};

// The texts of marker m (0 = marker 1). reference: marker 1's level of the
// same cycle, or null when marker 1 is off (the dB difference line is then
// left empty: there is nothing to compare with).
MarkerTexts MarkerReadoutTexts(int m, const MarkerCapture& capture, const MarkerTextInputs& in,
                               const double* reference);

// |Z| in ohms from a drawn value of the impedance view.
double ImpedanceOhms(double value, double scaleA, bool ylog);

struct MarkerDrawInputs {
    int handleLeft = 8;  // the handle's left edge
    int upperTop = 0;    // the upper plot area: the dot stays inside it
    int upperBottom = 388;
    int plotHeight = 388;
    bool border = false;    // "Border": texts in boxes along the top edge
    bool phaseDot = false;  // transfer and impedance views: a second dot on the phase curve
    double phaseRow = 0;    // the phase's row on the phase curve, less 8
    Color lineColor = 0;    // the dotted line
    Color markerColor = 0;  // the dot and the box
};

// Places marker m's texts and draws its line and dot(s). boxLeft is the
// next box's left edge in the "Border" row; it moves on by one box.
void DrawMarker(Canvas& c, int m, const MarkerCapture& capture, const MarkerTexts& texts,
                const MarkerDrawInputs& in, int& boxLeft);

// The distortion readout line.
//   channel A only: "Noise + THD=0.105%  Overtone THD=0.031%  @1000Hz. (Fund.=1234.mV r.m.s.)"
//   "A+B":          "True THD=..." with one more character of the first figure.
// thd and overtone are fractions; hz the fundamental in whole hertz.
LineText DistortionText(bool bothChannels, double thd, double overtone, long long hz, double fundamentalMv);

}  // namespace miral::display
