// SPDX-License-Identifier: GPL-3.0-or-later
// Real plot coordinates turned into the pixels the traces and markers are
// drawn at.
#pragma once

#include <cmath>

namespace miral::display {

// A pixel coordinate from a real one: truncated toward zero, far-off and
// undefined values pinned well outside any screen.
inline int toPixel(double v) {
    if (std::isnan(v)) return -1000000;
    if (v > 1e8) return 100000000;
    if (v < -1e8) return -100000000;
    return static_cast<int>(v);
}

// A row kept inside the area top .. bottom (an undefined value goes to its
// bottom).
inline int clampRow(double y, int top, int bottom) {
    if (std::isnan(y)) return bottom;
    if (y > bottom) return bottom;
    if (y < top) return top;
    return static_cast<int>(y);
}

}  // namespace miral::display
