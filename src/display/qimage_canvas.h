// SPDX-License-Identifier: GPL-3.0-or-later
// A canvas that paints into a QImage (Format_RGB32): the screen buffer, the
// knob images and the tuner boxes.
//
// Lines, rectangles, ellipses, flood fill and copies are rasterised here,
// straight into the image's pixels (no antialiasing; classic canvas rules:
// a line does not paint its end point, rectangles are half-open). Texts are
// copied from pre-rendered glyph masks (display/qimage_glyphs.h; they need a
// QGuiApplication, without one texts take up room but show nothing). No
// QPainter is held on the image, so pixel reads and copies always see
// everything drawn so far, and no drawing call allocates.
//
// Pens wider than 1 pixel stamp a square (2 and 3 pixels) or a disc (4 and
// more) along the line; a dotted pen paints 2 pixels, skips 2.
//
// Every call costs in proportion to what it paints inside the clip: a line
// is walked only over the steps whose stamp can reach the clip (found in
// closed form, painting exactly the pixels the whole line would), and
// coordinates anywhere in the int range are safe (64-bit arithmetic).
#pragma once

#include <QImage>
#include <algorithm>

#include "display/canvas.h"

namespace miral::display {

class FontAtlas;

class QImageCanvas final : public Canvas {
  public:
    QImageCanvas(int width, int height, Color fill = colors::White);

    int width() const override { return width_; }
    int height() const override { return height_; }

    void lineTo(int x, int y) override;
    void polyline(const Point* points, int count) override;
    void fillRect(const Rect& r) override;
    void ellipse(const Rect& r) override;
    void textOut(int x, int y, std::string_view text) override;
    int textWidth(std::string_view text) override;
    int textHeight(std::string_view text) override;
    void floodFill(int x, int y, Color fill) override;
    Color pixel(int x, int y) const override;
    void copyRect(const Rect& dest, const Canvas& source, const Rect& src) override;
    void prepareFont(const Font& f) override;
    bool swapPicture(Canvas& other) override;
    bool samePicture(const Canvas& other, const Rect& area) const override;
    void fillRectAndInsets(const Rect& area, Color insetColor, const Rect* insets, int count) override;

    // The picture, for showing and saving. A copy of it shares the pixels
    // until the next drawing call here, which then gives this canvas its own.
    const QImage& image() const { return image_; }

  private:
    static std::uint32_t argb(Color c) {
        return 0xFF000000u | (static_cast<std::uint32_t>(red(c)) << 16) |
               (static_cast<std::uint32_t>(green(c)) << 8) | static_cast<std::uint32_t>(blue(c));
    }
    // Pixels ready for writing (detached from any copy of image()).
    std::uint32_t* pixels();
    std::uint32_t* row(std::uint32_t* base, int y) const {
        return base + static_cast<std::ptrdiff_t>(y) * stride_;
    }
    const std::uint32_t* constRow(int y) const;
    void fillSpan(std::uint32_t* base, const Rect& clip, int y, int x0, int x1, std::uint32_t c);
    void fillClipped(Rect r, std::uint32_t c);
    void stamp(std::uint32_t* base, const Rect& clip, int x, int y, std::uint32_t c);
    // Line from a to b without b; dotPhase carries the dot pattern along a run.
    void segment(Point a, Point b, unsigned& dotPhase);
    // The pen's width as painted: 1 .. kMaxPenWidth.
    int penWidth() const { return std::clamp(pen.width, 1, kMaxPenWidth); }
    static constexpr int kMaxPenWidth = 64;
    const FontAtlas& atlas();

    // A digest of the picture inside an area: four lanes, each fed the
    // area's pixels (two to a 64-bit word, in turn) through h = (h ^ w) * odd.
    // Every step is a bijection of h, so pictures that differ in one word of
    // a lane never share that lane's value; any other difference goes unseen
    // only if all four 64-bit lanes meet by chance. Kept until the next
    // drawing call on this canvas.
    struct Digest {
        bool valid = false;
        Rect area;
        std::array<std::uint64_t, 4> lanes{};
    };
    const Digest& digestOf(const Rect& area) const;
    mutable Digest digest_;

    QImage image_;
    int width_;
    int height_;
    std::ptrdiff_t stride_ = 0;  // pixels per row
    std::uint32_t* bits_ = nullptr;
    const FontAtlas* atlas_ = nullptr;
    Font atlasFont_;
};

}  // namespace miral::display
