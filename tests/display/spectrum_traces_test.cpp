// SPDX-License-Identifier: GPL-3.0-or-later
// Spectrum traces (column mapping, column rules, clamping, colour by
// deviation, the columns left for the markers), peak labels and the tuner
// boxes, drawn into recording canvases.
#include "display/spectrum_traces.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "display/number_text.h"
#include "display/recording_canvas.h"
#include "display/tuner.h"

namespace miral::display {
namespace {

int columnByFormula(int bin, double bw, double fMin, double fMax, bool xlog) {
    return static_cast<int>(MapAxis(bin * bw, 563, fMin, fMax, xlog) + 3);
}

TEST(SpectrumColumnsTest, MapsEachBinAndStopsRightOfThePlot) {
    SpectrumColumns cols;
    cols.Update(100, 10.0, 563, 567, 0, 500, false);
    // x = trunc(11.26 i + 3): bin 50 is the first beyond 567 - 3.
    EXPECT_EQ(cols.end(), 50);
    EXPECT_EQ(cols.column(1), 14);
    EXPECT_EQ(cols.column(49), 554);
    EXPECT_EQ(cols.column(50), 566);
    // Logarithmic, every bin fits: the walk covers all bins, and the bin past
    // the last is mapped too.
    cols.Update(2000, 2.5, 563, 567, 20, 20000, true);
    EXPECT_EQ(cols.end(), 2000);
    for (int i = 1; i <= 2000; ++i) ASSERT_EQ(cols.column(i), columnByFormula(i, 2.5, 20, 20000, true)) << i;
    // A moved band is mapped again.
    cols.Update(2000, 2.5, 563, 567, 20, 2000, true);
    EXPECT_EQ(cols.column(500), columnByFormula(500, 2.5, 20, 2000, true));
    EXPECT_LT(cols.end(), 2000);
}

struct Walk {
    RecordingCanvas c{1134, 800};
    SpectrumColumns cols;
    std::vector<double> values;
    std::vector<Point> points;
    std::vector<TraceColumn> recorded = std::vector<TraceColumn>(32768);
    SpectrumTraceInputs in;
    Walk(int bins, double bw, double fMin, double fMax, bool xlog)
        : values(static_cast<std::size_t>(bins) + 1) {
        cols.Update(bins, bw, 563, 567, fMin, fMax, xlog);
        in.values = values.data();
        in.baseRow = 200;
        in.rowFactor = 0.5;
        in.areaTop = 0;
        in.areaBottom = 388;
        in.pen = Pen{rgb(1, 2, 3), 2, PenStyle::Solid};
        in.binWidth = bw;
        in.columns = recorded.data();
    }
    int draw() { return DrawSpectrumTrace(c, in, cols, points); }
    int row(int bin) const {
        return static_cast<int>(std::clamp(200 - 0.5 * values[static_cast<std::size_t>(bin)], 0.0, 384.0));
    }
};

TEST(SpectrumTrace, EveryBinIsDrawnWhenNeitherRuleIsDown) {
    Walk w(4000, 5.0, 0, 20000, false);  // about 7 bins per column
    for (std::size_t i = 0; i < w.values.size(); ++i)
        w.values[i] = 300 * std::sin(0.01 * static_cast<double>(i));
    w.in.rule = ColumnRule::EveryBin;
    const int n = w.draw();
    EXPECT_EQ(n, w.cols.end() - 1);
    // Bins left of column 4 are only moved to; every other bin is a segment.
    std::vector<Point> want;
    for (int i = 1; i < w.cols.end(); ++i)
        if (w.cols.column(i) > 3) want.push_back({w.cols.column(i), w.row(i)});
    const auto segs = w.c.segments();
    ASSERT_EQ(segs.size(), want.size());
    // The run starts from the last point that was only moved to.
    int first = 1;
    while (w.cols.column(first) <= 3) ++first;
    EXPECT_EQ(segs.front().from, (Point{3, w.row(first - 1)}));
    for (std::size_t k = 0; k < want.size(); ++k) {
        ASSERT_EQ(segs[k].to, want[k]) << k;
        EXPECT_EQ(segs[k].pen.width, 2);
    }
    EXPECT_EQ(w.c.callsOf(DrawCall::Kind::Polyline).size(), 1u);  // one run
}

TEST(SpectrumTrace, MaxRuleDrawsTheHighestPointOfEachColumnAndRecordsItUnclamped) {
    Walk w(4000, 5.0, 0, 20000, false);
    for (std::size_t i = 0; i < w.values.size(); ++i) w.values[i] = static_cast<double>((i * 37) % 101);
    w.values[2000] = 5000;  // far above the area: drawn at its top
    w.in.rule = ColumnRule::Highest;
    const int n = w.draw();
    const auto segs = w.c.segments();
    // One point per column: the smallest row of the bins that share it.
    int k = 0;
    std::size_t s = 0;
    for (int i = 1; i < w.cols.end();) {
        const int x = w.cols.column(i);
        double best = 100000;
        int last = i;
        for (; last < w.cols.end() && w.cols.column(last) == x; ++last)
            best = std::min(best, 200 - 0.5 * w.values[static_cast<std::size_t>(last)]);
        ASSERT_LT(k, n);
        EXPECT_EQ(w.recorded[static_cast<std::size_t>(k)].bin, last - 1);
        EXPECT_EQ(w.recorded[static_cast<std::size_t>(k)].x, x);
        EXPECT_DOUBLE_EQ(w.recorded[static_cast<std::size_t>(k)].y, best);
        if (x > 3) {
            ASSERT_LT(s, segs.size());
            EXPECT_EQ(segs[s].to, (Point{x, static_cast<int>(std::clamp(best, 0.0, 384.0))}));
            ++s;
        }
        ++k;
        i = last;
    }
    EXPECT_EQ(k, n);
    EXPECT_EQ(s, segs.size());
    // The column of bin 2000 is recorded at -2300 and drawn at row 0.
    const auto it = std::find_if(w.recorded.begin(), w.recorded.begin() + n,
                                 [&](const TraceColumn& t) { return t.x == w.cols.column(2000); });
    ASSERT_NE(it, w.recorded.begin() + n);
    EXPECT_DOUBLE_EQ(it->y, 200 - 0.5 * 5000);
}

TEST(SpectrumTrace, AvgRuleDrawsTheMeanRowAndClampsToTheLowerArea) {
    Walk w(4000, 5.0, 0, 20000, false);
    for (std::size_t i = 0; i < w.values.size(); ++i) w.values[i] = (i % 2) ? 100 : -100;
    w.in.rule = ColumnRule::Mean;
    w.in.baseRow = 300;  // the lower half of a split screen: 200 .. 396
    w.in.areaTop = 200;
    w.in.areaBottom = 400;
    w.values[1234] = std::nan("");  // an undefined value lands at the bottom
    w.draw();
    const auto segs = w.c.segments();
    ASSERT_FALSE(segs.empty());
    for (const auto& s : segs) {
        EXPECT_GE(s.to.y, 200);
        EXPECT_LE(s.to.y, 396);
    }
    // Bin 0 only places the pen at column 2, clamped to the area too.
    Walk v(100, 10.0, 0, 500, false);
    v.values[0] = -1e9;
    v.in.areaTop = 200;
    v.in.areaBottom = 400;
    v.draw();
    EXPECT_EQ(v.c.callsOf(DrawCall::Kind::Polyline).front().from, (Point{2, 396}));
    // A column of 7 bins alternating +-100 around row 300: the mean is near 300.
    int near = 0;
    for (const auto& s : segs) near += std::abs(s.to.y - 300) <= 15;
    EXPECT_GT(near, static_cast<int>(segs.size()) * 9 / 10);
}

double testCents(double f) {
    return f / 100.0 - 20.0;
}

TEST(SpectrumTrace, ColorModeColoursEachColumnByItsDeviation) {
    Walk w(400, 10.0, 0, 4000, false);
    w.in.rule = ColumnRule::Highest;
    w.in.centsOf = &testCents;
    w.draw();
    const auto segs = w.c.segments();
    ASSERT_FALSE(segs.empty());
    int k = 0;
    for (int i = 1; i < w.cols.end(); ++i) {
        if (w.cols.column(i) == w.cols.column(i + 1) || w.cols.column(i) <= 3) continue;
        ASSERT_LT(static_cast<std::size_t>(k), segs.size());
        EXPECT_EQ(segs[static_cast<std::size_t>(k)].pen.color, DeviationColor(testCents(i * 10.0))) << i;
        ++k;
    }
    EXPECT_EQ(static_cast<std::size_t>(k), segs.size());
    EXPECT_EQ(DeviationColor(-50), rgb(250, 5, 0));
    EXPECT_EQ(DeviationColor(0.1), rgb(0, 255, 0));
}

TEST(SpectrumTrace, NoPlotAreaRecordsColumnsButPaintsNothing) {
    Walk w(1000, 10.0, 0, 10000, false);
    w.in.draw = false;
    w.in.areaBottom = 0;
    EXPECT_GT(w.draw(), 0);
    EXPECT_TRUE(w.c.calls().empty());
}

TEST(PeakLabels, ClosePeaksStackTheirFrequencies) {
    RecordingCanvas c(1134, 800);
    PeakLabelInputs in;
    in.notes = true;
    in.freqs = true;
    in.xlog = false;
    in.fMin = 0;
    in.fMax = 563;  // one pixel per hertz
    in.plotHeight = 388;
    in.color = rgb(9, 9, 9);
    const PeakLabel labels[] = {{100, "Sol", 50.7}, {120, "Si", 80}, {300, "Re", 90}};
    DrawPeakLabels(c, labels, 3, in);
    const auto texts = c.callsOf(DrawCall::Kind::Text);
    ASSERT_EQ(texts.size(), 6u);
    EXPECT_EQ(texts[0].text, "Sol");
    EXPECT_EQ(texts[0].to, (Point{106, 50}));
    EXPECT_EQ(texts[1].text, "100");
    EXPECT_EQ(texts[1].to, (Point{103, 348}));
    EXPECT_EQ(texts[2].to, (Point{126, 80}));  // the note sits on its own peak
    EXPECT_EQ(texts[3].text, "120");
    EXPECT_EQ(texts[3].to, (Point{103, 360}));  // 20 pixels away: same column, 12 below
    EXPECT_EQ(texts[5].text, "300");
    EXPECT_EQ(texts[5].to, (Point{303, 348}));
    EXPECT_EQ(texts[5].font.color, rgb(9, 9, 9));
    EXPECT_EQ(texts[5].brush.style, BrushStyle::Clear);
}

// Frequencies read to 0.1 Hz in at most six characters, as the marker
// readouts do, and no label covers or touches another: a label takes the
// width of its text plus a 2-pixel gap, and one 12-pixel row (the stacking
// pitch; the ink of the 8-point font fits in it, see the QImage canvas test).
TEST(PeakLabels, FrequenciesReadLikeTheMarkersAndNeverOverlap) {
    RecordingCanvas c(1134, 800);
    PeakLabelInputs in;
    in.freqs = true;
    in.xlog = false;
    in.fMin = 0;
    in.fMax = 11260;  // 20 Hz per pixel over the 563-pixel span
    in.plotHeight = 388;
    const double peaks[] = {
        260.438990414589,  1000,    1100, 1200, 1300, 1400, 1500, 3000.123, 3700.456, 4400.789,
        8998.796952930122, 11200.37};
    std::vector<PeakLabel> labels;
    for (double f : peaks) labels.push_back({f, "La", 100});
    DrawPeakLabels(c, labels.data(), static_cast<int>(labels.size()), in);

    const auto texts = c.callsOf(DrawCall::Kind::Text);
    std::vector<std::string> got;
    for (const auto& t : texts) got.push_back(t.text);
    const std::vector<std::string> expected = {"260.4", "1000",   "1100",   "1200",   "1300",   "1400",
                                               "1500",  "3000.1", "3700.5", "4400.8", "8998.8", "11200"};
    std::vector<std::string> sorted = got;
    std::sort(sorted.begin(), sorted.end());
    std::vector<std::string> want = expected;
    std::sort(want.begin(), want.end());
    EXPECT_EQ(sorted, want);

    std::vector<Rect> boxes;
    for (const auto& t : texts) {
        c.font = t.font;
        boxes.push_back(Rect{t.to.x, t.to.y, t.to.x + c.textWidth(t.text) + 2, t.to.y + 12});
    }
    for (std::size_t i = 0; i < boxes.size(); ++i) {
        const Rect& a = boxes[i];
        // Whole inside the plot.
        EXPECT_GE(a.left, 0) << got[i];
        EXPECT_LE(a.right - 2, 563 + 4) << got[i];
        EXPECT_GE(a.top, 0) << got[i];
        EXPECT_LE(a.bottom, in.plotHeight) << got[i];
        for (std::size_t j = 0; j < i; ++j) {
            const Rect& b = boxes[j];
            const bool overlap = a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
            EXPECT_FALSE(overlap) << got[i] << " at " << a.left << "," << a.top << " covers " << got[j]
                                  << " at " << b.left << "," << b.top;
        }
    }
    // Six close peaks stack in one column, in order, all above the plot's bottom.
    auto at = [&](const char* t) {
        return texts[static_cast<std::size_t>(std::find(got.begin(), got.end(), t) - got.begin())].to;
    };
    const char* stack[] = {"1000", "1100", "1200", "1300", "1400", "1500"};
    for (int k = 1; k < 6; ++k) {
        EXPECT_EQ(at(stack[k]).x, at(stack[0]).x);
        EXPECT_EQ(at(stack[k]).y, at(stack[k - 1]).y + 12) << stack[k];
    }
    // A lone peak keeps its place: its column, 40 pixels above the plot's bottom.
    const auto lone = std::find(got.begin(), got.end(), "8998.8");
    ASSERT_NE(lone, got.end());
    EXPECT_EQ(texts[static_cast<std::size_t>(lone - got.begin())].to,
              (Point{static_cast<int>(563 * 8998.796952930122 / 11260 + 3), 388 - 40}));
}

TEST(TunerBoxes, NeedleColourAndPlace) {
    RecordingCanvas box(142, 15);
    DrawTunerNeedle(box, 142, 15, 9.0, false, rgb(1, 1, 1));
    auto lines = box.callsOf(DrawCall::Kind::Line);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].to, (Point{71, 15}));  // the centre line
    EXPECT_EQ(lines[0].pen.color, colors::Black);
    EXPECT_EQ(lines[1].from, (Point{80, 0}));
    EXPECT_EQ(lines[1].pen.color, kInTune);
    EXPECT_EQ(lines[1].pen.width, 2);
    box.clear();
    DrawTunerNeedle(box, 142, 15, -10.0, true, rgb(1, 1, 1));
    lines = box.callsOf(DrawCall::Kind::Line);
    EXPECT_EQ(lines[1].from, (Point{61, 0}));
    EXPECT_EQ(lines[1].pen.color, kOutOfTune);
}

TEST(TunerBoxes, TraceRunsDownAndRestartsOnANewNoteAndAtTheBottom) {
    RecordingCanvas box(142, 39);
    TunerTrace t;
    DrawTunerTrace(box, 142, 39, t, 1, 5.0, false, rgb(1, 1, 1));
    EXPECT_EQ(box.callsOf(DrawCall::Kind::FillRect).size(), 1u);  // a new note clears the box
    DrawTunerTrace(box, 142, 39, t, 1, 7.0, false, rgb(1, 1, 1));
    auto lines = box.callsOf(DrawCall::Kind::Line);
    EXPECT_EQ(lines.back().from, (Point{76, 0}));
    EXPECT_EQ(lines.back().to, (Point{78, 1}));
    for (int i = 0; i < 39; ++i) DrawTunerTrace(box, 142, 39, t, 1, 0.0, false, rgb(1, 1, 1));
    EXPECT_EQ(box.callsOf(DrawCall::Kind::FillRect).size(), 1u);
    EXPECT_EQ(t.row, 41);  // past the bottom: the next step starts over
    DrawTunerTrace(box, 142, 39, t, 1, 0.0, false, rgb(1, 1, 1));
    EXPECT_EQ(box.callsOf(DrawCall::Kind::FillRect).size(), 2u);
    EXPECT_EQ(t.row, 1);
    // Even with no note ("Off") the trace keeps restarting at the top.
    for (int i = 0; i < 45; ++i) DrawTunerTrace(box, 142, 39, t, 0, 0.0, false, rgb(1, 1, 1));
    EXPECT_LE(t.row, 41);
}

}  // namespace
}  // namespace miral::display
