// SPDX-License-Identifier: GPL-3.0-or-later
// Pre-rendered glyphs of the fonts the screen uses. Every glyph is rendered
// once with Qt (no antialiasing: a bench screen is crisp) into a one-bit mask;
// the QImage canvas then writes texts by copying masks, which costs no heap
// and no painter per text. Needs a QGuiApplication for the font database;
// without one every glyph is empty and texts only take up room.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "display/canvas.h"

namespace miral::display {

struct Glyph {
    int advance = 0;  // pixels to the next glyph
    // The mask's top-left corner relative to (pen x, text top).
    int dx = 0;
    int dy = 0;
    int w = 0;
    int h = 0;
    std::vector<std::uint8_t> mask;  // w x h, row-major, 1 = ink
};

// "Arial" is drawn with Liberation Sans (same metrics) when Arial itself is
// not installed. Point sizes are turned into pixels as on a 96-dpi screen.
class FontAtlas {
  public:
    // The atlas of this font (family, size, bold); the colour plays no part.
    // Atlases live until the program ends.
    static const FontAtlas& get(const Font& font);

    static int pixelSize(int points) { return (points * 96 + 36) / 72; }

    int ascent() const { return ascent_; }
    // Height of a text line (ascent + descent).
    int height() const { return height_; }
    const Glyph& glyph(char32_t c) const;
    // Width of a UTF-8 text: the sum of its glyphs' advances.
    int width(std::string_view utf8) const;

    // Next code point of a UTF-8 text starting at i (advances i); malformed
    // bytes read as U+FFFD.
    static char32_t nextCodePoint(std::string_view s, std::size_t& i);

  private:
    FontAtlas(std::string family, int pixels, bool bold);
    Glyph render(char32_t c) const;

    std::string family_;
    int pixels_;
    bool bold_;
    bool usable_ = false;  // a QGuiApplication existed when the atlas was made
    int ascent_ = 0;
    int height_ = 0;
    std::array<Glyph, 95> ascii_;  // U+0020 .. U+007E
    mutable std::mutex otherMutex_;
    mutable std::map<char32_t, Glyph> other_;
};

}  // namespace miral::display
