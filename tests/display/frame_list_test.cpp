// SPDX-License-Identifier: GPL-3.0-or-later
#include "display/frame_list.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "display/qimage_canvas.h"

namespace miral::display {
namespace {

constexpr int kW = 96;
constexpr int kH = 72;

// Passes every call on to a QImageCanvas and counts those that paint.
class CountingCanvas final : public Canvas {
  public:
    explicit CountingCanvas(Color back) : inner(kW, kH, back) {}
    QImageCanvas inner;
    int paints = 0;

    int width() const override { return inner.width(); }
    int height() const override { return inner.height(); }
    void lineTo(int x, int y) override { sync().lineTo(x, y), ++paints; }
    void polyline(const Point* p, int n) override { sync().polyline(p, n), ++paints; }
    void fillRect(const Rect& r) override { sync().fillRect(r), ++paints; }
    void fillRectAndInsets(const Rect& a, Color c, const Rect* in, int n) override {
        sync().fillRectAndInsets(a, c, in, n), ++paints;
        brush.color = c;
    }
    void ellipse(const Rect& r) override { sync().ellipse(r), ++paints; }
    void textOut(int x, int y, std::string_view t) override { sync().textOut(x, y, t), ++paints; }
    int textWidth(std::string_view t) override { return sync().textWidth(t); }
    int textHeight(std::string_view t) override { return sync().textHeight(t); }
    void floodFill(int x, int y, Color c) override { sync().floodFill(x, y, c), ++paints; }
    Color pixel(int x, int y) const override { return inner.pixel(x, y); }
    void copyRect(const Rect& d, const Canvas& s, const Rect& r) override {
        sync().copyRect(d, s, r), ++paints;
    }
    void setClipRect(const Rect& r) override { inner.setClipRect(r), Canvas::setClipRect(r); }
    void resetClip() override { inner.resetClip(), Canvas::resetClip(); }
    bool swapPicture(Canvas& o) override { return inner.swapPicture(o); }
    bool samePicture(const Canvas& o, const Rect& a) const override { return inner.samePicture(o, a); }

  private:
    QImageCanvas& sync() {
        inner.pen = pen;
        inner.brush = brush;
        inner.font = font;
        inner.penPos = penPos;
        return inner;
    }
};

const Color kPalette[] = {rgb(0, 0, 0), rgb(255, 255, 0), rgb(0, 128, 128), rgb(200, 30, 30),
                          rgb(0, 129, 128)};

// One frame as the screen draws it: the clip and an opaque fill of it
// first, then calls drawn from `seed`. The call numbered `nudge` gets one of
// its values moved by one (a colour, a coordinate, a size, a letter).
// True when the frame read pixels or flood-filled.
bool drawFrame(Canvas& c, unsigned seed, int nudge) {
    std::mt19937 rng(seed);
    int call = 0;
    bool reads = false;
    auto pick = [&](int n) {
        int v = static_cast<int>(rng() % static_cast<unsigned>(n));
        return call == nudge ? v + 1 : v;
    };
    auto color = [&] { return kPalette[pick(4)]; };
    const bool small = rng() % 3 == 0;
    const Rect screen = small ? Rect{4, 2, kW - 10, kH - 6} : Rect{0, 0, kW, kH};
    c.setClipRect(screen);
    c.brush = Brush{color(), BrushStyle::Solid};
    const Rect inset[2] = {{6, 6, 40, 30}, {6, 36, 40, 60}};
    c.fillRectAndInsets(c.clipRect(), color(), inset, 1 + static_cast<int>(rng() % 2));
    const int calls = 4 + static_cast<int>(rng() % 14);
    for (call = 0; call < calls; ++call) {
        switch (rng() % 12) {
            case 0:
                c.pen = Pen{color(), 1 + pick(2), pick(3) == 0 ? PenStyle::Dot : PenStyle::Solid};
                break;
            case 1:
                c.brush = Brush{color(), pick(2) == 0 ? BrushStyle::Clear : BrushStyle::Solid};
                break;
            case 2:
                c.font = Font{pick(2) == 0 ? "Arial" : "Arial Black", kScreenFontSizes[pick(7)], color(),
                              pick(2) == 1};
                break;
            case 3:
                c.moveTo(pick(kW + 20) - 10, pick(kH));
                c.lineTo(pick(kW), pick(kH + 20) - 10);
                break;
            case 4: {
                Point pts[6];
                const int n = 1 + static_cast<int>(rng() % 6);
                for (int i = 0; i < n; ++i) pts[i] = {pick(kW), pick(kH)};
                c.polyline(pts, n);
                break;
            }
            case 5:
                // Sometimes a box with a clip of its own, filled whole.
                c.fillRect(rng() % 3 == 0 ? c.clipRect() : Rect{pick(kW), pick(kH), pick(kW), pick(kH)});
                break;
            case 6:
                c.ellipse(Rect{pick(kW / 2), pick(kH / 2), kW / 2 + pick(kW / 2), kH / 2 + pick(kH / 2)});
                break;
            case 7: {
                std::string text = "dB" + std::to_string(pick(1000));
                const int x = pick(kW / 2);
                c.textOut(x, pick(kH), text);
                // A measured text placed after another, as the scale labels are.
                c.textOut(x + c.textWidth(text), pick(kH) - c.textHeight(text) / 2, "Hz");
                break;
            }
            case 8:
                c.setClipRect(Rect{pick(20), pick(20), kW - pick(20), kH - pick(20)});
                break;
            case 9:
                if (rng() % 4 == 0) (void)c.pixel(pick(kW), pick(kH)), reads = true;
                break;
            case 10:
                if (rng() % 4 == 0) c.floodFill(pick(kW), pick(kH), color()), reads = true;
                break;
            default:
                c.lineTo(pick(kW), pick(kH));
                break;
        }
    }
    c.setClipRect(screen);
    return reads;
}

// Shows a frame as the processing cycle does: nothing when the screen shows
// it already, else the pictures change places. Returns the area shown.
Rect present(Canvas& buffer, Canvas& screen) {
    const Rect area = buffer.clipRect();
    if (!buffer.samePicture(screen, area)) {
        EXPECT_TRUE(buffer.swapPicture(screen));
    }
    return area;
}

TEST(FrameList, ShowsWhatTheCallsPaintAndPaintsNothingForAFrameAlreadyShown) {
    QImageCanvas directBuffer(kW, kH, kPalette[0]), directScreen(kW, kH, kPalette[0]);
    CountingCanvas behind(kPalette[0]);
    QImageCanvas listScreen(kW, kH, kPalette[0]);
    FrameList list(behind, 4096);

    std::mt19937 rng(7);
    unsigned seed = 1, lastSeed = 0;
    int nudge = -1, lastNudge = -2;
    std::string lastStart;
    bool lastReads = true;
    int repeats = 0, repeatsPainted = 0;
    for (int frame = 0; frame < 3000; ++frame) {
        // Half the frames repeat the last one, some with one value nudged.
        const unsigned r = rng() % 6;
        if (r >= 3) seed = rng();
        nudge = r == 2 ? static_cast<int>(rng() % 12) : -1;
        drawFrame(directBuffer, seed, nudge);
        const Rect area = present(directBuffer, directScreen);
        // The frame's calls depend on the pen, brush, font, pen position and
        // clip that the frame before left.
        const std::string start = std::to_string(list.pen.color) + "," + std::to_string(list.pen.width) +
                                  "," + std::to_string(static_cast<int>(list.pen.style)) + "," +
                                  std::to_string(list.brush.color) +
                                  std::to_string(static_cast<int>(list.brush.style)) + list.font.name +
                                  std::to_string(list.font.size) + "," + std::to_string(list.font.color) +
                                  std::to_string(list.font.bold) + "," + std::to_string(list.penPos.x) + "," +
                                  std::to_string(list.penPos.y);
        const int paintsBefore = behind.paints;
        const bool reads = drawFrame(list, seed, nudge);
        present(list, listScreen);
        for (int y = area.top; y < area.bottom; ++y)
            for (int x = area.left; x < area.right; ++x)
                ASSERT_EQ(listScreen.pixel(x, y), directScreen.pixel(x, y))
                    << "frame " << frame << " seed " << seed << " nudge " << nudge << " at " << x << "," << y;
        // The same calls from the same state as the frame shown paint
        // nothing, unless they read pixels or flood-fill.
        if (seed == lastSeed && nudge == lastNudge && start == lastStart && !reads && !lastReads) {
            ++repeats;
            repeatsPainted += behind.paints != paintsBefore;
        }
        lastSeed = seed, lastNudge = nudge, lastStart = start, lastReads = reads;
    }
    EXPECT_GT(repeats, 100);
    EXPECT_EQ(repeatsPainted, 0);
}

}  // namespace
}  // namespace miral::display
