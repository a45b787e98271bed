// SPDX-License-Identifier: GPL-3.0-or-later
#include "display/qimage_canvas.h"

#include <gtest/gtest.h>

#include <QImage>
#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>

namespace miral::display {
namespace {

constexpr Color kBack = rgb(1, 2, 3);
constexpr Color kBlue = rgb(0, 0, 255);

int countColor(const QImageCanvas& c, Color color, const Rect& r) {
    int n = 0;
    for (int y = r.top; y < r.bottom; ++y)
        for (int x = r.left; x < r.right; ++x) n += c.pixel(x, y) == color;
    return n;
}

int countColor(const QImageCanvas& c, Color color) {
    return countColor(c, color, Rect{0, 0, c.width(), c.height()});
}

TEST(QImageCanvas, ColoursRoundTripThroughTheImage) {
    QImageCanvas c(4, 3, rgb(10, 20, 30));
    EXPECT_EQ(c.pixel(3, 2), rgb(10, 20, 30));
    EXPECT_EQ(c.image().pixel(3, 2), qRgb(10, 20, 30));
    EXPECT_EQ(c.image().format(), QImage::Format_RGB32);
    EXPECT_EQ(c.pixel(4, 0), NoColor);
    EXPECT_EQ(c.pixel(-1, 0), NoColor);
}

TEST(QImageCanvas, LinesLeaveOutTheirEndPoint) {
    QImageCanvas c(40, 40, kBack);
    c.pen = Pen{colors::Red, 1, PenStyle::Solid};
    c.moveTo(10, 10);
    c.lineTo(20, 10);
    EXPECT_EQ(countColor(c, colors::Red), 10);
    EXPECT_EQ(c.pixel(10, 10), colors::Red);
    EXPECT_EQ(c.pixel(19, 10), colors::Red);
    EXPECT_EQ(c.pixel(20, 10), kBack);
    EXPECT_EQ(c.penPos, (Point{20, 10}));

    // Backwards and vertical.
    c.lineTo(20, 5);
    EXPECT_EQ(c.pixel(20, 10), colors::Red);
    EXPECT_EQ(c.pixel(20, 6), colors::Red);
    EXPECT_EQ(c.pixel(20, 5), kBack);

    // A diagonal paints one pixel per step of its longer side.
    QImageCanvas d(40, 40, kBack);
    d.pen = Pen{colors::Green, 1, PenStyle::Solid};
    d.moveTo(2, 3);
    d.lineTo(30, 17);
    EXPECT_EQ(countColor(d, colors::Green), 28);
    EXPECT_EQ(d.pixel(2, 3), colors::Green);
    EXPECT_EQ(d.pixel(30, 17), kBack);
    // Every painted pixel lies within half a pixel of the ideal line.
    for (int x = 2; x < 30; ++x) {
        const double ideal = 3 + (x - 2) * 14.0 / 28.0;
        int hits = 0;
        for (int y = 0; y < 40; ++y)
            if (d.pixel(x, y) == colors::Green) {
                ++hits;
                EXPECT_LE(std::abs(y - ideal), 0.5) << x;
            }
        EXPECT_EQ(hits, 1) << x;
    }
}

TEST(QImageCanvas, PolylineEqualsSuccessiveLines) {
    const Point pts[] = {{30, 5}, {35, 30}, {3, 38}, {3, 3}, {25, 20}};
    QImageCanvas a(40, 40, kBack);
    QImageCanvas b(40, 40, kBack);
    for (int width : {1, 2, 3, 5}) {
        for (QImageCanvas* c : {&a, &b}) c->pen = Pen{rgb(9, 9, 200), width, PenStyle::Solid};
        a.moveTo(1, 1);
        a.polyline(pts, 5);
        b.moveTo(1, 1);
        for (const Point& p : pts) b.lineTo(p.x, p.y);
        EXPECT_EQ(a.image(), b.image()) << width;
        EXPECT_EQ(a.penPos, (Point{25, 20}));
    }
}

TEST(QImageCanvas, WidePensAndDots) {
    QImageCanvas c(40, 40, kBack);
    c.pen = Pen{colors::Red, 3, PenStyle::Solid};
    c.moveTo(10, 20);
    c.lineTo(20, 20);
    // A 3 x 3 square stamped on each of the 10 pixels: 12 x 3.
    EXPECT_EQ(countColor(c, colors::Red), 36);
    EXPECT_EQ(c.pixel(9, 19), colors::Red);
    EXPECT_EQ(c.pixel(20, 21), colors::Red);
    EXPECT_EQ(c.pixel(21, 20), kBack);

    QImageCanvas d(40, 40, kBack);
    d.pen = Pen{colors::Red, 1, PenStyle::Dot};
    d.moveTo(0, 5);
    d.lineTo(20, 5);
    EXPECT_EQ(countColor(d, colors::Red), 10);
    EXPECT_EQ(d.pixel(0, 5), colors::Red);
    EXPECT_EQ(d.pixel(2, 5), kBack);

    QImageCanvas e(40, 40, kBack);
    e.pen = Pen{colors::Red, 1, PenStyle::Clear};
    e.moveTo(0, 5);
    e.lineTo(20, 25);
    EXPECT_EQ(countColor(e, colors::Red), 0);
    EXPECT_EQ(e.penPos, (Point{20, 25}));
}

TEST(QImageCanvas, WideLinesAreTheThinLineDilatedByThePenSquare) {
    const Point ends[][2] = {
        {{5, 5}, {45, 20}}, {{40, 3}, {31, 44}}, {{10, 40}, {44, 39}}, {{25, 25}, {8, 9}}};
    for (const auto& e : ends) {
        QImageCanvas thin(50, 50, kBack);
        thin.pen = Pen{colors::Red, 1, PenStyle::Solid};
        thin.moveTo(e[0].x, e[0].y);
        thin.lineTo(e[1].x, e[1].y);
        for (int w : {2, 3}) {
            QImageCanvas wide(50, 50, kBack);
            wide.pen = Pen{colors::Red, w, PenStyle::Solid};
            wide.moveTo(e[0].x, e[0].y);
            wide.lineTo(e[1].x, e[1].y);
            const int o0 = -(w / 2);
            for (int y = 0; y < 50; ++y)
                for (int x = 0; x < 50; ++x) {
                    bool covered = false;
                    for (int dy = 0; dy < w && !covered; ++dy)
                        for (int dx = 0; dx < w && !covered; ++dx)
                            covered = thin.pixel(x - o0 - dx, y - o0 - dy) == colors::Red;
                    ASSERT_EQ(wide.pixel(x, y) == colors::Red, covered)
                        << "w " << w << " at " << x << "," << y;
                }
        }
    }
}

TEST(QImageCanvas, FillsAreHalfOpenAndClipped) {
    QImageCanvas c(50, 40, kBack);
    c.brush = Brush{colors::Yellow, BrushStyle::Solid};
    c.fillRect(Rect{5, 6, 15, 10});
    EXPECT_EQ(countColor(c, colors::Yellow), 40);
    EXPECT_EQ(c.pixel(14, 9), colors::Yellow);
    EXPECT_EQ(c.pixel(15, 9), kBack);
    c.fillRect(Rect{-10, -10, -1, 100});  // outside: nothing
    c.fillRect(Rect{10, 10, 5, 20});      // inverted: nothing
    EXPECT_EQ(countColor(c, colors::Yellow), 40);
    c.brush.style = BrushStyle::Clear;
    c.fillRect(Rect{0, 0, 50, 40});
    EXPECT_EQ(countColor(c, colors::Yellow), 40);

    // The clip rectangle confines fills, lines and texts.
    QImageCanvas d(50, 40, kBack);
    d.setClipRect(Rect{0, 0, 20, 10});
    EXPECT_EQ(d.clipRect(), (Rect{0, 0, 20, 10}));
    d.brush = Brush{colors::Green, BrushStyle::Solid};
    d.fillRect(Rect{0, 0, 50, 40});
    EXPECT_EQ(countColor(d, colors::Green), 200);
    d.pen = Pen{colors::Red, 1, PenStyle::Solid};
    d.moveTo(0, 0);
    d.lineTo(49, 39);
    EXPECT_EQ(countColor(d, colors::Red, Rect{0, 10, 50, 40}), 0);
    d.resetClip();
    EXPECT_EQ(d.clipRect(), (Rect{0, 0, 50, 40}));
    d.setClipRect(Rect{-5, 30, 80, 90});
    EXPECT_EQ(d.clipRect(), (Rect{0, 30, 50, 40}));
}

// The one-pass fill of an area and its insets against the plain fills it
// stands for, on rectangles of every kind: nested, overlapping, beyond the
// area or the clip, empty, inverted; with and without a clip.
TEST(QImageCanvas, AreaWithInsetsEqualsThePlainFills) {
    std::mt19937 rng(11);
    std::uniform_int_distribution<int> coord(-10, 70);
    std::uniform_int_distribution<int> howMany(0, 4);
    auto rect = [&] { return Rect{coord(rng), coord(rng), coord(rng), coord(rng)}; };
    for (int trial = 0; trial < 2000; ++trial) {
        QImageCanvas fast(60, 50, kBack), plain(60, 50, kBack);
        if (trial % 3 != 0) {
            const Rect clip = rect();
            fast.setClipRect(clip);
            plain.setClipRect(clip);
        }
        const Rect area = trial % 5 == 0 ? Rect{0, 0, 60, 50} : rect();
        Rect insets[4];
        const int count = howMany(rng);
        for (int i = 0; i < count; ++i) insets[i] = rect();
        if (trial % 7 == 0 && count > 0) insets[0] = Rect{3, 3, 40, 20};  // an ordinary plot area
        fast.brush = plain.brush = Brush{colors::Red, BrushStyle::Solid};
        fast.fillRectAndInsets(area, kBlue, insets, count);
        plain.fillRect(area);
        plain.brush.color = kBlue;
        for (int i = 0; i < count; ++i) plain.fillRect(insets[i]);
        ASSERT_EQ(fast.image(), plain.image()) << "trial " << trial;
        EXPECT_EQ(fast.brush.color, kBlue);
    }
    // A clear brush paints nothing, as fillRect does.
    QImageCanvas c(20, 20, kBack);
    c.brush = Brush{colors::Red, BrushStyle::Clear};
    const Rect inset{2, 2, 8, 8};
    c.fillRectAndInsets(Rect{0, 0, 20, 20}, kBlue, &inset, 1);
    EXPECT_EQ(countColor(c, kBack), 400);
}

// Swapping pictures exchanges what the canvases show, not their pens or clips;
// canvases of another size keep theirs.
TEST(QImageCanvas, PicturesSwapBetweenCanvasesOfOneSize) {
    QImageCanvas a(30, 20, colors::Red), b(30, 20, kBlue), other(31, 20, colors::Green);
    a.setClipRect(Rect{0, 0, 10, 10});
    a.pen.color = colors::White;
    const QImage shown = b.image();  // a copy held elsewhere keeps its pixels
    ASSERT_TRUE(a.swapPicture(b));
    EXPECT_EQ(countColor(a, kBlue), 600);
    EXPECT_EQ(countColor(b, colors::Red), 600);
    EXPECT_EQ(a.clipRect(), (Rect{0, 0, 10, 10}));
    EXPECT_EQ(a.pen.color, colors::White);
    // Drawing goes on in the swapped picture, inside each canvas's own clip.
    a.brush = Brush{colors::Green, BrushStyle::Solid};
    a.fillRect(Rect{0, 0, 30, 20});
    EXPECT_EQ(countColor(a, colors::Green), 100);
    EXPECT_EQ(shown.pixel(0, 0), qRgb(0, 0, 255));
    EXPECT_FALSE(a.swapPicture(other));
    EXPECT_FALSE(a.swapPicture(a));
    EXPECT_EQ(countColor(other, colors::Green), 31 * 20);
}

// Whether a new picture differs from the one shown, pixel by pixel inside
// the area: one pixel anywhere inside tells, outside does not count, and an
// area that one of the pictures does not hold is never the same.
TEST(QImageCanvas, SamePictureComparesEveryPixelOfTheArea) {
    QImageCanvas a(40, 30, kBack), b(40, 30, kBack), wider(41, 30, kBack);
    const Rect area{0, 0, 20, 15};
    EXPECT_TRUE(a.samePicture(b, area));
    EXPECT_FALSE(a.samePicture(a, area));
    for (const Point p : {Point{0, 0}, Point{19, 14}, Point{7, 9}}) {
        QImageCanvas c(40, 30, kBack);
        c.pen = Pen{kBlue, 1, PenStyle::Solid};
        c.moveTo(p.x, p.y);
        c.lineTo(p.x + 1, p.y);  // one pixel
        EXPECT_FALSE(c.samePicture(b, area)) << p.x << "," << p.y;
        EXPECT_FALSE(b.samePicture(c, area)) << p.x << "," << p.y;
    }
    QImageCanvas outside(40, 30, kBack);
    outside.pen = Pen{kBlue, 1, PenStyle::Solid};
    outside.moveTo(20, 15);
    outside.lineTo(21, 15);
    EXPECT_TRUE(outside.samePicture(b, area));
    // An area that reaches past either picture is never the same.
    EXPECT_FALSE(a.samePicture(b, Rect{-1, 0, 20, 15}));
    EXPECT_FALSE(a.samePicture(b, Rect{0, 0, 40, 31}));
    EXPECT_TRUE(a.samePicture(wider, Rect{0, 0, 40, 30}));
    EXPECT_FALSE(a.samePicture(wider, Rect{0, 0, 41, 30}));
    EXPECT_FALSE(a.samePicture(b, Rect{5, 5, 5, 9}));  // empty
    // What was worked out for a picture is not used once it is drawn on,
    // and it goes with the picture when pictures change places.
    ASSERT_TRUE(a.samePicture(b, area));
    b.pen = Pen{kBlue, 1, PenStyle::Solid};
    b.moveTo(10, 10);
    b.lineTo(11, 10);
    EXPECT_FALSE(a.samePicture(b, area));
    EXPECT_FALSE(b.samePicture(a, area));
    QImageCanvas c(40, 30, kBack);
    ASSERT_TRUE(c.swapPicture(b));  // c has the blue pixel, b the plain picture
    EXPECT_FALSE(a.samePicture(c, area));
    EXPECT_TRUE(a.samePicture(b, area));
    // Two pixels that trade places keep every pixel count but not the picture.
    QImageCanvas d(40, 30, kBack), e(40, 30, kBack);
    d.pen = e.pen = Pen{kBlue, 1, PenStyle::Solid};
    d.moveTo(2, 3);
    d.lineTo(3, 3);
    e.moveTo(3, 2);
    e.lineTo(4, 2);
    EXPECT_FALSE(d.samePicture(e, area));
}

TEST(QImageCanvas, EllipseIsASymmetricDisc) {
    QImageCanvas c(40, 40, kBack);
    c.pen = Pen{colors::Red, 1, PenStyle::Solid};
    c.brush = Brush{colors::Yellow, BrushStyle::Solid};
    c.ellipse(Rect{11, 11, 29, 29});  // radius 9 around (20, 20)
    const int red = countColor(c, colors::Red);
    const int yellow = countColor(c, colors::Yellow);
    EXPECT_NEAR(red + yellow, std::numbers::pi * 81, 0.08 * std::numbers::pi * 81);
    EXPECT_GT(red, 30);
    EXPECT_EQ(c.pixel(20, 20), colors::Yellow);
    EXPECT_EQ(c.pixel(11, 20), colors::Red);
    EXPECT_EQ(c.pixel(28, 20), colors::Red);
    EXPECT_EQ(c.pixel(29, 20), kBack);
    EXPECT_EQ(c.pixel(11, 11), kBack);
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 40; ++x) {
            ASSERT_EQ(c.pixel(x, y), c.pixel(39 - x, y)) << x << "," << y;
            ASSERT_EQ(c.pixel(x, y), c.pixel(y, x)) << x << "," << y;
        }
}

TEST(QImageCanvas, FloodFillIsFourConnected) {
    QImageCanvas c(20, 20, kBack);
    c.pen = Pen{colors::Black, 1, PenStyle::Solid};
    // A one-pixel diagonal: 8-connected it leaks, 4-connected it is a wall.
    c.moveTo(0, 0);
    c.lineTo(20, 20);
    c.floodFill(0, 19, colors::Green);
    EXPECT_EQ(countColor(c, colors::Green), 190);  // the 19 x 20 / 2 pixels below the diagonal
    EXPECT_EQ(c.pixel(19, 0), kBack);
    EXPECT_EQ(c.pixel(19, 19), colors::Black);
    // Filling with the colour already there changes nothing.
    c.floodFill(0, 19, colors::Green);
    EXPECT_EQ(countColor(c, colors::Green), 190);

    // A ring: its inside stays untouched by a fill from outside.
    QImageCanvas r(30, 30, kBack);
    r.pen = Pen{colors::Black, 1, PenStyle::Solid};
    r.brush.style = BrushStyle::Clear;
    r.ellipse(Rect{5, 5, 25, 25});
    r.floodFill(0, 0, colors::Red);
    EXPECT_EQ(r.pixel(15, 15), kBack);
    EXPECT_EQ(r.pixel(29, 29), colors::Red);
    EXPECT_EQ(r.pixel(29, 0), colors::Red);
}

TEST(QImageCanvas, CopiesBetweenAndWithinCanvases) {
    QImageCanvas src(20, 20, kBack);
    src.brush = Brush{colors::Red, BrushStyle::Solid};
    src.fillRect(Rect{2, 2, 6, 6});
    QImageCanvas dst(30, 30, colors::White);
    dst.copyRect(Rect{10, 10, 20, 20}, src, Rect{0, 0, 10, 10});
    EXPECT_EQ(countColor(dst, colors::Red), 16);
    EXPECT_EQ(dst.pixel(12, 12), colors::Red);
    EXPECT_EQ(dst.pixel(10, 10), kBack);
    EXPECT_EQ(dst.pixel(9, 9), colors::White);
    // Partly outside either canvas: only the overlap is copied.
    dst.copyRect(Rect{25, 25, 45, 45}, src, Rect{0, 0, 20, 20});
    EXPECT_EQ(dst.pixel(29, 29), colors::Red);  // src (4, 4)

    // Overlapping copy within one canvas moves the block intact.
    QImageCanvas self(20, 20, kBack);
    for (int y = 0; y < 10; ++y) {
        self.brush = Brush{rgb(0, 0, y * 20), BrushStyle::Solid};
        self.fillRect(Rect{0, y, 10, y + 1});
    }
    self.copyRect(Rect{0, 3, 10, 13}, self, Rect{0, 0, 10, 10});
    for (int y = 0; y < 10; ++y) EXPECT_EQ(self.pixel(5, y + 3), rgb(0, 0, y * 20)) << y;
}

TEST(QImageCanvas, CopyOfTheImageIsNotChangedByLaterDrawing) {
    QImageCanvas c(10, 10, kBack);
    const QImage before = c.image();
    c.brush = Brush{colors::Red, BrushStyle::Solid};
    c.fillRect(Rect{0, 0, 10, 10});
    EXPECT_EQ(before.pixel(5, 5), qRgb(1, 2, 3));
    EXPECT_EQ(c.pixel(5, 5), colors::Red);
}

TEST(QImageCanvas, TextUsesTheFontAndOptionalBackground) {
    QImageCanvas c(200, 40, kBack);
    c.font = Font{"Arial", 8, colors::Yellow, false};
    const int h8 = c.textHeight("Ag");
    EXPECT_GE(h8, 11);  // 8 points = 11 pixels on a 96-dpi screen
    EXPECT_LE(h8, 15);
    EXPECT_GT(c.textWidth("WWWW"), c.textWidth("iiii"));
    EXPECT_EQ(c.textWidth(""), 0);
    EXPECT_EQ(c.textWidth("AB"), c.textWidth("A") + c.textWidth("B"));
    c.font.size = 11;
    EXPECT_GT(c.textHeight("A"), h8);
    c.font.size = 8;

    // Transparent: only glyph pixels change, all inside the text cell.
    const int w = c.textWidth("Min=10 Hz.");
    c.brush.style = BrushStyle::Clear;
    c.textOut(5, 5, "Min=10 Hz.");
    const int ink = countColor(c, colors::Yellow);
    EXPECT_GT(ink, 30);
    EXPECT_EQ(countColor(c, colors::Yellow, Rect{5, 5, 5 + w, 5 + h8}), ink);
    EXPECT_EQ(countColor(c, kBack) + ink, 200 * 40);

    // Opaque: the cell is painted with the brush first.
    QImageCanvas d(200, 40, kBack);
    d.font = c.font;
    d.brush = Brush{colors::Red, BrushStyle::Solid};
    d.textOut(5, 5, "Min=10 Hz.");
    EXPECT_EQ(countColor(d, colors::Red) + countColor(d, colors::Yellow), w * h8);
    EXPECT_EQ(countColor(d, colors::Yellow), ink);

    // Text is crisp: no blended colours.
    EXPECT_EQ(countColor(c, kBack) + countColor(c, colors::Yellow), 200 * 40);
}

// The peak labels stack in rows 12 pixels apart: the ink of the 8-point
// screen font (digits, point, note names) must fit in one such row.
TEST(QImageCanvas, EightPointLabelInkFitsInATwelvePixelRow) {
    QImageCanvas c(200, 40, kBack);
    c.font = Font{"Arial", 8, colors::White, false};
    c.brush.style = BrushStyle::Clear;
    c.textOut(0, 10, "0123456789.Sol#LaReMiFaDoSi");
    int top = 40, bottom = -1;
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 200; ++x)
            if (c.pixel(x, y) == colors::White) {
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
    ASSERT_GE(bottom, top);
    EXPECT_GE(top, 10);
    EXPECT_LT(bottom, 10 + 12);
}

TEST(QImageCanvas, NonAsciiTextIsDrawn) {
    QImageCanvas c(60, 30, kBack);
    c.font = Font{"Arial", 11, colors::White, false};
    c.brush.style = BrushStyle::Clear;
    c.textOut(2, 2, "10 \xCE\xA9");  // "10 Ω"
    EXPECT_GT(c.textWidth("\xCE\xA9"), 4);
    EXPECT_GT(countColor(c, colors::White, Rect{2 + c.textWidth("10 "), 0, 60, 30}), 10);
}

}  // namespace
}  // namespace miral::display
