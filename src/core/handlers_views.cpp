// SPDX-License-Identifier: GPL-3.0-or-later
// Entering the frequency view and changing rates, FFT size or colour scheme.
#include <algorithm>

#include "core/instrument.h"

namespace miral::core {

namespace {

// The FFT divider is a power of two from 1 to 32; anything else (a damaged
// stored panel) falls back to the designed 4 rather than dividing by zero.
int sanitizeDivider(int d) {
    switch (d) {
        case 1:
        case 2:
        case 4:
        case 8:
        case 16:
        case 32:
            return d;
        default:
            return 4;
    }
}

int sanitizeRate(int r) {
    return r > 0 ? r : 44100;
}

}  // namespace

double Instrument::clockCorrection(int rate) const {
    switch (rate) {
        case 44100:
        case 48000:
        case 88200:
        case 96000:
        case 176400:
        case 192000: {
            const double c = prefs.readReal("Freq_Corr_" + std::to_string(rate));
            // A correction of zero or less would make every frequency infinite.
            return c > 0.0 ? c : 1.0;
        }
        default:
            return 1.0;
    }
}

void Instrument::FrequenzaClick(const UiEvent&) {
    if (activeView(panel) == View::Time) return;
    // The B-only view exists only in the time view.
    panel.setEnabled(Ctl::modeb, false);
    if (panel.down(Ctl::modeb)) panel.setDown(Ctl::modea, true);
    // Sample-clock correction of the analysis rate: 1 unless the user stored a
    // measured factor for this rate ("Freq_Corr_<rate>").
    st.FreqCorr = clockCorrection(st.AdcRate);
    st.FftDivider = sanitizeDivider(st.FftDivider);
    st.FftSize = 65536 / st.FftDivider;
    // The transform's tables for this size are built here, once, not in a cycle.
    spectrum_.engine().Prepare(static_cast<std::size_t>(st.FftSize), analysis::WindowKind::Rectangular);
    distortion_.analyzer().Prepare(static_cast<std::size_t>(st.FftSize));
    st.AnalysisRate = st.AdcRate;
    st.BinWidth = static_cast<double>(st.FftDivider) / 65536.0 * st.AnalysisRate / st.FreqCorr;
    if (!isDeviceView(activeView(panel))) {
        st.FMin = std::max(st.FMin, 2.0 * st.FftDivider);
        st.FMin = std::max(st.FMin, 5.0);
        st.RetuneKnobs = true;
        tuneall();
    }
    st.CaptureRate = st.AnalysisRate;
    setDecimation(1);
    st.InputRestartPending = true;
    st.FreshCapture = true;
    st.DisplayPrimed = false;
}

void Instrument::applyFixedRate() {
    const int rate = streams_->FixedRate();
    const Ctl boxes[2] = {Ctl::ComboBox2, Ctl::ComboBox4};
    for (int k = 0; k < 2; ++k) {
        const Ctl box = boxes[k];
        if (rate > 0) {
            if (st.UserRateItem[k] < 0) st.UserRateItem[k] = panel.itemIndex(box);
            const auto& items = panel.state(box).items;
            for (std::size_t i = 0; i < items.size(); ++i)
                if (items[i] == std::to_string(rate)) panel.setItemIndex(box, static_cast<int>(i));
            panel.setEnabled(box, false);
        } else if (st.UserRateItem[k] >= 0) {
            panel.setItemIndex(box, st.UserRateItem[k]);
            st.UserRateItem[k] = -1;
            panel.setEnabled(box, true);
        }
    }
    if (rate > 0) st.AdcRate = st.DacRate = rate;
}

void Instrument::ComboBox1Change(const UiEvent&) {
    coloClick();
    st.FftDivider = sanitizeDivider(comboInt(Ctl::ComboBox3, 4));
    st.AdcRate = sanitizeRate(comboInt(Ctl::ComboBox2, 44100));
    st.DacRate = sanitizeRate(comboInt(Ctl::ComboBox4, 44100));
    applyFixedRate();
    // Each view handler returns at once when its view is not active, so
    // exactly the active view is set up again; the generators are rebuilt for
    // the new output rate.
    TempoClick();
    FrequenzaClick();
    trasfClick();
    generator1_onClick();
}

}  // namespace miral::core
