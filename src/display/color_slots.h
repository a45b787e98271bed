// SPDX-License-Identifier: GPL-3.0-or-later
// The eighteen colour slots of the screen. Slot numbers are those of the
// swatches (1..18) and of the stored colour schemes; every drawing step takes
// its colours from a ColorSlots value that the caller fills from the swatches
// at the moment of drawing.
#pragma once

#include <array>
#include <optional>
#include <string_view>

#include "display/canvas.h"

namespace miral::display {

enum class Slot : int {
    Background = 1,
    FTrace = 2,
    TTrace1 = 3,
    TTrace2 = 4,
    XfrGain = 5,
    XfrPhase = 6,
    XfrIn = 7,
    TGrid = 8,
    FGrid = 9,
    FGrid0 = 10,
    Labels = 11,
    Mark1Trace = 12,
    Mark2to4Trace = 13,
    Marker1 = 14,
    Marker2 = 15,
    Marker3 = 16,
    Marker4 = 17,
    Canvas = 18,
};

constexpr int kSlotCount = 18;

// Captions of slots 1..18 (index 0 is unused).
constexpr std::array<std::string_view, kSlotCount + 1> kSlotCaptions = {
    "",         "Background", "F Trace",  "T Trace1", "T Trace2", "XFR Gain",   "XFR Phase",
    "XFR IN",   "T Grid",     "F Grid",   "F Grid0",  "Labels",   "Mark1Trace", "Mark2..4 Trace",
    "Marker 1", "Marker 2",   "Marker 3", "Marker 4", "Canvas"};

// The slot with this caption, if any.
constexpr std::optional<Slot> slotByCaption(std::string_view caption) {
    for (int i = 1; i <= kSlotCount; ++i)
        if (kSlotCaptions[static_cast<std::size_t>(i)] == caption) return static_cast<Slot>(i);
    return std::nullopt;
}

struct ColorSlots {
    // Index = slot number; index 0 is unused.
    std::array<Color, kSlotCount + 1> color{};

    Color operator[](Slot s) const { return color[static_cast<std::size_t>(s)]; }
    Color& operator[](Slot s) { return color[static_cast<std::size_t>(s)]; }
};

// The designed colours of the instrument. "F Trace" is the desktop's window
// background colour, which the caller may pass (white by default).
constexpr ColorSlots designedColors(Color windowBackground = colors::White) {
    ColorSlots c;
    c.color = {colors::Black,     fromHex(0x346767), windowBackground,  fromHex(0xFFFF00), fromHex(0xC5A010),
               fromHex(0x80FF00), fromHex(0xFF8000), fromHex(0xFF0000), fromHex(0x000000), fromHex(0x444444),
               fromHex(0x000000), fromHex(0xFFFF00), fromHex(0xFF0000), fromHex(0x80FF80), fromHex(0xFF0000),
               fromHex(0xFFFF00), fromHex(0xFF00FF), fromHex(0x00FFFF), fromHex(0x408080)};
    return c;
}

}  // namespace miral::display
