// Knob values and faces on the panel model.
#include <cmath>
#include <string>

#include "core/instrument.h"

namespace miral::core {

namespace {

bool parseRange(const std::string& hint, int& lo, int& hi) {
    auto hash = hint.find('#');
    if (hash == std::string::npos) return false;
    lo = std::atoi(hint.substr(0, hash).c_str());
    hi = std::atoi(hint.substr(hash + 1, 100).c_str());
    return true;
}

}  // namespace

void Instrument::drawKnob(Ctl knob, int v) {
    int lo = 0, hi = 0;
    if (!parseRange(panel.hint(knob), lo, hi)) return;
    panel.setValue(knob, v);
    panel.bump(knob);
}

void Instrument::dragKnob(Ctl knob, int x, int y) {
    int lo = 0, hi = 0;
    if (!parseRange(panel.hint(knob), lo, hi)) return;
    const ControlState& s = panel.state(knob);
    int cx = s.width / 2, cy = s.height / 2;
    double dx = x - cx, dy = cy - y;
    if (dx == 0 && dy == 0) return;
    double a = std::asin(dy / std::sqrt(dx * dx + dy * dy)) / 0.017453289;
    if (dx < 0) a = 180 - a;
    int v;
    if (a <= -45) {
        v = hi;  // the dead zone's right side
    } else if (a >= 225) {
        v = lo;  // and its left side: the ends of the scale are always reachable
    } else {
        v = static_cast<int>((225 - a) * (hi - lo) / 270 + lo + 0.5);
    }
    if (v != panel.value(knob)) drawKnob(knob, v);
}

void Instrument::drawKnobFaces() {
    static constexpr Ctl kOrder[] = {Ctl::pos1,     Ctl::pos2,       Ctl::pos1_bis, Ctl::pos2_bis,
                                     Ctl::range1,   Ctl::range2,     Ctl::mainselect, Ctl::pretrigger,
                                     Ctl::triglevel, Ctl::triglevel_bis, Ctl::fftselect, Ctl::tb1,
                                     Ctl::tb2,      Ctl::tb3,        Ctl::tb4,      Ctl::genfreq,
                                     Ctl::genampl,  Ctl::gensweep,   Ctl::genfreq2, Ctl::genampl2};
    for (Ctl k : kOrder) {
        const ControlDef& d = panel.def(k);
        int lo = d.knobMin, hi = d.knobMax;
        if (k == Ctl::tb2) hi = prefs.readInt("tune_max_freq", 200);
        if (k == Ctl::tb4) hi = prefs.readInt("tune_center_freq", 100);
        panel.setHint(k, std::to_string(lo) + "#" + std::to_string(hi));
        drawKnob(k, lo);
    }
}

}  // namespace miral::core
