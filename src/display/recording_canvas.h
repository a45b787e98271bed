// SPDX-License-Identifier: GPL-3.0-or-later
// A canvas that paints nothing and records every drawing call together with
// the pen, brush and font in force at that moment. Tests check the geometry
// of knobs, grids and traces through it; it has no toolkit dependency.
#pragma once

#include <string>
#include <vector>

#include "display/canvas.h"

namespace miral::display {

struct DrawCall {
    enum class Kind { Line, Polyline, FillRect, Ellipse, Text, FloodFill, CopyRect, Clip };

    Kind kind = Kind::Line;
    // Line: from the pen position to `to`. Polyline: `from` is the pen
    // position and `points` the vertices. Text and FloodFill: `to` is the
    // point given.
    Point from;
    Point to;
    std::vector<Point> points;
    // FillRect, Ellipse, Clip: the rectangle; CopyRect: the destination
    // (`source` holds the source rectangle).
    Rect rect;
    Rect source;
    std::string text;
    Color fill = colors::Black;  // FloodFill
    Pen pen;
    Brush brush;
    Font font;
};

class RecordingCanvas final : public Canvas {
  public:
    RecordingCanvas(int width, int height) : width_(width), height_(height) {}

    int width() const override { return width_; }
    int height() const override { return height_; }

    void lineTo(int x, int y) override;
    void polyline(const Point* points, int count) override;
    void fillRect(const Rect& r) override;
    void ellipse(const Rect& r) override;
    void textOut(int x, int y, std::string_view text) override;
    // 6 pixels per character at size 8, scaled with the size (rounded).
    int textWidth(std::string_view text) override;
    // The font's pixel size on a 96-dpi screen plus 3 (8 points: 14).
    int textHeight(std::string_view text) override;
    void floodFill(int x, int y, Color fill) override;
    // Always `background` (NoColor outside the canvas).
    Color pixel(int x, int y) const override;
    void copyRect(const Rect& dest, const Canvas& source, const Rect& src) override;
    void setClipRect(const Rect& r) override;
    void resetClip() override;

    // What pixel() reports.
    Color background = colors::White;

    const std::vector<DrawCall>& calls() const { return calls_; }
    // The calls of one kind, in order.
    std::vector<DrawCall> callsOf(DrawCall::Kind kind) const;
    // Every Line call plus every segment of every Polyline, as Line calls.
    std::vector<DrawCall> segments() const;
    void clear() { calls_.clear(); }

  private:
    DrawCall record(DrawCall::Kind kind) const;

    int width_;
    int height_;
    std::vector<DrawCall> calls_;
};

}  // namespace miral::display
