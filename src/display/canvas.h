// SPDX-License-Identifier: GPL-3.0-or-later
// The drawing surface every part of the instrument paints on: the screen
// buffer, the knob images, the tuner boxes. It follows the classic canvas
// model: a pen, a brush and a font that keep their last settings between
// calls, and a current pen position for move/line drawing.
//
// Implementations: QImageCanvas (display/qimage_canvas.h, Qt Gui) paints into
// a QImage; RecordingCanvas (display/recording_canvas.h) records every call
// for tests.
#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace miral::display {

// Colours are stored as 0x00BBGGRR (the layout of the stored colour schemes).
using Color = std::uint32_t;

constexpr Color rgb(int r, int g, int b) {
    return static_cast<Color>((r & 0xFF) | ((g & 0xFF) << 8) | ((b & 0xFF) << 16));
}
constexpr int red(Color c) {
    return static_cast<int>(c & 0xFF);
}
constexpr int green(Color c) {
    return static_cast<int>((c >> 8) & 0xFF);
}
constexpr int blue(Color c) {
    return static_cast<int>((c >> 16) & 0xFF);
}
// "#RRGGBB"-style literal to the stored layout.
constexpr Color fromHex(std::uint32_t rrggbb) {
    return rgb(static_cast<int>((rrggbb >> 16) & 0xFF), static_cast<int>((rrggbb >> 8) & 0xFF),
               static_cast<int>(rrggbb & 0xFF));
}

// What pixel() returns for a point outside the canvas (no valid colour has
// bits in the top byte).
constexpr Color NoColor = 0xFFFFFFFFu;

namespace colors {
constexpr Color Black = rgb(0, 0, 0);
constexpr Color White = rgb(255, 255, 255);
constexpr Color Red = rgb(255, 0, 0);
constexpr Color Green = rgb(0, 255, 0);
constexpr Color Yellow = rgb(255, 255, 0);
}  // namespace colors

enum class PenStyle { Solid, Dot, Clear };
enum class BrushStyle { Solid, Clear };

struct Point {
    int x = 0;
    int y = 0;
    friend bool operator==(const Point&, const Point&) = default;
};

// Rectangles are half-open: right and bottom are outside.
struct Rect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    int width() const { return right - left; }
    int height() const { return bottom - top; }
    friend bool operator==(const Rect&, const Rect&) = default;
};

struct Pen {
    Color color = colors::Black;
    int width = 1;
    PenStyle style = PenStyle::Solid;
};

struct Brush {
    Color color = colors::White;
    BrushStyle style = BrushStyle::Solid;
};

struct Font {
    std::string name = "Arial";
    int size = 8;  // points
    Color color = colors::Black;
    bool bold = false;
};

// Every point size that the screen's texts use (all in the plain "Arial"):
// the screen's canvas prepares them before the first cycle draws.
inline constexpr int kScreenFontSizes[] = {5, 7, 8, 9, 10, 11, 18, 36};

// A pixel coordinate from a real one, truncated toward zero. Values beyond
// +-kFarOff (a trace blown up far past the screen) are pinned there and NaN
// reads as -kFarOff, so the conversion never overflows and a line between two
// such points can still be clipped exactly in 64-bit arithmetic.
inline constexpr int kFarOff = 1000000000;
constexpr int ToPixel(double v) {
    if (!(v > -kFarOff)) return -kFarOff;
    if (!(v < kFarOff)) return kFarOff;
    return static_cast<int>(v);
}

class Canvas {
  public:
    virtual ~Canvas() = default;

    virtual int width() const = 0;
    virtual int height() const = 0;

    // State that persists between calls.
    Pen pen;
    Brush brush;
    Font font;
    Point penPos;

    // Move the pen without drawing.
    void moveTo(int x, int y) { penPos = {x, y}; }
    // Line from the pen position to (x, y) with the pen; the end point is not
    // painted, and the pen moves there.
    virtual void lineTo(int x, int y) = 0;
    // A run of lines from the pen position through the points (same result as
    // lineTo for each point in turn, in one call).
    virtual void polyline(const Point* points, int count) = 0;
    // Fill a rectangle with the brush (no outline).
    virtual void fillRect(const Rect& r) = 0;
    // Ellipse inside the bounding box: outline with the pen, inside with the brush.
    virtual void ellipse(const Rect& r) = 0;
    // Write text with its top-left corner at (x, y) in the font; with a solid
    // brush the text cell is painted with the brush colour first.
    virtual void textOut(int x, int y, std::string_view text) = 0;
    virtual int textWidth(std::string_view text) = 0;
    virtual int textHeight(std::string_view text) = 0;
    // Replace the connected area of the colour found at (x, y) by fill.
    virtual void floodFill(int x, int y, Color fill) = 0;
    virtual Color pixel(int x, int y) const = 0;
    // Copy a rectangle of another canvas onto the same-size rectangle here.
    virtual void copyRect(const Rect& dest, const Canvas& source, const Rect& src) = 0;
    // Fills area with the brush, then each of the count insets with the
    // brush in insetColor, exactly as those fillRect calls in that order do
    // (a canvas may write each pixel once instead); the brush's colour is
    // insetColor afterwards.
    virtual void fillRectAndInsets(const Rect& area, Color insetColor, const Rect* insets, int count) {
        fillRect(area);
        brush.color = insetColor;
        for (int i = 0; i < count; ++i) fillRect(insets[i]);
    }
    // Exchanges the whole picture with another canvas's, at no cost, where
    // both are of a kind that can and of the same size; otherwise false, and
    // nothing changes. Pens, brushes, fonts and clips stay with each canvas.
    virtual bool swapPicture(Canvas&) { return false; }
    // True when the other canvas shows, inside `area`, exactly the pixels
    // this one holds there (false when that cannot be told cheaply).
    virtual bool samePicture(const Canvas&, const Rect&) const { return false; }
    // Makes whatever the canvas needs to write in this font (e.g. rendered
    // glyphs) now, so that drawing texts later costs no set-up.
    virtual void prepareFont(const Font&) {}

    // Drawing (lines, fills, texts, flood fill, copies onto this canvas) is
    // limited to the clip rectangle: the whole canvas until one is set. A
    // buffer made larger than the screen is clipped to the screen's size so
    // that clearing and presenting touch only the active area.
    virtual void setClipRect(const Rect& r) { clip_ = r; }
    virtual void resetClip() { clip_.reset(); }
    // The clip rectangle, always inside the canvas.
    Rect clipRect() const {
        const Rect all{0, 0, width(), height()};
        if (!clip_) return all;
        Rect c{std::max(clip_->left, 0), std::max(clip_->top, 0), std::min(clip_->right, all.right),
               std::min(clip_->bottom, all.bottom)};
        if (c.right < c.left) c.right = c.left;
        if (c.bottom < c.top) c.bottom = c.top;
        return c;
    }

  protected:
    std::optional<Rect> clip_;
};

}  // namespace miral::display
