// SPDX-License-Identifier: GPL-3.0-or-later
#include "display/markers.h"

#include <cmath>

#include "display/pixel_rows.h"

namespace miral::display {

namespace {

// 2000 ln 10: display units per decade on the logarithmic axis.
constexpr double kUnitsPerDecade = 4605.17;

void capture(MarkerCapture& m, const TraceColumn& col, const double* displayA, const double* displayPhase) {
    m.bin = col.bin;
    m.x = col.x;
    m.y = col.y;
    m.value = displayA[col.bin];
    m.phase = displayPhase[col.bin];
}

}  // namespace

void ResetMarkerCaptures(MarkerCapture* markers) {
    for (int m = 0; m < kMarkerCount; ++m) {
        markers[m].bin = 0;
        markers[m].x = -1000000;
        markers[m].y = 0;
    }
}

void CaptureMarkers(MarkerCapture* markers, const int* handleLeft, const TraceColumn* columns,
                    int columnCount, const double* displayA, const double* displayPhase) {
    for (int k = 0; k < columnCount; ++k) {
        const TraceColumn& col = columns[k];
        for (int m = 0; m < kMarkerCount; ++m) {
            MarkerCapture& mk = markers[m];
            if (col.x >= handleLeft[m] - 4 && mk.bin == 0) {
                capture(mk, col, displayA, displayPhase);
            } else if (col.x == mk.x && col.y < mk.y) {
                capture(mk, col, displayA, displayPhase);  // higher in the same column
            }
        }
    }
}

double ImpedanceOhms(double value, double scaleA, bool ylog) {
    const double u = value / scaleA;
    return ylog ? std::pow(10.0, u / kUnitsPerDecade) : u * 0.0525;
}

MarkerTexts MarkerReadoutTexts(int m, const MarkerCapture& capture, const MarkerTextInputs& in,
                               const double* reference) {
    MarkerTexts t;
    const bool first = m == 0;
    const double u = capture.value / in.scaleA;

    // Level: dB truncated to 4 decimals for marker 1 and 2 for the others;
    // linear: millivolts (per cent of gain in the transfer view) to 0.01.
    if (in.ylog) {
        t.level = first ? std::trunc(u / kUnitsPerDecade * 200000) * 0.0001
                        : std::trunc(u / kUnitsPerDecade * 2000) * 0.01;
    } else {
        t.level = std::trunc(u * 5.25) * 0.01;
    }
    if (in.view == MarkerView::Impedance) {
        t.value = SiText(ImpedanceOhms(capture.value, in.scaleA, in.ylog), 3, false);
        t.value.append("Ohm.");
    } else {
        t.value = NumberText(t.level, 6);
        t.value.append(in.ylog ? " dB." : in.view == MarkerView::Transfer ? "%" : " mV.");
    }

    if (!first) {
        if (!in.ylog) {
            t.difference.append("-------------");
        } else if (reference) {
            t.difference.append("(");
            t.difference.append(NumberText(t.level - *reference, 6)).append(" dB.)");
        }
    }

    t.frequency = NumberText(std::trunc(capture.bin * in.binWidth * 10 + 0.5) * 0.1, 6);
    t.frequency.append(" Hz.");

    if (in.view != MarkerView::Spectrum) {
        t.phase = NumberText(capture.phase, first ? 7 : 6);
        t.phase.append(" Deg.");
    }
    return t;
}

void DrawMarker(Canvas& c, int m, const MarkerCapture& capture, const MarkerTexts& texts,
                const MarkerDrawInputs& in, int& boxLeft) {
    const int y = clampRow(capture.y, in.upperTop, in.upperBottom - 4);
    const int q = toPixel(in.phaseRow);
    const bool first = m == 0;
    auto text = [&](int x, int row, const NumText& s) {
        if (!s.empty()) c.textOut(x, row, s.view());
    };

    c.font.name = "Arial";
    if (in.border) {
        // A bar in the marker's colour heads its box.
        c.font.size = 5;
        c.brush = Brush{in.markerColor, BrushStyle::Solid};
        c.textOut(boxLeft, 0, "                         ");
        c.font.size = 8;
        c.brush.style = BrushStyle::Clear;
        text(boxLeft, 8, texts.frequency);
        text(boxLeft, 20, texts.value);
        text(boxLeft, 32, texts.phase);
        if (!first) text(boxLeft, 44, texts.difference);
        boxLeft += 66;
    } else {
        c.font.size = 8;
        c.brush.style = BrushStyle::Clear;
        // Near the right edge the texts go to the left of the marker.
        const int x = in.handleLeft > 500 ? in.handleLeft - 48 : in.handleLeft;
        if (first) {
            text(x, y - 24, texts.frequency);
            text(x, y - 12, texts.value);
            text(x, q - 12, texts.phase);
        } else {
            text(x, y - 36, texts.frequency);
            text(x, y - 24, texts.value);
            text(x, y - 12, texts.difference);
        }
    }

    const int col = in.handleLeft - 4;
    c.pen = Pen{in.lineColor, 1, PenStyle::Dot};
    c.moveTo(col, 1);
    c.lineTo(col, in.plotHeight);
    c.pen = Pen{in.markerColor, 5, PenStyle::Solid};
    c.moveTo(col, y);
    c.lineTo(col, y + 1);
    if (in.phaseDot) {
        c.moveTo(col, q + 8);
        c.lineTo(col, q + 9);
    }
}

namespace {

// A figure of the distortion line; "---" for one that is no finite number
// (the ratio to a silent fundamental).
NumText Figure(double x, int n) {
    return std::isfinite(x) ? NumberText(x, n) : NumText(kNoReading);
}

}  // namespace

LineText DistortionText(bool bothChannels, double thd, double overtone, long long hz, double fundamentalMv) {
    LineText t(bothChannels ? "True THD=" : "Noise + THD=");
    t.append(Figure(thd * 100, bothChannels ? 6 : 5));
    t.append("%  Overtone THD=").append(Figure(overtone * 100, 5));
    t.append("%  @").appendInt(hz);
    t.append("Hz. (Fund.=").append(Figure(fundamentalMv, 5)).append("mV r.m.s.)");
    return t;
}

}  // namespace miral::display
