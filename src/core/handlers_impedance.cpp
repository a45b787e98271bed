// SPDX-License-Identifier: GPL-3.0-or-later
// The impedance view ("Z") and the RLC meter: the impedance stage of the
// processing cycle, its display units, the meter's classification, test
// frequency and readouts, its buttons, and the probe table's edit boxes.
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

void Instrument::rlcSetup() {
    const int n = st.FftSize;
    const bool ylog = panel.down(Ctl::ylog);
    const double scale = st.ScaleB;  // trace A's range
    analysis::RlcClass cls = analysis::ClassifyDevice(st.DisplayA.data(), n, scale, ylog);
    if (panel.down(Ctl::rr)) cls = analysis::RlcClass::Resistive;
    if (panel.down(Ctl::ll)) cls = analysis::RlcClass::Inductive;
    if (panel.down(Ctl::cc)) cls = analysis::RlcClass::Capacitive;
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
    t.z0 = analysis::ImpedanceFromDisplay(st.DisplayA[static_cast<std::size_t>(n / 4)], scale, ylog);
    t.fftSize = n;
    t.adcRate = st.AdcRate;
    t.overrideHz = prefs.readReal(rlcCapacitive_  ? "RLC_Freq_C"
                                  : rlcInductive_ ? "RLC_Freq_L"
                                                  : "RLC_Freq_R",
                                  0);
    t.smoothChecked = panel.checked(Ctl::CheckBox12);
    t.zLimits = panel.checked(Ctl::CheckBox11);
    t.shunt = editNumber(Ctl::Edit9);
    t.ratio1 = st.Ratio1;
    t.ratio2 = st.Ratio2;
    const analysis::TestPoint p = analysis::ChooseTestPoint(t);
    rlcTestBin_ = p.bin;
    if (p.setsCorrection) highImpedanceCorrection_ = p.highImpedanceCorrection;
    rlcPrecision_ = p.precision;

    // The aux generator plays the test frequency, right after the cycle: a
    // new tone may reopen the playback stream.
    const int g = static_cast<int>(p.bin * st.BinWidth);
    if (panel.value(Ctl::genfreq2) != g || !panel.down(Ctl::genon2) || !panel.down(Ctl::geny4)) {
        rlcToneDue_ = true;
        rlcToneHz_ = g;
    }
    panel.setDown(Ctl::avg, false);
}

void Instrument::rlcTune() {
    if (!rlcToneDue_) return;
    rlcToneDue_ = false;
    // Not when the meter was switched off since (a tick without the step
    // after its cycle leaves it to the next one).
    if (!panel.down(Ctl::zeta) || !panel.down(Ctl::rlcmode) || !panel.checked(Ctl::CheckBox8)) return;
    const int g = rlcToneHz_;
    if (panel.value(Ctl::genfreq2) == g && panel.down(Ctl::genon2) && panel.down(Ctl::geny4)) return;
    // Range 1k: the knob is in hertz.
    drawKnob(Ctl::genfreq2, g);
    drawKnob(Ctl::genampl2, 100);
    panel.setDown(Ctl::genon2, true);
    panel.setDown(Ctl::geny4, true);
    generator1_onClick();
}

void Instrument::rlcReadout(int bin) {
    if (activeView(panel) != View::Impedance || !screenBuffer_) return;
    const int bins = st.FftSize / 2;
    const int b = rlcActive_ ? rlcTestBin_ : bin;
    if (b < 1 || b >= bins) return;  // nothing caught: nothing to read

    analysis::ReadingInputs ri;
    ri.display = st.DisplayA.data();
    ri.phase = st.DisplayPhase.data();
    ri.bins = bins;
    ri.scale = st.ScaleB;
    ri.ylog = panel.down(Ctl::ylog);
    ri.binWidth = st.BinWidth;
    const bool meterButton = panel.down(Ctl::rlcmode);
    const double phase0 = st.DisplayPhase[static_cast<std::size_t>(b)];
    const bool reactive = meterButton ? !rlcResistive_ : std::fabs(phase0) > 5;
    const double probeMilliOhm = editNumber(Ctl::Edit17);

    display::RlcDrawInputs d;
    d.meterActive = rlcActive_;
    d.resistive = !reactive;
    d.overload = windowPeak_ >= 31000;
    d.labels = colors_[display::Slot::Labels];
    d.mark1Trace = colors_[display::Slot::Mark1Trace];
    if (reactive) {
        analysis::RlcReading r = analysis::ReactiveReading(ri, b, rlcActive_ ? 1 : b / 10);
        // The meter's readings belong to the tone the aux generator plays,
        // whole hertz (29 Hz for the 29.53 Hz of bin 11 of 16384 points),
        // not to the bin's own frequency.
        if (rlcActive_ && st.AuxFrequency > 0) r.frequency = st.AuxFrequency;
        // The test bin's phase as measured (the reading covers that one bin).
        if (rlcActive_ && rlcPhaseValid_ && rlcPhaseBin_ == b) {
            const double theta = rlcPhase_ * (3.1415926539 / 180.0);
            r.phase = rlcPhase_;
            r.cos = std::cos(theta);
            r.sin = std::fabs(std::sin(theta));
            r.tan = std::fabs(std::tan(theta));
        }
        const bool capacitor = meterButton ? rlcCapacitive_ : r.phase < 0;
        const display::RlcTexts t = transfer_.impedanceValid()
                                        ? display::ReactiveTexts(figures(r), capacitor, rlcPrecision_,
                                                                 editNumber(Ctl::Edit1), probeMilliOhm)
                                        : display::NoReadingTexts();
        setTextInPlace(panel, Ctl::Edit11, t.main);
        setTextInPlace(panel, Ctl::Edit12, t.series);
        setTextInPlace(panel, Ctl::Edit13, t.quality);
        setTextInPlace(panel, Ctl::Edit15, t.impedance);
        d.phase = r.phase;
    } else {
        const analysis::RlcReading r = analysis::ResistiveReading(ri, b, rlcActive_ ? 2 : b / 10);
        setTextInPlace(panel, Ctl::Edit12,
                       transfer_.impedanceValid()
                           ? display::ResistiveText(figures(r), rlcPrecision_, probeMilliOhm)
                           : display::NumText(display::kNoReading));
        d.phase = r.phase;
    }

    // The line: the top of the screen while the meter has it, else marker 1's
    // row (the row trace A was drawn at in the reading's column).
    d.row = st.UpperTop;
    if (!rlcActive_) {
        for (int k = 0; k < traceColumnCount_; ++k) {
            const display::TraceColumn& col = traceColumns_[static_cast<std::size_t>(k)];
            if (col.bin != b) continue;
            const double y = std::clamp(col.y, static_cast<double>(st.UpperTop), st.UpperBottom - 4.0);
            d.row = std::isnan(y) ? st.UpperTop : static_cast<int>(y);
            break;
        }
    }
    display::DrawRlcReadout(*screenBuffer_, d, panel.text(Ctl::Edit11), panel.text(Ctl::Edit12),
                            panel.text(Ctl::Edit13), panel.text(Ctl::Edit15));
}

// ---- Meter controls -------------------------------------------------------------------------

void Instrument::rlcmodeClick(const UiEvent&) {
    const bool impedance = activeView(panel) == View::Impedance;
    if (impedance && panel.down(Ctl::genon2)) {
        // As if the aux generator's own button went up: its tone stops now,
        // until the meter plays its test frequency.
        panel.setDown(Ctl::genon2, false);
        genon1Click();
    }
    if (impedance && panel.checked(Ctl::CheckBox8) && panel.down(Ctl::rlcmode)) {
        panel.setDown(Ctl::avg, false);
        panel.setDown(Ctl::maxx, false);
        st.LfRestartCount = 7;
    }
    if (panel.down(Ctl::rlcmode)) showSidePanel(0);
}

void Instrument::SpeedButton9Click(const UiEvent&) {
    panel.setChecked(Ctl::CheckBox8, !panel.checked(Ctl::CheckBox8));
    if (panel.down(Ctl::avg)) st.LfRestartCount = 7;
}

}  // namespace miral::core
