// SPDX-License-Identifier: GPL-3.0-or-later
// Operating controls by name, as a user would, from text: what the headless
// command line's --set, --click and --print do.
#pragma once

#include <string>
#include <string_view>

#include "core/instrument.h"

namespace miral::core {

// "NAME=VALUE": a latching button, check box or radio takes 1/0 and is
// clicked only when its state must change; a knob is turned to the integer
// value as by a drag with the left button held; an edit gets the text; a
// combo selects the item with that text; a track bar moves to the position.
// Returns false with a one-line reason in *error.
bool operateSet(Instrument& in, std::string_view name, std::string_view value, std::string* error);

// A full left-button press: mouse down, mouse up and click.
bool operateClick(Instrument& in, std::string_view name, std::string* error);

// "NAME=value" for a control or a field of the instrument state.
bool operatePrint(const Instrument& in, std::string_view name, std::string* line, std::string* error);

// The mouse point (knob image coordinates) whose drag gives the value v.
void knobPointFor(const Instrument& in, Ctl knob, int v, int* x, int* y);

}  // namespace miral::core
