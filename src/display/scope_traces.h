// SPDX-License-Identifier: GPL-3.0-or-later
// The oscilloscope traces: each channel drawn as a wide "T Trace2" line
// under a thin "T Trace1" line, and the pan view of channel A's raw window
// over the spectrum.
#pragma once

#include <vector>

#include "display/canvas.h"
#include "display/color_slots.h"

namespace miral::display {

struct ScopeTraceInputs {
    const double* trace = nullptr;  // the channel's trace, count units
    int triggerIndex = 0;           // where the displayed window starts in the time window
    double horizontalScale = 1;     // screen units per sample
    int plotSpan = 563;
    int plotWidth = 567;
    int zeroRow = 200;      // the channel's zero line
    double rowUnit = 0;     // pixels per vertical unit
    double scale = 1;       // vertical units per count
    bool ground = false;    // "GND": a flat line at the zero row
    bool channelB = false;  // B's ground line starts 2 pixels right
};

// Draws one channel as the scope shows it, in two passes; `points` is scratch
// space (kept by the caller so that nothing is allocated per cycle).
void DrawScopeTrace(Canvas& c, const ScopeTraceInputs& in, const ColorSlots& colors,
                    std::vector<Point>& points);

// The short zero marker from (2, zeroRow) to (12, zeroRow), 1-pixel "T Trace1".
void DrawZeroMarker(Canvas& c, int zeroRow, const ColorSlots& colors);

// Channel A's raw window over the spectrum ("Pan"), 1-pixel "T Trace1".
void DrawPanView(Canvas& c, const double* window, int count, int plotSpan, int plotWidth, int zeroRow,
                 double rowUnit, double scale, bool ground, const ColorSlots& colors,
                 std::vector<Point>& points);

}  // namespace miral::display
