// SPDX-License-Identifier: GPL-3.0-or-later
// The notice over a screen without input, as the user sees it on the
// QImage canvas, and its layout through the recording canvas.
#include <gtest/gtest.h>

#include <string>

#include "display/qimage_canvas.h"
#include "display/recording_canvas.h"
#include "display/screen.h"

namespace miral::display {
namespace {

ScreenGeometry Plot(int width, int height) {
    ScreenGeometry g;
    g.plotWidth = width;
    g.plotHeight = height;
    return g;
}

TEST(Banner, ADarkBoxWithAmberTextInTheMiddleOfThePlot) {
    const Color back = rgb(0, 0, 64);
    QImageCanvas c(567, 400, back);
    DrawBanner(c, Plot(567, 400), "No input: the sound server stopped answering - retrying");
    // The box's inside at the centre, the frame around it, the page untouched.
    EXPECT_EQ(c.pixel(567 / 2, 400 / 2 - 12), kBannerBack);
    int amberInside = 0, boxLeft = -1, boxRight = -1;
    for (int x = 0; x < 567; ++x) {
        if (c.pixel(x, 200) == back) continue;
        if (boxLeft < 0) boxLeft = x;
        boxRight = x;
    }
    for (int y = 0; y < 400; ++y)
        for (int x = 0; x < 567; ++x) amberInside += c.pixel(x, y) == kBannerText;
    ASSERT_GE(boxLeft, 0);
    // Centred within a pixel, inside the plot.
    EXPECT_NEAR(boxLeft + boxRight, 566, 2);
    EXPECT_GT(boxLeft, 0);
    EXPECT_GT(amberInside, 400);  // the frame and the letters
    EXPECT_EQ(c.pixel(2, 2), back);
    EXPECT_EQ(c.pixel(566, 399), back);
}

TEST(Banner, ATextTooWideGoesOnTwoLinesCutAtASpaceAndStaysOnThePlot) {
    RecordingCanvas c(400, 300);
    const std::string text =
        "No input: no PulseAudio or PipeWire server answers (Connection refused) and more words - retrying";
    DrawBanner(c, Plot(400, 300), text);
    const auto texts = c.callsOf(DrawCall::Kind::Text);
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[0].text + " " + texts[1].text, text);
    EXPECT_EQ(texts[0].font.size, 9);
    for (const auto& t : texts) {
        EXPECT_GE(t.to.x, 0);
        EXPECT_LE(t.to.x + c.textWidth(t.text), 400) << t.text;
        EXPECT_EQ(t.font.color, kBannerText);
    }
    EXPECT_GT(texts[1].to.y, texts[0].to.y);

    RecordingCanvas small(567, 400);
    DrawBanner(small, Plot(567, 400), "No input: the stream stalled - retrying");
    const auto one = small.callsOf(DrawCall::Kind::Text);
    ASSERT_EQ(one.size(), 1u);
    EXPECT_EQ(one[0].font.size, 11);

    RecordingCanvas none(567, 400);
    DrawBanner(none, Plot(567, 400), "");
    EXPECT_TRUE(none.calls().empty());
}

}  // namespace
}  // namespace miral::display
