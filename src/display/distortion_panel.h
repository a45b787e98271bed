// SPDX-License-Identifier: GPL-3.0-or-later
// The distortion analyzer's display in the side area: per channel the
// fundamental's frequency and level, THD, THD+N, SINAD, SNR and ENOB as a
// small table and H2 .. H10 as a bar chart in dBc, then the band and the
// averaging state.
#pragma once

#include "analysis/distortion_analyzer.h"
#include "display/canvas.h"

namespace miral::display {

struct DistortionPanelInputs {
    const analysis::DistFigures* a = nullptr;
    const analysis::DistFigures* b = nullptr;  // null: channel B not shown
    bool timeView = false;                     // nothing measured in the time view
    int averages = 1;                          // the chosen count
    // Per channel: the figure is within 3 dB of the card's own floor ("~floor").
    bool thdAtFloor[2] = {false, false};
    bool thdNAtFloor[2] = {false, false};
    Color background = colors::Black;
    Color text = colors::White;
    Color traceA = colors::Yellow;
    Color traceB = colors::Red;
    Color grid = rgb(90, 90, 90);
};

// Every font the box writes in (Arial 8, 8 bold, 7).
inline const Font kDistortionPanelFonts[] = {Font{"Arial", 8, colors::Black, false},
                                             Font{"Arial", 8, colors::Black, true},
                                             Font{"Arial", 7, colors::Black, false}};

// Paints the whole box (width x height).
void DrawDistortionPanel(Canvas& box, int width, int height, const DistortionPanelInputs& in);

// "1000.00": a frequency with 6 significant digits; into buf (at least 32 bytes).
const char* SixDigits(double hz, char* buf, int size);

}  // namespace miral::display
