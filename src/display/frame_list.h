// SPDX-License-Identifier: GPL-3.0-or-later
// A canvas that keeps a frame's drawing calls instead of painting them at
// once, and paints them onto the canvas behind it only when the pixels are
// needed. A steady picture (a triggered sine, a settled spectrum) is drawn
// with the same calls frame after frame: when a frame's calls are exactly
// those of the frame last shown, the screen already shows it, and neither the
// background fill nor any line or text is painted again.
//
// A frame starts where an opaque fill covers the whole clip and every clip
// that the calls kept and not yet painted were drawn in (what they drew is
// hidden): its calls from there on describe the picture inside that clip
// whatever the canvas held before. A call whose result depends on
// the pixels already there (flood fill, a copy onto this canvas), or a frame
// too long for the list, paints what is kept and lets the rest of the frame
// through unkept. Reading pixels (pixel, samePicture, swapPicture) paints
// what is kept first. The list has a fixed size: nothing is allocated while
// drawing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "display/canvas.h"

namespace miral::display {

class FrameList final : public Canvas {
  public:
    // Paints onto `pixels`, which outlives the list; a frame's calls take at
    // most `capacityBytes`.
    explicit FrameList(Canvas& pixels, std::size_t capacityBytes = std::size_t{1} << 20);
    FrameList(const FrameList&) = delete;
    FrameList& operator=(const FrameList&) = delete;

    int width() const override { return pixels_.width(); }
    int height() const override { return pixels_.height(); }

    void lineTo(int x, int y) override;
    void polyline(const Point* points, int count) override;
    void fillRect(const Rect& r) override;
    void fillRectAndInsets(const Rect& area, Color insetColor, const Rect* insets, int count) override;
    void ellipse(const Rect& r) override;
    void textOut(int x, int y, std::string_view text) override;
    int textWidth(std::string_view text) override;
    int textHeight(std::string_view text) override;
    void floodFill(int x, int y, Color fill) override;
    Color pixel(int x, int y) const override;
    void copyRect(const Rect& dest, const Canvas& source, const Rect& src) override;
    void setClipRect(const Rect& r) override;
    void resetClip() override;
    void prepareFont(const Font& f) override { pixels_.prepareFont(f); }

    // The picture changes places with `other` (see Canvas): the list then
    // remembers that `other` shows this frame.
    bool swapPicture(Canvas& other) override;
    // True at once, without painting, when `other` is the canvas this list's
    // last shown frame went to and this frame's calls are the same; otherwise
    // the pixels are painted and compared.
    bool samePicture(const Canvas& other, const Rect& area) const override;

    // Paints the calls kept and not yet painted onto the canvas behind.
    void flush() const;

  private:
    enum class Op : std::uint8_t;
    bool keep(Op op, std::size_t payload, bool withState = true);
    void put(const void* bytes, std::size_t n);
    template <class T>
    void put(const T& v);
    void putState();
    void restart();
    void letThrough();
    void syncState();
    int measured(std::string_view text, int (Canvas::*measure)(std::string_view));
    void markShown(const Canvas& target, const Rect& area) const;
    bool startsFrame(const Rect& r) const;

    Canvas& pixels_;
    std::size_t capacity_;
    // The frame's calls: bytes [0, size_) kept, [0, painted_) painted.
    std::unique_ptr<std::byte[]> list_;
    std::size_t size_ = 0;
    mutable std::size_t painted_ = 0;
    // False once the calls kept no longer describe the frame: calls then go
    // straight to the canvas behind until the next frame starts.
    bool keeping_ = false;
    // The clip that the frame's first fill covered, and the clips in force
    // for the calls kept and not yet painted (their bounding box).
    Rect frameClip_;
    mutable Rect unpaintedReach_;
    // The pen, brush and font of the last call kept (valid when stateKept_).
    bool stateKept_ = false;
    Pen keptPen_;
    Brush keptBrush_;
    int keptFontSize_ = 0;
    Color keptFontColor_ = 0;
    bool keptFontBold_ = false;
    char keptFontName_[16] = {};
    std::size_t keptFontNameLength_ = 0;
    // The frame last shown and where.
    mutable std::unique_ptr<std::byte[]> shown_;
    mutable std::size_t shownSize_ = 0;
    mutable const Canvas* shownOn_ = nullptr;
    mutable Rect shownArea_;
    // Where painting copies a polyline's points to.
    std::unique_ptr<Point[]> scratch_;
};

}  // namespace miral::display
