// SPDX-License-Identifier: GPL-3.0-or-later
// Mouse handlers of the knobs: a knob turns while the left button is held.
#include "core/instrument.h"

namespace miral::core {

// The free band takes its limits from tb1/tb2; a fixed width centres on tb4.
void Instrument::enableBandKnobs() {
    const bool free = freeBand(panel);
    for (Ctl c : {Ctl::tb1, Ctl::tb11, Ctl::tb12, Ctl::tb13, Ctl::tb2, Ctl::tb21, Ctl::tb22, Ctl::tb23})
        panel.setEnabled(c, free);
    for (Ctl c : {Ctl::tb4, Ctl::tb41, Ctl::tb42, Ctl::tb43}) panel.setEnabled(c, !free);
}

void Instrument::pos1MouseMove(const UiEvent& e) {
    if (knobInput(e)) st.SettleCount = 4;
    // Which band knobs apply is re-evaluated on every move over these knobs.
    enableBandKnobs();
}

void Instrument::pos2MouseMove(const UiEvent& e) {
    knobInput(e);
}

void Instrument::range2MouseMove(const UiEvent& e) {
    if (!knobInput(e)) return;
    st.DisplayPrimed = false;
    st.SettleCount = 4;
}

void Instrument::mainselectMouseMove(const UiEvent& e) {
    if (!knobInput(e)) return;
    st.DisplayPrimed = false;
    if (activeView(panel) == View::Time) cambia_frequenzaClick();
}

void Instrument::tb1MouseMove(const UiEvent& e) {
    if (!knobInput(e)) return;
    st.CenterHeld = false;  // the next cycle takes the centre from the knobs again
}

void Instrument::genfreqMouseMove(const UiEvent& e) {
    if (!knobInput(e)) return;
    if (panel.down(Ctl::genon1)) generator1_onClick();
    st.SettleCount = 4;
}

void Instrument::genfreqMouseDown(const UiEvent&) {
    if (panel.down(Ctl::genon1)) generator1_onClick();
}

void Instrument::genfreq2MouseMove(const UiEvent& e) {
    if (!knobInput(e)) return;
    if (panel.down(Ctl::genon1) && panel.down(Ctl::genon2)) generator1_onClick();
    st.SettleCount = 4;
}

void Instrument::genfreq2MouseDown(const UiEvent&) {
    if (panel.down(Ctl::genon1) && panel.down(Ctl::genon2)) generator1_onClick();
}

}  // namespace miral::core
