// SPDX-License-Identifier: GPL-3.0-or-later
#include "display/knob.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "display/number_text.h"

namespace miral::display {

namespace {

// Degrees to radians, as the knob artwork has always used it.
constexpr double kRadians = 0.017453289;
constexpr double kPi = 3.14159265358979323846;

constexpr Color kPointerDisc = rgb(85, 85, 85);
constexpr Color kBandGrey = rgb(112, 112, 112);
// The plain background of a fresh face; the flood fill from (4, 6) turns it
// into the panel's colour.
constexpr Color kFaceBackground = rgb(192, 192, 192);

// Toward zero; coordinates far off any canvas (or not a number) are pinned
// well outside it instead of overflowing.
int trunc(double x) {
    if (!(x > -1e9)) return -1000000000;
    if (!(x < 1e9)) return 1000000000;
    return static_cast<int>(std::trunc(x));
}

std::optional<int> parseInt(std::string_view s) {
    while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
    while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
    if (!s.empty() && s.front() == '+') s.remove_prefix(1);
    int v = 0;
    const auto res = std::from_chars(s.data(), s.data() + s.size(), v);
    if (s.empty() || res.ec != std::errc() || res.ptr != s.data() + s.size()) return std::nullopt;
    return v;
}

void disc(Canvas& c, int x, int y, int r, Color color) {
    c.pen = Pen{color, 1, PenStyle::Solid};
    c.brush = Brush{color, BrushStyle::Solid};
    c.ellipse(Rect{x - r, y - r, x + r, y + r});
}

// A radial line at angle deg (degrees) from radius r0 to radius r1 around (cx, cy).
void radial(Canvas& c, int cx, int cy, double deg, double r0, double r1) {
    const double a = deg * kRadians;
    c.moveTo(trunc(cx + r0 * std::cos(a)), trunc(cy - r0 * std::sin(a)));
    c.lineTo(trunc(cx + r1 * std::cos(a)), trunc(cy - r1 * std::sin(a)));
}

void prepareFace(KnobView& k) {
    if (k.canvas == nullptr) return;
    DrawKnobFace(*k.canvas, k.width, k.height);
    k.canvas->floodFill(4, 6, k.panelColor);
}

void setRangeText(KnobView& k, int min, int max) {
    NumText t;
    t.appendInt(min).append('#').appendInt(max);
    k.rangeText.assign(t.view());
}

}  // namespace

std::optional<KnobRange> ParseKnobRange(std::string_view rangeText) {
    const std::size_t hash = rangeText.find('#');
    if (hash == std::string_view::npos) return std::nullopt;
    const auto min = parseInt(rangeText.substr(0, hash));
    const auto max = parseInt(rangeText.substr(hash + 1, 100));
    if (!min || !max) return std::nullopt;
    return KnobRange{*min, *max};
}

void DrawKnob(KnobView& k, int v) {
    const auto range = ParseKnobRange(k.rangeText);
    if (!range) return;
    if (k.canvas != nullptr) {
        Canvas& c = *k.canvas;
        const int cx = k.width / 2;
        const int cy = k.height / 2;
        // Erase the previous pointer.
        c.pen.color = kPointerDisc;
        c.pen.style = PenStyle::Solid;
        c.brush = Brush{kPointerDisc, BrushStyle::Solid};
        c.ellipse(Rect{cx - 9, cy - 9, cx + 9, cy + 9});

        c.pen.color = colors::Red;
        c.pen.width = 2;
        // The angle is kept in single precision.
        const double span = static_cast<double>(range->max) - range->min;
        const float deg =
            span == 0 ? 225.0f
                      : static_cast<float>(225.0 - (static_cast<double>(v) - range->min) * 270.0 / span);
        const double a = static_cast<double>(deg) * kRadians;
        c.moveTo(trunc(cx + 8 * std::cos(a)), trunc(cy - 8 * std::sin(a)));
        c.lineTo(trunc(cx + 2 * std::cos(a)), trunc(cy - 2 * std::sin(a)));
    }
    k.value = v;
}

bool DragKnob(KnobView& k, int x, int y) {
    const auto range = ParseKnobRange(k.rangeText);
    if (!range) return false;
    const double dx = x - k.width / 2;
    const double dy = k.height / 2 - y;
    if (dx == 0 && dy == 0) return false;
    const double s = std::clamp(dy / std::sqrt(dx * dx + dy * dy), -1.0, 1.0);
    double a = std::asin(s) * 180.0 / kPi;
    if (dx < 0) a = 180.0 - a;
    // Past either end of the scale (the dead zone below the centre) the knob
    // sits on its stop. In between, values round by adding 0.5 and
    // truncating toward zero; at the stops that rule alone would leave a
    // negative minimum one step out of reach (-100 + 0.5 gives -99).
    int v;
    if (a >= 225.0) {
        v = range->min;
    } else if (a <= -45.0) {
        v = range->max;
    } else {
        const double span = static_cast<double>(range->max) - range->min;
        v = trunc((225.0 - a) * span / 270.0 + range->min + 0.5);
    }
    if (v == k.value) return false;
    DrawKnob(k, v);
    return true;
}

void DrawContinuousScale(KnobView& k, int ticks, int min, bool labels, int max) {
    const int n = ticks > 1 ? ticks - 1 : 1;
    if (k.canvas != nullptr) {
        prepareFace(k);
        Canvas& c = *k.canvas;
        const int cx = k.width / 2;
        const int cy = k.height / 2;
        c.pen = Pen{colors::Black, 1, PenStyle::Solid};
        for (int i = 0; i <= 3 * n; ++i) radial(c, cx, cy, 225.0 - (i / 3.0) * 270.0 / n, 25, 22);
        c.pen.width = 2;
        for (int i = 0; i <= n; ++i) radial(c, cx, cy, 225.0 - i * 270.0 / n, 28, 22);
    }
    setRangeText(k, min, max);
    if (labels && k.canvas != nullptr) {
        Canvas& c = *k.canvas;
        const int cx = k.width / 2;
        const int cy = k.height / 2;
        c.font.name = "Arial";
        c.font.color = colors::Black;
        c.font.bold = false;
        c.font.size = k.width <= 81 ? 7 : (k.width > 101 ? 9 : 8);
        c.brush.style = BrushStyle::Clear;
        NumText minText;
        minText.appendInt(min);
        NumText maxText;
        maxText.appendInt(max);
        const double lo = 225 * kRadians;
        const double hi = -45 * kRadians;
        c.textOut(trunc(cx + 28 * std::cos(lo) - c.textWidth(minText)), trunc(cy - 28 * std::sin(lo)),
                  minText);
        c.textOut(trunc(cx + 28 * std::cos(hi)), trunc(cy - 28 * std::sin(hi)), maxText);
    }
    DrawKnob(k, min);
}

void DrawContinuousScale(KnobView& k, int ticks, int min, int max) {
    DrawContinuousScale(k, ticks, min, true, max);
}

void DrawPlainContinuousScale(KnobView& k, int ticks, int min, int max) {
    DrawContinuousScale(k, ticks, min, false, max);
}

void DrawSteppedScale(KnobView& k, int positions, std::string_view labelText) {
    const int n = positions > 1 ? positions - 1 : 1;
    if (k.canvas != nullptr) {
        prepareFace(k);
        Canvas& c = *k.canvas;
        const int cx = k.width / 2;
        const int cy = (k.height - 2) / 2;
        auto angle = [n](double t) { return 225.0 - t * 270.0 / n; };

        // The band: short chords that together paint a thick grey arc.
        c.pen = Pen{kBandGrey, 4, PenStyle::Solid};
        for (int i = 0;; ++i) {
            const double t = i * 0.2;
            if (t > n - 0.3 + 1e-9) break;
            const double a0 = angle(t) * kRadians;
            const double a1 = angle(t + 0.3) * kRadians;
            c.moveTo(trunc(cx + 23 * std::cos(a0)), trunc(cy - 23 * std::sin(a0)));
            c.lineTo(trunc(cx + 23 * std::cos(a1)), trunc(cy - 23 * std::sin(a1)));
        }
        c.pen = Pen{colors::Black, 2, PenStyle::Solid};
        for (int i = 0; i <= n; ++i) radial(c, cx, cy, angle(i), 29, 22);

        c.font.name = "Arial";
        c.font.color = colors::Black;
        c.font.bold = false;
        c.font.size = k.width <= 81 || k.width > 101 ? 7 : 8;
        const double r = k.width > 101 ? 35 : 28;
        c.brush.style = BrushStyle::Clear;
        std::string_view rest = labelText;
        bool exhausted = false;
        for (int i = 0; i <= n; ++i) {
            std::string_view field;
            if (!exhausted) {
                const std::size_t comma = rest.find(',');
                if (comma == std::string_view::npos) {
                    field = rest;
                    exhausted = true;
                } else {
                    field = rest.substr(0, comma);
                    rest.remove_prefix(comma + 1);
                }
            }
            if (field.empty()) continue;
            const double w = c.textWidth(field);
            const double h = c.textHeight(field);
            const double a = angle(i) * kRadians;
            c.textOut(trunc(cx + std::cos(a) * (w / 2 + r) - w / 2),
                      trunc(cy - std::sin(a) * (h / 2 + r) - h / 2) + 1, field);
        }
    }
    NumText t("0#");
    t.appendInt(n);
    k.rangeText.assign(t.view());
    DrawKnob(k, 0);
}

void DrawKnobFace(Canvas& c, int width, int height) {
    const int cx = width / 2;
    const int cy = height / 2;
    c.brush = Brush{kFaceBackground, BrushStyle::Solid};
    c.fillRect(Rect{0, 0, width, height});

    disc(c, cx + 1, cy + 1, 20, rgb(72, 72, 76));  // shadow
    disc(c, cx, cy, 20, rgb(178, 178, 184));       // light rim
    c.pen = Pen{rgb(104, 104, 110), 1, PenStyle::Solid};
    for (int i = 0; i < 36; ++i) radial(c, cx, cy, i * 10.0, 20, 16);  // knurling
    disc(c, cx, cy, 16, rgb(50, 50, 55));                              // dark skirt
    disc(c, cx - 1, cy - 1, 13, rgb(92, 92, 98));                      // highlight, upper left
    disc(c, cx, cy, 12, rgb(38, 38, 42));                              // cap
    disc(c, cx, cy, 9, kPointerDisc);                                  // pointer disc
}

}  // namespace miral::display
