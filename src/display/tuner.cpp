// SPDX-License-Identifier: GPL-3.0-or-later
#include "display/tuner.h"

namespace miral::display {

namespace {

// Column of a deviation: one pixel per cent right of the centre. A deviation
// that is no number draws at the centre.
int needleColumn(int width, double cents) {
    if (!(cents > -1000.0 && cents < 1000.0)) cents = 0.0;
    return static_cast<int>(width / 2.0 + cents);
}

}  // namespace

void DrawTunerTrace(Canvas& box, int width, int height, TunerTrace& trace, int note, double cents,
                    bool outOfTune, Color background) {
    box.brush = Brush{background, BrushStyle::Solid};
    if (note != trace.shownNote) {
        trace.shownNote = note;
        trace.row = 0;
        box.fillRect(Rect{0, 0, width, height});
    }
    box.pen = Pen{outOfTune ? kOutOfTune : kInTune, 2, PenStyle::Solid};
    const int x = needleColumn(width, cents);
    if (trace.row == 0) {
        box.moveTo(x, 0);
    } else {
        box.moveTo(trace.last.x, trace.last.y);
    }
    box.lineTo(x, trace.row);
    trace.last = Point{x, trace.row};
    // Past the bottom: the next cycle clears the box and starts at the top,
    // whatever note it shows (no note has the number -1).
    if (trace.row > height) trace.shownNote = -1;
    ++trace.row;
}

void DrawTunerIdle(Canvas& box, int width, int height, bool centreLine, Color background) {
    box.brush = Brush{background, BrushStyle::Solid};
    box.fillRect(Rect{0, 0, width, height});
    if (!centreLine) return;
    box.pen = Pen{colors::Black, 1, PenStyle::Solid};
    box.moveTo(width / 2, 0);
    box.lineTo(width / 2, height);
}

void DrawTunerNeedle(Canvas& box, int width, int height, double cents, bool outOfTune, Color background) {
    DrawTunerIdle(box, width, height, true, background);
    box.pen = Pen{outOfTune ? kOutOfTune : kInTune, 2, PenStyle::Solid};
    const int x = needleColumn(width, cents);
    box.moveTo(x, 0);
    box.lineTo(x, height);
}

}  // namespace miral::display
