// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/generators.h"

#include "core/instrument.h"
#include "generator/table_builder.h"

namespace miral::core {

generator::GeneratorControls Generators::generatorControls() const {
    generator::GeneratorControls c;
    c.genfreq = panel_.value(Ctl::genfreq);
    c.mainRange = generatorRange(panel_, Ctl::genfreq);
    c.genampl = panel_.value(Ctl::genampl);
    c.gensweep = panel_.value(Ctl::gensweep);
    c.sweepRange = generator::sweepRangeFromLabel(panel_.caption(Ctl::Label131));
    c.genon1 = panel_.down(Ctl::genon1);
    c.gensin1 = panel_.down(Ctl::gensin1);
    c.gentri1 = panel_.down(Ctl::gentri1);
    c.gensqr1 = panel_.down(Ctl::gensqr1);
    c.gennoise1 = panel_.down(Ctl::gennoise1);
    c.db20 = panel_.down(Ctl::db20);
    c.db40 = panel_.down(Ctl::db40);
    c.gensweep1 = panel_.down(Ctl::gensweep1);
    c.genfreq2 = panel_.value(Ctl::genfreq2);
    c.auxRange = generatorRange(panel_, Ctl::genfreq2);
    c.genampl2 = panel_.value(Ctl::genampl2);
    c.genon2 = panel_.down(Ctl::genon2);
    c.gensin2 = panel_.down(Ctl::gensin2);
    c.gentri2 = panel_.down(Ctl::gentri2);
    c.gensqr2 = panel_.down(Ctl::gensqr2);
    c.modulationMode = st_.ModulationMode;
    c.dacRate = st_.DacRate;
    c.freqVar = st_.FreqVar != 0;
    return c;
}

void Generators::generator1_onClick() {
    generator::GeneratorResult r =
        generator::buildTables(generatorControls(), genState_, in_.tables().BackA(), in_.tables().BackB());
    in_.tables().Publish();
    st_.MainFrequency = r.mainFrequency;
    st_.AuxFrequency = r.auxFrequency;
    panel_.setCaption(Ctl::Label214, std::string(r.rateLabel()));
    if (r.restartPlayback) {
        int device = in_.prefs.readInt("num_tx_device", panel_.itemIndex(Ctl::card_box) + 1) + 1;
        in_.streams().StartPlayback(r.length, device, streamSettings(false));
        st_.StatusText = in_.streams().StatusText();
        st_.StreamStatus = st_.StatusText;
    }
    st_.DisplayPrimed = false;
}

void Generators::generator1_offClick() {
    generator::markStopped(genState_);
    in_.streams().StopPlayback();
    st_.MainFrequency = 0;
    st_.StatusText = in_.streams().StatusText();
    st_.StreamStatus = st_.StatusText;
}

void Generators::genon1Click() {
    if (panel_.down(Ctl::genon1)) {
        generator1_onClick();
    } else {
        generator1_offClick();
    }
    panel_.setCaption(Ctl::Label128, panel_.down(Ctl::gensweep1) ? "Sweep" : "Duty");
    st_.DisplayPrimed = false;
}

// The -/+ buttons step a frequency knob by exactly 1 Hz; no clamping to the
// knob's range here.
void Generators::Edit1Click() {
    int step = generator::knobUnitsPerHertz(generatorRange(panel_, Ctl::genfreq));
    in_.drawKnob(Ctl::genfreq, panel_.value(Ctl::genfreq) - step);
    if (panel_.down(Ctl::genon1)) generator1_onClick();
}

void Generators::Edit2Click() {
    int step = generator::knobUnitsPerHertz(generatorRange(panel_, Ctl::genfreq));
    in_.drawKnob(Ctl::genfreq, panel_.value(Ctl::genfreq) + step);
    if (panel_.down(Ctl::genon1)) generator1_onClick();
}

void Generators::Edit3Click() {
    int step = generator::knobUnitsPerHertz(generatorRange(panel_, Ctl::genfreq2));
    in_.drawKnob(Ctl::genfreq2, panel_.value(Ctl::genfreq2) - step);
    if (panel_.down(Ctl::genon1) && panel_.down(Ctl::genon2)) generator1_onClick();
}

void Generators::Edit4Click() {
    int step = generator::knobUnitsPerHertz(generatorRange(panel_, Ctl::genfreq2));
    in_.drawKnob(Ctl::genfreq2, panel_.value(Ctl::genfreq2) + step);
    if (panel_.down(Ctl::genon1) && panel_.down(Ctl::genon2)) generator1_onClick();
}

void Generators::Label131Click() {
    panel_.setCaption(Ctl::Label131, std::string(generator::nextSweepLabel(panel_.caption(Ctl::Label131))));
    if (panel_.down(Ctl::genon1)) generator1_onClick();
}

void Generators::genstart1MouseDown() {
    st_.ModulationMode = generator::nextModulationMode(st_.ModulationMode);
    panel_.setCaption(Ctl::Label129, std::string(generator::modulationWord(st_.ModulationMode)));
    // Any modulation needs the aux generator.
    panel_.setDown(Ctl::genstart1, true);
    panel_.setDown(Ctl::genon2, true);
}

// Left button on a frequency readout: the side area advances as with the
// "Panel" button (the settings pages are not hidden by this way in).
void Generators::advanceSidePanelFromReadout() {
    int mode = (st_.SidePanelMode + 1) % 3;
    st_.SidePanelMode = mode;
    panel_.setVisible(Ctl::pan1, mode == 1);
    panel_.setVisible(Ctl::pan2a, mode == 2);
    panel_.setVisible(Ctl::pan2b, mode == 2);
    if (mode == 0) panel_.setVisible(Ctl::PageControl1, true);
    panel_.setFormSize(848, panel_.formHeight());
}

void Generators::centreBandOn(double frequency) {
    st_.FCenter = frequency;
    st_.CenterHeld = true;
    st_.RetuneKnobs = true;
}

void Generators::gendisplMouseDown(const UiEvent& e) {
    if (e.button == MouseButton::Right) {
        if (panel_.down(Ctl::genon1)) centreBandOn(st_.MainFrequency);
    } else if (e.button == MouseButton::Left) {
        advanceSidePanelFromReadout();
    }
}

void Generators::gendispl2MouseDown(const UiEvent& e) {
    if (e.button == MouseButton::Right && panel_.down(Ctl::genon2)) centreBandOn(st_.AuxFrequency);
}

void Generators::Label62MouseDown(const UiEvent& e) {
    if (e.button == MouseButton::Right) {
        centreBandOn(st_.MeasuredFrequency);
    } else if (e.button == MouseButton::Left) {
        advanceSidePanelFromReadout();
    }
}

// ---- The instrument's handlers ---------------------------------------------------------

void Instrument::generator1_onClick(const UiEvent&) {
    generators_.generator1_onClick();
}
void Instrument::generator1_offClick(const UiEvent&) {
    generators_.generator1_offClick();
}
void Instrument::genon1Click(const UiEvent&) {
    generators_.genon1Click();
}
void Instrument::Edit1Click(const UiEvent&) {
    generators_.Edit1Click();
}
void Instrument::Edit2Click(const UiEvent&) {
    generators_.Edit2Click();
}
void Instrument::Edit3Click(const UiEvent&) {
    generators_.Edit3Click();
}
void Instrument::Edit4Click(const UiEvent&) {
    generators_.Edit4Click();
}
void Instrument::Label131Click(const UiEvent&) {
    generators_.Label131Click();
}
void Instrument::genstart1MouseDown(const UiEvent&) {
    generators_.genstart1MouseDown();
}
void Instrument::gendisplMouseDown(const UiEvent& e) {
    generators_.gendisplMouseDown(e);
}
void Instrument::gendispl2MouseDown(const UiEvent& e) {
    generators_.gendispl2MouseDown(e);
}
void Instrument::Label62MouseDown(const UiEvent& e) {
    generators_.Label62MouseDown(e);
}

}  // namespace miral::core
