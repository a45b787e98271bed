// SPDX-License-Identifier: GPL-3.0-or-later
// The function generators' handlers: every change of a generator control
// rebuilds both output tables whole; playback restarts only when the table
// length (the playback rate) changes.
#include "core/instrument.h"
#include "generator/table_builder.h"

namespace miral::core {

generator::GeneratorControls Instrument::generatorControls() const {
    generator::GeneratorControls c;
    c.genfreq = panel.value(Ctl::genfreq);
    c.mainRange = generatorRange(panel, Ctl::genfreq);
    c.genampl = panel.value(Ctl::genampl);
    c.gensweep = panel.value(Ctl::gensweep);
    c.sweepRange = generator::sweepRangeFromLabel(panel.caption(Ctl::Label131));
    c.genon1 = panel.down(Ctl::genon1);
    c.gensin1 = panel.down(Ctl::gensin1);
    c.gentri1 = panel.down(Ctl::gentri1);
    c.gensqr1 = panel.down(Ctl::gensqr1);
    c.gennoise1 = panel.down(Ctl::gennoise1);
    c.db20 = panel.down(Ctl::db20);
    c.db40 = panel.down(Ctl::db40);
    c.gensweep1 = panel.down(Ctl::gensweep1);
    c.genfreq2 = panel.value(Ctl::genfreq2);
    c.auxRange = generatorRange(panel, Ctl::genfreq2);
    c.genampl2 = panel.value(Ctl::genampl2);
    c.genon2 = panel.down(Ctl::genon2);
    c.gensin2 = panel.down(Ctl::gensin2);
    c.gentri2 = panel.down(Ctl::gentri2);
    c.gensqr2 = panel.down(Ctl::gensqr2);
    c.modulationMode = st.ModulationMode;
    c.dacRate = st.DacRate;
    c.freqVar = st.FreqVar != 0;
    return c;
}

void Instrument::generator1_onClick(const UiEvent&) {
    generator::GeneratorResult r =
        generator::buildTables(generatorControls(), genState_, tables_->BackA(), tables_->BackB());
    tables_->Publish();
    st.MainFrequency = r.mainFrequency;
    st.AuxFrequency = r.auxFrequency;
    panel.setCaption(Ctl::Label214, std::string(r.rateLabel()));
    if (r.restartPlayback) {
        int device = prefs.readInt("num_tx_device", panel.itemIndex(Ctl::card_box) + 1) + 1;
        streams_->StartPlayback(r.length, device, streamSettings(false));
        st.StatusText = streams_->StatusText();
        st.StreamStatus = st.StatusText;
    }
    st.DisplayPrimed = false;
}

void Instrument::generator1_offClick(const UiEvent&) {
    generator::markStopped(genState_);
    streams_->StopPlayback();
    st.MainFrequency = 0;
    st.StatusText = streams_->StatusText();
    st.StreamStatus = st.StatusText;
}

void Instrument::genon1Click(const UiEvent&) {
    if (panel.down(Ctl::genon1)) {
        generator1_onClick();
    } else {
        generator1_offClick();
    }
    panel.setCaption(Ctl::Label128, panel.down(Ctl::gensweep1) ? "Sweep" : "Duty");
    st.DisplayPrimed = false;
}

// The -/+ buttons step a frequency knob by exactly 1 Hz; no clamping to the
// knob's range here.
void Instrument::Edit1Click(const UiEvent&) {
    int step = generator::knobUnitsPerHertz(generatorRange(panel, Ctl::genfreq));
    drawKnob(Ctl::genfreq, panel.value(Ctl::genfreq) - step);
    if (panel.down(Ctl::genon1)) generator1_onClick();
}

void Instrument::Edit2Click(const UiEvent&) {
    int step = generator::knobUnitsPerHertz(generatorRange(panel, Ctl::genfreq));
    drawKnob(Ctl::genfreq, panel.value(Ctl::genfreq) + step);
    if (panel.down(Ctl::genon1)) generator1_onClick();
}

void Instrument::Edit3Click(const UiEvent&) {
    int step = generator::knobUnitsPerHertz(generatorRange(panel, Ctl::genfreq2));
    drawKnob(Ctl::genfreq2, panel.value(Ctl::genfreq2) - step);
    if (panel.down(Ctl::genon1) && panel.down(Ctl::genon2)) generator1_onClick();
}

void Instrument::Edit4Click(const UiEvent&) {
    int step = generator::knobUnitsPerHertz(generatorRange(panel, Ctl::genfreq2));
    drawKnob(Ctl::genfreq2, panel.value(Ctl::genfreq2) + step);
    if (panel.down(Ctl::genon1) && panel.down(Ctl::genon2)) generator1_onClick();
}

void Instrument::Label131Click(const UiEvent&) {
    panel.setCaption(Ctl::Label131, std::string(generator::nextSweepLabel(panel.caption(Ctl::Label131))));
    if (panel.down(Ctl::genon1)) generator1_onClick();
}

void Instrument::genstart1MouseDown(const UiEvent&) {
    st.ModulationMode = generator::nextModulationMode(st.ModulationMode);
    panel.setCaption(Ctl::Label129, std::string(generator::modulationWord(st.ModulationMode)));
    // Any modulation needs the aux generator.
    panel.setDown(Ctl::genstart1, true);
    panel.setDown(Ctl::genon2, true);
}

// Left button on a frequency readout: the side area advances as with the
// "Panel" button (the settings pages are not hidden by this way in).
void Instrument::advanceSidePanelFromReadout() {
    int mode = (st.SidePanelMode + 1) % 3;
    st.SidePanelMode = mode;
    panel.setVisible(Ctl::pan1, mode == 1);
    panel.setVisible(Ctl::pan2a, mode == 2);
    panel.setVisible(Ctl::pan2b, mode == 2);
    if (mode == 0) panel.setVisible(Ctl::PageControl1, true);
    panel.setFormSize(848, panel.formHeight());
}

void Instrument::centreBandOn(double frequency) {
    st.FCenter = frequency;
    st.CenterHeld = true;
    st.RetuneKnobs = true;
}

void Instrument::gendisplMouseDown(const UiEvent& e) {
    if (e.button == MouseButton::Right) {
        if (panel.down(Ctl::genon1)) centreBandOn(st.MainFrequency);
    } else if (e.button == MouseButton::Left) {
        advanceSidePanelFromReadout();
    }
}

void Instrument::gendispl2MouseDown(const UiEvent& e) {
    if (e.button == MouseButton::Right && panel.down(Ctl::genon2)) centreBandOn(st.AuxFrequency);
}

void Instrument::Label62MouseDown(const UiEvent& e) {
    if (e.button == MouseButton::Right) {
        centreBandOn(st.MeasuredFrequency);
    } else if (e.button == MouseButton::Left) {
        advanceSidePanelFromReadout();
    }
}

}  // namespace miral::core
