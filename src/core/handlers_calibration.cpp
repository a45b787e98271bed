// SPDX-License-Identifier: GPL-3.0-or-later
// Automatic calibration of the selected probe: with both inputs on the same
// 15 kHz sine, the transfer-function analyzer's phase and gain of A against
// B become the probe's channel delay (Edit14) and differential gain (Edit5).
// Timer10 steps it every 100 ms: the panel is saved at step 2, the analyzer
// and the generator are set up at step 3, the LF averaging starts at step 10,
// and step 50 measures and puts the panel back.
#include <cmath>
#include <cstdio>

#include "core/instrument.h"
#include "display/number_text.h"
#include "storage/panel_store.h"

namespace miral::core {

namespace {

constexpr double kCalibrationHz = 15000.0;
constexpr int kLastStep = 50;
constexpr int kAveragingStep = 10;
constexpr double kDbPerUnit = 20 * 0.00021714724972;
// An input whose level (counts, full scale 32768) stays below -60 dB of full
// scale while the generator plays at full scale is not connected to it.
constexpr double kSilentCounts = 32.768;
// A sample at full scale: the converter clipped, the tone's phase and level
// are no longer its own.
constexpr double kClipCounts = 32767.0;
// A phase tells delays apart within half a period of the test frequency:
// 33333 ns at 15 kHz; beyond, a delay reads as one a whole period away.
constexpr double kUnambiguousNs = 1e9 / kCalibrationHz / 2;

std::string oneDecimal(double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.1f", v);
    return buf;
}

// Characters of the delay's text: more for larger magnitudes.
int delayTextWidth(double d) {
    if (d > 10000) return 8;
    if (d > 1000) return 7;
    if (d > 100) return 6;
    if (d > 10) return 5;
    if (d > 0) return 4;
    if (d > -10) return 5;
    if (d > -100) return 6;
    if (d > -1000) return 7;
    return 8;
}

}  // namespace

void Instrument::SpeedButton19Click(const UiEvent&) {
    calibrationStep_ = 1;
    panel.setEnabled(Ctl::Timer10, true);
}

void Instrument::Timer10Timer(const UiEvent&) {
    ++calibrationStep_;
    panel.setCaption(Ctl::Label213, "Calibrating .." + std::to_string(calibrationStep_));
    switch (calibrationStep_) {
        case 2:
            // The panel as the user left it. A restarted run keeps the panel
            // saved when it first started (saving now would keep the
            // calibration's own settings instead).
            if (!calibrationSaved_) {
                salvaClick();
                calibrationSaved_ = true;
                calibrationMarkerView_ = panel.down(Ctl::markerview);
                calibrationBand_[0] = st.FMin;
                calibrationBand_[1] = st.FMax;
                calibrationBand_[2] = st.FCenter;
            }
            panel.setDown(Ctl::trasf, true);
            trasfClick();
            panel.setDown(Ctl::markerview, false);
            markerviewClick();
            break;
        case 3:
            // A full-scale 15 kHz sine on both outputs, log axis, no averaging.
            panel.setDown(Ctl::gensin1, true);
            panel.setDown(Ctl::genx4, true);
            panel.setDown(Ctl::ylog, true);
            drawKnob(Ctl::genfreq, static_cast<int>(kCalibrationHz));  // beyond the knob's scale on purpose
            drawKnob(Ctl::genampl, 100);
            for (Ctl c : {Ctl::db20, Ctl::db40, Ctl::gensweep1, Ctl::genon2, Ctl::avg, Ctl::maxx, Ctl::lowf,
                          Ctl::Inv1, Ctl::Inv2})
                panel.setDown(c, false);
            panel.setDown(Ctl::genon1, true);
            panel.setChecked(Ctl::CheckBox2, true);
            panel.setChecked(Ctl::CheckBox4, true);
            genon1Click();
            break;
        case kAveragingStep:
            panel.setDown(Ctl::lowf, true);
            calibrationPeak_[0] = calibrationPeak_[1] = 0;
            break;
        case kLastStep:
            calibrationMeasure();
            break;
        default:
            break;
    }
}

std::string Instrument::calibrationRefusal(double phase, double gain, double d, double g) const {
    if (st.PeakA < kSilentCounts) return "channel A is silent";
    if (st.PeakB < kSilentCounts) return "channel B is silent";
    if (calibrationPeak_[0] >= kClipCounts) return "channel A clips";
    if (calibrationPeak_[1] >= kClipCounts) return "channel B clips";
    if (!std::isfinite(phase) || !std::isfinite(gain)) {
        return "no reading at " + std::to_string(static_cast<int>(kCalibrationHz)) + " Hz";
    }
    const storage::ProbeRange& gains = storage::kDiffGainRange;
    const std::string gainRange = shortestText(gains.min) + ".." + shortestText(gains.max) + " dB";
    if (!gains.contains(gain))
        return "channel A reads " + oneDecimal(gain) + " dB against B, beyond " + gainRange;
    if (!gains.contains(g)) return "the gain would be " + oneDecimal(g) + " dB, beyond " + gainRange;
    if (std::fabs(d) > kUnambiguousNs) {
        return "the delay would be " + oneDecimal(d) + " ns, beyond the " + oneDecimal(-kUnambiguousNs) +
               ".." + oneDecimal(kUnambiguousNs) + " ns that a phase at " +
               std::to_string(static_cast<int>(kCalibrationHz)) + " Hz tells apart";
    }
    return "";
}

void Instrument::calibrationMeasure() {
    // 1..4. Phase and gain of A against B at the calibration frequency.
    const int e = static_cast<int>(kCalibrationHz / st.BinWidth);
    const bool measurable = e > 0 && e < st.FftSize / 2 &&
                            static_cast<std::size_t>(e) < st.DisplayPhase.size() &&
                            static_cast<std::size_t>(e) < st.DisplayA.size() && st.ScaleB != 0;
    if (measurable) {
        const double phase = st.DisplayPhase[static_cast<std::size_t>(e)];
        const double gain = st.DisplayA[static_cast<std::size_t>(e)] / st.ScaleB * kDbPerUnit;
        const double d = editNumber(Ctl::Edit14) - phase * 1e9 / kCalibrationHz / 360;
        const double g = editNumber(Ctl::Edit5) + gain;
        // A result that cannot be right leaves the probe as it was.
        const std::string refused = calibrationRefusal(phase, gain, d, g);
        if (refused.empty()) {
            // 5. Into the boxes; their change handlers store them for the probe.
            panel.setText(Ctl::Edit14, display::NumberText(d, delayTextWidth(d)).str());
            panel.setText(Ctl::Edit5, display::NumberText(g, 7).str());
            Edit14Change();
            Edit5Change();
            panel.setCaption(Ctl::Label213, "CALIBRATED");
        } else {
            panel.setCaption(Ctl::Label213, "Autocalibration");
            showStatusMessage("Calibration refused (" + refused +
                              "); the probe's delay and gain are unchanged");
        }
    } else {
        // 15 kHz lies above half the sample rate: there is nothing to measure,
        // and the probe keeps its values.
        panel.setCaption(Ctl::Label213, "Autocalibration");
        showStatusMessage("Calibration needs a sample rate above " +
                          std::to_string(static_cast<int>(2 * kCalibrationHz)) +
                          " Hz; the probe values are unchanged");
    }
    // 6. Back to the panel as it was.
    panel.setEnabled(Ctl::Timer10, false);
    calibrationStep_ = 0;
    st.LfRestartCount = 7;
    trasfClick();
    panel.setDown(Ctl::markerview, calibrationMarkerView_);
    markerviewClick();
    // The displayed band as it was (the view handlers of the restore put it
    // onto the band knobs), then the panel.
    st.FMin = calibrationBand_[0];
    st.FMax = calibrationBand_[1];
    st.FCenter = calibrationBand_[2];
    ripristinaClick();
    calibrationSaved_ = false;
    // The LF restart is for an averaging that runs; with "LF" up it would
    // press the button, which the panel did not have before the run.
    if (!panel.down(Ctl::lowf)) st.LfRestartCount = 0;
}

}  // namespace miral::core
