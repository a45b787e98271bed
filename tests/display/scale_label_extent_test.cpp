// SPDX-License-Identifier: GPL-3.0-or-later
// Every scale label of every view lies whole on the screen, measured with
// the real screen font: the cell its text takes (advance widths, line
// height) and the ink the glyphs leave.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "display/qimage_canvas.h"
#include "display/screen.h"

namespace miral::display {
namespace {

struct Label {
    std::string text;
    Font font;
    Point at;
    Rect cell;
};

// Measures texts with the real font (a QImage canvas's) and keeps them; it
// draws nothing else.
class FontMeasure final : public Canvas {
  public:
    FontMeasure(int w, int h) : w_(w), h_(h) {}
    int width() const override { return w_; }
    int height() const override { return h_; }
    void lineTo(int x, int y) override { moveTo(x, y); }
    void polyline(const Point* points, int count) override {
        if (count > 0) penPos = points[count - 1];
    }
    void fillRect(const Rect&) override {}
    void ellipse(const Rect&) override {}
    void textOut(int x, int y, std::string_view text) override {
        labels.push_back(
            {std::string(text), font, {x, y}, Rect{x, y, x + textWidth(text), y + textHeight(text)}});
    }
    int textWidth(std::string_view text) override {
        real_.font = font;
        return real_.textWidth(text);
    }
    int textHeight(std::string_view text) override {
        real_.font = font;
        return real_.textHeight(text);
    }
    void floodFill(int, int, Color) override {}
    Color pixel(int, int) const override { return NoColor; }
    void copyRect(const Rect&, const Canvas&, const Rect&) override {}

    std::vector<Label> labels;

  private:
    int w_, h_;
    QImageCanvas real_{1, 1};
};

// The ink of a text drawn at the origin: its bounding box relative to the
// text's top-left corner.
Rect measureInk(const Label& l) {
    constexpr int pad = 40;
    QImageCanvas c(l.cell.width() + 2 * pad, l.cell.height() + 2 * pad, colors::Black);
    c.font = l.font;
    c.font.color = colors::White;
    c.brush.style = BrushStyle::Clear;
    c.textOut(pad, pad, l.text);
    Rect ink{INT_MAX, INT_MAX, INT_MIN, INT_MIN};
    for (int y = 0; y < c.height(); ++y)
        for (int x = 0; x < c.width(); ++x)
            if (c.pixel(x, y) == colors::White) {
                ink.left = std::min(ink.left, x - pad);
                ink.top = std::min(ink.top, y - pad);
                ink.right = std::max(ink.right, x - pad + 1);
                ink.bottom = std::max(ink.bottom, y - pad + 1);
            }
    return ink;
}

// The same, remembered per text and font size.
Rect inkOf(const Label& l) {
    static std::map<std::pair<std::string, int>, Rect> known;
    const auto key = std::make_pair(l.text, l.font.size);
    auto it = known.find(key);
    if (it == known.end()) it = known.emplace(key, measureInk(l)).first;
    return it->second;
}

const ColorSlots kColors = designedColors();

// Draws a whole frame's grids and label line and checks every text.
void expectWhole(const ScreenInputs& in, const std::string& what) {
    FontMeasure m(1134, 800);
    const ScreenGeometry g = ComputeScreenGeometry(in);
    BeginFrame(m, in, g, kColors);
    DrawGrids(m, in, g, kColors);
    DrawScaleLabels(m, in, g, kColors);
    ASSERT_FALSE(m.labels.empty()) << what;
    for (const Label& l : m.labels) {
        const Rect& c = l.cell;
        EXPECT_TRUE(c.left >= 0 && c.top >= 0 && c.right <= in.paintWidth && c.bottom <= in.paintHeight)
            << what << ": \"" << l.text << "\" takes " << c.left << "," << c.top << " .. " << c.right << ","
            << c.bottom;
        const Rect ink = inkOf(l);
        if (ink.left > ink.right) continue;  // no ink (a space)
        EXPECT_TRUE(l.at.x + ink.left >= 0 && l.at.y + ink.top >= 0 && l.at.x + ink.right <= in.paintWidth &&
                    l.at.y + ink.bottom <= in.paintHeight)
            << what << ": ink of \"" << l.text << "\" at " << l.at.x << "," << l.at.y;
        // The impedance scale's labels right of the plot keep clear of the
        // plot's grid and of the screen's edge.
        if (in.view == ScreenView::Impedance && g.rightMargin > 0 && l.at.x >= g.plotWidth - 4) {
            EXPECT_GE(l.at.x + ink.left, g.plotWidth - 3)
                << what << ": \"" << l.text << "\" touches the plot";
            EXPECT_LE(l.at.x + ink.right, in.paintWidth - 1)
                << what << ": \"" << l.text << "\" touches the edge";
        }
    }
}

TEST(ScaleLabelExtent, EveryLabelOfEveryViewIsWholeOnTheScreen) {
    for (const auto& [w, h] : {std::pair{567, 400}, std::pair{1002, 706}}) {
        const std::string size = std::to_string(w) + "x" + std::to_string(h);
        auto base = [&] {
            ScreenInputs in;
            in.paintWidth = w;
            in.paintHeight = h;
            in.minFreqText = "10";
            in.maxFreqText = "22050";
            return in;
        };
        // Time view: the pretrigger mark anywhere, the label line with the
        // widest magnification texts.
        for (int pre : {0, 256, 512}) {
            ScreenInputs in = base();
            in.view = ScreenView::Time;
            in.pretriggerSamples = pre;
            in.x10A = in.x10B = true;
            in.magScale = INT_MIN;
            in.range1 = in.range2 = 6;
            in.mainselect = 1;
            expectWhole(in, size + " time view, pretrigger " + std::to_string(pre));
        }
        // Spectrum: both X axes, the three Y grids, every range, split or not.
        const struct {
            bool xlog;
            double fMin, fMax;
        } bands[] = {
            {true, 10, 22050}, {true, 20, 20000}, {false, 0, 20000}, {false, 10, 22050}, {false, 5, 1005}};
        for (const auto& b : bands)
            for (int grid = 0; grid < 3; ++grid)
                for (int range = 0; range < 8; ++range)
                    for (bool split : {false, true}) {
                        ScreenInputs in = base();
                        in.view = ScreenView::Spectrum;
                        in.xlog = b.xlog;
                        in.fMin = b.fMin;
                        in.fMax = b.fMax;
                        in.ylog = grid != 2;
                        in.dbGrid = grid == 0;
                        in.range1 = in.range2 = range;
                        in.splitFft = split;
                        expectWhole(in, size + " spectrum " + std::to_string(b.fMin) + ".." +
                                            std::to_string(b.fMax) + " grid " + std::to_string(grid) +
                                            " range " + std::to_string(range) + (split ? " split" : ""));
                    }
        // Transfer function: the phase scale from any offset.
        for (double offset : {-180.0, -90.0, 0.0, 180.0})
            for (bool ylog : {true, false}) {
                ScreenInputs in = base();
                in.view = ScreenView::Transfer;
                in.ylog = ylog;
                in.transferPhaseOffset = offset;
                in.range2 = 7;
                expectWhole(in, size + " transfer, offset " + std::to_string(offset));
            }
        // Impedance: ohms on a logarithmic or linear scale, every range.
        for (bool ylog : {true, false})
            for (int range = 0; range < 8; ++range)
                for (int pos : {-100, 0, 100}) {
                    ScreenInputs in = base();
                    in.view = ScreenView::Impedance;
                    in.ylog = ylog;
                    in.range2 = range;
                    in.pos2 = pos;
                    expectWhole(in, size + " impedance range " + std::to_string(range) + " pos " +
                                        std::to_string(pos) + (ylog ? " log" : " linear"));
                }
    }
}

}  // namespace
}  // namespace miral::display
