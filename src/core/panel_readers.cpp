// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/panel_readers.h"

#include "analysis/band.h"

namespace miral::core {

View activeView(const Panel& p) {
    if (p.down(Ctl::Tempo)) return View::Time;
    if (p.down(Ctl::zeta)) return View::Impedance;
    if (p.down(Ctl::trasf)) return View::Transfer;
    return View::Spectrum;
}

const char* viewCaption(View v) {
    switch (v) {
        case View::Time:
            return "T";
        case View::Impedance:
            return "Z";
        case View::Transfer:
            return "XFR";
        case View::Spectrum:
            break;
    }
    return "F";
}

ChannelMode channelMode(const Panel& p) {
    if (p.down(Ctl::modea)) return ChannelMode::A;
    if (p.down(Ctl::modeb)) return ChannelMode::B;
    return ChannelMode::AB;
}

analysis::WindowKind selectedWindow(const Panel& p) {
    using W = analysis::WindowKind;
    if (p.down(Ctl::hann)) return W::Hann;
    if (p.down(Ctl::hamm)) return W::Hamming;
    if (p.down(Ctl::black)) return W::Blackman;
    if (p.down(Ctl::nuttal)) return W::Nuttall;
    if (p.down(Ctl::flat)) return W::FlatTop;
    return W::Rectangular;  // every window button up
}

bool freeBand(const Panel& p) {
    return p.value(Ctl::fftselect) == analysis::kFreeBand;
}

double bandKnobHertz(const Panel& p, Ctl knob) {
    Ctl keys[3] = {Ctl::tb41, Ctl::tb42, Ctl::tb43};
    if (knob == Ctl::tb1) {
        keys[0] = Ctl::tb11, keys[1] = Ctl::tb12, keys[2] = Ctl::tb13;
    } else if (knob == Ctl::tb2) {
        keys[0] = Ctl::tb21, keys[1] = Ctl::tb22, keys[2] = Ctl::tb23;
    }
    int multiplier = 1;  // the keys' group always has one down
    for (Ctl c : keys) {
        if (p.down(c)) {
            multiplier = p.tag(c);
            break;
        }
    }
    return static_cast<double>(multiplier) * p.value(knob);
}

int generatorRange(const Panel& p, Ctl knob) {
    const bool aux = knob == Ctl::genfreq2;
    if (p.down(aux ? Ctl::geny1 : Ctl::genx1)) return 1;
    if (p.down(aux ? Ctl::geny2 : Ctl::genx2)) return 10;
    if (p.down(aux ? Ctl::geny3 : Ctl::genx3)) return 100;
    if (p.down(aux ? Ctl::geny4 : Ctl::genx4)) return 1000;
    return 100;
}

}  // namespace miral::core
