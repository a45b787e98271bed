// SPDX-License-Identifier: GPL-3.0-or-later
#include "display/phase_curve.h"

#include <cmath>

namespace miral::display {

namespace {

int clampRow(double y, int bottom) {
    if (std::isnan(y)) return bottom;
    if (y < 0) return 0;
    if (y > bottom) return bottom;
    return static_cast<int>(y);
}

}  // namespace

PhaseScale TransferPhaseScale(int plotHeight, double offset) {
    const double k = plotHeight * 19.0 / 36.0 * 0.0025;
    return PhaseScale{plotHeight / 2 - offset * k + 8, k};
}

PhaseScale ImpedancePhaseScale(int upperBottom, int lowerTop) {
    const double k = (upperBottom - 6) / 180.0;
    return PhaseScale{lowerTop + 2 + 90 * k, k};
}

void DrawPhaseCurve(Canvas& c, const PhaseCurveInputs& in, const SpectrumColumns& columns,
                    std::vector<Point>& points) {
    const int end = columns.end();
    if (points.size() < static_cast<std::size_t>(end)) points.resize(static_cast<std::size_t>(end));
    const int bottom = in.plotHeight - 1;
    c.pen = in.pen;
    int run = 0;
    auto flush = [&] {
        if (run > 1) {
            c.moveTo(points[0].x, points[0].y);
            c.polyline(points.data() + 1, run - 1);
        }
        run = 0;
    };
    double sum = 0;
    int count = 0;
    for (int i = 1; i < end; ++i) {
        const int x = columns.column(i);
        sum += in.scale.row(in.phase[i]);
        ++count;
        if (columns.column(i + 1) == x) continue;
        const int y = clampRow(sum / count, bottom);
        sum = 0;
        count = 0;
        if (3 < x && x < in.paintWidth) {
            points[static_cast<std::size_t>(run++)] = Point{x, y};
        } else {
            flush();
        }
    }
    flush();
}

}  // namespace miral::display
