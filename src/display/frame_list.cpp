// SPDX-License-Identifier: GPL-3.0-or-later
#include "display/frame_list.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <type_traits>

namespace miral::display {

// Each kept call is its Op byte and its arguments, written field by field
// with no padding, so that two frames drawn with the same calls give the same
// bytes. The pen, brush and font go in as SetPen, SetBrush and SetFont before
// the first call that finds them changed.
enum class FrameList::Op : std::uint8_t {
    SetPen,
    SetBrush,
    SetFont,
    SetClip,
    ResetClip,
    Line,
    Polyline,
    Fill,
    FillInsets,
    Ellipse,
    Text,
};

namespace {

constexpr std::size_t kFontNameMost = 15;
// The most a call's SetPen, SetBrush and SetFont can take.
constexpr std::size_t kStateMost =
    3 + sizeof(Pen) + sizeof(Brush) + sizeof(int) + sizeof(Color) + 2 + kFontNameMost;

template <class T>
T get(const std::byte*& p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    p += sizeof v;
    return v;
}

bool empty(const Rect& r) {
    return r.width() <= 0 || r.height() <= 0;
}

bool holds(const Rect& outer, const Rect& inner) {
    return empty(inner) || (inner.left >= outer.left && inner.top >= outer.top &&
                            inner.right <= outer.right && inner.bottom <= outer.bottom);
}

Rect bounding(const Rect& a, const Rect& b) {
    if (empty(a)) return b;
    if (empty(b)) return a;
    return Rect{std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
                std::max(a.bottom, b.bottom)};
}

}  // namespace

FrameList::FrameList(Canvas& pixels, std::size_t capacityBytes)
    : pixels_(pixels),
      capacity_(std::max<std::size_t>(capacityBytes, 4096)),
      list_(new std::byte[capacity_]),
      shown_(new std::byte[capacity_]),
      scratch_(new Point[capacity_ / sizeof(Point) + 1]) {}

template <class T>
void FrameList::put(const T& v) {
    static_assert(std::has_unique_object_representations_v<T>, "padding would make equal calls differ");
    put(&v, sizeof v);
}

void FrameList::put(const void* bytes, std::size_t n) {
    if (n == 0) return;
    std::memcpy(list_.get() + size_, bytes, n);
    size_ += n;
}

bool FrameList::keep(Op op, std::size_t payload, bool withState) {
    if (!keeping_) return false;
    if (font.name.size() > kFontNameMost || size_ + kStateMost + 1 + payload > capacity_) {
        letThrough();
        return false;
    }
    if (withState) {
        putState();
        unpaintedReach_ = bounding(unpaintedReach_, clipRect());
    }
    put(op);
    return true;
}

void FrameList::putState() {
    if (!stateKept_ || pen.color != keptPen_.color || pen.width != keptPen_.width ||
        pen.style != keptPen_.style) {
        put(Op::SetPen);
        put(pen);
        keptPen_ = pen;
    }
    if (!stateKept_ || brush.color != keptBrush_.color || brush.style != keptBrush_.style) {
        put(Op::SetBrush);
        put(brush);
        keptBrush_ = brush;
    }
    const std::size_t n = font.name.size();
    if (!stateKept_ || font.size != keptFontSize_ || font.color != keptFontColor_ ||
        font.bold != keptFontBold_ || n != keptFontNameLength_ ||
        std::memcmp(font.name.data(), keptFontName_, n) != 0) {
        put(Op::SetFont);
        put(font.size);
        put(font.color);
        put(static_cast<std::uint8_t>(font.bold));
        put(static_cast<std::uint8_t>(n));
        put(font.name.data(), n);
        keptFontSize_ = font.size;
        keptFontColor_ = font.color;
        keptFontBold_ = font.bold;
        std::memcpy(keptFontName_, font.name.data(), n);
        keptFontNameLength_ = n;
    }
    stateKept_ = true;
}

bool FrameList::startsFrame(const Rect& r) const {
    if (brush.style != BrushStyle::Solid) return false;
    const Rect c = clipRect();
    if (!holds(r, c)) return false;
    // A fill inside the frame (a box with a clip of its own) is one more call.
    return !keeping_ || holds(c, unpaintedReach_);
}

void FrameList::restart() {
    size_ = 0;
    painted_ = 0;
    keeping_ = true;
    stateKept_ = false;
    frameClip_ = clipRect();
    unpaintedReach_ = Rect{};
    if (clip_) {
        put(Op::SetClip);
        put(*clip_);
    } else {
        put(Op::ResetClip);
    }
}

void FrameList::letThrough() {
    flush();
    keeping_ = false;
}

void FrameList::syncState() {
    pixels_.pen = pen;
    pixels_.brush = brush;
    if (pixels_.font.size != font.size || pixels_.font.color != font.color ||
        pixels_.font.bold != font.bold || pixels_.font.name != font.name)
        pixels_.font = font;
    pixels_.penPos = penPos;
}

void FrameList::lineTo(int x, int y) {
    if (keep(Op::Line, 2 * sizeof(Point))) {
        put(penPos);
        put(Point{x, y});
    } else {
        syncState();
        pixels_.lineTo(x, y);
    }
    penPos = {x, y};
}

void FrameList::polyline(const Point* points, int count) {
    if (count <= 0) return;
    const std::size_t n = static_cast<std::size_t>(count);
    if (keep(Op::Polyline, sizeof(Point) + sizeof(int) + n * sizeof(Point))) {
        put(penPos);
        put(count);
        put(points, n * sizeof(Point));
    } else {
        syncState();
        pixels_.polyline(points, count);
    }
    penPos = points[n - 1];
}

void FrameList::fillRect(const Rect& r) {
    if (startsFrame(r)) restart();
    if (keep(Op::Fill, sizeof(Rect))) {
        put(r);
    } else {
        syncState();
        pixels_.fillRect(r);
    }
}

void FrameList::fillRectAndInsets(const Rect& area, Color insetColor, const Rect* insets, int count) {
    if (startsFrame(area)) restart();
    const std::size_t n = static_cast<std::size_t>(std::max(count, 0));
    if (keep(Op::FillInsets, sizeof(Rect) + sizeof(Color) + sizeof(int) + n * sizeof(Rect))) {
        put(area);
        put(insetColor);
        put(static_cast<int>(n));
        put(insets, n * sizeof(Rect));
        // What the call leaves in the brush of the canvas that replays it.
        keptBrush_.color = insetColor;
    } else {
        syncState();
        pixels_.fillRectAndInsets(area, insetColor, insets, count);
    }
    brush.color = insetColor;
}

void FrameList::ellipse(const Rect& r) {
    if (keep(Op::Ellipse, sizeof(Rect))) {
        put(r);
    } else {
        syncState();
        pixels_.ellipse(r);
    }
}

void FrameList::textOut(int x, int y, std::string_view text) {
    if (keep(Op::Text, 3 * sizeof(int) + text.size())) {
        put(x);
        put(y);
        put(static_cast<int>(text.size()));
        put(text.data(), text.size());
    } else {
        syncState();
        pixels_.textOut(x, y, text);
    }
}

int FrameList::measured(std::string_view text, int (Canvas::*measure)(std::string_view)) {
    // Measured in this list's font; the canvas behind keeps its own, which
    // the calls not yet painted rely on.
    const Font behind = pixels_.font;
    pixels_.font = font;
    const int v = (pixels_.*measure)(text);
    pixels_.font = behind;
    return v;
}

int FrameList::textWidth(std::string_view text) {
    return measured(text, &Canvas::textWidth);
}

int FrameList::textHeight(std::string_view text) {
    return measured(text, &Canvas::textHeight);
}

void FrameList::floodFill(int x, int y, Color fill) {
    if (keeping_) letThrough();
    syncState();
    pixels_.floodFill(x, y, fill);
}

Color FrameList::pixel(int x, int y) const {
    flush();
    return pixels_.pixel(x, y);
}

void FrameList::copyRect(const Rect& dest, const Canvas& source, const Rect& src) {
    if (keeping_) letThrough();
    syncState();
    pixels_.copyRect(dest, &source == this ? pixels_ : source, src);
}

void FrameList::setClipRect(const Rect& r) {
    clip_ = r;
    if (keep(Op::SetClip, sizeof(Rect), false))
        put(r);
    else
        pixels_.setClipRect(r);
}

void FrameList::resetClip() {
    clip_.reset();
    if (!keep(Op::ResetClip, 0, false)) pixels_.resetClip();
}

void FrameList::markShown(const Canvas& target, const Rect& area) const {
    if (!keeping_) {
        shownOn_ = nullptr;
        return;
    }
    // What the calls drew is on the screen now: a new frame may start over it.
    unpaintedReach_ = Rect{};
    std::memcpy(shown_.get(), list_.get(), size_);
    shownSize_ = size_;
    shownOn_ = &target;
    shownArea_ = area;
}

bool FrameList::swapPicture(Canvas& other) {
    flush();
    if (!pixels_.swapPicture(other)) return false;
    markShown(other, clipRect());
    return true;
}

bool FrameList::samePicture(const Canvas& other, const Rect& area) const {
    if (keeping_ && shownOn_ == &other && shownArea_ == area && holds(frameClip_, area) &&
        shownSize_ == size_ && std::memcmp(shown_.get(), list_.get(), size_) == 0) {
        unpaintedReach_ = Rect{};
        return true;
    }
    flush();
    if (!pixels_.samePicture(other, area)) return false;
    markShown(other, area);
    return true;
}

void FrameList::flush() const {
    const std::byte* p = list_.get() + painted_;
    const std::byte* const end = list_.get() + size_;
    while (p < end) {
        switch (get<Op>(p)) {
            case Op::SetPen:
                pixels_.pen = get<Pen>(p);
                break;
            case Op::SetBrush:
                pixels_.brush = get<Brush>(p);
                break;
            case Op::SetFont: {
                Font& f = pixels_.font;
                f.size = get<int>(p);
                f.color = get<Color>(p);
                f.bold = get<std::uint8_t>(p) != 0;
                const std::size_t n = get<std::uint8_t>(p);
                f.name.assign(reinterpret_cast<const char*>(p), n);
                p += n;
                break;
            }
            case Op::SetClip:
                pixels_.setClipRect(get<Rect>(p));
                break;
            case Op::ResetClip:
                pixels_.resetClip();
                break;
            case Op::Line: {
                pixels_.penPos = get<Point>(p);
                const Point to = get<Point>(p);
                pixels_.lineTo(to.x, to.y);
                break;
            }
            case Op::Polyline: {
                pixels_.penPos = get<Point>(p);
                const int n = get<int>(p);
                const std::size_t bytes = static_cast<std::size_t>(n) * sizeof(Point);
                std::memcpy(scratch_.get(), p, bytes);
                p += bytes;
                pixels_.polyline(scratch_.get(), n);
                break;
            }
            case Op::Fill:
                pixels_.fillRect(get<Rect>(p));
                break;
            case Op::FillInsets: {
                const Rect area = get<Rect>(p);
                const Color insetColor = get<Color>(p);
                const int n = get<int>(p);
                // A frame's background has one or two insets; more are
                // painted as the plain fills they stand for.
                Rect few[8];
                if (static_cast<std::size_t>(n) <= std::size(few)) {
                    std::memcpy(few, p, static_cast<std::size_t>(n) * sizeof(Rect));
                    pixels_.fillRectAndInsets(area, insetColor, few, n);
                } else {
                    pixels_.fillRect(area);
                    pixels_.brush.color = insetColor;
                    const std::byte* inset = p;
                    for (int i = 0; i < n; ++i) pixels_.fillRect(get<Rect>(inset));
                }
                p += static_cast<std::size_t>(n) * sizeof(Rect);
                break;
            }
            case Op::Ellipse:
                pixels_.ellipse(get<Rect>(p));
                break;
            case Op::Text: {
                const int x = get<int>(p);
                const int y = get<int>(p);
                const std::size_t n = static_cast<std::size_t>(get<int>(p));
                pixels_.textOut(x, y, std::string_view(reinterpret_cast<const char*>(p), n));
                p += n;
                break;
            }
        }
    }
    painted_ = size_;
    unpaintedReach_ = Rect{};
}

}  // namespace miral::display
