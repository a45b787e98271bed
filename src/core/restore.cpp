// SPDX-License-Identifier: GPL-3.0-or-later
// Power-on restore: the first processing cycle brings the panel up as it was
// switched off (the stored panel and prefs.dat, panel_storage.cpp) and makes
// the instrument's state consistent with it.
#include "core/instrument.h"
#include "storage/bundle.h"

namespace miral::core {

namespace {

// The knobs' values without a stored panel.
constexpr struct {
    Ctl knob;
    int value;
} kKnobDefaults[] = {
    {Ctl::genampl2, 100},  {Ctl::pos1, 10},      {Ctl::range1, 6},     {Ctl::pos2, -10},
    {Ctl::range2, 6},      {Ctl::mainselect, 4}, {Ctl::pretrigger, 0}, {Ctl::triglevel, 0},
    {Ctl::fftselect, 8},   {Ctl::tb1, 10},       {Ctl::tb2, 160},      {Ctl::tb3, 10},
    {Ctl::tb4, 55},        {Ctl::genfreq, 4400}, {Ctl::genampl, 50},   {Ctl::gensweep, 100},
    {Ctl::genfreq2, 4400},
};

}  // namespace

std::optional<int> defaultKnobValue(Ctl knob) {
    for (const auto& d : kKnobDefaults)
        if (d.knob == knob) return d.value;
    return std::nullopt;
}

void Instrument::setDefaultKnobs() {
    for (const auto& d : kKnobDefaults) drawKnob(d.knob, d.value);
}

void Instrument::showSidePanelAtRestore(int mode) {
    st.SidePanelMode = mode;
    if (mode == 0) {
        panel.setFormSize(680, panel.formHeight());
        panel.setVisible(Ctl::pan1, false);
        panel.setVisible(Ctl::pan2a, false);
        panel.setVisible(Ctl::pan2b, false);
        panel.setDown(Ctl::fun, false);
    } else {
        panel.setVisible(Ctl::pan1, mode == 1);
        panel.setVisible(Ctl::pan2a, mode == 2);
        panel.setVisible(Ctl::pan2b, mode == 2);
        panel.setVisible(Ctl::PageControl1, false);
        panel.setFormSize(848, panel.formHeight());
        panel.setDown(Ctl::fun, true);
    }
}

void Instrument::gostart() {
    // The mixer again.
    mixerstartClick();
    // The panel as it was switched off; without a valid stored state the
    // knobs take their defaults and every other control keeps its design.
    if (!storage_.loadPanelState()) {
        setDefaultKnobs();
        st.CaptureRate = 32768;
        panel.setItemIndex(Ctl::ComboBox5, 0);
    }
    if (bundles_.bundle())
        showStatusMessage("Bundle " + bundles_.path() + " (Miral " + bundles_.bundle()->programVersion +
                          "): its capture is held on the inputs; the stored panel stays as it was");
    // The side area of the restored mode.
    showSidePanelAtRestore(st.SidePanelMode);
    distviewClick();
    // Transfer-function view.
    if (activeView(panel) == View::Transfer) {
        trasfClick();
        cambia_frequenzaClick();
    }
    // Band defaults, put onto the band knobs.
    st.FMin = 10;
    st.FMax = st.AdcRate / 2;
    st.FCenter = 1000;
    st.RetuneKnobs = true;
    tuneall();
    // Generator panel and marker handles match the buttons.
    genon1Click();
    markerviewClick();
    // Band knobs: the free band from tb1/tb2, a fixed width around tb4.
    enableBandKnobs();
    // The view.
    if (activeView(panel) == View::Time) {
        TempoClick();
    } else {
        trasfClick();
    }
    // Mixer levels.
    master_barChange();
    input_barChange();
    output_barChange();
    // The instrument never starts frozen.
    panel.setDown(Ctl::hold, false);
    // Colour schemes and the probe table (which fills the calibration
    //     boxes), then the stored scheme on the swatches.
    storage_.loadPrefsDat();
    panel.setItemIndex(Ctl::ComboBox1, selectedScheme());
    coloClick();
    // The card.
    card_boxChange();
    // Rates and divider from the combos.
    st.FftDivider = comboInt(Ctl::ComboBox3, 4);
    st.AdcRate = comboInt(Ctl::ComboBox2, 44100);
    st.DacRate = comboInt(Ctl::ComboBox4, 44100);
    applyFixedRate();
    // Sample-clock correction.
    st.FreqCorr = clockCorrection(st.AdcRate);
    // Every view handler once; capture opens at the next housekeeping tick.
    TempoClick();
    FrequenzaClick();
    trasfClick();
    generator1_onClick();
    rlcmodeClick();
    bundles_.bundleAfterRestore();
    // A message about the stored files outlasts the stream status that the
    // handlers above wrote.
    keepStatusMessage();
}

}  // namespace miral::core
