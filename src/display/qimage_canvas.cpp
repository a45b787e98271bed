// SPDX-License-Identifier: GPL-3.0-or-later
#include "display/qimage_canvas.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <utility>
#include <vector>

#include "display/qimage_glyphs.h"

namespace miral::display {

namespace {

Rect intersect(const Rect& a, const Rect& b) {
    Rect r{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
           std::min(a.bottom, b.bottom)};
    if (r.right < r.left) r.right = r.left;
    if (r.bottom < r.top) r.bottom = r.top;
    return r;
}

bool inside(const Rect& r, int x, int y) {
    return x >= r.left && x < r.right && y >= r.top && y < r.bottom;
}

// Dot pattern: two pixels on, two off.
bool dotOn(unsigned phase) {
    return (phase & 2U) == 0;
}

using i64 = std::int64_t;
using u64 = std::uint64_t;

// The part of a rectangle given by 64-bit bounds (half-open) that lies in the
// clip: coordinates anywhere in the int range and beyond are safe.
Rect clipped(i64 left, i64 top, i64 right, i64 bottom, const Rect& clip) {
    Rect r{static_cast<int>(std::clamp<i64>(left, clip.left, clip.right)),
           static_cast<int>(std::clamp<i64>(top, clip.top, clip.bottom)),
           static_cast<int>(std::clamp<i64>(right, clip.left, clip.right)),
           static_cast<int>(std::clamp<i64>(bottom, clip.top, clip.bottom))};
    if (r.right < r.left) r.right = r.left;
    if (r.bottom < r.top) r.bottom = r.top;
    return r;
}

// A pixel column or row from a real coordinate, pinned just outside the
// clip span lo .. hi (so that far-off values cannot overflow the conversion).
int pinned(double v, int lo, int hi) {
    if (!(v > lo - 1.0)) return lo - 1;
    if (!(v < hi + 1.0)) return hi + 1;
    return static_cast<int>(v);
}

// The stepping of a line with major extent D and minor extent d (d <= D):
// at step i the major coordinate has moved i pixels and the minor one
// floor((2 i d + D - 1) / (2 D)) pixels. This is the closed form of the
// error-stepping loop in QImageCanvas::segment (which moves the minor
// coordinate at step i + 1 exactly when (2 k + 1) D < 2 (i + 1) d, k being the
// moves so far), evaluated without overflow for extents up to 2^32.
u64 minorSteps(u64 i, u64 d, u64 D) {
    const u64 p = i * d;  // i < D < 2^32 and d <= D: no wrap
    return p / D + (2 * (p % D) + D - 1) / (2 * D);
}

// The steps i in [lo, hi] whose minor offset lies in [f0, f1] (minorSteps is
// non-decreasing in i): found by bisection. Returns false when there are none.
bool minorRange(u64 d, u64 D, u64& lo, u64& hi, i64 f0, i64 f1) {
    if (f1 < 0 || lo > hi) return false;
    if (f0 > 0) {
        // First i with minorSteps(i) >= f0.
        u64 a = lo, b = hi + 1;
        while (a < b) {
            const u64 m = a + (b - a) / 2;
            if (static_cast<i64>(minorSteps(m, d, D)) >= f0)
                b = m;
            else
                a = m + 1;
        }
        lo = a;
    }
    // Last i with minorSteps(i) <= f1.
    u64 a = lo, b = hi + 1;
    while (a < b) {
        const u64 m = a + (b - a) / 2;
        if (static_cast<i64>(minorSteps(m, d, D)) > f1)
            b = m;
        else
            a = m + 1;
    }
    if (a == lo) return false;
    hi = a - 1;
    return lo <= hi;
}

// The steps i in [0, D - 1] at which a coordinate that starts at c and moves
// by s (+1 or -1) per step lies in [lo, hi]; false when it never does.
bool majorRange(i64 c, int s, i64 D, i64 lo, i64 hi, u64& first, u64& last) {
    i64 a = s > 0 ? lo - c : c - hi;
    i64 b = s > 0 ? hi - c : c - lo;
    a = std::max<i64>(a, 0);
    b = std::min<i64>(b, D - 1);
    if (a > b) return false;
    first = static_cast<u64>(a);
    last = static_cast<u64>(b);
    return true;
}

}  // namespace

QImageCanvas::QImageCanvas(int width, int height, Color fill)
    : width_(std::max(width, 0)), height_(std::max(height, 0)) {
    if (width_ > 0 && height_ > 0) {
        image_ = QImage(width_, height_, QImage::Format_RGB32);
        if (image_.isNull()) {
            width_ = height_ = 0;
            return;
        }
        image_.fill(argb(fill));
        bits_ = reinterpret_cast<std::uint32_t*>(image_.bits());
        stride_ = image_.bytesPerLine() / 4;
    }
}

std::uint32_t* QImageCanvas::pixels() {
    digest_.valid = false;  // every drawing call comes here first
    if (bits_ != nullptr && !image_.isDetached()) bits_ = reinterpret_cast<std::uint32_t*>(image_.bits());
    return bits_;
}

const std::uint32_t* QImageCanvas::constRow(int y) const {
    return reinterpret_cast<const std::uint32_t*>(image_.constBits()) +
           static_cast<std::ptrdiff_t>(y) * stride_;
}

void QImageCanvas::fillSpan(std::uint32_t* base, const Rect& clip, int y, int x0, int x1, std::uint32_t c) {
    if (y < clip.top || y >= clip.bottom) return;
    x0 = std::max(x0, clip.left);
    x1 = std::min(x1, clip.right);
    if (x0 >= x1) return;
    std::fill_n(row(base, y) + x0, x1 - x0, c);
}

void QImageCanvas::fillClipped(Rect r, std::uint32_t c) {
    std::uint32_t* base = pixels();
    if (base == nullptr) return;
    r = intersect(r, clipRect());
    for (int y = r.top; y < r.bottom; ++y) std::fill_n(row(base, y) + r.left, r.width(), c);
}

void QImageCanvas::stamp(std::uint32_t* base, const Rect& clip, int x, int y, std::uint32_t c) {
    const int w = penWidth();
    if (w <= 1) {
        if (inside(clip, x, y)) row(base, y)[x] = c;
        return;
    }
    const int o0 = -(w / 2);
    if (w <= 3) {
        for (int dy = o0; dy < o0 + w; ++dy) fillSpan(base, clip, y + dy, x + o0, x + o0 + w, c);
        return;
    }
    // A disc of diameter w.
    const double centre = o0 + (w - 1) / 2.0;
    const double r2 = (w / 2.0) * (w / 2.0);
    for (int dy = o0; dy < o0 + w; ++dy) {
        const double ey = dy - centre;
        int first = o0 + w;
        int last = o0 - 1;
        for (int dx = o0; dx < o0 + w; ++dx) {
            const double ex = dx - centre;
            if (ex * ex + ey * ey <= r2) {
                first = std::min(first, dx);
                last = std::max(last, dx);
            }
        }
        if (first <= last) fillSpan(base, clip, y + dy, x + first, x + last + 1, c);
    }
}

void QImageCanvas::segment(Point a, Point b, unsigned& dotPhase) {
    if (pen.style == PenStyle::Clear) return;
    std::uint32_t* base = pixels();
    if (base == nullptr) return;
    // 64-bit extents: the ends may lie anywhere in the int range.
    const i64 dx = std::abs(static_cast<i64>(b.x) - a.x);
    const i64 dy = std::abs(static_cast<i64>(b.y) - a.y);
    const i64 steps = std::max(dx, dy);
    if (steps == 0) return;
    const unsigned phaseAfter = dotPhase + static_cast<unsigned>(steps & 3);
    const Rect clip = clipRect();
    const std::uint32_t c = argb(pen.color);
    const int w = penWidth();
    // The stamp of the pixel (x, y) covers x + o0 .. x + o0 + w - 1 (and the
    // same rows); a disc lies inside that square.
    const int o0 = w == 1 ? 0 : -(w / 2);

    // Straight solid lines with square pens are rectangles.
    if (pen.style == PenStyle::Solid && w <= 3 && (dx == 0 || dy == 0)) {
        i64 x0, x1, y0, y1;  // inclusive pixel range of the line itself
        if (dy == 0) {
            y0 = y1 = a.y;
            if (b.x > a.x) {
                x0 = a.x;
                x1 = static_cast<i64>(b.x) - 1;
            } else {
                x0 = static_cast<i64>(b.x) + 1;
                x1 = a.x;
            }
        } else {
            x0 = x1 = a.x;
            if (b.y > a.y) {
                y0 = a.y;
                y1 = static_cast<i64>(b.y) - 1;
            } else {
                y0 = static_cast<i64>(b.y) + 1;
                y1 = a.y;
            }
        }
        const Rect r = clipped(x0 + o0, y0 + o0, x1 + o0 + w, y1 + o0 + w, clip);
        for (int y = r.top; y < r.bottom; ++y) std::fill_n(row(base, y) + r.left, r.width(), c);
        dotPhase = phaseAfter;
        return;
    }

    // Only the steps whose stamp can touch the clip are walked: the first
    // and last are found from the closed form of the stepping, so a line
    // that runs far off the canvas costs no more than its visible part.
    const int sx = a.x < b.x ? 1 : -1;
    const int sy = a.y < b.y ? 1 : -1;
    const bool xMajor = dx >= dy;
    const i64 xLo = static_cast<i64>(clip.left) - o0 - w + 1, xHi = static_cast<i64>(clip.right) - o0 - 1;
    const i64 yLo = static_cast<i64>(clip.top) - o0 - w + 1, yHi = static_cast<i64>(clip.bottom) - o0 - 1;
    u64 first = 0, last = static_cast<u64>(steps) - 1;
    const u64 D = static_cast<u64>(steps);
    const u64 d = static_cast<u64>(xMajor ? dy : dx);
    auto within = [&](Point p) { return xLo <= p.x && p.x <= xHi && yLo <= p.y && p.y <= yHi; };
    if (within(a) && within(b)) {
        // Wholly visible (the usual case): every step.
    } else if (xMajor) {
        if (!majorRange(a.x, sx, steps, xLo, xHi, first, last)) {
            dotPhase = phaseAfter;
            return;
        }
        const i64 f0 = sy > 0 ? yLo - a.y : a.y - yHi;
        const i64 f1 = sy > 0 ? yHi - a.y : a.y - yLo;
        if (!minorRange(d, D, first, last, f0, f1)) {
            dotPhase = phaseAfter;
            return;
        }
    } else {
        if (!majorRange(a.y, sy, steps, yLo, yHi, first, last)) {
            dotPhase = phaseAfter;
            return;
        }
        const i64 f0 = sx > 0 ? xLo - a.x : a.x - xHi;
        const i64 f1 = sx > 0 ? xHi - a.x : a.x - xLo;
        if (!minorRange(d, D, first, last, f0, f1)) {
            dotPhase = phaseAfter;
            return;
        }
    }

    // The state of the stepping at step `first`: position and error term
    // (the error dx - dy - (x moves) dy + (y moves) dx stays within a few
    // times the extents; its products are formed modulo 2^64, which gives
    // the exact small result).
    const u64 minor = first == 0 ? 0 : minorSteps(first, d, D);
    const u64 xMoves = xMajor ? first : minor;
    const u64 yMoves = xMajor ? minor : first;
    i64 err = static_cast<i64>(static_cast<u64>(dx - dy) - xMoves * static_cast<u64>(dy) +
                               yMoves * static_cast<u64>(dx));
    int x = static_cast<int>(a.x + (sx > 0 ? static_cast<i64>(xMoves) : -static_cast<i64>(xMoves)));
    int y = static_cast<int>(a.y + (sy > 0 ? static_cast<i64>(yMoves) : -static_cast<i64>(yMoves)));
    const i64 count = static_cast<i64>(last - first) + 1;
    const bool dotted = pen.style == PenStyle::Dot;

    if (!dotted && w <= 3) {
        // Square pens: consecutive pixels that share the minor coordinate
        // form a run, and the stamps along a run are one rectangle.
        Rect run{x, y, x, y};  // inclusive pixel bounds of the current run
        auto flush = [&] {
            const Rect r =
                intersect(Rect{run.left + o0, run.top + o0, run.right + o0 + w, run.bottom + o0 + w}, clip);
            for (int ry = r.top; ry < r.bottom; ++ry) std::fill_n(row(base, ry) + r.left, r.width(), c);
        };
        for (i64 i = 0; i < count; ++i) {
            if (i > 0) {
                if (xMajor ? y == run.top : x == run.left) {
                    run.left = std::min(run.left, x);
                    run.right = std::max(run.right, x);
                    run.top = std::min(run.top, y);
                    run.bottom = std::max(run.bottom, y);
                } else {
                    flush();
                    run = Rect{x, y, x, y};
                }
            }
            const i64 e2 = 2 * err;
            if (e2 > -dy) {
                err -= dy;
                x += sx;
            }
            if (e2 < dx) {
                err += dx;
                y += sy;
            }
        }
        flush();
        dotPhase = phaseAfter;
        return;
    }

    unsigned phase = dotPhase + static_cast<unsigned>(first & 3);
    for (i64 i = 0; i < count; ++i) {
        if (!dotted || dotOn(phase)) stamp(base, clip, x, y, c);
        ++phase;
        const i64 e2 = 2 * err;
        if (e2 > -dy) {
            err -= dy;
            x += sx;
        }
        if (e2 < dx) {
            err += dx;
            y += sy;
        }
    }
    dotPhase = phaseAfter;
}

void QImageCanvas::lineTo(int x, int y) {
    unsigned phase = 0;
    segment(penPos, Point{x, y}, phase);
    penPos = {x, y};
}

void QImageCanvas::polyline(const Point* points, int count) {
    unsigned phase = 0;
    const bool squareSolid = pen.style == PenStyle::Solid && pen.width <= 3;
    std::uint32_t* base = pixels();
    int i = 0;
    while (i < count) {
        // A dense trace has several points per screen column: the vertical
        // segments of one column together cover one span (each segment starts
        // where the last one ended), so they are painted as one rectangle.
        if (squareSolid && base != nullptr && points[i].x == penPos.x) {
            const int x = penPos.x;
            int y = penPos.y;
            i64 lo = std::numeric_limits<i64>::max();
            i64 hi = std::numeric_limits<i64>::min();
            int j = i;
            for (; j < count && points[j].x == x; ++j) {
                const int ny = points[j].y;
                if (ny > y) {
                    lo = std::min<i64>(lo, y);
                    hi = std::max<i64>(hi, static_cast<i64>(ny) - 1);
                } else if (ny < y) {
                    lo = std::min<i64>(lo, static_cast<i64>(ny) + 1);
                    hi = std::max<i64>(hi, y);
                }
                y = ny;
            }
            if (lo <= hi) {
                const int w = penWidth();
                const int o0 = w == 1 ? 0 : -(w / 2);
                const Rect r = clipped(static_cast<i64>(x) + o0, lo + o0, static_cast<i64>(x) + o0 + w,
                                       hi + o0 + w, clipRect());
                const std::uint32_t c = argb(pen.color);
                for (int ry = r.top; ry < r.bottom; ++ry) std::fill_n(row(base, ry) + r.left, r.width(), c);
            }
            penPos = {x, y};
            i = j;
            continue;
        }
        segment(penPos, points[i], phase);
        penPos = points[i];
        ++i;
    }
}

void QImageCanvas::fillRect(const Rect& r) {
    if (brush.style == BrushStyle::Clear) return;
    fillClipped(r, argb(brush.color));
}

void QImageCanvas::fillRectAndInsets(const Rect& area, Color insetColor, const Rect* insets, int count) {
    constexpr int kMaxInsets = 4;
    std::uint32_t* base = pixels();
    if (brush.style == BrushStyle::Clear || base == nullptr || count < 0 || count > kMaxInsets) {
        Canvas::fillRectAndInsets(area, insetColor, insets, count);
        return;
    }
    const Rect clip = clipRect();
    const Rect a = intersect(area, clip);
    Rect in[kMaxInsets];
    int top = a.height() > 0 ? a.top : clip.bottom;
    int bottom = a.height() > 0 ? a.bottom : clip.top;
    for (int i = 0; i < count; ++i) {
        in[i] = intersect(insets[i], clip);
        if (in[i].width() <= 0 || in[i].height() <= 0) continue;
        top = std::min(top, in[i].top);
        bottom = std::max(bottom, in[i].bottom);
    }
    const std::uint32_t outer = argb(brush.color);
    const std::uint32_t inner = argb(insetColor);
    brush.color = insetColor;
    // Row by row: the insets' spans in the inset colour, the rest of the
    // area's span in the brush's, every pixel written once.
    for (int y = top; y < bottom; ++y) {
        int spanL[kMaxInsets], spanR[kMaxInsets];
        int spans = 0;
        for (int i = 0; i < count; ++i) {
            if (in[i].width() <= 0 || y < in[i].top || y >= in[i].bottom) continue;
            // Sorted by left edge as they are added.
            int at = spans++;
            while (at > 0 && spanL[at - 1] > in[i].left) {
                spanL[at] = spanL[at - 1];
                spanR[at] = spanR[at - 1];
                --at;
            }
            spanL[at] = in[i].left;
            spanR[at] = in[i].right;
        }
        std::uint32_t* line = row(base, y);
        const bool inArea = y >= a.top && y < a.bottom && a.width() > 0;
        int x = inArea ? a.left : clip.right;  // the next pixel of the area not yet written
        const int end = inArea ? a.right : clip.right;
        for (int k = 0; k < spans; ++k) {
            const int gapEnd = std::min(spanL[k], end);
            if (gapEnd > x) std::fill(line + x, line + gapEnd, outer);
            std::fill(line + spanL[k], line + spanR[k], inner);
            x = std::max(x, spanR[k]);
        }
        if (x < end) std::fill(line + x, line + end, outer);
    }
}

void QImageCanvas::ellipse(const Rect& box) {
    std::uint32_t* base = pixels();
    if (base == nullptr || box.right <= box.left || box.bottom <= box.top) return;
    const Rect clip = clipRect();
    // In doubles: a box may span the whole int range.
    const double cx = (static_cast<double>(box.left) + box.right) / 2.0;
    const double cy = (static_cast<double>(box.top) + box.bottom) / 2.0;
    const double rx = (static_cast<double>(box.right) - box.left) / 2.0;
    const double ry = (static_cast<double>(box.bottom) - box.top) / 2.0;
    const int ring = pen.style == PenStyle::Clear ? 0 : penWidth();
    const double irx = rx - ring;
    const double iry = ry - ring;
    const bool fill = brush.style == BrushStyle::Solid;
    const std::uint32_t penColor = argb(pen.color);
    const std::uint32_t brushColor = argb(brush.color);

    // Half-width of an ellipse (radii ex, ey) at vertical offset t from its
    // centre, or -1 when the row misses it.
    auto halfWidth = [](double ex, double ey, double t) {
        if (ex <= 0 || ey <= 0 || std::abs(t) > ey) return -1.0;
        const double q = t / ey;
        return ex * std::sqrt(1.0 - q * q);
    };
    // Only the rows of the clip; columns are pinned just outside it.
    auto column = [&](double v) { return pinned(v, clip.left, clip.right); };
    const int yEnd = std::min(box.bottom, clip.bottom);
    for (int y = std::max(box.top, clip.top); y < yEnd; ++y) {
        const double t = y + 0.5 - cy;
        const double outer = halfWidth(rx, ry, t);
        if (outer < 0) continue;
        const int ox0 = column(std::ceil(cx - outer - 0.5));
        const int ox1 = column(std::floor(cx + outer - 0.5) + 1);
        const double inner = halfWidth(irx, iry, t);
        if (inner < 0) {
            if (ring > 0)
                fillSpan(base, clip, y, ox0, ox1, penColor);
            else if (fill)
                fillSpan(base, clip, y, ox0, ox1, brushColor);
            continue;
        }
        const int ix0 = column(std::ceil(cx - inner - 0.5));
        const int ix1 = column(std::floor(cx + inner - 0.5) + 1);
        if (ring > 0) {
            fillSpan(base, clip, y, ox0, ix0, penColor);
            fillSpan(base, clip, y, ix1, ox1, penColor);
        }
        if (fill) fillSpan(base, clip, y, ix0, ix1, brushColor);
    }
}

const FontAtlas& QImageCanvas::atlas() {
    if (atlas_ == nullptr || atlasFont_.size != font.size || atlasFont_.bold != font.bold ||
        atlasFont_.name != font.name) {
        atlas_ = &FontAtlas::get(font);
        atlasFont_ = font;
    }
    return *atlas_;
}

void QImageCanvas::textOut(int x, int y, std::string_view text) {
    const FontAtlas& a = atlas();
    std::uint32_t* base = pixels();
    if (base == nullptr) return;
    const Rect clip = clipRect();
    if (brush.style == BrushStyle::Solid) {
        const Rect cell =
            clipped(x, y, static_cast<i64>(x) + a.width(text), static_cast<i64>(y) + a.height(), clip);
        for (int ry = cell.top; ry < cell.bottom; ++ry)
            std::fill_n(row(base, ry) + cell.left, cell.width(), argb(brush.color));
    }
    const std::uint32_t c = argb(font.color);
    // 64-bit positions: a text may start anywhere in the int range.
    i64 penX = x;
    for (std::size_t i = 0; i < text.size() && penX < clip.right + 64;) {
        const Glyph& g = a.glyph(FontAtlas::nextCodePoint(text, i));
        const i64 gx = penX + g.dx;
        const i64 gy = static_cast<i64>(y) + g.dy;
        for (int r = 0; r < g.h; ++r) {
            const i64 py = gy + r;
            if (py < clip.top || py >= clip.bottom) continue;
            std::uint32_t* line = row(base, static_cast<int>(py));
            const std::uint8_t* m = g.mask.data() + static_cast<std::ptrdiff_t>(r) * g.w;
            for (int col = 0; col < g.w; ++col) {
                const i64 px = gx + col;
                if (m[col] != 0 && px >= clip.left && px < clip.right) line[px] = c;
            }
        }
        penX += g.advance;
    }
}

int QImageCanvas::textWidth(std::string_view text) {
    return atlas().width(text);
}

int QImageCanvas::textHeight(std::string_view) {
    return atlas().height();
}

void QImageCanvas::floodFill(int x, int y, Color fill) {
    const Rect clip = clipRect();
    if (!inside(clip, x, y)) return;
    std::uint32_t* base = pixels();
    if (base == nullptr) return;
    const std::uint32_t target = row(base, y)[x];
    const std::uint32_t repl = argb(fill);
    if (target == repl) return;

    // Scanline fill: each stack entry is a seed point; fill its run, then
    // seed the runs above and below.
    std::vector<Point> stack;
    stack.push_back({x, y});
    while (!stack.empty()) {
        const Point p = stack.back();
        stack.pop_back();
        std::uint32_t* line = row(base, p.y);
        if (line[p.x] != target) continue;
        int l = p.x;
        while (l > clip.left && line[l - 1] == target) --l;
        int r = p.x;
        while (r + 1 < clip.right && line[r + 1] == target) ++r;
        std::fill(line + l, line + r + 1, repl);
        for (int ny : {p.y - 1, p.y + 1}) {
            if (ny < clip.top || ny >= clip.bottom) continue;
            const std::uint32_t* next = row(base, ny);
            bool inRun = false;
            for (int i = l; i <= r; ++i) {
                if (next[i] == target) {
                    if (!inRun) stack.push_back({i, ny});
                    inRun = true;
                } else {
                    inRun = false;
                }
            }
        }
    }
}

Color QImageCanvas::pixel(int x, int y) const {
    if (x < 0 || y < 0 || x >= width_ || y >= height_) return NoColor;
    const std::uint32_t p = constRow(y)[x];
    return rgb(static_cast<int>((p >> 16) & 0xFF), static_cast<int>((p >> 8) & 0xFF),
               static_cast<int>(p & 0xFF));
}

void QImageCanvas::copyRect(const Rect& dest, const Canvas& source, const Rect& src) {
    std::uint32_t* base = pixels();
    if (base == nullptr) return;
    // Same size on both sides; shrink to what both canvases and the clip allow.
    const int w = std::min(dest.width(), src.width());
    const int h = std::min(dest.height(), src.height());
    if (w <= 0 || h <= 0) return;
    const int offX = dest.left - src.left;
    const int offY = dest.top - src.top;
    Rect d = intersect(Rect{dest.left, dest.top, dest.left + w, dest.top + h}, clipRect());
    const Rect s = intersect(Rect{d.left - offX, d.top - offY, d.right - offX, d.bottom - offY},
                             Rect{0, 0, source.width(), source.height()});
    d = Rect{s.left + offX, s.top + offY, s.right + offX, s.bottom + offY};
    if (d.width() <= 0 || d.height() <= 0) return;

    if (const auto* q = dynamic_cast<const QImageCanvas*>(&source)) {
        const std::size_t bytes = static_cast<std::size_t>(d.width()) * 4;
        const bool upward = q == this && offY > 0;  // overlapping copy within one image
        for (int i = 0; i < d.height(); ++i) {
            const int k = upward ? d.height() - 1 - i : i;
            std::memmove(row(base, d.top + k) + d.left, q->constRow(s.top + k) + s.left, bytes);
        }
        return;
    }
    for (int y = 0; y < d.height(); ++y) {
        std::uint32_t* line = row(base, d.top + y);
        for (int x = 0; x < d.width(); ++x) {
            const Color c = source.pixel(s.left + x, s.top + y);
            if (c != NoColor) line[d.left + x] = argb(c);
        }
    }
}

void QImageCanvas::prepareFont(const Font& f) {
    (void)FontAtlas::get(f);
}

bool QImageCanvas::swapPicture(Canvas& other) {
    auto* q = dynamic_cast<QImageCanvas*>(&other);
    if (q == nullptr || q == this || q->width_ != width_ || q->height_ != height_ || q->stride_ != stride_)
        return false;
    image_.swap(q->image_);
    std::swap(bits_, q->bits_);
    std::swap(digest_, q->digest_);
    return true;
}

const QImageCanvas::Digest& QImageCanvas::digestOf(const Rect& area) const {
    if (digest_.valid && digest_.area == area) return digest_;
    constexpr std::uint64_t kOdd = 0x9E3779B97F4A7C15ull;
    std::array<std::uint64_t, 4> h = {1, 2, 3, 4};
    for (int y = area.top; y < area.bottom; ++y) {
        const std::uint32_t* p = constRow(y) + area.left;
        const int n = area.width();
        int i = 0;
        for (; i + 8 <= n; i += 8) {
            std::uint64_t w[4];
            std::memcpy(w, p + i, sizeof w);
            for (int k = 0; k < 4; ++k)
                h[static_cast<std::size_t>(k)] = (h[static_cast<std::size_t>(k)] ^ w[k]) * kOdd;
        }
        for (; i < n; ++i) h[0] = (h[0] ^ p[i]) * kOdd;
    }
    digest_ = Digest{true, area, h};
    return digest_;
}

bool QImageCanvas::samePicture(const Canvas& other, const Rect& area) const {
    const auto* q = dynamic_cast<const QImageCanvas*>(&other);
    if (q == nullptr || q == this || image_.isNull() || q->image_.isNull()) return false;
    // An area that either picture does not wholly hold cannot be the same.
    const Rect r = area;
    if (r.width() <= 0 || r.height() <= 0 || r.left < 0 || r.top < 0 ||
        r.right > std::min(width_, q->width_) || r.bottom > std::min(height_, q->height_))
        return false;
    // The shown picture's digest is kept from when it was made (nothing
    // draws on it meanwhile), so only the new picture is read.
    return digestOf(r).lanes == q->digestOf(r).lanes;
}

}  // namespace miral::display
