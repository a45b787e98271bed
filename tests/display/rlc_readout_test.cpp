// SPDX-License-Identifier: GPL-3.0-or-later
// The RLC meter's readout texts and their places on the screen, and the phase
// curve of the device views against the grids it is read on.
#include "display/rlc_readout.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "display/phase_curve.h"
#include "display/recording_canvas.h"
#include "display/screen.h"

namespace miral::display {
namespace {

RlcFigures Figures(double ohms, double phaseDeg, double frequency) {
    const double t = phaseDeg * 3.1415926539 / 180;
    return RlcFigures{phaseDeg, ohms, std::cos(t), std::fabs(std::sin(t)), std::fabs(std::tan(t)), frequency};
}

TEST(RlcTexts, ResistorReadsItsDigitsAndUnit) {
    EXPECT_EQ(ResistiveText(Figures(100, 0, 1020), 1, 0).str(), "100 Ohm");  // 6 characters for a leading 1
    EXPECT_EQ(ResistiveText(Figures(100, 0, 1020), 1, 50).str(), "99.95 Ohm");  // less 50 mOhm of probe
    EXPECT_EQ(ResistiveText(Figures(4700, 0, 1020), 1, 0).str(), "4.7 KOhm");
    EXPECT_EQ(ResistiveText(Figures(0.02, 0, 1020), 1, 20).str(), "0 Ohm");
    EXPECT_EQ(ResistiveText(Figures(123456, 0, 1020), -1, 0).str(),
              "123. KOhm");  // fewer characters far from the shunt
}

TEST(RlcTexts, CapacitorInductorQualityAndImpedance) {
    // 100 ohms at -89.43 degrees, 1 kHz: 1.59 uF with 1 ohm in series, Q 100
    // (each text cut to its characters, a trailing point included).
    const RlcFigures c = Figures(100, -std::atan(100.0) * 180 / 3.1415926539, 1000);
    RlcTexts t = ReactiveTexts(c, true, 1, 0, 0);
    EXPECT_EQ(t.main.str(), "1.5914 uF.  ");
    EXPECT_EQ(t.series.str(), "999.9 mOhm  ");
    EXPECT_EQ(t.quality.str(), "Q=100. @1000 Hz.  ");  // the first four characters of 100.0000..
    EXPECT_EQ(t.impedance.str(), "Z=100   @1000 Hz.  ");
    // The probe's capacitance is taken off; what is left below 0.1 pF reads 0.
    t = ReactiveTexts(Figures(1e6, -90, 1000), true, 1, 159.15, 0);
    EXPECT_EQ(t.main.str(), "0 pF. ");
    EXPECT_EQ(t.series.str(), " ");
    EXPECT_EQ(t.quality.str(), " ");
    EXPECT_EQ(t.impedance.str(), "Z=1 M  @1000 Hz.  ");
    t = ReactiveTexts(Figures(1e6, -90, 1000), true, 1, 159, 0);
    EXPECT_EQ(t.main.str(), "0.1549 pF.  ");
    // Inductors: 31.4 ohms at 1 kHz and 90 degrees is 5 mH; below 0.1 uH reads 0.
    t = ReactiveTexts(Figures(31.4, 88, 1000), false, 1, 0, 0);
    EXPECT_EQ(t.main.str(), "4.994 mH.  ");
    EXPECT_EQ(t.quality.str(), "Q=28.6 @1000 Hz.  ");
    t = ReactiveTexts(Figures(0.0005, 90, 1000), false, 1, 0, 0);
    EXPECT_EQ(t.main.str(), "0 nH. ");
    EXPECT_EQ(t.series.str(), " ");
}

// A value that comes out as no number reads "---", and so does what is
// derived from it; the texts that can be read keep their form.
TEST(RlcTexts, ValuesThatAreNoNumbersReadAsDashes) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    RlcTexts t = ReactiveTexts(Figures(0, -90, 1000), true, 1, 0, 0);  // |Z| 0: C would be infinite
    EXPECT_EQ(t.main.str(), "---");
    EXPECT_EQ(t.series.str(), "---");
    EXPECT_EQ(t.quality.str(), "---");
    EXPECT_EQ(t.impedance.str(), "Z=0   @1000 Hz.  ");
    t = ReactiveTexts(Figures(nan, 30, 1000), false, 1, 0, 0);
    for (const NumText* x : {&t.main, &t.series, &t.quality, &t.impedance}) EXPECT_EQ(x->str(), "---");
    t = ReactiveTexts(Figures(100, -60, 1000), true, 1, 0, std::numeric_limits<double>::infinity());
    EXPECT_EQ(t.main.str(), "1.3783 uF.  ");
    EXPECT_EQ(t.series.str(), "---");  // an infinite probe resistance
    EXPECT_EQ(t.quality.str(), "Q=1.73 @1000 Hz.  ");
    EXPECT_EQ(ResistiveText(Figures(nan, 0, 1000), 1, 0).str(), "---");
    t = NoReadingTexts();
    for (const NumText* x : {&t.main, &t.series, &t.quality, &t.impedance}) EXPECT_EQ(x->str(), "---");
}

std::vector<DrawCall> Texts(const RecordingCanvas& c) {
    return c.callsOf(DrawCall::Kind::Text);
}

TEST(RlcDrawing, LargeWhileTheMeterHasTheScreenSmallBesideMarkerOne) {
    RecordingCanvas c(1134, 800);
    RlcDrawInputs in;
    in.meterActive = true;
    in.row = 0;
    in.phase = -60;
    in.labels = rgb(1, 1, 1);
    in.mark1Trace = rgb(2, 2, 2);
    DrawRlcReadout(c, in, "E11", "E12", "E13", "E15");
    auto t = Texts(c);
    ASSERT_EQ(t.size(), 3u);
    EXPECT_EQ(t[0].text, "E11");
    EXPECT_EQ(t[0].to, (Point{8, 12}));
    EXPECT_EQ(t[0].font.size, 36);
    EXPECT_EQ(t[0].font.color, rgb(1, 1, 1));
    EXPECT_EQ(t[0].brush.style, BrushStyle::Clear);
    EXPECT_EQ(t[1].text, "E12");
    EXPECT_EQ(t[1].to, (Point{8, 68}));
    EXPECT_EQ(t[1].font.size, 18);
    EXPECT_EQ(t[2].text, "E13");
    EXPECT_EQ(t[2].to, (Point{8, 90}));
    EXPECT_EQ(c.font.size, 8);

    // A nearly pure reactance shows |Z| instead; an overloaded input colours the main line.
    c.clear();
    in.phase = -85;
    in.overload = true;
    DrawRlcReadout(c, in, "E11", "E12", "E13", "E15");
    t = Texts(c);
    ASSERT_EQ(t.size(), 2u);
    EXPECT_EQ(t[0].font.color, rgb(2, 2, 2));
    EXPECT_EQ(t[1].text, "E15");
    EXPECT_EQ(t[1].to, (Point{8, 68}));
    c.clear();
    in.resistive = true;
    DrawRlcReadout(c, in, "E11", "E12", "E13", "E15");
    t = Texts(c);
    ASSERT_EQ(t.size(), 1u);
    EXPECT_EQ(t[0].text, "E12");
    EXPECT_EQ(t[0].font.size, 36);

    // Beside marker 1: one line of size 10 two rows above its row.
    in = RlcDrawInputs{};
    in.row = 150;
    in.phase = -45;
    c.clear();
    DrawRlcReadout(c, in, "1 uF.  ", "2 Ohm  ", "Q=1 @10 Hz.  ", "Z=3  @10 Hz.  ");
    t = Texts(c);
    ASSERT_EQ(t.size(), 1u);
    EXPECT_EQ(t[0].text, "1 uF.  2 Ohm  Q=1 @10 Hz.  ");
    EXPECT_EQ(t[0].to, (Point{8, 148}));
    EXPECT_EQ(t[0].font.size, 10);
    c.clear();
    in.phase = 89;
    DrawRlcReadout(c, in, "1 mH.  ", "2 Ohm  ", "Q=1 @10 Hz.  ", "Z=3  @10 Hz.  ");
    EXPECT_EQ(Texts(c)[0].text, "1 mH.  Z=3  @10 Hz.  ");
}

// Rows of the labelled lines of the lower area's phase grid.
std::vector<std::pair<std::string, int>> PhaseGridRows(ScreenView view) {
    ScreenInputs in;
    in.view = view;
    in.ylog = true;
    in.transferPhaseOffset = -180;  // unfolded: 180 at the top
    RecordingCanvas c(1134, 800);
    const ScreenGeometry g = ComputeScreenGeometry(in);
    DrawGrids(c, in, g, designedColors());
    std::vector<std::pair<std::string, int>> rows;
    for (const DrawCall& t : c.callsOf(DrawCall::Kind::Text))
        if (t.font.size == 7) rows.emplace_back(t.text, t.to.y + 10);  // labels sit 10 rows above their line
    return rows;
}

TEST(PhaseCurve, ImpedancePhaseLiesOnItsGrid) {
    ScreenInputs in;
    in.view = ScreenView::Impedance;
    const ScreenGeometry g = ComputeScreenGeometry(in);
    const PhaseScale s = ImpedancePhaseScale(g.upperBottom, g.lowerTop);
    const auto rows = PhaseGridRows(ScreenView::Impedance);
    ASSERT_EQ(rows.size(), 19u);
    for (const auto& [label, y] : rows) EXPECT_NEAR(s.row(std::stod(label)), y, 1.0) << label;
}

TEST(PhaseCurve, TransferPhaseSpansItsGrid) {
    ScreenInputs in;
    in.view = ScreenView::Transfer;
    const ScreenGeometry g = ComputeScreenGeometry(in);
    // +180 eight rows below the middle, 360 degrees over 0.475 of the plot.
    PhaseScale s = TransferPhaseScale(g.plotHeight, -180);
    EXPECT_DOUBLE_EQ(s.row(180), g.plotHeight / 2 + 8);
    EXPECT_NEAR(s.row(-180) - s.row(180), 0.475 * g.plotHeight, 1e-9);
    for (const auto& [label, y] : PhaseGridRows(ScreenView::Transfer))
        EXPECT_NEAR(s.row(std::stod(label)), y, 3.0) << label;
    // Folded (offset 0): 0 at the top, -360 at the bottom.
    s = TransferPhaseScale(g.plotHeight, 0);
    EXPECT_DOUBLE_EQ(s.row(0), g.plotHeight / 2 + 8);
}

}  // namespace
}  // namespace miral::display
