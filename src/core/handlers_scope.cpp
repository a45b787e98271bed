// SPDX-License-Identifier: GPL-3.0-or-later
// Time base, trigger and the band drag on the screen.
#include <algorithm>

#include "analysis/band.h"
#include "analysis/scope.h"
#include "core/instrument.h"

namespace miral::core {

void Instrument::TempoClick(const UiEvent&) {
    if (activeView(panel) != View::Time) return;
    panel.setEnabled(Ctl::modeb, true);
    st.TimeBaseStep = -100;
    panel.setDown(Ctl::trasf, false);
    st.CaptureRate = st.AnalysisRate;
    st.DisplayPrimed = false;
    st.FreshCapture = true;
    panel.setDown(Ctl::lowf, false);
    cambia_frequenzaClick();
}

void Instrument::cambia_frequenzaClick() {
    if (!st.BaseRateRead) {
        st.BaseRateRead = true;
        st.BaseRate = prefs.readReal("Base_Freq");
        // A rate of zero or less would make every time base meaningless.
        if (!(st.BaseRate > 0)) st.BaseRate = 44100;
        st.BaseScale = 51200.0 / st.BaseRate;
    }
    // A card that runs at one rate only: the time base runs at it too.
    const int oneRate = streams_->FixedRate();
    if (oneRate > 0 && st.BaseRate != oneRate) {
        st.BaseRate = oneRate;
        st.BaseScale = 51200.0 / st.BaseRate;
        st.TimeBaseStep = -1;  // set up again at the new rate
    }
    int position = panel.value(Ctl::mainselect);
    if (position == st.TimeBaseStep) return;
    st.SettleCount = 4;
    st.TimeBaseStep = position;
    st.FreshCapture = true;
    st.HorizontalScale = 1;
    int maxAdc = prefs.readInt("Max_ADC_Freq");
    analysis::TimeBase tb =
        analysis::ComputeTimeBase(position, st.BaseRate, st.BaseScale, st.FftDivider, maxAdc, oneRate > 0);
    st.TimeBaseRate = tb.timeBaseRate;
    st.Decimation = tb.decimation;
    st.HorizontalScale = tb.horizontalScale;
    st.RateMultiplier = tb.rateMultiplier;
    st.TimeWindow = std::clamp(tb.timeWindow, 0, kMaxWindow);
    // A fresh start: the ring and the windows are cleared.
    ring_->Clear();
    std::fill(st.TimeWorkA.begin(), st.TimeWorkA.end(), 0.0);
    std::fill(st.TimeWorkB.begin(), st.TimeWorkB.end(), 0.0);
    st.CaptureRate = st.TimeBaseRate;
    setDecimation(st.Decimation);
    st.InputRestartPending = true;
    st.FreshCapture = true;
    st.DisplayPrimed = false;
}

void Instrument::trigreset_Click(const UiEvent&) {
    if (!panel.down(Ctl::trigreset)) return;
    st.SingleShotArmed = true;
    panel.setDown(Ctl::trigreset, false);
}

void Instrument::trigres(const UiEvent&) {
    st.SingleShotArmed = true;
}

void Instrument::Inv1Click(const UiEvent&) {
    st.SettleCount = 4;
}

void Instrument::modeaClick(const UiEvent&) {}
void Instrument::panviewClick(const UiEvent&) {}
void Instrument::ylogClick(const UiEvent&) {}
void Instrument::vedifreqClick(const UiEvent&) {}

void Instrument::PaintBox1MouseDown(const UiEvent& e) {
    if (e.button == MouseButton::Left) {
        panel.setDown(Ctl::markerview, true);
        markerviewClick();
    } else if (e.button == MouseButton::Right) {
        panel.setDown(Ctl::markerview, false);
        markerviewClick();
    }
    st.DragLastX = e.x;
    st.CenterHeld = true;
}

void Instrument::PaintBox1MouseMove(const UiEvent& e) {
    if (!e.shift.left || freeBand(panel)) return;
    analysis::Band band{st.FMin, st.FMax, st.FCenter};
    st.FCenter = analysis::DragCenter(st.FCenter, band, e.x - st.DragLastX, panel.state(Ctl::PaintBox1).width,
                                      st.AdcRate);
    st.DragLastX = e.x;
    st.RetuneKnobs = true;
}

void Instrument::PaintBox1MouseUp(const UiEvent&) {}

}  // namespace miral::core
