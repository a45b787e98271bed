// SPDX-License-Identifier: GPL-3.0-or-later
// Tooltips of the front panel: one short text per control that the user can
// operate (panel_tips.inc), and for knobs the current value with its unit.
#pragma once

#include <string>

#include "core/panel.h"

namespace miral::core {

// The control's own text ("" for controls without one).
const char* controlTip(Ctl c);

// A knob's value as the user reads it, with its unit: "500 mV/div",
// "1 ms/div", "+23 %", "440 Hz". "" for other controls.
std::string knobValueText(const Panel& panel, Ctl knob);

// The tooltip to show now: the control's text; a knob's with its value and
// how the wheel and the keys turn it.
std::string currentTip(const Panel& panel, Ctl c);

}  // namespace miral::core
