// SPDX-License-Identifier: GPL-3.0-or-later
#include "display/knob.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <string>
#include <vector>

#include "display/qimage_canvas.h"
#include "display/recording_canvas.h"

namespace miral::display {
namespace {

using Kind = DrawCall::Kind;

// A knob as the panel model holds it, drawing on a recording canvas.
struct TestKnob {
    explicit TestKnob(int side, Color panel = rgb(30, 90, 150))
        : canvas(side, side), size(side), panelColor(panel) {}
    KnobView view() { return KnobView{value, range, size, size, panelColor, &canvas}; }

    int value = 12345;
    std::string range;
    RecordingCanvas canvas;
    int size;
    Color panelColor;
};

// The last red pointer line drawn.
DrawCall lastPointer(const RecordingCanvas& c) {
    DrawCall found;
    for (const DrawCall& d : c.segments())
        if (d.pen.color == colors::Red) found = d;
    return found;
}

std::vector<DrawCall> linesOf(const RecordingCanvas& c, Color color, int width) {
    std::vector<DrawCall> out;
    for (const DrawCall& d : c.segments())
        if (d.pen.color == color && d.pen.width == width) out.push_back(d);
    return out;
}

TEST(KnobRange, ParsesMinAndMax) {
    auto r = ParseKnobRange("-100#100");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->min, -100);
    EXPECT_EQ(r->max, 100);
    EXPECT_FALSE(ParseKnobRange(""));
    EXPECT_FALSE(ParseKnobRange("100"));
    EXPECT_FALSE(ParseKnobRange("abc#5"));
    EXPECT_FALSE(ParseKnobRange("5#"));
    // Only the first "#" splits.
    EXPECT_FALSE(ParseKnobRange("0#7#9"));
}

TEST(Knob, ContinuousScaleSetsRangeValueAndTicks) {
    TestKnob k(80);
    auto v = k.view();
    DrawContinuousScale(v, 11, -100, 100);
    EXPECT_EQ(k.range, "-100#100");
    EXPECT_EQ(k.value, -100);

    // The face comes first, then the flood fill from (4, 6) in the panel colour.
    const auto fills = k.canvas.callsOf(Kind::FloodFill);
    ASSERT_EQ(fills.size(), 1u);
    EXPECT_EQ(fills[0].to, (Point{4, 6}));
    EXPECT_EQ(fills[0].fill, k.panelColor);

    // Three fine ticks per interval (both ends included) and 11 major ones.
    const auto fine = linesOf(k.canvas, colors::Black, 1);
    const auto major = linesOf(k.canvas, colors::Black, 2);
    EXPECT_EQ(fine.size(), 31u);
    ASSERT_EQ(major.size(), 11u);
    // The first major tick at 225 degrees, radius 28 down to 22.
    EXPECT_EQ(major[0].from, (Point{20, 59}));  // trunc(40 - 19.80), trunc(40 + 19.80)
    EXPECT_EQ(major[0].to, (Point{24, 55}));
    // The middle one straight up.
    EXPECT_EQ(major[5].from, (Point{40, 12}));
    EXPECT_EQ(major[5].to, (Point{40, 18}));
}

TEST(Knob, ContinuousScaleLabelsSitAtTheScaleEnds) {
    TestKnob k(80);
    auto v = k.view();
    DrawContinuousScale(v, 11, -100, 100);
    const auto texts = k.canvas.callsOf(Kind::Text);
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[0].text, "-100");
    EXPECT_EQ(texts[0].font.size, 7);  // at most 81 pixels wide
    EXPECT_EQ(texts[0].font.name, "Arial");
    EXPECT_EQ(texts[0].brush.style, BrushStyle::Clear);
    // Right edge on the 225-degree point: 40 - 19.80 - 21 = -0.80, truncated toward zero.
    EXPECT_EQ(texts[0].to, (Point{0, 59}));
    EXPECT_EQ(texts[1].text, "100");
    EXPECT_EQ(texts[1].to, (Point{59, 59}));

    TestKnob plain(80);
    auto pv = plain.view();
    DrawPlainContinuousScale(pv, 11, 1000, 10000);
    EXPECT_TRUE(plain.canvas.callsOf(Kind::Text).empty());
    EXPECT_EQ(plain.range, "1000#10000");

    TestKnob big(100);
    auto bv = big.view();
    DrawContinuousScale(bv, 10, 10, 200);
    EXPECT_EQ(big.canvas.callsOf(Kind::Text).at(0).font.size, 8);
}

TEST(Knob, PointerEndPoints) {
    TestKnob k(80);
    auto v = k.view();
    DrawContinuousScale(v, 11, -100, 100);
    struct Case {
        int value;
        Point outer;
        Point inner;
    };
    // Pointer from radius 8 to radius 2 around (40, 40).
    const Case cases[] = {
        {-100, {34, 45}, {38, 41}},  // 225 degrees
        {100, {45, 45}, {41, 41}},   // -45 degrees
        {0, {40, 32}, {40, 38}},     // straight up
        {-50, {32, 36}, {38, 39}},   // 157.5 degrees
    };
    for (const Case& c : cases) {
        DrawKnob(v, c.value);
        EXPECT_EQ(k.value, c.value);
        const DrawCall p = lastPointer(k.canvas);
        EXPECT_EQ(p.from, c.outer) << c.value;
        EXPECT_EQ(p.to, c.inner) << c.value;
        EXPECT_EQ(p.pen.width, 2);
    }
    // The dark disc of radius 9 is painted first and erases the old pointer.
    const auto discs = k.canvas.callsOf(Kind::Ellipse);
    ASSERT_FALSE(discs.empty());
    EXPECT_EQ(discs.back().rect, (Rect{31, 31, 49, 49}));
    EXPECT_EQ(discs.back().brush.color, rgb(85, 85, 85));
    EXPECT_EQ(discs.back().pen.color, rgb(85, 85, 85));
}

TEST(Knob, DrawKnobDoesNotClampAndIgnoresKnobsWithoutRange) {
    TestKnob k(80);
    auto v = k.view();
    DrawKnob(v, 5);  // no face yet: nothing happens
    EXPECT_EQ(k.value, 12345);
    EXPECT_TRUE(k.canvas.calls().empty());

    DrawContinuousScale(v, 11, 0, 100);
    DrawKnob(v, 150);  // beyond the maximum: points past the scale end
    EXPECT_EQ(k.value, 150);
    // 225 - 405 = -180 degrees: pointing left.
    EXPECT_EQ(lastPointer(k.canvas).from, (Point{32, 40}));
}

TEST(Knob, WithoutCanvasValuesAndRangesStillUpdate) {
    int value = 3;
    std::string range;
    KnobView v{value, range, 100, 100, colors::White, nullptr};
    DrawSteppedScale(v, 8, "a,b");
    EXPECT_EQ(range, "0#7");
    EXPECT_EQ(value, 0);
    EXPECT_TRUE(DragKnob(v, 99, 99));
    EXPECT_EQ(value, 7);
}

TEST(Knob, SteppedScaleOfTheRangeKnob) {
    TestKnob k(100);
    auto v = k.view();
    DrawSteppedScale(v, 8, "5mV,10  ,20  ,50 ,100 , 200,500, 1V");
    EXPECT_EQ(k.range, "0#7");
    EXPECT_EQ(k.value, 0);

    const auto texts = k.canvas.callsOf(Kind::Text);
    std::vector<std::string> labels;
    for (const DrawCall& t : texts) labels.push_back(t.text);
    EXPECT_EQ(labels, (std::vector<std::string>{"5mV", "10  ", "20  ", "50 ", "100 ", " 200", "500", " 1V"}));
    ASSERT_EQ(texts.size(), 8u);
    EXPECT_EQ(texts[0].font.size, 8);
    // "5mV": w 18, h 14 on the recording canvas; centre (50, 49); radius 28.
    // x = trunc(50 - 0.7071 x 37 - 9) = 14, y = trunc(49 + 0.7071 x 35 - 7) + 1 = 67.
    EXPECT_EQ(texts[0].to, (Point{14, 67}));
    // " 1V" at -45 degrees: w 18, x = trunc(50 + 0.7071 x 37 - 9) = 67.
    EXPECT_EQ(texts[7].to, (Point{67, 67}));

    // Eight ticks from radius 29 to 22 around the stepped centre (50, 49).
    const auto ticks = linesOf(k.canvas, colors::Black, 2);
    ASSERT_EQ(ticks.size(), 8u);
    EXPECT_EQ(ticks[0].from, (Point{29, 69}));  // trunc(50 - 20.51), trunc(49 + 20.51)
    // The grey band: chords at t = 0, 0.2, ... 6.6 (up to n - 0.3).
    const auto band = linesOf(k.canvas, rgb(112, 112, 112), 4);
    EXPECT_EQ(band.size(), 34u);
    // The pointer keeps the image centre (50, 50), one pixel below the scale's.
    EXPECT_EQ(lastPointer(k.canvas).from, (Point{44, 55}));
}

TEST(Knob, SteppedScaleShowsOnlyAsManyFieldsAsPositions) {
    TestKnob k(120);
    auto v = k.view();
    DrawSteppedScale(v, 9, "1,0.3,0.1,30m,10m,3m,1m,300u,100u,30u,10u");
    EXPECT_EQ(k.range, "0#8");
    const auto texts = k.canvas.callsOf(Kind::Text);
    ASSERT_EQ(texts.size(), 9u);
    EXPECT_EQ(texts.front().text, "1");
    EXPECT_EQ(texts.back().text, "100u");
    EXPECT_EQ(texts.front().font.size, 7);  // wider than 101: size 7 at radius 35
    // Straight-up label "10m" (position 4): w 16 at size 7, h 12; centre (60, 59).
    // x = trunc(60 + 0 - 8) = 52 (cos 90 is a hair above zero), y = trunc(59 - 41 - 6) + 1 = 13.
    EXPECT_EQ(texts[4].text, "10m");
    EXPECT_EQ(texts[4].to, (Point{52, 13}));

    // Fewer fields than positions: the rest stay blank.
    TestKnob few(100);
    auto fv = few.view();
    DrawSteppedScale(fv, 5, "a,b");
    EXPECT_EQ(few.canvas.callsOf(Kind::Text).size(), 2u);
}

TEST(Knob, DragFollowsTheMouseAngle) {
    TestKnob k(80);
    auto v = k.view();
    DrawContinuousScale(v, 11, -100, 100);
    EXPECT_TRUE(DragKnob(v, 40, 0));  // straight up: the middle
    EXPECT_EQ(k.value, 0);
    EXPECT_FALSE(DragKnob(v, 40, 10));  // same value: nothing redrawn
    DragKnob(v, 10, 79);                // dead zone, left
    EXPECT_EQ(k.value, -100);
    DragKnob(v, 70, 79);  // dead zone, right
    EXPECT_EQ(k.value, 100);
    DragKnob(v, 40, 79);  // straight down counts as right
    EXPECT_EQ(k.value, 100);
    DragKnob(v, 0, 40);  // straight left: -100 + 45/270 x 200 + 0.5 = -66.2, toward zero
    EXPECT_EQ(k.value, -66);
    const std::size_t before = k.canvas.calls().size();
    EXPECT_FALSE(DragKnob(v, 40, 40));  // the centre itself: nothing
    EXPECT_EQ(k.canvas.calls().size(), before);
}

TEST(Knob, DragRoundsHalfStepsUp) {
    TestKnob k(100);
    auto v = k.view();
    DrawSteppedScale(v, 8, "");
    // At the angle of position 3.
    const double a = (225.0 - 3 * 270.0 / 7) * std::numbers::pi / 180.0;
    DragKnob(v, 50 + static_cast<int>(std::lround(45 * std::cos(a))),
             50 - static_cast<int>(std::lround(45 * std::sin(a))));
    EXPECT_EQ(k.value, 3);
    // Straight up is exactly halfway between 3 and 4.
    DragKnob(v, 50, 0);
    EXPECT_EQ(k.value, 4);
}

TEST(Knob, DragRoundsNegativeValuesTowardZero) {
    TestKnob k(80);
    auto v = k.view();
    DrawContinuousScale(v, 11, -100, 100);
    // Find a mouse point whose exact value lies between -49.75 and -49.5:
    // adding 0.5 and truncating toward zero gives -49 (flooring would give -50).
    bool found = false;
    for (int x = 0; x < 40 && !found; ++x) {
        for (int y = 0; y < 40 && !found; ++y) {
            const double deg = std::atan2(40.0 - y, x - 40.0) * 180.0 / std::numbers::pi;
            const double exact = (225.0 - deg) * 200.0 / 270.0 - 100.0;
            if (exact > -49.75 && exact < -49.55) {
                found = true;
                DragKnob(v, x, y);
                EXPECT_EQ(k.value, -49) << x << "," << y << " exact " << exact;
            }
        }
    }
    EXPECT_TRUE(found);
}

TEST(Knob, RealPictureHasRedPointerAndPanelCorners) {
    const Color panel = rgb(20, 70, 120);
    QImageCanvas canvas(80, 80);
    int value = 0;
    std::string range;
    KnobView v{value, range, 80, 80, panel, &canvas};
    DrawContinuousScale(v, 11, -100, 100);
    DrawKnob(v, 100);  // pointer to the lower right

    EXPECT_EQ(canvas.pixel(0, 0), panel);
    EXPECT_EQ(canvas.pixel(79, 0), panel);
    EXPECT_EQ(canvas.pixel(79, 79), panel);
    EXPECT_EQ(canvas.pixel(4, 6), panel);
    // Along the pointer, between radius 3 and 7 at -45 degrees.
    EXPECT_EQ(canvas.pixel(44, 44), colors::Red);
    EXPECT_EQ(canvas.pixel(43, 43), colors::Red);
    // The old pointer (at the minimum, lower left) is gone: dark grey there.
    EXPECT_EQ(canvas.pixel(36, 43), rgb(85, 85, 85));
    // A major tick: black at radius 26 straight up.
    EXPECT_EQ(canvas.pixel(40, 14), colors::Black);
    // The labels are printed in black somewhere below the scale ends.
    int black = 0;
    for (int y = 59; y < 75; ++y)
        for (int x = 0; x < 80; ++x) black += canvas.pixel(x, y) == colors::Black;
    EXPECT_GT(black, 10);
}

}  // namespace
}  // namespace miral::display
