// SPDX-License-Identifier: GPL-3.0-or-later
#include "display/screen.h"

#include <gtest/gtest.h>

#include <QImage>
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "display/qimage_canvas.h"
#include "display/recording_canvas.h"

namespace miral::display {
namespace {

using Kind = DrawCall::Kind;

// Every slot a colour of its own, so that a line's slot can be told from its pen.
ColorSlots distinctColors() {
    ColorSlots c;
    for (int i = 1; i <= kSlotCount; ++i)
        c.color[static_cast<std::size_t>(i)] = rgb(10 * i, 255 - 10 * i, 7 * i);
    return c;
}

const ColorSlots kColors = distinctColors();

ScreenInputs timeView() {
    ScreenInputs in;
    in.view = ScreenView::Time;
    return in;
}

ScreenInputs spectrum(bool xlog, bool ylog, double fMin, double fMax) {
    ScreenInputs in;
    in.view = ScreenView::Spectrum;
    in.xlog = xlog;
    in.ylog = ylog;
    in.splitFft = false;
    in.fMin = fMin;
    in.fMax = fMax;
    return in;
}

struct Drawn {
    explicit Drawn(const ScreenInputs& in) : canvas(1134, 800), geometry(ComputeScreenGeometry(in)) {
        BeginFrame(canvas, in, geometry, kColors);
        centre = DrawGrids(canvas, in, geometry, kColors);
    }
    std::vector<DrawCall> lines(Slot slot) const {
        std::vector<DrawCall> out;
        for (const DrawCall& d : canvas.segments())
            if (d.pen.color == kColors[slot]) out.push_back(d);
        return out;
    }
    std::vector<DrawCall> texts() const { return canvas.callsOf(Kind::Text); }

    RecordingCanvas canvas;
    ScreenGeometry geometry;
    std::optional<double> centre;
};

bool vertical(const DrawCall& d) {
    return d.from.x == d.to.x;
}
bool horizontal(const DrawCall& d) {
    return d.from.y == d.to.y;
}

TEST(ScreenGeometry, TimeViewUsesTheWholePaintBox) {
    ScreenInputs in = timeView();
    const ScreenGeometry g = ComputeScreenGeometry(in);
    EXPECT_EQ(g.rightMargin, 0);
    EXPECT_EQ(g.bottomMargin, 0);
    EXPECT_EQ(g.plotWidth, 567);
    EXPECT_EQ(g.plotHeight, 400);
    EXPECT_EQ(g.plotSpan, 563);
    EXPECT_EQ(g.upperBottom, 400);
    EXPECT_FALSE(g.hasLowerArea());
    EXPECT_DOUBLE_EQ(g.rowUnit, 400.0 / 1016);
    EXPECT_DOUBLE_EQ(g.columnUnit, 563.0 / 512);
    EXPECT_DOUBLE_EQ(g.scaleA, 12 / 9.2);
    // Time view ignores the Y axis buttons but honours x10.
    in.ylog = true;
    in.x10B = true;
    in.range2 = 7;
    EXPECT_DOUBLE_EQ(ComputeScreenGeometry(in).scaleB, 0.06 / 9.2 * 10);
}

TEST(ScreenGeometry, PositionKnobsSetTheZeroRows) {
    ScreenInputs in = timeView();
    in.pos1 = 100;
    in.pos2 = -100;
    ScreenGeometry g = ComputeScreenGeometry(in);
    EXPECT_EQ(g.zeroRowA, 0);
    EXPECT_EQ(g.zeroRowB, 400);
    in.pos1 = 0;
    in.pos2 = -33;  // 400/2 + trunc(13200 / 200)
    g = ComputeScreenGeometry(in);
    EXPECT_EQ(g.zeroRowA, 200);
    EXPECT_EQ(g.zeroRowB, 266);

    // Split spectrum: the upper area is 188 high; each division truncates toward zero.
    ScreenInputs s = spectrum(true, true, 10, 20000);
    s.splitFft = true;
    s.pos1 = 33;
    s.pos2 = -33;
    g = ComputeScreenGeometry(s);
    EXPECT_EQ(g.upperBottom, 188);
    EXPECT_EQ(g.zeroRowA, 94 - 31);
    EXPECT_EQ(g.zeroRowB, 94 + 31);
}

TEST(ScreenGeometry, FrequencyViewsReserveMarginsAndSplit) {
    ScreenInputs in = spectrum(true, true, 10, 20000);
    ScreenGeometry g = ComputeScreenGeometry(in);
    EXPECT_EQ(g.rightMargin, 18);
    EXPECT_EQ(g.bottomMargin, 12);
    EXPECT_EQ(g.plotWidth, 549);
    EXPECT_EQ(g.plotHeight, 388);
    EXPECT_FALSE(g.hasLowerArea());
    // Logarithmic Y: the log table, without x10.
    in.range2 = 7;
    in.x10B = true;
    EXPECT_DOUBLE_EQ(ComputeScreenGeometry(in).scaleB, 0.2 / 9.2);
    in.ylog = false;
    g = ComputeScreenGeometry(in);
    EXPECT_EQ(g.rightMargin, 0);
    EXPECT_DOUBLE_EQ(g.scaleB, 0.06 / 9.2 * 10);

    // "Split FFT" splits unless only channel A is shown.
    in.splitFft = true;
    g = ComputeScreenGeometry(in);
    EXPECT_EQ(g.upperBottom, 188);
    EXPECT_EQ(g.lowerTop, 200);
    EXPECT_EQ(g.lowerBottom, 388);
    in.mode = ChannelMode::A;
    EXPECT_FALSE(ComputeScreenGeometry(in).hasLowerArea());

    ScreenInputs x = spectrum(true, true, 10, 20000);
    x.view = ScreenView::Transfer;
    x.splitXfr = false;
    x.splitFft = true;
    EXPECT_FALSE(ComputeScreenGeometry(x).hasLowerArea());
    x.splitXfr = true;
    EXPECT_TRUE(ComputeScreenGeometry(x).hasLowerArea());

    ScreenInputs z = spectrum(true, false, 10, 20000);
    z.view = ScreenView::Impedance;
    z.splitFft = z.splitXfr = false;
    g = ComputeScreenGeometry(z);
    EXPECT_TRUE(g.hasLowerArea());
    EXPECT_EQ(g.rightMargin, 28);  // zeta reserves the (wider) label strip even with linear Y

    z.rlcReadout = true;
    g = ComputeScreenGeometry(z);
    EXPECT_EQ(g.upperBottom, 0);
    EXPECT_EQ(g.lowerTop, 0);
    EXPECT_EQ(g.lowerBottom, 0);
}

TEST(ScreenFrame, BeginFrameClipsClearsAndLaysOutTheAreas) {
    ScreenInputs in = spectrum(true, true, 10, 20000);
    in.splitFft = true;
    const ScreenGeometry g = ComputeScreenGeometry(in);
    RecordingCanvas c(1134, 800);
    BeginFrame(c, in, g, kColors);
    EXPECT_EQ(c.clipRect(), (Rect{0, 0, 567, 400}));
    const auto fills = c.callsOf(Kind::FillRect);
    ASSERT_EQ(fills.size(), 3u);
    EXPECT_EQ(fills[0].rect, (Rect{0, 0, 567, 400}));
    EXPECT_EQ(fills[0].brush.color, kColors[Slot::Background]);
    EXPECT_EQ(fills[1].rect, (Rect{3, 3, 544, 183}));
    EXPECT_EQ(fills[1].brush.color, kColors[Slot::Canvas]);
    EXPECT_EQ(fills[2].rect, (Rect{3, 203, 544, 383}));
    EXPECT_EQ(c.font.color, kColors[Slot::Labels]);
    EXPECT_EQ(c.brush.color, kColors[Slot::Background]);
}

TEST(ScreenGrid, TimeViewHasElevenLinesEightDivisionsAndTicks) {
    Drawn d(timeView());
    EXPECT_FALSE(d.centre);
    const auto grid = d.lines(Slot::TGrid);
    std::vector<int> lineXs;
    int verticalTicks = 0;
    std::vector<int> rows;
    int horizontalTicks = 0;
    for (const DrawCall& s : grid) {
        if (vertical(s) && s.from.y == 2 && s.to.y == 396)
            lineXs.push_back(s.from.x);
        else if (vertical(s) && s.from.y == 198 && s.to.y == 192)
            ++verticalTicks;
        else if (horizontal(s) && s.from.x == 2 && s.to.x == 563)
            rows.push_back(s.from.y);
        else if (horizontal(s) && s.from.x == 281 && s.to.x == 275)
            ++horizontalTicks;
        else
            ADD_FAILURE() << "unexpected grid segment " << s.from.x << "," << s.from.y;
    }
    EXPECT_EQ(lineXs, (std::vector<int>{0, 56, 112, 168, 225, 281, 337, 394, 450, 506, 563}));
    EXPECT_EQ(verticalTicks, 49);
    // 8 divisions of 49.25 rows from row 2.
    EXPECT_EQ(rows, (std::vector<int>{2, 51, 100, 149, 199, 248, 297, 346, 396}));
    EXPECT_EQ(horizontalTicks, 41);  // every 9.85 rows while above row 400
    // The frame in "F Grid0".
    const auto frame = d.lines(Slot::FGrid0);
    ASSERT_EQ(frame.size(), 4u);
    EXPECT_EQ(frame[0].from, (Point{2, 2}));
    EXPECT_EQ(frame[1].from, (Point{563, 2}));
    EXPECT_EQ(frame[2].from, (Point{563, 396}));
    EXPECT_EQ(frame[3].to, (Point{2, 2}));
}

// Vertical frequency lines: x and whether long (labelled).
struct FLine {
    int x;
    bool labelled;
};

std::vector<FLine> frequencyLines(const Drawn& d) {
    std::vector<FLine> out;
    for (const DrawCall& s : d.lines(Slot::FGrid))
        if (vertical(s) && s.from.y == 2) out.push_back({s.from.x, s.to.y == d.geometry.plotHeight + 8});
    return out;
}

std::vector<std::string> bottomLabels(const Drawn& d) {
    std::vector<std::string> out;
    for (const DrawCall& t : d.texts())
        if (t.to.y == d.geometry.plotHeight - 1) out.push_back(t.text);
    return out;
}

TEST(ScreenGrid, LinearBandGetsLinesEvery1000AndLabelsEvery2000) {
    Drawn d(spectrum(false, false, 0, 20000));
    ASSERT_TRUE(d.centre);
    EXPECT_DOUBLE_EQ(*d.centre, 10000);
    const auto lines = frequencyLines(d);
    ASSERT_EQ(lines.size(), 20u);  // 0 .. 19000; 20000 falls on the right frame
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const int f = static_cast<int>(i) * 1000;
        EXPECT_EQ(lines[i].x, static_cast<int>(563.0 * f / 20000 + 3)) << f;
        EXPECT_EQ(lines[i].labelled, f % 2000 == 0) << f;
    }
    EXPECT_EQ(bottomLabels(d), (std::vector<std::string>{"0", "2000", "4000", "6000", "8000", "10000",
                                                         "12000", "14000", "16000", "18000"}));
    // Labels start two pixels right of their line, in the bottom margin, in "Labels".
    const auto texts = d.texts();
    ASSERT_FALSE(texts.empty());
    EXPECT_EQ(texts[1].to, (Point{static_cast<int>(563.0 * 2000 / 20000 + 3) + 2, 387}));
    EXPECT_EQ(texts[1].font.color, kColors[Slot::Labels]);
    EXPECT_EQ(texts[1].font.size, 8);
    EXPECT_EQ(texts[1].brush.style, BrushStyle::Clear);
}

TEST(ScreenGrid, NarrowLinearBandLabelsEveryTenHertz) {
    Drawn d(spectrum(false, false, 20, 80));
    EXPECT_EQ(bottomLabels(d), (std::vector<std::string>{"20", "30", "40", "50", "60", "70"}));
    for (const FLine& l : frequencyLines(d)) EXPECT_TRUE(l.labelled);
}

TEST(ScreenGrid, DecadeLogBandLabels) {
    Drawn wide(spectrum(true, false, 20, 20000));
    EXPECT_EQ(bottomLabels(wide), (std::vector<std::string>{"100", "1000", "10000"}));
    // 20..90, 100..900, 1000..9000 and 10000; each at its logarithmic column.
    const auto lines = frequencyLines(wide);
    ASSERT_EQ(lines.size(), 27u);
    EXPECT_EQ(lines.front().x, 3);
    EXPECT_EQ(lines.back().x, static_cast<int>(563 * std::log(10000.0 / 20) / std::log(1000.0) + 3));

    Drawn decade(spectrum(true, false, 100, 1000));
    EXPECT_EQ(bottomLabels(decade),
              (std::vector<std::string>{"100", "200", "300", "400", "500", "600", "700", "800", "900"}));
}

TEST(ScreenGrid, NoteGridDrawsSemitonesWithoutLabels) {
    ScreenInputs in = spectrum(true, false, 220, 880);
    in.freqGrid = false;
    in.noteGrid = true;
    Drawn d(in);
    // Semitones from 220 (column 3, drawn) up to below 880 (on the right frame).
    EXPECT_EQ(frequencyLines(d).size(), 24u);
    EXPECT_TRUE(bottomLabels(d).empty());
}

// Labels at the right margin with their line's row and pen colour.
struct RLabel {
    std::string text;
    int y;
    Color pen;
};

// A labelled line runs into the right margin and its label follows it. The
// label stands 12 rows above the line (a phase label in the 7-point font 10)
// at x = PlotWidth - 1, moved left just enough to end at the screen's right
// edge when it would not fit there, and down to row 0 when it would start
// above the screen.
std::vector<RLabel> rightLabels(const Drawn& d) {
    std::vector<RLabel> out;
    const auto& calls = d.canvas.calls();
    RecordingCanvas measure(1, 1);
    for (std::size_t i = 1; i < calls.size(); ++i) {
        const DrawCall& t = calls[i];
        const DrawCall& line = calls[i - 1];
        if (t.kind != Kind::Text || line.kind != Kind::Line || !horizontal(line) ||
            line.to.x != d.geometry.plotWidth + 8)
            continue;
        measure.font = t.font;
        const int w = measure.textWidth(t.text);
        const int rise = t.font.size == 7 ? 10 : 12;
        EXPECT_EQ(t.to.x, std::min(d.geometry.plotWidth - 1, 567 - w)) << t.text;
        EXPECT_EQ(t.to.y, std::max(0, line.from.y - rise)) << t.text;
        out.push_back({t.text, line.from.y, line.pen.color});
    }
    return out;
}

TEST(ScreenGrid, DecibelLinesAtRange7Are20dBApart) {
    ScreenInputs in = spectrum(true, true, 20, 20000);
    in.range2 = 7;
    Drawn d(in);
    const auto labels = rightLabels(d);
    std::vector<std::string> texts;
    for (const RLabel& l : labels) texts.push_back(l.text);
    EXPECT_EQ(texts, (std::vector<std::string>{"100", "80", "60", "40", "20", "0dB", "-20", "-40", "-60",
                                               "-80", "-100"}));
    const double perDb = 388.0 / 1016 * (0.2 / 9.2) * 230;
    for (const RLabel& l : labels) {
        const int dB = l.text == "0dB" ? 0 : std::stoi(l.text);
        EXPECT_EQ(l.y, static_cast<int>(194 - dB * perDb)) << l.text;
        EXPECT_EQ(l.pen, dB == 0 ? kColors[Slot::FGrid0] : kColors[Slot::FGrid]) << l.text;
    }
}

TEST(ScreenGrid, AmplitudeLinesLabelDecadesInDecibels) {
    ScreenInputs in = spectrum(true, true, 20, 20000);
    in.range2 = 7;
    in.dbGrid = false;
    Drawn d(in);
    std::vector<std::string> texts;
    for (const RLabel& l : rightLabels(d)) {
        texts.push_back(l.text);
        EXPECT_EQ(l.pen, l.text == "0dB" ? kColors[Slot::FGrid0] : kColors[Slot::FGrid]) << l.text;
    }
    EXPECT_EQ(texts,
              (std::vector<std::string>{"100", "80", "60", "40", "20", "0dB", "-20", "-40", "-60", "-80"}));
    // Unlabelled lines between the decades (2..9 x 10^k), short ones.
    int shortLines = 0;
    for (const DrawCall& s : d.lines(Slot::FGrid))
        if (horizontal(s) && s.from.x == 2 && s.to.x == d.geometry.plotWidth - 4) ++shortLines;
    EXPECT_GT(shortLines, 60);
}

TEST(ScreenGrid, ImpedanceLinesAreLabelledInOhms) {
    ScreenInputs in = spectrum(true, true, 20, 20000);
    in.view = ScreenView::Impedance;
    in.range2 = 7;
    Drawn d(in);
    std::vector<std::string> texts;
    Color unityPen = NoColor;
    for (const RLabel& l : rightLabels(d)) {
        if (l.y >= d.geometry.upperBottom) continue;  // the phase area's labels
        texts.push_back(l.text);
        if (l.text == "1") unityPen = l.pen;
    }
    EXPECT_EQ(texts, (std::vector<std::string>{"10K", "1K", "100", "10", "1", "100m", "10m", "1m", "100u"}));
    EXPECT_EQ(unityPen, kColors[Slot::FGrid0]);
}

TEST(ScreenGrid, LinearImpedanceLinesFromTheAreaBottom) {
    ScreenInputs in = spectrum(true, false, 20, 20000);
    in.view = ScreenView::Impedance;
    in.range2 = 7;  // every 100
    Drawn d(in);
    std::vector<std::string> texts;
    for (const RLabel& l : rightLabels(d)) {
        if (l.y > d.geometry.upperBottom) break;  // the lower (phase) area follows
        texts.push_back(l.text);
    }
    // y = 188 - V x 188/1016 x 0.06/9.2 x 230: V = 700 reaches row 2.
    EXPECT_EQ(texts, (std::vector<std::string>{"600", "500", "400", "300", "200", "100", "0"}));
}

TEST(ScreenGrid, ImpedancePhaseAreaRunsFrom90ToMinus90) {
    ScreenInputs in = spectrum(true, true, 20, 20000);
    in.view = ScreenView::Impedance;
    Drawn d(in);
    std::vector<std::string> texts;
    for (const RLabel& l : rightLabels(d))
        if (l.y > d.geometry.lowerTop) {
            texts.push_back(l.text);
            EXPECT_EQ(l.pen, l.text == "0" ? kColors[Slot::FGrid0] : kColors[Slot::FGrid]);
        }
    ASSERT_EQ(texts.size(), 19u);
    EXPECT_EQ(texts.front(), "90");
    EXPECT_EQ(texts[9], "0");
    EXPECT_EQ(texts.back(), "-90");
    for (const DrawCall& t : d.texts()) {
        if (t.to.y + 10 > d.geometry.lowerTop && t.to.x == d.geometry.plotWidth - 1) {
            EXPECT_EQ(t.font.size, 7);
        }
    }
    EXPECT_EQ(d.canvas.font.size, 8);
}

TEST(ScreenGrid, TransferPhaseAreaStartsAtTheOffset) {
    ScreenInputs in = spectrum(true, true, 20, 20000);
    in.view = ScreenView::Transfer;
    in.transferPhaseOffset = -180;
    Drawn d(in);
    std::vector<std::string> texts;
    for (const RLabel& l : rightLabels(d))
        if (l.y > d.geometry.lowerTop) texts.push_back(l.text);
    EXPECT_EQ(texts, (std::vector<std::string>{"180", "150", "120", "90", "60", "30", "0", "-30", "-60",
                                               "-90", "-120", "-150", "-180"}));
    // Linear Y: plain phase lines, no labels.
    in.ylog = false;
    Drawn plain(in);
    for (const RLabel& l : rightLabels(plain)) EXPECT_LT(l.y, plain.geometry.lowerTop);
}

TEST(ScreenGrid, SplitSpectrumLowerAreaAndGap) {
    ScreenInputs in = spectrum(true, true, 20, 20000);
    in.splitFft = true;
    in.range1 = 7;
    in.range2 = 7;
    Drawn d(in);
    // Channel A's decibel lines in the lower area around LowerTop + ZeroRowA
    // = 294, 0.925 rows per dB, strictly between rows 202 and 388.
    std::vector<std::string> lower;
    for (const RLabel& l : rightLabels(d))
        if (l.y > d.geometry.lowerTop) lower.push_back(l.text);
    EXPECT_EQ(lower,
              (std::vector<std::string>{"80", "60", "40", "20", "0dB", "-20", "-40", "-60", "-80", "-100"}));
    // The two "T Grid" lines bounding the lower area.
    std::vector<int> tRows;
    for (const DrawCall& s : d.lines(Slot::TGrid)) tRows.push_back(s.from.y);
    EXPECT_EQ(tRows, (std::vector<int>{202, 384}));
    // The gap between the areas in "Background", then the brush back to "Canvas".
    const auto fills = d.canvas.callsOf(Kind::FillRect);
    EXPECT_EQ(fills.back().rect, (Rect{2, 185, 546, 202}));
    EXPECT_EQ(fills.back().brush.color, kColors[Slot::Background]);
    EXPECT_EQ(d.canvas.brush.color, kColors[Slot::Canvas]);
}

TEST(ScreenGrid, NothingInRlcReadoutMode) {
    ScreenInputs in = spectrum(true, true, 20, 20000);
    in.view = ScreenView::Impedance;
    in.rlcReadout = true;
    Drawn d(in);
    EXPECT_FALSE(d.centre);
    EXPECT_TRUE(d.canvas.segments().empty());
    // Only the background is filled (the canvas rectangles are empty).
    EXPECT_EQ(d.canvas.callsOf(Kind::FillRect).front().rect, (Rect{0, 0, 567, 400}));
}

TEST(ScreenGrid, SurvivesDegenerateInputs) {
    // A band that is not a number and knob values far outside their ranges
    // (a damaged stored panel) draw something sane and never crash.
    ScreenInputs in = spectrum(true, true, std::nan(""), 1e300);
    in.pos1 = 2147483647;
    in.pos2 = -2147483647;
    in.range2 = -5;
    in.splitFft = true;
    Drawn d(in);
    EXPECT_TRUE(frequencyLines(d).empty());
    EXPECT_LT(d.geometry.zeroRowA, -1000000);
    ScreenInputs lin = spectrum(false, true, 500, 500);  // empty band
    Drawn e(lin);
    EXPECT_TRUE(frequencyLines(e).empty());
}

TEST(ColorSlotTable, CaptionsAndDesignedColours) {
    EXPECT_EQ(slotByCaption("F Grid0"), Slot::FGrid0);
    EXPECT_EQ(slotByCaption("Mark2..4 Trace"), Slot::Mark2to4Trace);
    EXPECT_EQ(slotByCaption("Canvas"), Slot::Canvas);
    EXPECT_FALSE(slotByCaption("Grid"));
    const ColorSlots c = designedColors(rgb(240, 240, 240));
    EXPECT_EQ(c[Slot::Background], rgb(0x34, 0x67, 0x67));
    EXPECT_EQ(c[Slot::Canvas], rgb(0x40, 0x80, 0x80));
    EXPECT_EQ(c[Slot::TTrace2], rgb(0xC5, 0xA0, 0x10));
    EXPECT_EQ(c[Slot::FGrid], rgb(0x44, 0x44, 0x44));
    EXPECT_EQ(c[Slot::FTrace], rgb(240, 240, 240));
    EXPECT_EQ(c[Slot::Marker4], rgb(0, 255, 255));
}

TEST(ScaleLabels, TimeViewTexts) {
    ScreenInputs in = timeView();
    in.range1 = 3;
    in.range2 = 6;
    in.mainselect = 6;
    EXPECT_EQ(ScaleLabelText(in), "A=50mV  B=500mV  T=1mSec  ");
    in.mode = ChannelMode::A;
    EXPECT_EQ(ScaleLabelText(in), "A=50mV  T=1mSec  ");
    in.mode = ChannelMode::B;
    EXPECT_EQ(ScaleLabelText(in), "B=500mV  T=1mSec  ");
    in.mode = ChannelMode::AB;
    in.x10A = true;
    in.mainselect = 0;
    EXPECT_EQ(ScaleLabelText(in), "A=50mV (Mag x10)  B=500mV  T=1Sec  ");
    // Out-of-range knob values read the nearest entry instead of running off the table.
    in.x10A = false;
    in.range1 = 12;
    in.mainselect = -3;
    EXPECT_EQ(ScaleLabelText(in), "A=1V  B=500mV  T=1Sec  ");
}

TEST(ScaleLabels, FrequencyViewTexts) {
    ScreenInputs in = spectrum(true, true, 10, 22050);
    in.minFreqText = "10";
    in.maxFreqText = "22050";
    EXPECT_EQ(ScaleLabelText(in), "Min=10 Hz.  Max=22050 Hz.  0dB=1mV.  ");
    in.ylog = false;
    in.range2 = 4;
    EXPECT_EQ(ScaleLabelText(in), "Min=10 Hz.  Max=22050 Hz.  V=100mVrms/div.");
    in.view = ScreenView::Transfer;
    EXPECT_EQ(ScaleLabelText(in), "Min=10 Hz.  Max=22050 Hz.  Frequency Response Bode Diagram ");
    in.view = ScreenView::Impedance;
    EXPECT_EQ(ScaleLabelText(in), "Min=10 Hz.  Max=22050 Hz.  Vectorial Impedance Diagram ");
    in.rlcReadout = true;
    EXPECT_EQ(ScaleLabelText(in), "Vectorial Impedance Meter ");
    in.calibrating = true;
    in.calibrationStep = 20;
    EXPECT_EQ(ScaleLabelText(in), "Calibration 40%");
    ScreenInputs t = timeView();
    t.calibrating = true;
    t.calibrationStep = 3;
    EXPECT_EQ(ScaleLabelText(t), "Calibration 6%");
}

TEST(ScaleLabels, PretriggerMarkAndLabelLinePlacement) {
    ScreenInputs in = timeView();
    in.pretriggerSamples = 256;  // half of the screen at zoom 1
    const ScreenGeometry g = ComputeScreenGeometry(in);
    RecordingCanvas c(1134, 800);
    c.pen.color = colors::Yellow;
    DrawScaleLabels(c, in, g, kColors);
    const auto marks = c.segments();
    ASSERT_EQ(marks.size(), 1u);
    const int x = static_cast<int>(256 * 563.0 / 512);
    EXPECT_EQ(marks[0].from, (Point{x + 2, 2}));
    EXPECT_EQ(marks[0].to, (Point{x + 2, 10}));
    EXPECT_EQ(marks[0].pen.width, 2);
    const auto texts = c.callsOf(Kind::Text);
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[0].text, "T");
    EXPECT_EQ(texts[0].to, (Point{x + 6, 4}));
    EXPECT_EQ(texts[0].font.size, 9);
    EXPECT_EQ(texts[1].to, (Point{4, 380}));
    EXPECT_EQ(texts[1].font.size, 11);
    EXPECT_EQ(texts[1].font.color, kColors[Slot::Labels]);
    EXPECT_EQ(texts[1].brush.style, BrushStyle::Clear);
    EXPECT_EQ(c.pen.width, 1);

    // No mark outside the time view.
    ScreenInputs f = spectrum(true, true, 10, 20000);
    RecordingCanvas cf(1134, 800);
    DrawScaleLabels(cf, f, ComputeScreenGeometry(f), kColors);
    EXPECT_TRUE(cf.segments().empty());
    EXPECT_EQ(cf.callsOf(Kind::Text).at(0).to, (Point{4, 368}));
}

TEST(ScreenPicture, TimeViewOnARealCanvas) {
    const ColorSlots colors = designedColors();
    ScreenInputs in = timeView();
    in.mainselect = 6;
    in.pretriggerSamples = 100;
    QImageCanvas buffer(1134, 800, rgb(1, 2, 3));
    QImageCanvas screen(567, 400, colors::White);
    const ScreenGeometry g = ComputeScreenGeometry(in);
    BeginFrame(buffer, in, g, colors);
    DrawGrids(buffer, in, g, colors);
    DrawScaleLabels(buffer, in, g, colors);
    PresentScreen(buffer, screen);

    const auto path = std::filesystem::path(::testing::TempDir()) / "miral_time_view.png";
    ASSERT_TRUE(screen.image().save(QString::fromStdString(path.string()), "PNG"));
    QImage png;
    ASSERT_TRUE(png.load(QString::fromStdString(path.string())));
    ASSERT_EQ(png.size(), QSize(567, 400));
    auto at = [&](int x, int y) {
        const QRgb p = png.pixel(x, y);
        return rgb(qRed(p), qGreen(p), qBlue(p));
    };
    EXPECT_EQ(at(30, 30), colors[Slot::Canvas]);
    EXPECT_EQ(at(56, 30), colors[Slot::TGrid]);     // second vertical line
    EXPECT_EQ(at(30, 51), colors[Slot::TGrid]);     // second horizontal line
    EXPECT_EQ(at(1, 1), colors[Slot::Background]);  // outside the frame
    EXPECT_EQ(at(565, 398), colors[Slot::Background]);
    // The label line "A=5mV  B=5mV  T=1mSec  " in "Labels" near the bottom left.
    int labelPixels = 0;
    for (int y = 380; y < 398; ++y)
        for (int x = 4; x < 220; ++x) labelPixels += at(x, y) == colors[Slot::Labels];
    EXPECT_GT(labelPixels, 60);
    // The buffer beyond the active area stayed untouched.
    EXPECT_EQ(buffer.pixel(600, 500), rgb(1, 2, 3));
    EXPECT_EQ(buffer.pixel(567, 10), rgb(1, 2, 3));
}

}  // namespace
}  // namespace miral::display
