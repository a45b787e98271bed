// SPDX-License-Identifier: GPL-3.0-or-later
// The transfer-function view ("XFR"): its set-up with the generator's
// excitation, the gain and phase stage of the processing cycle and the phase
// curve of the Bode diagram (also drawn in the impedance view).
#include <cmath>

#include "analysis/transfer.h"
#include "core/instrument.h"
#include "display/phase_curve.h"

namespace miral::core {

namespace {

// The generator settings of one excitation (the radio buttons under "XFR MODE").
struct Excitation {
    Ctl radio;
    const char* sweepLabel;  // `Label131`
    int sweep;               // `gensweep`
    int amplitude;           // `genampl` in the transfer view (the impedance view uses 100)
    Ctl range;
    Ctl waveform;
    bool sweeping;  // `gensweep1`
};

constexpr Excitation kExcitations[] = {
    {Ctl::RadioButton1, "50%", 50, 25, Ctl::genx1, Ctl::gensqr1, false},    // "A - Pulse "
    {Ctl::RadioButton2, "50%", 50, 20, Ctl::genx1, Ctl::gennoise1, false},  // "B - Noise"
    {Ctl::RadioButton3, "1K", 90, 46, Ctl::genx3, Ctl::gensin1, true},      // "C - Sin Sweep"
    {Ctl::RadioButton4, "1K", 100, 23, Ctl::genx1, Ctl::gensqr1, true},     // "D - Sqr Sweep"
};

}  // namespace

void Instrument::trasfClick(const UiEvent&) {
    const double nyquist = std::trunc(st.AdcRate / 2.0);
    if (!isDeviceView(activeView(panel))) {
        // Leaving the device views: only the upper limit comes back within the band.
        if (st.FMax > nyquist) {
            st.FMax = nyquist;
            drawKnob(Ctl::tb2, 160);
            panel.setDown(Ctl::tb23, true);
        }
        FrequenzaClick();
        return;
    }
    // The B-only view exists only in the time view.
    panel.setEnabled(Ctl::modeb, false);
    if (panel.down(Ctl::modeb)) panel.setDown(Ctl::modea, true);
    if (panel.checked(Ctl::CheckBox9)) excitationPreset();
    st.FMax = nyquist;
    drawKnob(Ctl::tb2, 230);
    panel.setDown(Ctl::tb23, true);
    FrequenzaClick();
    if (st.FMin < 5) st.FMin = 5;
    if (st.FMin == 64) st.FMin = 100;
    st.RetuneKnobs = true;
    tuneall();
}

void Instrument::zetaClick(const UiEvent&) {
    trasfClick();
}

void Instrument::excitationPreset() {
    const bool impedance = activeView(panel) == View::Impedance;
    for (const Excitation& x : kExcitations) {
        if (!panel.checked(x.radio)) continue;
        panel.setCaption(Ctl::Label131, x.sweepLabel);
        drawKnob(Ctl::gensweep, x.sweep);
        // With range " 1" the main frequency is the divider in hertz: one
        // period per FFT window at every size.
        drawKnob(Ctl::genfreq, st.FftDivider * 1000);
        drawKnob(Ctl::genampl, impedance ? 100 : x.amplitude);
        panel.setDown(x.range, true);
        panel.setDown(x.waveform, true);
        panel.setDown(Ctl::gensweep1, x.sweeping);
        break;
    }
    panel.setDown(Ctl::db20, false);
    panel.setDown(Ctl::db40, false);
    panel.setDown(Ctl::nuttal, true);
    panel.setDown(Ctl::genon1, true);
    panel.setDown(Ctl::genon2, false);
    if (!impedance) {
        panel.setDown(Ctl::ylog, true);
        panel.setDown(Ctl::xlog, true);
        ylogClick();
    }
    panel.setDown(Ctl::avg, true);
    st.LfRestartCount = 7;
    genon1Click();
    generator1_onClick();
    st.FMin = st.FftDivider * 5.0;
}

void Instrument::transferBranch() {
    analysis::TransferInputs in;
    in.magnitudeA = st.SpectrumWorkReA.data();
    in.phaseA = st.SpectrumWorkImA.data();
    in.magnitudeB = st.SpectrumWorkReB.data();
    in.phaseB = st.SpectrumWorkImB.data();
    in.bins = static_cast<std::size_t>(st.FftSize / 2);
    in.minLevel = panel.value(Ctl::tb3);
    in.bothInverted = panel.down(Ctl::Inv1) && panel.down(Ctl::Inv2);
    in.smooth = panel.down(Ctl::avg);
    in.smoothPhase = phaseSmooth_ == 0;
    in.binWidth = st.BinWidth;
    const analysis::TransferResult r = analysis::TransferBranch(in);
    inversionFold_ = r.inversionFold;
    phasePositive_ = r.phasePositive;
    // The phase grid and the curve: 180 .. -180, or 0 .. -360 when folded.
    transferPhaseOffset_ = inversionFold_ ? 0.0 : -180.0;
}

double Instrument::phaseCurveRow(double phase) const {
    const display::PhaseScale s = activeView(panel) == View::Impedance
                                      ? display::ImpedancePhaseScale(st.UpperBottom, st.LowerTop)
                                      : display::TransferPhaseScale(st.PlotHeight, transferPhaseOffset_);
    return s.row(phase);
}

void Instrument::phaseCurve() {
    const View view = activeView(panel);
    if (!isDeviceView(view)) return;
    const bool impedance = view == View::Impedance;
    if (st.UpperBottom == 0 || !screenBuffer_) return;
    spectrumColumns_.Update(st.FftSize / 2, st.BinWidth, st.PlotSpan, st.PlotWidth, st.FMin, st.FMax,
                            panel.down(Ctl::xlog));
    display::PhaseCurveInputs in;
    in.phase = st.DisplayPhase.data();
    in.scale = impedance ? display::ImpedancePhaseScale(st.UpperBottom, st.LowerTop)
                         : display::TransferPhaseScale(st.PlotHeight, transferPhaseOffset_);
    in.pen = display::Pen{colors_[display::Slot::XfrPhase], penWidth_, display::PenStyle::Solid};
    in.paintWidth = panel.state(Ctl::PaintBox1).width;
    in.plotHeight = st.PlotHeight;
    display::DrawPhaseCurve(*screenBuffer_, in, spectrumColumns_, spectrumPoints_);
}

}  // namespace miral::core
