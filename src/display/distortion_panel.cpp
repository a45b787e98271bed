// SPDX-License-Identifier: GPL-3.0-or-later
#include "display/distortion_panel.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace miral::display {

namespace {

constexpr int kLine = 13;             // text line height, pixels
constexpr double kBarFloorDb = -160;  // the bottom of the bar chart, dBc

void Text(Canvas& c, int x, int y, const char* s) {
    c.textOut(x, y, s);
}

// One row: caption at the left, value text right-aligned at the right edge.
void Row(Canvas& c, int y, int width, const char* caption, const char* value) {
    Text(c, 4, y, caption);
    const int w = c.textWidth(value);
    Text(c, width - 4 - w, y, value);
}

const char* Percent(double ratio, char* buf, int size) {
    const double pct = ratio * 100;
    if (pct >= 1) {
        std::snprintf(buf, static_cast<std::size_t>(size), "%.3f %%", pct);
    } else if (pct >= 1e-4) {
        std::snprintf(buf, static_cast<std::size_t>(size), "%#.3g %%", pct);
    } else {
        std::snprintf(buf, static_cast<std::size_t>(size), "%.1e %%", pct);
    }
    return buf;
}

// The block of one channel from y on; returns the next free row.
int Channel(Canvas& c, int y, int width, const char* name, int channel, const analysis::DistFigures& f,
            Color trace, const DistortionPanelInputs& in) {
    char v[64], w[512];
    c.font.bold = true;
    c.font.color = trace;
    Text(c, 4, y, name);
    c.font.bold = false;
    if (f.status != analysis::DistStatus::Ok) {
        c.font.color = in.text;
        if (f.status == analysis::DistStatus::BelowGuard) {
            std::snprintf(v, sizeof v, "f0 below %.1f Hz:", f.guardHz);
            Text(c, 4, y + kLine, v);
            Text(c, 4, y + 2 * kLine, "use more FFT points (+)");
        } else if (f.status == analysis::DistStatus::OutOfBand) {
            Text(c, 4, y + kLine, "f0 outside the band");
        } else if (f.status == analysis::DistStatus::NoSignal) {
            Text(c, 4, y + kLine, "no tone above the noise");
        } else {
            Text(c, 4, y + kLine, "waiting for a window");
        }
        return y + 4 * kLine;
    }
    std::snprintf(w, sizeof w, "%s Hz", SixDigits(f.f0, v, sizeof v));
    c.font.color = trace;
    const int fw = c.textWidth(w);
    Text(c, width - 4 - fw, y, w);
    c.font.color = in.text;
    y += kLine;
    // (+ 0.0 turns a -0.00 into 0.00)
    std::snprintf(v, sizeof v, "%.4g V  %.2f dBFS", f.levelVolts, std::round(f.levelDbfs * 100) / 100 + 0.0);
    Row(c, y, width, "Level", v);
    y += kLine;
    // At the card's own floor the per cent gives way to the mark.
    std::snprintf(w, sizeof w, "%s %.1f dB", in.thdAtFloor[channel] ? "~floor " : Percent(f.thd, v, sizeof v),
                  f.thdDb);
    Row(c, y, width, "THD", w);
    y += kLine;
    std::snprintf(w, sizeof w, "%s %.1f dB",
                  in.thdNAtFloor[channel] ? "~floor " : Percent(f.thdN, v, sizeof v), f.thdNDb);
    Row(c, y, width, "THD+N", w);
    y += kLine;
    std::snprintf(v, sizeof v, "%.1f dB", f.sinadDb);
    Row(c, y, width, "SINAD", v);
    y += kLine;
    std::snprintf(v, sizeof v, "%.1f dB", f.snrDb);
    Row(c, y, width, "SNR", v);
    y += kLine;
    std::snprintf(v, sizeof v, "%.2f bits", f.enob);
    Row(c, y, width, "ENOB", v);
    y += kLine + 4;

    // H2 .. H10: bars from the floor up to the level in dBc, with grid lines
    // every 40 dB.
    const int chartTop = y + 6, chartBottom = y + 100, left = 30, right = width - 4;
    c.font.size = 7;
    c.pen = Pen{in.grid, 1, PenStyle::Solid};
    for (int db = 0; db >= kBarFloorDb; db -= 40) {
        const int row = chartTop + static_cast<int>((chartBottom - chartTop) * (db / kBarFloorDb));
        c.moveTo(left, row);
        c.lineTo(right, row);
        std::snprintf(v, sizeof v, "%d", db);
        Text(c, 2, row - 6, v);
    }
    const int slot = (right - left) / 9;
    c.brush = Brush{trace, BrushStyle::Solid};
    for (int h = 2; h <= analysis::kDistHighestHarmonic; ++h) {
        const int x = left + (h - 2) * slot + 2;
        const double dbc = f.harmonicDbc[static_cast<std::size_t>(h)];
        if (std::isfinite(dbc) && dbc > kBarFloorDb) {
            const double share = std::min(1.0, (dbc - kBarFloorDb) / -kBarFloorDb);
            const int top = chartBottom - static_cast<int>(share * (chartBottom - chartTop));
            // A harmonic lost in the noise is drawn in the grid's colour.
            c.brush.color = f.harmonicAboveNoise[static_cast<std::size_t>(h)] ? trace : in.grid;
            c.fillRect(Rect{x, top, x + slot - 3, chartBottom});
        }
        c.brush.style = BrushStyle::Clear;
        std::snprintf(v, sizeof v, "%d", h);
        Text(c, x + (slot - 3 - c.textWidth(v)) / 2, chartBottom + 1, v);
        c.brush = Brush{trace, BrushStyle::Solid};
    }
    c.brush.style = BrushStyle::Clear;
    c.font.size = 8;
    return chartBottom + kLine + 4;
}

}  // namespace

const char* SixDigits(double hz, char* buf, int size) {
    int decimals = 0;
    if (hz > 0 && std::isfinite(hz))
        decimals = std::clamp(5 - static_cast<int>(std::floor(std::log10(hz))), 0, 5);
    std::snprintf(buf, static_cast<std::size_t>(size), "%.*f", decimals, hz);
    return buf;
}

void DrawDistortionPanel(Canvas& c, int width, int height, const DistortionPanelInputs& in) {
    c.resetClip();
    c.brush = Brush{in.background, BrushStyle::Solid};
    c.fillRect(Rect{0, 0, width, height});
    c.brush.style = BrushStyle::Clear;
    c.font = Font{"Arial", 8, in.text, false};
    if (in.timeView || !in.a) {
        Text(c, 4, 4, "Measures in the frequency views");
        Text(c, 4, 4 + kLine, "(F, XFR, Z).");
        return;
    }
    int y = 2;
    y = Channel(c, y, width, "A", 0, *in.a, in.traceA, in);
    if (in.b) y = Channel(c, y + 2, width, "B", 1, *in.b, in.traceB, in);
    // The band and the averaging state, once there is a measurement.
    if (in.a->status == analysis::DistStatus::Off) return;
    char v[64];
    c.font.color = in.text;
    const analysis::DistFigures& f = *in.a;
    std::snprintf(v, sizeof v, "Band %.0f - %.0f Hz", f.bandLowHz, f.bandHighHz);
    Text(c, 4, height - 2 * kLine - 2, v);
    std::snprintf(v, sizeof v, "Average %d of %d", f.averaged, in.averages);
    Text(c, 4, height - kLine - 2, v);
}

}  // namespace miral::display
