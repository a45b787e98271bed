// SPDX-License-Identifier: GPL-3.0-or-later
// The two small tuner displays of the note panel: a trace of the deviation
// from the nearest note that runs down its box one row per cycle, and a
// needle. One pixel per cent either side of the centre; red beyond 9 cents.
#pragma once

#include "display/canvas.h"

namespace miral::display {

// What the scrolling trace keeps from one cycle to the next.
struct TunerTrace {
    int shownNote = 0;  // the note the trace belongs to
    int row = 0;        // the row the next point goes to
    Point last;         // the trace's last point
};

// One step of the trace: a new note clears the box (brush `background`) and
// starts again at the top; the trace restarts too once it has run past the
// bottom.
void DrawTunerTrace(Canvas& box, int width, int height, TunerTrace& trace, int note, double cents,
                    bool outOfTune, Color background);

// The needle: the box cleared, a black centre line, and a 2-pixel needle at
// the deviation.
void DrawTunerNeedle(Canvas& box, int width, int height, double cents, bool outOfTune, Color background);

// A box with nothing measured: cleared, the needle's box with its centre line only.
void DrawTunerIdle(Canvas& box, int width, int height, bool centreLine, Color background);

// Green in tune, red out of tune.
inline constexpr Color kInTune = colors::Green;
inline constexpr Color kOutOfTune = colors::Red;

}  // namespace miral::display
