// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/rlc_meter.h"

#include <algorithm>
#include <cmath>
#include <string_view>

#include "analysis/analyzer_stage.h"
#include "analysis/impedance.h"
#include "core/instrument.h"
#include "display/rlc_readout.h"

namespace miral::core {

namespace {

// Sets an edit box's text without a fresh string once its buffer is large
// enough (the readouts are rewritten every cycle).
void setTextInPlace(Panel& p, Ctl c, std::string_view text) {
    if (p.text(c) == text) return;
    p.mutableState(c).text.assign(text);
    p.bump(c);
}

display::RlcFigures figures(const analysis::RlcReading& r) {
    return display::RlcFigures{r.phase, r.ohms, r.cos, r.sin, r.tan, r.frequency};
}

}  // namespace

void RlcMeter::rlcSetup() {
    const int n = st_.FftSize;
    const bool ylog = panel_.down(Ctl::ylog);
    const double scale = st_.ScaleB;  // trace A's range
    analysis::RlcClass cls = analysis::ClassifyDevice(st_.DisplayA.data(), n, scale, ylog);
    if (panel_.down(Ctl::rr)) cls = analysis::RlcClass::Resistive;
    if (panel_.down(Ctl::ll)) cls = analysis::RlcClass::Inductive;
    if (panel_.down(Ctl::cc)) cls = analysis::RlcClass::Capacitive;
    // The high-impedance correction is chosen for a capacitor: a change of
    // class drops it, so that an inductor or resistor measured next (or a
    // class misjudged on an unsettled trace) is read without it.
    const bool wasCapacitive = rlcCapacitive_;
    const bool wasInductive = rlcInductive_;
    if ((cls == analysis::RlcClass::Capacitive) != wasCapacitive ||
        (cls == analysis::RlcClass::Inductive) != wasInductive)
        highImpedanceCorrection_ = false;
    rlcResistive_ = cls == analysis::RlcClass::Resistive;
    rlcCapacitive_ = cls == analysis::RlcClass::Capacitive;
    rlcInductive_ = cls == analysis::RlcClass::Inductive;
    rlcPrecision_ = 1;
    if (!rlcActive_) return;

    analysis::TestPointInputs t;
    t.cls = cls;
    t.z0 = analysis::ImpedanceFromDisplay(st_.DisplayA[static_cast<std::size_t>(n / 4)], scale, ylog);
    t.fftSize = n;
    t.adcRate = st_.AdcRate;
    t.overrideHz = in_.prefs.readReal(rlcCapacitive_  ? "RLC_Freq_C"
                                      : rlcInductive_ ? "RLC_Freq_L"
                                                      : "RLC_Freq_R");
    t.smoothChecked = panel_.checked(Ctl::CheckBox12);
    t.zLimits = panel_.checked(Ctl::CheckBox11);
    t.shunt = in_.editNumber(Ctl::Edit9);
    t.ratio1 = st_.Ratio1;
    t.ratio2 = st_.Ratio2;
    const analysis::TestPoint p = analysis::ChooseTestPoint(t);
    rlcTestBin_ = p.bin;
    if (p.setsCorrection) highImpedanceCorrection_ = p.highImpedanceCorrection;
    rlcPrecision_ = p.precision;

    // The aux generator plays the test frequency, right after the cycle: a
    // new tone may reopen the playback stream.
    const int g = static_cast<int>(p.bin * st_.BinWidth);
    if (panel_.value(Ctl::genfreq2) != g || !panel_.down(Ctl::genon2) || !panel_.down(Ctl::geny4)) {
        rlcToneDue_ = true;
        rlcToneHz_ = g;
    }
    panel_.setDown(Ctl::avg, false);
}

void RlcMeter::rlcTune() {
    if (!rlcToneDue_) return;
    rlcToneDue_ = false;
    // Not when the meter was switched off since (a tick without the step
    // after its cycle leaves it to the next one).
    if (activeView(panel_) != View::Impedance || !panel_.down(Ctl::rlcmode) ||
        !panel_.checked(Ctl::CheckBox8))
        return;
    const int g = rlcToneHz_;
    if (panel_.value(Ctl::genfreq2) == g && panel_.down(Ctl::genon2) && panel_.down(Ctl::geny4)) return;
    // Range 1k: the knob is in hertz.
    in_.drawKnob(Ctl::genfreq2, g);
    in_.drawKnob(Ctl::genampl2, 100);
    panel_.setDown(Ctl::genon2, true);
    panel_.setDown(Ctl::geny4, true);
    in_.generator1_onClick();
}

void RlcMeter::rlcReadout(int bin) {
    if (activeView(panel_) != View::Impedance || !in_.screenBuffer()) return;
    const int bins = st_.FftSize / 2;
    const int b = rlcActive_ ? rlcTestBin_ : bin;
    if (b < 1 || b >= bins) return;  // nothing caught: nothing to read

    analysis::ReadingInputs ri;
    ri.display = st_.DisplayA.data();
    ri.phase = st_.DisplayPhase.data();
    ri.bins = bins;
    ri.scale = st_.ScaleB;
    ri.ylog = panel_.down(Ctl::ylog);
    ri.binWidth = st_.BinWidth;
    const bool meterButton = panel_.down(Ctl::rlcmode);
    const double phase0 = st_.DisplayPhase[static_cast<std::size_t>(b)];
    const bool reactive = meterButton ? !rlcResistive_ : std::fabs(phase0) > 5;
    const double probeMilliOhm = in_.editNumber(Ctl::Edit17);

    display::RlcDrawInputs d;
    d.meterActive = rlcActive_;
    d.resistive = !reactive;
    d.overload = cycle().windowPeak() >= 31000;
    d.labels = in_.colors()[display::Slot::Labels];
    d.mark1Trace = in_.colors()[display::Slot::Mark1Trace];
    if (reactive) {
        analysis::RlcReading r = analysis::ReactiveReading(ri, b, rlcActive_ ? 1 : b / 10);
        // The meter's readings belong to the tone the aux generator plays,
        // whole hertz (29 Hz for the 29.53 Hz of bin 11 of 16384 points),
        // not to the bin's own frequency.
        if (rlcActive_ && st_.AuxFrequency > 0) r.frequency = st_.AuxFrequency;
        // The test bin's phase as measured (the reading covers that one bin).
        if (rlcActive_ && rlcPhaseValid_ && rlcPhaseBin_ == b) {
            const double theta = rlcPhase_ * (3.1415926539 / 180.0);
            r.phase = rlcPhase_;
            r.cos = std::cos(theta);
            r.sin = std::fabs(std::sin(theta));
            r.tan = std::fabs(std::tan(theta));
        }
        const bool capacitor = meterButton ? rlcCapacitive_ : r.phase < 0;
        const display::RlcTexts t = transferImpedance().impedanceValid()
                                        ? display::ReactiveTexts(figures(r), capacitor, rlcPrecision_,
                                                                 in_.editNumber(Ctl::Edit1), probeMilliOhm)
                                        : display::NoReadingTexts();
        setTextInPlace(panel_, Ctl::Edit11, t.main);
        setTextInPlace(panel_, Ctl::Edit12, t.series);
        setTextInPlace(panel_, Ctl::Edit13, t.quality);
        setTextInPlace(panel_, Ctl::Edit15, t.impedance);
        d.phase = r.phase;
    } else {
        const analysis::RlcReading r = analysis::ResistiveReading(ri, b, rlcActive_ ? 2 : b / 10);
        setTextInPlace(panel_, Ctl::Edit12,
                       transferImpedance().impedanceValid()
                           ? display::ResistiveText(figures(r), rlcPrecision_, probeMilliOhm)
                           : display::NumText(display::kNoReading));
        d.phase = r.phase;
    }

    // The line: the top of the screen while the meter has it, else marker 1's
    // row (the row trace A was drawn at in the reading's column).
    d.row = st_.UpperTop;
    if (!rlcActive_) {
        for (int k = 0; k < spectrum().traceColumnCount(); ++k) {
            const display::TraceColumn& col = spectrum().traceColumns()[k];
            if (col.bin != b) continue;
            const double y = std::clamp(col.y, static_cast<double>(st_.UpperTop), st_.UpperBottom - 4.0);
            d.row = std::isnan(y) ? st_.UpperTop : static_cast<int>(y);
            break;
        }
    }
    display::DrawRlcReadout(*in_.screenBuffer(), d, panel_.text(Ctl::Edit11), panel_.text(Ctl::Edit12),
                            panel_.text(Ctl::Edit13), panel_.text(Ctl::Edit15));
}

// ---- Meter controls -------------------------------------------------------------------------

void RlcMeter::rlcmodeClick() {
    const bool impedance = activeView(panel_) == View::Impedance;
    if (impedance && panel_.down(Ctl::genon2)) {
        // As if the aux generator's own button went up: its tone stops now,
        // until the meter plays its test frequency.
        panel_.setDown(Ctl::genon2, false);
        in_.genon1Click();
    }
    if (impedance && panel_.checked(Ctl::CheckBox8) && panel_.down(Ctl::rlcmode)) {
        panel_.setDown(Ctl::avg, false);
        panel_.setDown(Ctl::maxx, false);
        st_.LfRestartCount = 7;
    }
    if (panel_.down(Ctl::rlcmode)) in_.showSidePanel(0);
}

void RlcMeter::SpeedButton9Click() {
    panel_.setChecked(Ctl::CheckBox8, !panel_.checked(Ctl::CheckBox8));
    if (panel_.down(Ctl::avg)) st_.LfRestartCount = 7;
}

// ---- The impedance stage's reading at the test bin ------------------------------------------

void RlcMeter::takePhase(bool valid, double phase) {
    const int bin = readingBin();
    if (!valid) {
        rlcPhaseValid_ = false;
    } else if (!rlcPhaseValid_ || rlcPhaseBin_ != bin || !st_.DisplayPrimed || !panel_.down(Ctl::lowf)) {
        rlcPhase_ = phase;
        rlcPhaseValid_ = true;
        rlcPhaseBin_ = bin;
    } else if (!panel_.down(Ctl::hold)) {
        rlcPhase_ = analysis::LfAverage(rlcPhase_, phase);
    }
}

// ---- The instrument's handlers ---------------------------------------------------------

void Instrument::rlcmodeClick(const UiEvent&) {
    rlc_.rlcmodeClick();
}
void Instrument::SpeedButton9Click(const UiEvent&) {
    rlc_.SpeedButton9Click();
}

}  // namespace miral::core
