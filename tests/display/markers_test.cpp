// SPDX-License-Identifier: GPL-3.0-or-later
// Markers on a real trace walk: where they land, what they print and where
// the texts, the dotted line and the dot go; and the distortion line.
#include "display/markers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "display/recording_canvas.h"
#include "display/spectrum_traces.h"

namespace miral::display {
namespace {

// Trace A over a linear band of 0 .. 2000 Hz at 2 Hz per bin (1000 bins over
// 563 pixels: most columns hold two bins), rows = 200 - value / 10.
struct Bench {
    RecordingCanvas c{1134, 800};
    SpectrumColumns cols;
    std::vector<double> displayA = std::vector<double>(1001, 0.0);
    std::vector<double> phase = std::vector<double>(1001, 0.0);
    std::vector<Point> points;
    std::vector<TraceColumn> drawn = std::vector<TraceColumn>(32768);
    SpectrumTraceInputs in;
    MarkerCapture m[kMarkerCount];
    int left[kMarkerCount] = {8, 40, 72, 104};
    Bench() {
        cols.Update(1000, 2.0, 563, 567, 0, 2000, false);
        in.values = displayA.data();
        in.baseRow = 200;
        in.rowFactor = 0.1;
        in.areaTop = 0;
        in.areaBottom = 388;
        in.columns = drawn.data();
        for (int i = 0; i <= 1000; ++i) phase[static_cast<std::size_t>(i)] = i * 0.1;
    }
    void walk() {
        const int n = DrawSpectrumTrace(c, in, cols, points);
        ResetMarkerCaptures(m);
        CaptureMarkers(m, left, drawn.data(), n, displayA.data(), phase.data());
    }
    // The bins the walk puts into column x.
    std::vector<int> binsOf(int x) const {
        std::vector<int> out;
        for (int i = 1; i < cols.end(); ++i)
            if (cols.column(i) == x) out.push_back(i);
        return out;
    }
};

TEST(MarkerCapture, LandsOnTheFirstColumnAtOrRightOfItsHandleAndOnItsHighestPoint) {
    Bench b;
    b.in.rule = ColumnRule::EveryBin;
    for (int i = 0; i <= 1000; ++i) b.displayA[static_cast<std::size_t>(i)] = 100 * std::sin(i * 0.37);
    b.left[0] = 300;
    b.left[1] = 300;  // two handles over one column
    b.left[2] = 303;  // a column further right
    b.walk();
    // Column 296 is the first at or right of 300 - 4; with every bin drawn
    // the marker takes the highest of the column's bins.
    const std::vector<int> bins = b.binsOf(296);
    ASSERT_EQ(bins.size(), 2u);
    const int high =
        b.displayA[static_cast<std::size_t>(bins[0])] >= b.displayA[static_cast<std::size_t>(bins[1])]
            ? bins[0]
            : bins[1];
    EXPECT_EQ(b.m[0].bin, high);
    EXPECT_EQ(b.m[0].x, 296);
    EXPECT_DOUBLE_EQ(b.m[0].y, 200 - 0.1 * b.displayA[static_cast<std::size_t>(high)]);
    EXPECT_EQ(b.m[0].value, b.displayA[static_cast<std::size_t>(high)]);
    EXPECT_EQ(b.m[0].phase, high * 0.1);
    // Same column, same capture.
    EXPECT_EQ(b.m[1].bin, b.m[0].bin);
    EXPECT_EQ(b.m[1].y, b.m[0].y);
    EXPECT_EQ(b.m[2].x, 299);
    EXPECT_EQ(b.m[3].x, 100);  // columns 100 and 296 hold bins
}

TEST(MarkerCapture, WithAvgOrMaxTheMarkerTakesTheColumnsCombinedHeight) {
    for (ColumnRule rule : {ColumnRule::Mean, ColumnRule::Highest}) {
        Bench b;
        b.in.rule = rule;
        for (int i = 0; i <= 1000; ++i)
            b.displayA[static_cast<std::size_t>(i)] = (i % 2 ? 700.0 : -300.0) + i;
        b.left[0] = 300;
        b.walk();
        const std::vector<int> bins = b.binsOf(296);
        ASSERT_EQ(bins.size(), 2u);
        const double y0 = 200 - 0.1 * b.displayA[static_cast<std::size_t>(bins[0])];
        const double y1 = 200 - 0.1 * b.displayA[static_cast<std::size_t>(bins[1])];
        // The column's last bin, at the column's combined row.
        EXPECT_EQ(b.m[0].bin, bins[1]);
        EXPECT_DOUBLE_EQ(b.m[0].y, rule == ColumnRule::Mean ? (y0 + y1) / 2 : std::min(y0, y1));
        EXPECT_EQ(b.m[0].value, b.displayA[static_cast<std::size_t>(bins[1])]);
    }
}

TEST(MarkerCapture, RightOfTheLastColumnNothingIsCaughtAndTheLastReadingStays) {
    Bench b;
    b.cols.Update(1000, 1.0, 563, 567, 0, 2000, false);  // the spectrum ends mid-screen
    b.displayA.assign(1001, 500.0);
    b.left[1] = 200;
    b.walk();
    ASSERT_NE(b.m[1].bin, 0);
    const double value = b.m[1].value;
    const double phase = b.m[1].phase;
    b.left[1] = 568;  // the last column is 284
    b.displayA.assign(1001, 900.0);
    b.walk();
    EXPECT_EQ(b.m[1].bin, 0);
    EXPECT_EQ(b.m[1].y, 0);
    EXPECT_EQ(b.m[1].value, value);
    EXPECT_EQ(b.m[1].phase, phase);
    // It reads 0 Hz and its dot sits at the top of the upper area.
    MarkerTextInputs ti;
    EXPECT_EQ(MarkerReadoutTexts(1, b.m[1], ti, nullptr).frequency, "0 Hz.");
    b.c.clear();
    MarkerDrawInputs di;
    di.handleLeft = 568;
    di.upperTop = 0;
    int box = 8;
    DrawMarker(b.c, 1, b.m[1], MarkerTexts{}, di, box);
    const auto lines = b.c.callsOf(DrawCall::Kind::Line);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1].from, (Point{564, 0}));
}

// The dB figure of a plain-spectrum value: 20 log10(m) less 22.41 dB
// (the level relative to 1 mV r.m.s.), independently of the display units.
double dbOfMagnitude(double m) {
    return 20 * std::log10(m) - 20 * 2.58 / std::log(10.0);
}

TEST(MarkerTexts, DbViewPrintsLevelsAndDifferencesToMarker1) {
    MarkerTextInputs ti;
    ti.scaleA = 12 / 9.2;
    ti.binWidth = 2.68494;
    MarkerCapture one, two;
    const double m1 = 16442.2, m2 = 27.5;
    one.value = ti.scaleA * (2000 * std::log(m1) - 5160);
    one.bin = 372;
    two.value = ti.scaleA * (2000 * std::log(m2) - 5160);
    two.bin = 745;
    const MarkerTexts t1 = MarkerReadoutTexts(0, one, ti, nullptr);
    const MarkerTexts t2 = MarkerReadoutTexts(1, two, ti, &t1.level);
    // Marker 1 to 4 decimals, the others to 2, cut to 6 characters.
    EXPECT_NEAR(t1.level, dbOfMagnitude(m1), 2e-4);
    EXPECT_NEAR(t2.level, dbOfMagnitude(m2), 1e-2);
    EXPECT_EQ(t1.value, "61.909 dB.");
    EXPECT_EQ(t2.value, "6.37 dB.");
    EXPECT_EQ(t2.difference, "(-55.53 dB.)");
    EXPECT_TRUE(t1.difference.empty());
    EXPECT_EQ(t1.frequency, "998.8 Hz.");  // 372 x 2.68494 = 998.798
    EXPECT_EQ(t2.frequency, "2000.3 Hz.");
    EXPECT_TRUE(t1.phase.empty());  // no phase in the plain spectrum
    // Marker 1 off: nothing to compare with, the line stays empty.
    EXPECT_TRUE(MarkerReadoutTexts(1, two, ti, nullptr).difference.empty());
}

TEST(MarkerTexts, LinearViewsPrintMillivoltsOrPercentAndDashes) {
    MarkerTextInputs ti;
    ti.ylog = false;
    ti.scaleA = 0.6 / 9.2;
    MarkerCapture mk;
    mk.value = 1234.5678 * ti.scaleA;  // u = 1234.5678: trunc(u x 5.25) / 100
    mk.bin = 10;
    mk.phase = -123.456789;
    const double reference = 1;
    MarkerTexts t = MarkerReadoutTexts(2, mk, ti, &reference);
    EXPECT_EQ(t.value, "64.81 mV.");
    EXPECT_EQ(t.difference, "-------------");
    // Transfer view: a gain of 1 is 1904.8 units, 100 per cent (100.002
    // cut to 0.01); phases too.
    ti.view = MarkerView::Transfer;
    mk.value = 1904.8 * ti.scaleA;
    t = MarkerReadoutTexts(2, mk, ti, &reference);
    EXPECT_EQ(t.value, "100%");
    EXPECT_EQ(t.phase, "-123.4 Deg.");
    EXPECT_EQ(MarkerReadoutTexts(0, mk, ti, nullptr).phase, "-123.45 Deg.");
    EXPECT_EQ(t.difference, "-------------");
}

TEST(MarkerTexts, ImpedanceViewPrintsOhms) {
    MarkerTextInputs ti;
    ti.view = MarkerView::Impedance;
    ti.scaleA = 3 / 9.2;
    MarkerCapture mk;
    mk.value = ti.scaleA * 2000 * std::log(4700.0);
    EXPECT_NEAR(ImpedanceOhms(mk.value, ti.scaleA, true), 4700, 0.01);
    EXPECT_EQ(MarkerReadoutTexts(0, mk, ti, nullptr).value, "4.700 KOhm.");
    ti.ylog = false;
    mk.value = 100 / 0.0525 * ti.scaleA;
    EXPECT_EQ(MarkerReadoutTexts(0, mk, ti, nullptr).value, "100 Ohm.");
}

TEST(MarkerDrawing, BesideTheMarkerOrInBoxesAlongTheTop) {
    RecordingCanvas c{1134, 800};
    MarkerCapture mk;
    mk.y = 150.7;
    MarkerTexts t;
    t.frequency = NumText("F");
    t.value = NumText("V");
    t.phase = NumText("P");
    t.difference = NumText("D");
    MarkerDrawInputs in;
    in.handleLeft = 200;
    in.phaseRow = 90.4;
    in.lineColor = rgb(1, 1, 1);
    in.markerColor = rgb(2, 2, 2);
    int box = 8;
    // Marker 1 beside itself: frequency and value above the dot, phase above the phase dot.
    DrawMarker(c, 0, mk, t, in, box);
    auto texts = c.callsOf(DrawCall::Kind::Text);
    ASSERT_EQ(texts.size(), 3u);
    EXPECT_EQ(texts[0].to, (Point{200, 126}));
    EXPECT_EQ(texts[1].to, (Point{200, 138}));
    EXPECT_EQ(texts[2].to, (Point{200, 78}));
    EXPECT_EQ(texts[0].font.name, "Arial");
    EXPECT_EQ(texts[0].font.size, 8);
    EXPECT_EQ(texts[0].brush.style, BrushStyle::Clear);
    auto lines = c.callsOf(DrawCall::Kind::Line);
    ASSERT_EQ(lines.size(), 2u);  // no phase dot outside the transfer and impedance views
    EXPECT_EQ(lines[0].from, (Point{196, 1}));
    EXPECT_EQ(lines[0].to, (Point{196, 388}));
    EXPECT_EQ(lines[0].pen.style, PenStyle::Dot);
    EXPECT_EQ(lines[0].pen.color, in.lineColor);
    EXPECT_EQ(lines[1].from, (Point{196, 150}));
    EXPECT_EQ(lines[1].to, (Point{196, 151}));
    EXPECT_EQ(lines[1].pen.width, 5);
    EXPECT_EQ(lines[1].pen.color, in.markerColor);
    EXPECT_EQ(box, 8);

    // Marker 3 near the right edge: its texts move left; no phase text; the
    // phase dot in the transfer view; a row far above the area is clamped.
    c.clear();
    in.handleLeft = 520;
    in.phaseDot = true;
    mk.y = -5000;
    DrawMarker(c, 2, mk, t, in, box);
    texts = c.callsOf(DrawCall::Kind::Text);
    ASSERT_EQ(texts.size(), 3u);
    EXPECT_EQ(texts[0].text, "F");
    EXPECT_EQ(texts[0].to, (Point{472, -36}));
    EXPECT_EQ(texts[2].text, "D");
    EXPECT_EQ(texts[2].to, (Point{472, -12}));
    lines = c.callsOf(DrawCall::Kind::Line);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1].from, (Point{516, 0}));
    EXPECT_EQ(lines[2].from, (Point{516, 98}));
    EXPECT_EQ(lines[2].to, (Point{516, 99}));

    // Boxes: a coloured bar, then the texts one under the other; the next box 66 further.
    c.clear();
    in.border = true;
    DrawMarker(c, 0, mk, t, in, box);
    DrawMarker(c, 1, mk, t, in, box);
    texts = c.callsOf(DrawCall::Kind::Text);
    ASSERT_EQ(texts.size(), 9u);
    EXPECT_EQ(texts[0].to, (Point{8, 0}));
    EXPECT_EQ(texts[0].text, std::string(25, ' '));
    EXPECT_EQ(texts[0].font.size, 5);
    EXPECT_EQ(texts[0].brush.style, BrushStyle::Solid);
    EXPECT_EQ(texts[0].brush.color, in.markerColor);
    EXPECT_EQ(texts[1].to, (Point{8, 8}));
    EXPECT_EQ(texts[1].brush.style, BrushStyle::Clear);
    EXPECT_EQ(texts[1].font.size, 8);
    EXPECT_EQ(texts[3].to, (Point{8, 32}));  // marker 1: no difference line
    EXPECT_EQ(texts[4].to, (Point{74, 0}));
    EXPECT_EQ(texts[8].text, "D");
    EXPECT_EQ(texts[8].to, (Point{74, 44}));
    EXPECT_EQ(box, 140);
}

TEST(DistortionLine, FiguresAreCutNotRounded) {
    EXPECT_EQ(DistortionText(false, 0.000123456, 0.000015, 998, 951.4321).str(),
              "Noise + THD=0.012%  Overtone THD=0.001%  @998Hz. (Fund.=951.4mV r.m.s.)");
    EXPECT_EQ(DistortionText(true, 0.000123456, 0, 1000, 12.5).str(),
              "True THD=0.0123%  Overtone THD=0%  @1000Hz. (Fund.=12.5mV r.m.s.)");
    // An undefined ratio (a silent fundamental) is no reading: "---".
    EXPECT_EQ(DistortionText(false, std::numeric_limits<double>::infinity(), 0, 5, 0).str(),
              "Noise + THD=---%  Overtone THD=0%  @5Hz. (Fund.=0mV r.m.s.)");
    EXPECT_EQ(DistortionText(true, std::numeric_limits<double>::quiet_NaN(), 0.01, 5,
                             -std::numeric_limits<double>::infinity())
                  .str(),
              "True THD=---%  Overtone THD=1%  @5Hz. (Fund.=---mV r.m.s.)");
}

}  // namespace
}  // namespace miral::display
