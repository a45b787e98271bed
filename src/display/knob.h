// SPDX-License-Identifier: GPL-3.0-or-later
// Rotary knobs of the front panel.
//
// A knob's state lives with its control in the panel model: an integer value
// and a range text, the minimum and the maximum joined by "#" ("-100#100").
// The caller wraps them, with the knob image's size, its panel's colour and
// its canvas, in a KnobView for each call. Until a scale has written the
// range text (no "#" in it), DrawKnob and DragKnob do nothing.
//
// Geometry: centre (width/2, height/2); angles in degrees counter-clockwise
// from the positive x axis with screen y downwards. The scale sweeps 270
// degrees clockwise from 225 (minimum, lower left) to -45 (maximum, lower
// right): value v sits at 225 - (v - min) x 270 / (max - min).
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "display/canvas.h"

namespace miral::display {

struct KnobView {
    int& value;              // the knob's value
    std::string& rangeText;  // "min#max", written by the scale functions
    int width = 80;          // image size: 80, 100 or 120 square
    int height = 80;
    Color panelColor = colors::White;  // colour of the panel around the knob
    Canvas* canvas = nullptr;          // the knob's image; null: values only, nothing painted
};

struct KnobRange {
    int min = 0;
    int max = 0;
};

// The range of a range text: the integer before the first "#" and the
// integer of the at most 100 characters after it. Empty when there is no
// "#" or either side is not an integer.
std::optional<KnobRange> ParseKnobRange(std::string_view rangeText);

// Repaint the pointer at v (red, from radius 8 to radius 2 over a dark disc
// of radius 9) and store v as the value. No clamping: a value outside the
// range points outside the scale. A knob whose minimum equals its maximum
// points at the minimum.
void DrawKnob(KnobView& knob, int v);

// Turn the knob to the angle of the mouse point (x, y), in image coordinates:
// straight above the centre is the middle of the range, the lower half a dead
// zone whose left side gives the minimum and right side the maximum. Values
// round half up (toward zero for negative ones: -49.7 gives -49). Returns
// true when the value changed (and the pointer was redrawn).
bool DragKnob(KnobView& knob, int x, int y);

// Paint a fresh knob face with a continuous scale of `ticks` major ticks
// (three fine ticks per interval) from min to max, with the end values as
// labels when `labels` is set. Writes the range text "min#max" and sets the
// knob to min.
void DrawContinuousScale(KnobView& knob, int ticks, int min, bool labels, int max);
// Short form with end labels.
void DrawContinuousScale(KnobView& knob, int ticks, int min, int max);
// Short form without end labels (the generator knobs).
void DrawPlainContinuousScale(KnobView& knob, int ticks, int min, int max);

// Paint a fresh knob face with a detented scale of `positions` positions,
// labelled with the fields of labelText (separated by ","; blanks kept,
// missing fields blank, extra fields ignored). Writes "0#" + (positions - 1)
// and sets the knob to 0. The scale is centred one pixel above the pointer.
void DrawSteppedScale(KnobView& knob, int positions, std::string_view labelText);

// The knob picture alone (a dark knurled disc with a light rim on a plain
// background), painted over the whole image. The scale functions start with
// it; exposed for callers that want a bare knob.
void DrawKnobFace(Canvas& canvas, int width, int height);

}  // namespace miral::display
