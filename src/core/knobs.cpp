// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/knobs.h"

#include <algorithm>
#include <string>

#include "core/instrument.h"
#include "display/knob.h"

namespace miral::core {

namespace {

display::KnobView viewOf(Panel& panel, Ctl knob) {
    ControlState& s = panel.mutableState(knob);
    const ControlDef& d = panel.def(knob);
    display::Color back = d.parent == Ctl::Form1 ? kFormBack : panel.state(d.parent).color;
    return display::KnobView{s.tag, s.hint, s.width, s.height, back, s.canvas};
}

}  // namespace

void Knobs::drawKnob(Ctl knob, int v) {
    display::KnobView k = viewOf(panel_, knob);
    display::DrawKnob(k, v);
    panel_.bump(knob);
}

void Knobs::dragKnob(Ctl knob, int x, int y) {
    display::KnobView k = viewOf(panel_, knob);
    const long long dx = x - k.width / 2, dy = k.height / 2 - y;
    if (dx * dx + dy * dy <= static_cast<long long>(kKnobDeadRadius) * kKnobDeadRadius) return;
    if (display::DragKnob(k, x, y)) panel_.bump(knob);
}

void Knobs::stepKnob(Ctl knob, int steps) {
    const auto range = display::ParseKnobRange(panel_.hint(knob));
    if (!range) return;
    const long long lo = std::min(range->min, range->max), hi = std::max(range->min, range->max);
    const long long v = std::clamp(static_cast<long long>(panel_.value(knob)) + steps, lo, hi);
    if (v != panel_.value(knob)) drawKnob(knob, static_cast<int>(v));
}

bool Knobs::knobInput(const UiEvent& e) {
    if (e.steps != 0) {
        stepKnob(e.sender, e.steps);
        return true;
    }
    if (!e.shift.left) return false;
    dragKnob(e.sender, e.x, e.y);
    return true;
}

void Knobs::drawKnobFaces() {
    // In the order of the knob table.
    static constexpr Ctl kOrder[] = {Ctl::pos1,      Ctl::pos2,          Ctl::pos1_bis,   Ctl::pos2_bis,
                                     Ctl::range1,    Ctl::range2,        Ctl::mainselect, Ctl::pretrigger,
                                     Ctl::triglevel, Ctl::triglevel_bis, Ctl::fftselect,  Ctl::tb1,
                                     Ctl::tb2,       Ctl::tb3,           Ctl::tb4,        Ctl::genfreq,
                                     Ctl::genampl,   Ctl::gensweep,      Ctl::genfreq2,   Ctl::genampl2};
    for (Ctl knob : kOrder) {
        const ControlDef& d = panel_.def(knob);
        display::KnobView k = viewOf(panel_, knob);
        if (d.face == Face::Stepped) {
            display::DrawSteppedScale(k, d.ticks, d.stepLabels);
        } else {
            int hi = d.knobMax;
            if (knob == Ctl::tb2) hi = in_.prefs.readInt("tune_max_freq");
            if (knob == Ctl::tb4) hi = in_.prefs.readInt("tune_center_freq");
            display::DrawContinuousScale(k, d.ticks, d.knobMin, d.endLabels, hi);
        }
        panel_.bump(knob);
    }
}

}  // namespace miral::core
