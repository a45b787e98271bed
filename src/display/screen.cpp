// SPDX-License-Identifier: GPL-3.0-or-later
#include "display/screen.h"

#include <algorithm>
#include <cmath>

namespace miral::display {

namespace {

// Toward zero; coordinates far off any canvas (or not a number) are pinned
// well outside it instead of overflowing.
int trunc(double x) {
    if (!(x > -1e9)) return -1000000000;
    if (!(x < 1e9)) return 1000000000;
    return static_cast<int>(std::trunc(x));
}

template <std::size_t N>
std::size_t tableIndex(int v) {
    return static_cast<std::size_t>(std::clamp(v, 0, static_cast<int>(N) - 1));
}

void line(Canvas& b, int x0, int y0, int x1, int y1) {
    b.moveTo(x0, y0);
    b.lineTo(x1, y1);
}

// Texts are written with a transparent brush; the brush is left as it was.
// A text is always read whole: one that would run past the right edge of the
// screen moves left (a scale label in the right margin, a frequency at the
// last grid line, the pretrigger mark at the right edge), one above the top
// edge moves down; the grid lines stay where they are.
void text(Canvas& b, int x, int y, std::string_view s) {
    const Rect screen = b.clipRect();
    x = std::max(std::min(x, screen.right - b.textWidth(s)), screen.left);
    y = std::max(y, screen.top);
    const BrushStyle style = b.brush.style;
    b.brush.style = BrushStyle::Clear;
    b.textOut(x, y, s);
    b.brush.style = style;
}

void rectangleOutline(Canvas& b, int left, int top, int right, int bottom) {
    b.moveTo(left, top);
    b.lineTo(right, top);
    b.lineTo(right, bottom);
    b.lineTo(left, bottom);
    b.lineTo(left, top);
}

// A horizontal level line: labelled lines reach into the right margin and
// carry their label there.
void levelLine(Canvas& b, const ScreenGeometry& g, int y, Color pen, std::string_view label,
               int labelRise = 12) {
    b.pen.color = pen;
    if (label.empty()) {
        line(b, 2, y, g.plotWidth - 4, y);
        return;
    }
    line(b, 2, y, g.plotWidth + 8, y);
    text(b, g.plotWidth - 1, y - labelRise, label);
}

// A vertical frequency line at column x: labelled lines reach into the
// bottom margin with the frequency written there.
void frequencyLine(Canvas& b, const ScreenGeometry& g, int x, bool labelled, double f) {
    if (labelled) {
        line(b, x, 2, x, g.plotHeight + 8);
        text(b, x + 2, g.plotHeight - 1, ShortestText(f));
    } else {
        line(b, x, 2, x, g.plotHeight - 4);
    }
}

struct LevelArea {
    int zeroRow;
    double scale;
    int rangeValue;
    int top;  // lines strictly between top + 2 and bottom
    int bottom;
    int amplitudeBottom;  // amplitude lines also stay above this row
};

void decibelLines(Canvas& b, const ScreenGeometry& g, const ColorSlots& c, const LevelArea& a) {
    const int rv = a.rangeValue;
    const int s = rv <= 2 ? 1 : rv == 3 ? 2 : rv == 4 ? 5 : rv == 5 ? 10 : 20;
    for (int d = 160; d >= -159; d -= s) {
        const double y = a.zeroRow - d * g.rowUnit * a.scale * 230;
        if (!(a.top + 2 < y && y < a.bottom)) continue;
        NumText label;
        if (d == 0)
            label.append("0dB");
        else
            label.appendInt(d);
        levelLine(b, g, trunc(y), d == 0 ? c[Slot::FGrid0] : c[Slot::FGrid], label);
    }
}

// Lines at the amplitudes 1000000, 900000, ..., 1, 0.9, ..., 0.00001 (on a
// logarithmic scale); decades are labelled, in dB (impedance: false) or ohms.
void logLines(Canvas& b, const ScreenGeometry& g, const ColorSlots& c, const LevelArea& a, bool impedance) {
    double r = 1000000.0;
    for (int count = 0; r > 0 && count < 500; ++count, r = PrevLogStep(r)) {
        const double y = a.zeroRow - g.rowUnit * std::log(r) * a.scale * 2000;
        if (!(a.top + 2 < y && y < a.bottom && y < a.amplitudeBottom)) continue;
        const bool unity = r == 1.0;
        const Color pen = unity ? c[Slot::FGrid0] : c[Slot::FGrid];
        NumText label;
        if (IsRoundTick(static_cast<long long>(r * 10000), 1, 10000, true)) {
            if (!impedance) {
                const long long db = std::llround(20 * std::log10(r));
                label.appendInt(db);
                if (db == 0) label.append("dB");
            } else if (r < 0.001) {
                // Below a milliohm the "m" label would round to "0m".
                label.appendInt(static_cast<long long>(r * 1000000 + 0.5)).append("u");
            } else if (r < 1) {
                label.appendInt(static_cast<long long>(r * 1000 + 0.5)).append("m");
            } else if (r >= 1000000) {
                label.appendInt(static_cast<long long>(r / 1000000 + 0.5)).append("M");
            } else if (r >= 1000) {
                label.appendInt(static_cast<long long>(r / 1000 + 0.5)).append("K");
            } else {
                label.appendInt(static_cast<long long>(r));
            }
        }
        levelLine(b, g, trunc(y), pen, label);
    }
}

void linearImpedanceLines(Canvas& b, const ScreenGeometry& g, const ColorSlots& c, int rangeValue,
                          double scale) {
    const int rv = rangeValue;
    const int s = rv == 2 ? 2 : rv == 3 ? 5 : rv == 4 ? 10 : rv == 5 ? 20 : rv == 6 ? 50 : rv >= 7 ? 100 : 1;
    for (int v = 1000; v >= 0; v -= s) {
        const double y = g.upperBottom - v * g.rowUnit * scale * 230;
        if (!(g.upperTop + 2 < y && y <= g.upperBottom)) continue;
        NumText label;
        label.appendInt(v);
        levelLine(b, g, trunc(y), c[Slot::FGrid], label);
    }
}

// Plain horizontal lines every `step` rows from top + 2 while above bottom.
void plainRows(Canvas& b, const ScreenGeometry& g, int top, int bottom, double step) {
    if (step <= 0) return;
    for (int j = 0;; ++j) {
        const int y = top + 2 + trunc(j * step);
        if (y >= bottom) break;
        line(b, 2, y, g.plotWidth - 4, y);
    }
}

void timeGrid(Canvas& b, const ScreenGeometry& g, const ColorSlots& c) {
    b.pen.color = c[Slot::TGrid];
    for (int k = 0; k <= 10; ++k) {
        const int x = trunc(MapAxis(k, g.plotSpan, 0, 10, false));
        line(b, x, 2, x, g.plotHeight - 4);
    }
    const int mid = g.plotHeight / 2;
    for (int m = 2; m <= 98; m += 2) {
        const int x = g.plotSpan * m / 100;
        line(b, x, mid - 2, x, mid - 8);
    }
}

// The band is not empty (fMax > fMin).
void linearFrequencyGrid(Canvas& b, const ScreenInputs& in, const ScreenGeometry& g, const ColorSlots& c) {
    const double span = in.fMax - in.fMin;
    const int step = span >= 5000 ? 1000 : span >= 1000 ? 500 : span >= 500 ? 100 : span >= 100 ? 50 : 10;
    const long long lo = static_cast<long long>(in.fMin);
    const long long hi = static_cast<long long>(in.fMax);
    b.pen.color = c[Slot::FGrid];
    // Lines left of the first visible column (x > 2) never show: start at
    // the step just below it.
    int first = 0;
    const double firstVisible = in.fMin - span / g.plotSpan;
    if (firstVisible > 0)
        first = static_cast<int>(std::min(std::floor(firstVisible / step), 90000.0 / step)) * step;
    for (int f = first; f < 90000; f += step) {
        const double x = MapAxis(f, g.plotSpan, in.fMin, in.fMax, false) + 3;
        if (x >= g.plotWidth - 3) break;  // right of the band from here on
        if (!(2 < x && x < g.plotWidth - 3)) continue;
        frequencyLine(b, g, trunc(x), IsRoundTick(f, lo, hi, false), f);
    }
}

void decadeFrequencyGrid(Canvas& b, const ScreenInputs& in, const ScreenGeometry& g, const ColorSlots& c,
                         double fCenter) {
    const double span = in.fMax - in.fMin;
    const double ratio = fCenter / span;
    // Steps per decade unit: u = 1 / parts.
    const int parts = ratio > 100 ? 20 : ratio > 20 ? 10 : ratio > 10 ? 2 : 1;
    const long long lo = static_cast<long long>(in.fMin);
    const long long hi = static_cast<long long>(in.fMax);
    b.pen.color = c[Slot::FGrid];
    double decade = 1;
    for (int k = 0; k <= 4; ++k, decade *= 10) {
        for (int i = parts; i < 10 * parts; ++i) {
            const double f = decade * i / parts;
            if (f > 80000) return;
            const double x = MapAxis(f, g.plotSpan, in.fMin, in.fMax, true) + 3;
            if (!(2 < x && x < g.plotWidth - 3)) continue;
            frequencyLine(b, g, trunc(x), IsRoundTick(static_cast<long long>(f), lo, hi, true), f);
        }
    }
}

void noteFrequencyGrid(Canvas& b, const ScreenInputs& in, const ScreenGeometry& g, const ColorSlots& c) {
    b.pen.color = c[Slot::FGrid];
    for (int m = -64; m <= 63; ++m) {
        const double f = 440.0 * std::pow(2.0, m / 12.0);
        const double x = MapAxis(f, g.plotSpan, in.fMin, in.fMax, true) + 3;
        if (2 < x && x < g.plotWidth - 3) line(b, trunc(x), 2, trunc(x), g.plotHeight - 4);
    }
}

// Phase scale of the lower area: lines every `step` rows from `first`
// degrees down by `fall`, labelled (long lines) or plain.
void phaseRows(Canvas& b, const ScreenGeometry& g, const ColorSlots& c, double step, double first,
               double fall, bool labelled) {
    b.font.size = 7;
    double v = first;
    for (int j = 0; step > 0; ++j, v -= fall) {
        const int y = g.lowerTop + 2 + trunc(j * step);
        if (y >= g.lowerBottom) break;
        if (labelled)
            levelLine(b, g, y, v == 0 ? c[Slot::FGrid0] : c[Slot::FGrid], ShortestText(v), 10);
        else
            levelLine(b, g, y, c[Slot::FGrid], {});
    }
    b.font.size = 8;
}

void lowerArea(Canvas& b, const ScreenInputs& in, const ScreenGeometry& g, const ColorSlots& c) {
    b.pen = Pen{c[Slot::FGrid], 1, PenStyle::Solid};
    const double unit = g.upperBottom - 6;
    const bool spectrum = in.view != ScreenView::Impedance && in.view != ScreenView::Transfer && in.ylog;
    if (in.view == ScreenView::Impedance) {
        phaseRows(b, g, c, unit / 18, 90, 10, true);
    } else if (in.view == ScreenView::Transfer) {
        phaseRows(b, g, c, unit / 12, in.transferPhaseOffset + 360, 30, in.ylog);
    } else if (!in.ylog) {
        plainRows(b, g, g.lowerTop, g.lowerBottom, unit / 8);
    } else {
        const LevelArea a{g.lowerTop + g.zeroRowA, g.scaleA,         in.range1, g.lowerTop,
                          g.lowerBottom,           g.lowerBottom - 4};
        if (in.dbGrid)
            decibelLines(b, g, c, a);
        else
            logLines(b, g, c, a, false);
    }
    if (spectrum) {
        b.pen.color = c[Slot::TGrid];
        line(b, 2, g.lowerTop + 2, g.plotWidth - 4, g.lowerTop + 2);
        line(b, 2, g.lowerBottom - 4, g.plotWidth - 4, g.lowerBottom - 4);
    }
    b.pen.color = c[Slot::FGrid0];
    rectangleOutline(b, 2, g.lowerTop + 2, g.plotWidth - 4, g.lowerBottom - 4);
    // The gap between the areas.
    b.brush = Brush{c[Slot::Background], BrushStyle::Solid};
    b.fillRect(Rect{2, g.upperBottom - 3, g.plotWidth - 3, g.lowerTop + 2});
    b.brush.color = c[Slot::Canvas];
}

}  // namespace

std::string_view RangeLabel(int rangeValue) {
    return kRangeLabels[tableIndex<8>(rangeValue)];
}

std::string_view TimeBaseLabel(int mainselectValue) {
    return kTimeBaseLabels[tableIndex<9>(mainselectValue)];
}

ScreenGeometry ComputeScreenGeometry(const ScreenInputs& in) {
    ScreenGeometry g;
    const bool time = in.view == ScreenView::Time;
    const bool zeta = in.view == ScreenView::Impedance;
    const bool trasf = in.view == ScreenView::Transfer;
    // The impedance scale's labels ("100K", "100m") are the widest: their strip is wider.
    g.rightMargin = time ? 0 : zeta ? 28 : (in.ylog ? 18 : 0);
    g.bottomMargin = time ? 0 : 12;
    g.plotWidth = in.paintWidth - g.rightMargin;
    g.plotHeight = in.paintHeight - g.bottomMargin;
    g.plotSpan = g.plotWidth - 4;
    g.upperTop = 0;
    g.upperBottom = g.plotHeight;
    g.lowerTop = 0;
    g.lowerBottom = g.plotHeight;

    const bool split =
        zeta || (!time && ((trasf && in.splitXfr) || (!trasf && in.splitFft && in.mode != ChannelMode::A)));
    if (split) {
        const int h = in.paintHeight;
        g.upperBottom = h / 2 - g.bottomMargin;
        g.lowerTop = h / 2;
        g.lowerBottom = h - g.bottomMargin;
    }
    if (in.rlcReadout || in.calibrating) g.upperTop = g.upperBottom = g.lowerTop = g.lowerBottom = 0;

    // Integer arithmetic, each division truncated toward zero (wide enough
    // for any stored knob value).
    auto zeroRow = [&](int pos) {
        const long long row = g.upperBottom / 2 - (static_cast<long long>(pos) * g.upperBottom / 200);
        return static_cast<int>(std::clamp(row, -1000000000LL, 1000000000LL));
    };
    g.zeroRowA = zeroRow(in.pos1);
    g.zeroRowB = zeroRow(in.pos2);

    const bool rangeScale = time || !in.ylog;
    auto scale = [&](int range, bool x10) {
        if (!rangeScale) return kLogRangeTable[tableIndex<8>(range)] / 9.2;
        const double s = kRangeTable[tableIndex<8>(range)] / 9.2;
        return x10 ? s * in.magScale : s;
    };
    g.scaleA = scale(in.range1, in.x10A);
    g.scaleB = scale(in.range2, in.x10B);
    g.rowUnit = g.upperBottom / 127.0 / 8.0;
    g.columnUnit = (g.plotWidth - 4) / 512.0;
    return g;
}

void BeginFrame(Canvas& b, const ScreenInputs& in, const ScreenGeometry& g, const ColorSlots& c) {
    b.setClipRect(Rect{0, 0, in.paintWidth, in.paintHeight});
    b.font.color = c[Slot::Labels];
    b.brush = Brush{c[Slot::Background], BrushStyle::Solid};
    // The whole area in the background colour, then the plot areas in the
    // canvas colour.
    const Rect areas[2] = {Rect{3, g.upperTop + 3, g.plotWidth - 5, g.upperBottom - 5},
                           Rect{3, g.lowerTop + 3, g.plotWidth - 5, g.lowerBottom - 5}};
    b.fillRectAndInsets(b.clipRect(), c[Slot::Canvas], areas, g.lowerTop != 0 ? 2 : 1);
    b.brush.color = c[Slot::Background];
}

std::optional<double> DrawGrids(Canvas& b, const ScreenInputs& in, const ScreenGeometry& g,
                                const ColorSlots& c) {
    if (g.upperBottom == 0) return std::nullopt;
    const bool time = in.view == ScreenView::Time;
    const bool zeta = in.view == ScreenView::Impedance;
    b.pen = Pen{c[Slot::FGrid], 1, PenStyle::Solid};
    b.font.size = 8;
    b.font.color = c[Slot::Labels];

    std::optional<double> fCenter;
    if (time) {
        timeGrid(b, g, c);
    } else {
        fCenter = (in.fMax + in.fMin) / 2;
        // A band that is empty, reversed or not a number has no columns.
        const bool bandShown = std::abs(in.fMin) < 1e9 && std::abs(in.fMax) < 1e9 && in.fMax > in.fMin;
        if (bandShown && !in.xlog)
            linearFrequencyGrid(b, in, g, c);
        else if (bandShown && in.freqGrid)
            decadeFrequencyGrid(b, in, g, c, *fCenter);
        else if (bandShown && in.noteGrid)
            noteFrequencyGrid(b, in, g, c);
    }

    // Horizontal lines of the upper area.
    if (time || (!in.ylog && !zeta)) {
        b.pen.color = time ? c[Slot::TGrid] : c[Slot::FGrid];
        const double division = (g.upperBottom - 6) / 8.0;
        plainRows(b, g, g.upperTop, g.upperBottom, division);
        if (time) {
            const double tick = (g.upperBottom - 6) * 0.025;
            const int x0 = g.plotWidth / 2 - 2;
            const int x1 = g.plotWidth / 2 - 8;
            for (int j = 0; tick > 0; ++j) {
                const int y = g.upperTop + 2 + trunc(j * tick);
                if (y >= g.upperBottom) break;
                line(b, x0, y, x1, y);
            }
        }
    } else if (zeta && !in.ylog) {
        linearImpedanceLines(b, g, c, in.range2, g.scaleB);
    } else {
        const LevelArea a{g.zeroRowB, g.scaleB, in.range2, g.upperTop, g.upperBottom, g.upperBottom};
        if (zeta)
            logLines(b, g, c, a, true);
        else if (in.dbGrid)
            decibelLines(b, g, c, a);
        else
            logLines(b, g, c, a, false);
    }

    b.pen.color = c[Slot::FGrid0];
    rectangleOutline(b, 2, g.upperTop + 2, g.plotWidth - 4, g.upperBottom - 4);

    if (g.lowerTop != 0) lowerArea(b, in, g, c);
    return fCenter;
}

LineText ScaleLabelText(const ScreenInputs& in) {
    LineText t;
    if (in.calibrating) {
        t.append("Calibration ").appendInt(2LL * in.calibrationStep).append("%");
        return t;
    }
    if (in.view == ScreenView::Time) {
        auto channel = [&](std::string_view name, int range, bool x10) {
            t.append(name).append(RangeLabel(range));
            if (x10) t.append(" (Mag x").appendInt(in.magScale).append(")");
            t.append("  ");
        };
        if (in.mode != ChannelMode::B) channel("A=", in.range1, in.x10A);
        if (in.mode != ChannelMode::A) channel("B=", in.range2, in.x10B);
        t.append("T=").append(TimeBaseLabel(in.mainselect)).append("  ");
        return t;
    }
    t.append("Min=").append(in.minFreqText).append(" Hz.  ");
    t.append("Max=").append(in.maxFreqText).append(" Hz.  ");
    if (in.view == ScreenView::Transfer) {
        t.append("Frequency Response Bode Diagram ");
    } else if (in.rlcReadout) {
        t.clear();
        t.append("Vectorial Impedance Meter ");
    } else if (in.view == ScreenView::Impedance) {
        t.append("Vectorial Impedance Diagram ");
    } else if (in.ylog) {
        t.append("0dB=1mV.  ");
    } else {
        t.append("V=").append(RangeLabel(in.range2)).append("rms/div.");
    }
    return t;
}

void DrawScaleLabels(Canvas& b, const ScreenInputs& in, const ScreenGeometry& g, const ColorSlots& c) {
    b.pen.width = 2;
    b.pen.style = PenStyle::Solid;
    b.font.name = "Arial";
    b.font.color = c[Slot::Labels];
    if (in.view == ScreenView::Time) {
        const int x = trunc(in.pretriggerSamples * g.columnUnit * in.horizontalScale);
        line(b, x + 2, 2, x + 2, 10);
        b.font.size = 9;
        text(b, x + 6, 4, "T");
    }
    b.pen.width = 1;
    b.font.size = 11;
    text(b, 4, g.plotHeight - 20, ScaleLabelText(in));
}

void DrawBanner(Canvas& b, const ScreenGeometry& g, std::string_view s) {
    if (s.empty()) return;
    const Rect screen = b.clipRect();
    const int plotWidth = g.plotWidth > 0 ? std::min(g.plotWidth, screen.width()) : screen.width();
    const int plotHeight = g.plotHeight > 0 ? std::min(g.plotHeight, screen.height()) : screen.height();
    const int room = std::max(plotWidth - 40, 40);
    b.font.name = "Arial";
    b.font.bold = false;
    b.font.color = kBannerText;
    b.font.size = 11;
    if (b.textWidth(s) > room) b.font.size = 9;
    std::string_view first = s, second;
    if (b.textWidth(s) > room) {
        // Two lines, cut at the space nearest the middle.
        std::size_t best = std::string_view::npos;
        for (std::size_t i = 0; i < s.size(); ++i) {
            if (s[i] != ' ') continue;
            const auto off = [&](std::size_t k) {
                return k > s.size() / 2 ? k - s.size() / 2 : s.size() / 2 - k;
            };
            if (best == std::string_view::npos || off(i) < off(best)) best = i;
        }
        if (best != std::string_view::npos) {
            first = s.substr(0, best);
            second = s.substr(best + 1);
        }
    }
    const int lineHeight = b.textHeight(s);
    const int textWidth = std::max(b.textWidth(first), b.textWidth(second));
    const int width = std::min(textWidth + 24, plotWidth - 8);
    const int height = lineHeight * (second.empty() ? 1 : 2) + 14;
    const int left = (plotWidth - width) / 2;
    const int top = (plotHeight - height) / 2;
    b.brush.style = BrushStyle::Solid;
    b.brush.color = kBannerBack;
    b.fillRect(Rect{left, top, left + width, top + height});
    b.pen.style = PenStyle::Solid;
    b.pen.width = 2;
    b.pen.color = kBannerText;
    rectangleOutline(b, left + 1, top + 1, left + width - 2, top + height - 2);
    b.pen.width = 1;
    b.brush.style = BrushStyle::Clear;
    b.textOut(left + std::max((width - b.textWidth(first)) / 2, 4), top + 7, first);
    if (!second.empty())
        b.textOut(left + std::max((width - b.textWidth(second)) / 2, 4), top + 7 + lineHeight, second);
}

void PresentScreen(const Canvas& buffer, Canvas& screen) {
    const Rect r = buffer.clipRect();
    screen.copyRect(r, buffer, r);
}

}  // namespace miral::display
