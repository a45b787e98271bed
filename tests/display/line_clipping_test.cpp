// SPDX-License-Identifier: GPL-3.0-or-later
// Lines that run far off the canvas: only their visible part costs time, the
// visible pixels are exactly those of the whole line, and end points anywhere
// in the int range are safe.
#include <gtest/gtest.h>

#include <climits>
#include <random>
#include <vector>

#include "display/qimage_canvas.h"

namespace miral::display {
namespace {

constexpr Color kBack = rgb(1, 2, 3);
constexpr Color kInk = rgb(200, 9, 9);

// Every pixel of a small canvas equals the pixel at the same place of a
// large one that shows it at offset (ox, oy).
void expectWindowEquals(const QImageCanvas& small, const QImageCanvas& large, int ox, int oy,
                        const char* what) {
    for (int y = 0; y < small.height(); ++y)
        for (int x = 0; x < small.width(); ++x)
            ASSERT_EQ(small.pixel(x, y), large.pixel(x + ox, y + oy)) << what << " at " << x << "," << y;
}

// A small canvas sits inside a large one; lines whose ends lie far outside
// the small canvas (but inside the large one) paint, on the small canvas,
// exactly what the large canvas shows there (a line's pixels follow its ends
// when both are shifted by the same amount).
TEST(LineClipping, OffCanvasLinesPaintTheSamePixelsAsUnclipped) {
    std::mt19937 rng(5);
    const int big = 1600;
    const int ox = 780, oy = 785;  // the small canvas inside the large one
    QImageCanvas large(big, big, kBack);
    QImageCanvas small(40, 36, kBack);
    std::uniform_int_distribution<int> far(0, big - 1);
    std::uniform_int_distribution<int> near(-8, 48);
    const struct {
        int width;
        PenStyle style;
    } pens[] = {{1, PenStyle::Solid},
                {2, PenStyle::Solid},
                {3, PenStyle::Solid},
                {5, PenStyle::Solid},
                {1, PenStyle::Dot}};
    for (int trial = 0; trial < 400; ++trial) {
        // Half the lines have one end near or on the small canvas.
        Point a{far(rng), far(rng)};
        Point b{far(rng), far(rng)};
        if (trial % 2 == 1) b = {ox + near(rng), oy + near(rng)};
        if (trial % 7 == 0) b.y = a.y;  // straight lines too
        if (trial % 11 == 0) b.x = a.x;
        const auto& p = pens[trial % 5];
        // Only the window is compared, so only the window is cleared.
        large.brush = small.brush = Brush{kBack, BrushStyle::Solid};
        small.fillRect(Rect{0, 0, small.width(), small.height()});
        large.fillRect(Rect{ox, oy, ox + small.width(), oy + small.height()});
        large.pen = small.pen = Pen{kInk, p.width, p.style};
        large.moveTo(a.x, a.y);
        large.lineTo(b.x, b.y);
        small.moveTo(a.x - ox, a.y - oy);
        small.lineTo(b.x - ox, b.y - oy);
        EXPECT_EQ(small.penPos, (Point{b.x - ox, b.y - oy}));
        SCOPED_TRACE(::testing::Message() << "trial " << trial << " (" << a.x << "," << a.y << ")-(" << b.x
                                          << "," << b.y << ") width " << p.width);
        expectWindowEquals(small, large, ox, oy, "line");
        if (::testing::Test::HasFatalFailure()) return;
    }
}

// The same for a polyline (the scope trace's call) through far-off points,
// including runs of points in one column.
TEST(LineClipping, OffCanvasPolylinePaintsTheSamePixelsAsUnclipped) {
    std::mt19937 rng(8);
    const int big = 2000;
    const int ox = 980, oy = 990;
    std::uniform_int_distribution<int> yd(0, big - 1);
    for (int width : {1, 3}) {
        std::vector<Point> pts;
        for (int k = 0; k < 300; ++k) pts.push_back({ox - 20 + k / 3, yd(rng)});
        QImageCanvas large(big, big, kBack);
        QImageCanvas small(60, 40, kBack);
        large.pen = small.pen = Pen{kInk, width, PenStyle::Solid};
        large.moveTo(ox - 30, oy + 5);
        large.polyline(pts.data(), static_cast<int>(pts.size()));
        for (Point& p : pts) p = {p.x - ox, p.y - oy};
        small.moveTo(-30, 5);
        small.polyline(pts.data(), static_cast<int>(pts.size()));
        expectWindowEquals(small, large, ox, oy, "polyline");
    }
}

int countInk(const QImageCanvas& c) {
    int n = 0;
    for (int y = 0; y < c.height(); ++y)
        for (int x = 0; x < c.width(); ++x) n += c.pixel(x, y) == kInk;
    return n;
}

// End points at the ends of the int range: the visible part is the line's
// analytic pixel set, found without stepping through the invisible billions
// of pixels and without overflow.
TEST(LineClipping, EndPointsAnywhereInTheIntRange) {
    for (int w : {1, 3}) {
        QImageCanvas c(50, 40, kBack);
        c.pen = Pen{kInk, w, PenStyle::Solid};
        // Horizontal through row 10: the whole row (and its neighbours with width 3).
        c.moveTo(INT_MIN, 10);
        c.lineTo(INT_MAX, 10);
        EXPECT_EQ(countInk(c), 50 * w) << w;
        // Vertical back up column 20.
        QImageCanvas v(50, 40, kBack);
        v.pen = c.pen;
        v.moveTo(20, INT_MAX);
        v.lineTo(20, INT_MIN);
        EXPECT_EQ(countInk(v), 40 * w) << w;
    }

    // The diagonal through the origin: exactly the pixels (k, k).
    QImageCanvas d(50, 40, kBack);
    d.pen = Pen{kInk, 1, PenStyle::Solid};
    d.moveTo(INT_MIN, INT_MIN);
    d.lineTo(INT_MAX, INT_MAX);
    EXPECT_EQ(countInk(d), 40);
    for (int k = 0; k < 40; ++k) EXPECT_EQ(d.pixel(k, k), kInk) << k;
    // And back the other way (a dotted pen keeps its phase countable).
    QImageCanvas e(50, 40, kBack);
    e.pen = Pen{kInk, 1, PenStyle::Dot};
    e.moveTo(INT_MAX - 1, INT_MAX - 1);
    e.lineTo(INT_MIN + 1, INT_MIN + 1);
    EXPECT_EQ(countInk(e), 20);

    // A near-vertical line from the top of the range to the bottom: one pixel
    // per row, in column 10 or 11.
    QImageCanvas s(50, 40, kBack);
    s.pen = Pen{kInk, 1, PenStyle::Solid};
    s.moveTo(10, INT_MIN);
    s.lineTo(11, INT_MAX);
    for (int y = 0; y < 40; ++y) {
        const int hits = (s.pixel(10, y) == kInk) + (s.pixel(11, y) == kInk);
        EXPECT_EQ(hits, 1) << y;
    }
    EXPECT_EQ(countInk(s), 40);

    // A line that misses the canvas paints nothing; the pen still moves.
    QImageCanvas m(50, 40, kBack);
    m.pen = Pen{kInk, 3, PenStyle::Solid};
    m.moveTo(INT_MIN, INT_MAX);
    m.lineTo(INT_MAX, INT_MAX - 7);
    m.lineTo(-5, INT_MIN);
    EXPECT_EQ(countInk(m), 0);
    EXPECT_EQ(m.penPos, (Point{-5, INT_MIN}));

    // A polyline whose points jump across the whole range, several per column.
    QImageCanvas p(50, 40, kBack);
    p.pen = Pen{kInk, 3, PenStyle::Solid};
    const Point pts[] = {{0, INT_MAX}, {0, INT_MIN}, {1, INT_MAX}, {25, INT_MIN}, {25, 20}, {INT_MAX, 20}};
    p.moveTo(0, 0);
    p.polyline(pts, 6);
    EXPECT_EQ(p.pixel(25, 30), kBack);
    EXPECT_EQ(p.pixel(26, 20), kInk);
    EXPECT_EQ(p.pixel(49, 21), kInk);
    EXPECT_EQ(p.pixel(0, 39), kInk);
}

// Fills, ellipses and texts far off or huge are cut to the canvas as well.
TEST(LineClipping, ShapesAndTextsAtExtremeCoordinates) {
    QImageCanvas c(30, 20, kBack);
    c.pen = Pen{kInk, 1, PenStyle::Solid};
    c.brush = Brush{colors::Green, BrushStyle::Solid};
    // A disc of radius 2^30 around the canvas: the canvas lies inside it.
    c.ellipse(Rect{15 - (1 << 30), 10 - (1 << 30), 15 + (1 << 30), 10 + (1 << 30)});
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 30; ++x) ASSERT_EQ(c.pixel(x, y), colors::Green) << x << "," << y;
    c.ellipse(Rect{INT_MIN, INT_MIN, INT_MAX, INT_MAX});
    EXPECT_EQ(c.pixel(15, 10), colors::Green);

    QImageCanvas t(30, 20, kBack);
    t.font = Font{"Arial", 8, kInk, false};
    t.brush = Brush{colors::Green, BrushStyle::Solid};
    t.textOut(INT_MAX - 2, 5, "100K");
    t.textOut(5, INT_MAX - 2, "100K");
    t.textOut(INT_MIN, INT_MIN, "100K");
    t.brush.style = BrushStyle::Clear;
    t.textOut(INT_MAX, INT_MAX, "100K");
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 30; ++x) ASSERT_EQ(t.pixel(x, y), kBack) << x << "," << y;
}

}  // namespace
}  // namespace miral::display
