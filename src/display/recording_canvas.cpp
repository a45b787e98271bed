// SPDX-License-Identifier: GPL-3.0-or-later
#include "display/recording_canvas.h"

namespace miral::display {

DrawCall RecordingCanvas::record(DrawCall::Kind kind) const {
    DrawCall c;
    c.kind = kind;
    c.pen = pen;
    c.brush = brush;
    c.font = font;
    c.from = penPos;
    return c;
}

void RecordingCanvas::lineTo(int x, int y) {
    DrawCall c = record(DrawCall::Kind::Line);
    c.to = {x, y};
    calls_.push_back(std::move(c));
    penPos = {x, y};
}

void RecordingCanvas::polyline(const Point* points, int count) {
    if (count <= 0) return;
    DrawCall c = record(DrawCall::Kind::Polyline);
    c.points.assign(points, points + count);
    c.to = points[count - 1];
    calls_.push_back(std::move(c));
    penPos = points[count - 1];
}

void RecordingCanvas::fillRect(const Rect& r) {
    DrawCall c = record(DrawCall::Kind::FillRect);
    c.rect = r;
    calls_.push_back(std::move(c));
}

void RecordingCanvas::ellipse(const Rect& r) {
    DrawCall c = record(DrawCall::Kind::Ellipse);
    c.rect = r;
    calls_.push_back(std::move(c));
}

void RecordingCanvas::textOut(int x, int y, std::string_view text) {
    DrawCall c = record(DrawCall::Kind::Text);
    c.to = {x, y};
    c.text = std::string(text);
    calls_.push_back(std::move(c));
}

int RecordingCanvas::textWidth(std::string_view text) {
    const int n = static_cast<int>(text.size());
    return (n * 6 * font.size + 4) / 8;
}

int RecordingCanvas::textHeight(std::string_view) {
    return (font.size * 96 + 36) / 72 + 3;
}

void RecordingCanvas::floodFill(int x, int y, Color fill) {
    DrawCall c = record(DrawCall::Kind::FloodFill);
    c.to = {x, y};
    c.fill = fill;
    calls_.push_back(std::move(c));
}

Color RecordingCanvas::pixel(int x, int y) const {
    if (x < 0 || y < 0 || x >= width_ || y >= height_) return NoColor;
    return background;
}

void RecordingCanvas::copyRect(const Rect& dest, const Canvas&, const Rect& src) {
    DrawCall c = record(DrawCall::Kind::CopyRect);
    c.rect = dest;
    c.source = src;
    calls_.push_back(std::move(c));
}

void RecordingCanvas::setClipRect(const Rect& r) {
    Canvas::setClipRect(r);
    DrawCall c = record(DrawCall::Kind::Clip);
    c.rect = r;
    calls_.push_back(std::move(c));
}

void RecordingCanvas::resetClip() {
    Canvas::resetClip();
    DrawCall c = record(DrawCall::Kind::Clip);
    c.rect = {0, 0, width_, height_};
    calls_.push_back(std::move(c));
}

std::vector<DrawCall> RecordingCanvas::callsOf(DrawCall::Kind kind) const {
    std::vector<DrawCall> out;
    for (const DrawCall& c : calls_)
        if (c.kind == kind) out.push_back(c);
    return out;
}

std::vector<DrawCall> RecordingCanvas::segments() const {
    std::vector<DrawCall> out;
    for (const DrawCall& c : calls_) {
        if (c.kind == DrawCall::Kind::Line) {
            out.push_back(c);
        } else if (c.kind == DrawCall::Kind::Polyline) {
            Point from = c.from;
            for (const Point& p : c.points) {
                DrawCall s = c;
                s.kind = DrawCall::Kind::Line;
                s.points.clear();
                s.from = from;
                s.to = p;
                out.push_back(std::move(s));
                from = p;
            }
        }
    }
    return out;
}

}  // namespace miral::display
