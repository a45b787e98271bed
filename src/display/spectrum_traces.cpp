// SPDX-License-Identifier: GPL-3.0-or-later
#include "display/spectrum_traces.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <iterator>

#include "display/number_text.h"
#include "display/pixel_rows.h"

namespace miral::display {

namespace {

constexpr int kMaxBins = 32768;

}  // namespace

SpectrumColumns::SpectrumColumns() : columns_(kMaxBins + 2, 0) {}

void SpectrumColumns::Update(int bins, double binWidth, int plotSpan, int plotWidth, double fMin, double fMax,
                             bool xlog) {
    if (bins > kMaxBins) bins = kMaxBins;
    if (bins < 1) bins = 1;
    if (valid_ && bins == bins_ && binWidth == binWidth_ && plotSpan == plotSpan_ &&
        plotWidth == plotWidth_ && fMin == fMin_ && fMax == fMax_ && xlog == xlog_)
        return;
    valid_ = true;
    bins_ = bins;
    binWidth_ = binWidth;
    plotSpan_ = plotSpan;
    plotWidth_ = plotWidth;
    fMin_ = fMin;
    fMax_ = fMax;
    xlog_ = xlog;
    end_ = bins;
    for (int i = 1; i <= bins; ++i) {
        const int x = toPixel(MapAxis(i * binWidth, plotSpan, fMin, fMax, xlog) + 3);
        columns_[static_cast<std::size_t>(i)] = x;
        if (i < bins && x > plotWidth - 3) {
            end_ = i;
            break;
        }
    }
}

Color DeviationColor(double cents) {
    int r = static_cast<int>(5.0 * cents);
    if (r < 0) r = -r;
    if (r > 255) r = 255;
    return rgb(r, 255 - r, 0);
}

int DrawSpectrumTrace(Canvas& c, const SpectrumTraceInputs& in, const SpectrumColumns& columns,
                      std::vector<Point>& points) {
    const int end = columns.end();
    if (points.size() < static_cast<std::size_t>(kMaxBins)) points.resize(kMaxBins);
    const int top = in.areaTop;
    const int bottom = in.areaBottom - 4;
    const double* v = in.values;
    auto rowOf = [&](int bin) { return in.baseRow - in.rowFactor * v[bin]; };

    // Lines are gathered into runs and drawn as polylines; a point that is
    // only moved to, or a change of colour, ends a run.
    int run = 0;
    bool movePending = true;
    Point pending{2, clampRow(rowOf(0), top, bottom)};
    Color color = in.pen.color;
    if (in.draw) c.pen = in.pen;
    auto flush = [&] {
        if (run > 0 && in.draw) c.polyline(points.data(), run);
        run = 0;
    };

    int recorded = 0;
    double sum = 0;
    int count = 0;
    double best = 100000;
    // The highest point of a column is the row of its largest value when a
    // larger value gives a smaller row (rowFactor > 0; the rounding of
    // baseRow - rowFactor x v keeps that order): the column's bins are
    // found first and their largest value taken in four running maxima.
    const bool largest = in.rule == ColumnRule::Highest && in.rowFactor > 0 && std::isfinite(in.rowFactor) &&
                         std::isfinite(in.baseRow);
    for (int i = 1; i < end; ++i) {
        const int x = columns.column(i);
        if (largest) {
            int last = i;
            while (last + 1 < end && columns.column(last + 1) == x) ++last;
            // The walk's last column is drawn only when the bin past the end
            // lies in another column.
            if (last + 1 == end && columns.column(end) == x) break;
            double peak[4] = {-HUGE_VAL, -HUGE_VAL, -HUGE_VAL, -HUGE_VAL};
            int k = i;
            for (; k + 4 <= last + 1; k += 4)
                for (int l = 0; l < 4; ++l) peak[l] = v[k + l] > peak[l] ? v[k + l] : peak[l];
            for (; k <= last; ++k) peak[0] = v[k] > peak[0] ? v[k] : peak[0];
            const double m = std::max(std::max(peak[0], peak[1]), std::max(peak[2], peak[3]));
            const double y = in.baseRow - in.rowFactor * m;
            best = y < best ? y : best;
            i = last;
        }
        const double y = largest ? best : rowOf(i);
        double shown = y;
        bool emit = true;
        if (in.rule == ColumnRule::Mean) {
            sum += y;
            ++count;
            emit = columns.column(i + 1) != x;
            shown = sum / count;
        } else if (in.rule == ColumnRule::Highest && !largest) {
            if (y < best) best = y;
            emit = columns.column(i + 1) != x;
            shown = best;
        }
        if (!emit) continue;
        sum = 0;
        count = 0;
        best = 100000;
        if (in.columns) in.columns[recorded] = TraceColumn{i, x, shown};
        ++recorded;
        const Point p{x, clampRow(shown, top, bottom)};
        if (3 < x && x < in.paintWidth) {
            if (in.centsOf) {
                const Color k = DeviationColor(in.centsOf(i * in.binWidth));
                if (k != color) {
                    flush();
                    color = k;
                    if (in.draw) c.pen.color = k;
                }
            }
            if (movePending) {
                flush();
                if (in.draw) c.moveTo(pending.x, pending.y);
                movePending = false;
            }
            points[static_cast<std::size_t>(run++)] = p;
        } else {
            flush();
            movePending = true;
            pending = p;
        }
    }
    flush();
    if (movePending && in.draw) c.moveTo(pending.x, pending.y);
    return recorded;
}

namespace {

// A label's box: the width of its text and one row of the stacking pitch.
constexpr int kLabelRow = 12;

bool overlaps(const Rect& a, const Rect& b) {
    return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}

}  // namespace

NumText PeakFrequencyText(double hz) {
    NumText t = NumberText(std::trunc(hz * 10 + 0.5) * 0.1, 6);
    // A cut that ends on the decimal point ("12345.") reads as the integer.
    if (!t.empty() && t.view().back() == '.') t.truncate(t.size() - 1);
    return t;
}

void DrawPeakLabels(Canvas& c, const PeakLabel* labels, int count, const PeakLabelInputs& in) {
    if (!in.notes && !in.freqs) return;
    c.pen = Pen{in.color, 1, PenStyle::Solid};
    c.brush.style = BrushStyle::Clear;
    c.font.color = in.color;
    c.font.size = 8;
    const int plotRight = in.plotSpan + 4;
    // Labels side by side keep a space between them.
    const int gap = std::max(c.textWidth(" "), 2);
    auto columnOf = [&](const PeakLabel& l) {
        return toPixel(MapAxis(l.frequency, in.plotSpan, in.fMin, in.fMax, in.xlog) + 3);
    };
    // The boxes of the labels drawn so far (at most two per peak).
    Rect drawn[2 * 64];
    int nDrawn = 0;
    auto isFree = [&](const Rect& r) {
        if (nDrawn == static_cast<int>(std::size(drawn))) return false;  // no room to remember it
        for (int i = 0; i < nDrawn; ++i)
            if (overlaps(r, drawn[i])) return false;
        return true;
    };
    auto keep = [&](const Rect& r) { drawn[nDrawn++] = r; };

    int previousX = 0;
    int row = 301;
    for (int k = 0; k < count; ++k) {
        const PeakLabel& l = labels[k];
        int x = columnOf(l);
        if (in.notes) {
            // The note sits on its peak (inside the plot); where it would
            // cover a label already drawn it is left out.
            const int w = c.textWidth(l.note);
            const int nx = std::max(0, std::min(x + 3, plotRight - w));
            const int ny = toPixel(l.peakRow);
            const Rect box{nx, ny, nx + w + gap, ny + kLabelRow};
            if (isFree(box)) {
                c.textOut(nx, ny, l.note);
                keep(box);
            }
        }
        if (in.freqs) {
            // Labels of peaks closer than 30 pixels stack downwards in one column.
            if (std::abs(previousX - x) > 29) {
                // A new column starts 40 pixels above the plot's bottom, or
                // higher when the peaks that stack in it need the room.
                int stacked = 1;
                while (k + stacked < count && std::abs(columnOf(labels[k + stacked]) - x) <= 29) ++stacked;
                row = std::min(in.plotHeight - 40, in.plotHeight - kLabelRow * stacked);
            } else {
                row += kLabelRow;
                x = previousX;
            }
            const NumText text = PeakFrequencyText(l.frequency);
            const int w = c.textWidth(text);
            // Whole inside the plot: a label at the right edge moves left.
            const int lx = std::max(0, std::min(x, plotRight - w));
            // Where the row is taken (by a wide label of a neighbouring
            // column, or the stack reaches the bottom), the next free row
            // below, else above; a label with no free row is left out.
            auto boxAt = [&](int y) { return Rect{lx, y, lx + w + gap, y + kLabelRow}; };
            int y = row;
            bool found = false;
            for (int t = std::max(row, 0); t + kLabelRow <= in.plotHeight && !found; t += kLabelRow)
                if (isFree(boxAt(t))) {
                    y = t;
                    found = true;
                }
            for (int t = std::min(row, in.plotHeight - kLabelRow) - kLabelRow; t >= 0 && !found;
                 t -= kLabelRow)
                if (isFree(boxAt(t))) {
                    y = t;
                    found = true;
                }
            if (found) {
                c.textOut(lx, y, text);
                keep(boxAt(y));
            }
        }
        previousX = x;
    }
}

}  // namespace miral::display
