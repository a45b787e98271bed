// SPDX-License-Identifier: GPL-3.0-or-later
// The distortion analyzer's box: what a user reads in each state.
#include "display/distortion_panel.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "display/recording_canvas.h"

namespace miral::display {
namespace {

std::string Texts(const RecordingCanvas& c) {
    std::string s;
    for (const auto& call : c.callsOf(DrawCall::Kind::Text)) s += call.text + "|";
    return s;
}

analysis::DistFigures Measured() {
    analysis::DistFigures f;
    f.status = analysis::DistStatus::Ok;
    f.averaged = 3;
    f.bandLowHz = 20.1;
    f.bandHighHz = 19795.4;
    f.f0 = 997.5062;
    f.levelVolts = 0.6229;
    f.levelDbfs = -0.0004;
    f.thd = 1.05e-4;
    f.thdDb = -79.58;
    f.thdN = 1.06e-4;
    f.thdNDb = -79.57;
    f.sinadDb = 79.57;
    f.snrDb = 104.4;
    f.enob = 12.92;
    f.harmonicDbc.fill(NAN);
    f.harmonicDbc[2] = -80;
    f.harmonicDbc[3] = -90;
    f.harmonicAboveNoise[2] = f.harmonicAboveNoise[3] = true;
    return f;
}

TEST(DistortionPanel, AMeasurementReadsAsATableAndBars) {
    RecordingCanvas c{164, 600};
    const analysis::DistFigures a = Measured();
    DistortionPanelInputs in;
    in.a = &a;
    in.averages = 10;
    DrawDistortionPanel(c, 164, 600, in);
    const std::string t = Texts(c);
    for (const char* s : {"|997.506 Hz|", "0.6229 V  0.00 dBFS|", "0.0105 % -79.6 dB|", "79.6 dB|",
                          "104.4 dB|", "12.92 bits|", "Band 20 - 19795 Hz|", "Average 3 of 10|"})
        EXPECT_NE(t.find(s), std::string::npos) << s << " in " << t;
    // Two bars (H2 and H3), H2 the taller; no channel B block.
    const auto bars = c.callsOf(DrawCall::Kind::FillRect);
    ASSERT_EQ(bars.size(), 3u);  // the background, then the bars
    EXPECT_LT(bars[1].rect.top, bars[2].rect.top);
    EXPECT_EQ(bars[1].rect.bottom, bars[2].rect.bottom);
    EXPECT_EQ(t.find("|B|"), std::string::npos);
}

TEST(DistortionPanel, StatesWithoutFiguresSaySo) {
    analysis::DistFigures low;
    low.status = analysis::DistStatus::BelowGuard;
    low.guardHz = 33.6;
    analysis::DistFigures none;
    none.status = analysis::DistStatus::NoSignal;
    RecordingCanvas c{164, 600};
    DistortionPanelInputs in;
    in.a = &low;
    in.b = &none;
    DrawDistortionPanel(c, 164, 600, in);
    const std::string t = Texts(c);
    EXPECT_NE(t.find("f0 below 33.6 Hz:|use more FFT points (+)|"), std::string::npos) << t;
    EXPECT_NE(t.find("B|no tone above the noise|"), std::string::npos) << t;
    EXPECT_EQ(t.find("THD"), std::string::npos) << t;
    RecordingCanvas time{164, 600};
    in.timeView = true;
    DrawDistortionPanel(time, 164, 600, in);
    EXPECT_NE(Texts(time).find("Measures in the frequency views"), std::string::npos);
}

TEST(DistortionPanel, FrequencyWithSixDigits) {
    char buf[32];
    EXPECT_STREQ(SixDigits(1000, buf, sizeof buf), "1000.00");
    EXPECT_STREQ(SixDigits(19000.73, buf, sizeof buf), "19000.7");
    EXPECT_STREQ(SixDigits(20.5, buf, sizeof buf), "20.5000");
    EXPECT_STREQ(SixDigits(438.90274, buf, sizeof buf), "438.903");
}

}  // namespace
}  // namespace miral::display
