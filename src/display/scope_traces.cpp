// SPDX-License-Identifier: GPL-3.0-or-later
#include "display/scope_traces.h"

#include "display/number_text.h"

namespace miral::display {

namespace {

void runPolyline(Canvas& c, Point start, std::vector<Point>& points, std::size_t count) {
    c.moveTo(start.x, start.y);
    if (count > 0) c.polyline(points.data(), static_cast<int>(count));
}

}  // namespace

void DrawZeroMarker(Canvas& c, int zeroRow, const ColorSlots& colors) {
    c.pen = Pen{colors[Slot::TTrace1], 1, PenStyle::Solid};
    c.moveTo(2, zeroRow);
    c.lineTo(12, zeroRow);
}

void DrawScopeTrace(Canvas& c, const ScopeTraceInputs& in, const ColorSlots& colors,
                    std::vector<Point>& points) {
    const double hs = in.horizontalScale > 0 ? in.horizontalScale : 1;
    const double shown = 512.0 / hs;      // points on the screen
    const double captured = 1024.0 / hs;  // samples in the window
    const double k2 = in.rowUnit * in.scale;
    const int xOffset = in.channelB ? 2 : 0;
    if (points.size() < 8192) points.resize(8192);

    // Count the points: up to the first one right of the plot, and only
    // samples inside the captured window.
    std::size_t n = 0;
    for (int k = 1; k < shown && n < points.size(); ++k) {
        double x = in.plotSpan * static_cast<double>(k) / 512.0 * hs;
        if (x > in.plotWidth - 3) break;
        if (in.triggerIndex + k >= captured) break;
        ++n;
    }
    const double* t = in.trace;
    auto xAt = [&](int k) { return in.plotSpan * static_cast<double>(k) / 512.0 * hs; };
    // Rows of samples blown up far beyond the screen (a high gain, a huge
    // magnification) are pinned far off it; the canvas clips the lines.
    auto rowAt = [&](double zero, int k) { return ToPixel(zero - k2 * t[k]); };

    for (int pass = 0; pass < 2; ++pass) {
        if (pass == 0) {
            c.pen = Pen{colors[Slot::TTrace2], 3, PenStyle::Solid};
        } else {
            if (in.channelB) DrawZeroMarker(c, in.zeroRow, colors);
            c.pen = Pen{colors[Slot::TTrace1], 1, PenStyle::Solid};
        }
        if (in.ground) {
            for (std::size_t i = 0; i < n; ++i) {
                int k = static_cast<int>(i) + 1;
                points[i] = {ToPixel(xAt(k) + xOffset), in.zeroRow};
            }
            runPolyline(c, {xOffset, in.zeroRow}, points, n);
            continue;
        }
        if (pass == 0) {
            for (std::size_t i = 0; i < n; ++i) {
                int k = static_cast<int>(i) + 1;
                points[i] = {ToPixel(xAt(k)), rowAt(in.zeroRow, k)};
            }
        } else {
            for (std::size_t i = 0; i < n; ++i) {
                int k = static_cast<int>(i) + 1;
                points[i] = {ToPixel(xAt(k) - 1), rowAt(in.zeroRow - 1.0, k)};
            }
        }
        runPolyline(c, {0, rowAt(in.zeroRow, 0)}, points, n);
    }
}

void DrawPanView(Canvas& c, const double* window, int count, int plotSpan, int plotWidth, int zeroRow,
                 double rowUnit, double scale, bool ground, const ColorSlots& colors,
                 std::vector<Point>& points) {
    DrawZeroMarker(c, zeroRow, colors);
    c.pen = Pen{colors[Slot::TTrace1], 1, PenStyle::Solid};
    if (points.size() < 65536) points.resize(65536);
    std::size_t n = 0;
    for (int k = 1; k < count && n < points.size(); ++k) {
        double x = MapAxis(k, plotSpan, 0, count, false);
        if (x > plotWidth - 3) break;
        int y = ground ? zeroRow : ToPixel(zeroRow - rowUnit * scale * window[k]);
        points[n++] = {ToPixel(x), y};
    }
    int y0 = ground ? zeroRow : ToPixel(zeroRow - rowUnit * scale * window[0]);
    runPolyline(c, {0, y0}, points, n);
}

}  // namespace miral::display
