// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/transfer_impedance.h"

#include <cmath>

#include "analysis/analyzer_stage.h"
#include "analysis/impedance.h"
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

void TransferImpedance::trasfClick() {
    const double nyquist = std::trunc(st_.AdcRate / 2.0);
    if (!isDeviceView(activeView(panel_))) {
        // Leaving the device views: only the upper limit comes back within the band.
        if (st_.FMax > nyquist) {
            st_.FMax = nyquist;
            in_.drawKnob(Ctl::tb2, 160);
            panel_.setDown(Ctl::tb23, true);
        }
        in_.FrequenzaClick();
        return;
    }
    // The B-only view exists only in the time view.
    panel_.setEnabled(Ctl::modeb, false);
    if (panel_.down(Ctl::modeb)) panel_.setDown(Ctl::modea, true);
    if (panel_.checked(Ctl::CheckBox9)) excitationPreset();
    st_.FMax = nyquist;
    in_.drawKnob(Ctl::tb2, 230);
    panel_.setDown(Ctl::tb23, true);
    in_.FrequenzaClick();
    if (st_.FMin < 5) st_.FMin = 5;
    if (st_.FMin == 64) st_.FMin = 100;
    st_.RetuneKnobs = true;
    in_.tuneall();
}

void TransferImpedance::excitationPreset() {
    const bool impedance = activeView(panel_) == View::Impedance;
    for (const Excitation& x : kExcitations) {
        if (!panel_.checked(x.radio)) continue;
        panel_.setCaption(Ctl::Label131, x.sweepLabel);
        in_.drawKnob(Ctl::gensweep, x.sweep);
        // With range " 1" the main frequency is the divider in hertz: one
        // period per FFT window at every size.
        in_.drawKnob(Ctl::genfreq, st_.FftDivider * 1000);
        in_.drawKnob(Ctl::genampl, impedance ? 100 : x.amplitude);
        panel_.setDown(x.range, true);
        panel_.setDown(x.waveform, true);
        panel_.setDown(Ctl::gensweep1, x.sweeping);
        break;
    }
    panel_.setDown(Ctl::db20, false);
    panel_.setDown(Ctl::db40, false);
    panel_.setDown(Ctl::nuttal, true);
    panel_.setDown(Ctl::genon1, true);
    panel_.setDown(Ctl::genon2, false);
    if (!impedance) {
        panel_.setDown(Ctl::ylog, true);
        panel_.setDown(Ctl::xlog, true);
        in_.ylogClick();
    }
    panel_.setDown(Ctl::avg, true);
    st_.LfRestartCount = 7;
    in_.genon1Click();
    in_.generator1_onClick();
    st_.FMin = st_.FftDivider * 5.0;
}

void TransferImpedance::transferBranch() {
    analysis::TransferInputs in;
    in.magnitudeA = st_.SpectrumWorkReA.data();
    in.phaseA = st_.SpectrumWorkImA.data();
    in.magnitudeB = st_.SpectrumWorkReB.data();
    in.phaseB = st_.SpectrumWorkImB.data();
    in.bins = static_cast<std::size_t>(st_.FftSize / 2);
    in.minLevel = panel_.value(Ctl::tb3);
    in.bothInverted = panel_.down(Ctl::Inv1) && panel_.down(Ctl::Inv2);
    in.smooth = panel_.down(Ctl::avg);
    in.smoothPhase = cycle().phaseSmooth() == 0;
    in.binWidth = st_.BinWidth;
    const analysis::TransferResult r = analysis::TransferBranch(in);
    inversionFold_ = r.inversionFold;
    phasePositive_ = r.phasePositive;
    // The phase grid and the curve: 180 .. -180, or 0 .. -360 when folded.
    transferPhaseOffset_ = inversionFold_ ? 0.0 : -180.0;
}

double TransferImpedance::phaseCurveRow(double phase) const {
    const display::PhaseScale s = activeView(panel_) == View::Impedance
                                      ? display::ImpedancePhaseScale(st_.UpperBottom, st_.LowerTop)
                                      : display::TransferPhaseScale(st_.PlotHeight, transferPhaseOffset_);
    return s.row(phase);
}

void TransferImpedance::phaseCurve() {
    const View view = activeView(panel_);
    if (!isDeviceView(view)) return;
    const bool impedance = view == View::Impedance;
    if (st_.UpperBottom == 0 || !in_.screenBuffer()) return;
    spectrum().columns().Update(st_.FftSize / 2, st_.BinWidth, st_.PlotSpan, st_.PlotWidth, st_.FMin,
                                st_.FMax, panel_.down(Ctl::xlog));
    display::PhaseCurveInputs in;
    in.phase = st_.DisplayPhase.data();
    in.scale = impedance ? display::ImpedancePhaseScale(st_.UpperBottom, st_.LowerTop)
                         : display::TransferPhaseScale(st_.PlotHeight, transferPhaseOffset_);
    in.pen =
        display::Pen{in_.colors()[display::Slot::XfrPhase], cycle().penWidth(), display::PenStyle::Solid};
    in.paintWidth = panel_.state(Ctl::PaintBox1).width;
    in.plotHeight = st_.PlotHeight;
    display::DrawPhaseCurve(*in_.screenBuffer(), in, spectrum().columns(), spectrum().points());
}

// ---- The impedance view ---------------------------------------------------------------------

void TransferImpedance::impedanceBranch() {
    analysis::ImpedanceInputs in;
    in.magnitudeA = st_.SpectrumWorkReA.data();
    in.phaseA = st_.SpectrumWorkImA.data();
    in.magnitudeB = st_.SpectrumWorkReB.data();
    in.phaseB = st_.SpectrumWorkImB.data();
    in.bins = static_cast<std::size_t>(st_.FftSize / 2);
    in.shunt = in_.editNumber(Ctl::Edit9);
    in.inputImpedance = in_.editNumber(Ctl::Edit10);
    in.serial = panel_.checked(Ctl::CheckBox5);
    in.highImpedanceCorrection = rlc().highImpedanceCorrection();
    in.squeezePhase = rlc().resistive() && panel_.down(Ctl::rlcmode);
    in.smooth = panel_.down(Ctl::avg);
    in.smoothPhase = cycle().phaseSmooth() == 0;
    in.binWidth = st_.BinWidth;
    in.readingBin = rlc().readingBin();
    const analysis::ImpedanceResult r = analysis::ImpedanceBranch(in);
    phasePositive_ = r.phasePositive;
    impedanceValid_ = r.valid;

    // The meter reads the test bin as measured: the high-impedance
    // correction smooths the drawn curve of a capacitor above 1 kohm, but
    // would make an ideal one read a series resistance and a finite Q. Its
    // own average follows the display's: fresh with LF up or after a
    // restart (or a new test bin), frozen by HOLD.
    rlc().takePhase(r.readingValid, r.readingPhase);
}

void TransferImpedance::impedanceDisplayUnits() {
    const std::size_t h = static_cast<std::size_t>(st_.FftSize / 2);
    const bool ylog = panel_.down(Ctl::ylog);
    double* z = st_.SpectrumWorkReA.data();
    for (std::size_t i = 0; i < h; ++i) z[i] = analysis::ImpedanceToDisplay(z[i], st_.ScaleB, ylog);
    // Channel B keeps its level as in the spectrum view.
    analysis::ToDisplayUnits(ylog ? analysis::DisplayRow::SpectrumLog : analysis::DisplayRow::SpectrumLinear,
                             st_.SpectrumWorkReB.data(), h, st_.ScaleA);
}

// ---- The instrument's handlers ---------------------------------------------------------

void Instrument::trasfClick(const UiEvent&) {
    transfer_.trasfClick();
}
void Instrument::zetaClick(const UiEvent&) {
    transfer_.trasfClick();
}

}  // namespace miral::core
