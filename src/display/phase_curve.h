// SPDX-License-Identifier: GPL-3.0-or-later
// The phase curve of the transfer-function (Bode) and impedance views, drawn
// before the gain or |Z| trace.
#pragma once

#include <vector>

#include "display/canvas.h"
#include "display/spectrum_traces.h"

namespace miral::display {

// Row of a phase (degrees): baseRow - perDegree x phase.
struct PhaseScale {
    double baseRow = 0;
    double perDegree = 0;
    double row(double phase) const { return baseRow - perDegree * phase; }
};

// The transfer view: row = plotHeight / 2 - (phase + offset) x k + 8 with
// k = plotHeight x 19/36 x 0.0025, so 360 degrees span 0.475 of the plot
// height and -offset sits 8 rows below the middle. offset is -180, or 0 when
// the phase is folded into -360 .. 0.
PhaseScale TransferPhaseScale(int plotHeight, double offset);

// The impedance view: +90 degrees on the first line of the lower area's
// phase grid (lowerTop + 2), -90 on its last, (upperBottom - 6) / 18 rows
// per 10 degrees as the grid.
PhaseScale ImpedancePhaseScale(int upperBottom, int lowerTop);

struct PhaseCurveInputs {
    const double* phase = nullptr;  // degrees, bins 1 .. columns.end()
    PhaseScale scale;
    Pen pen;
    int paintWidth = 567;  // columns 4 .. paintWidth - 1 are drawn
    int plotHeight = 388;  // rows are kept within 0 .. plotHeight - 1
};

// Bins 1 .. columns.end() - 1; the bins of one column are averaged. Lines
// join the drawn columns; a column outside 3 < x < paintWidth breaks the
// curve. `points` is scratch space kept by the caller.
void DrawPhaseCurve(Canvas& c, const PhaseCurveInputs& in, const SpectrumColumns& columns,
                    std::vector<Point>& points);

}  // namespace miral::display
