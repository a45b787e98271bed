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

void Calibration::SpeedButton19Click() {
    calibrationStep_ = 1;
    panel_.setEnabled(Ctl::Timer10, true);
}

void Calibration::Timer10Timer() {
    ++calibrationStep_;
    panel_.setCaption(Ctl::Label213, "Calibrating .." + std::to_string(calibrationStep_));
    switch (calibrationStep_) {
        case 2:
            // The panel as the user left it. A restarted run keeps the panel
            // saved when it first started (saving now would keep the
            // calibration's own settings instead).
            if (!calibrationSaved_) {
                in_.salvaClick();
                calibrationSaved_ = true;
                calibrationMarkerView_ = panel_.down(Ctl::markerview);
                calibrationBand_[0] = st_.FMin;
                calibrationBand_[1] = st_.FMax;
                calibrationBand_[2] = st_.FCenter;
            }
            panel_.setDown(Ctl::trasf, true);
            in_.trasfClick();
            panel_.setDown(Ctl::markerview, false);
            in_.markerviewClick();
            break;
        case 3:
            // A full-scale 15 kHz sine on both outputs, log axis, no averaging.
            panel_.setDown(Ctl::gensin1, true);
            panel_.setDown(Ctl::genx4, true);
            panel_.setDown(Ctl::ylog, true);
            in_.drawKnob(Ctl::genfreq,
                         static_cast<int>(kCalibrationHz));  // beyond the knob's scale on purpose
            in_.drawKnob(Ctl::genampl, 100);
            for (Ctl c : {Ctl::db20, Ctl::db40, Ctl::gensweep1, Ctl::genon2, Ctl::avg, Ctl::maxx, Ctl::lowf,
                          Ctl::Inv1, Ctl::Inv2})
                panel_.setDown(c, false);
            panel_.setDown(Ctl::genon1, true);
            panel_.setChecked(Ctl::CheckBox2, true);
            panel_.setChecked(Ctl::CheckBox4, true);
            in_.genon1Click();
            break;
        case kAveragingStep:
            panel_.setDown(Ctl::lowf, true);
            calibrationPeak_[0] = calibrationPeak_[1] = 0;
            break;
        case kLastStep:
            calibrationMeasure();
            break;
        default:
            break;
    }
}

std::string Calibration::calibrationRefusal(double phase, double gain, double d, double g) const {
    if (st_.PeakA < kSilentCounts) return "channel A is silent";
    if (st_.PeakB < kSilentCounts) return "channel B is silent";
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

void Calibration::calibrationMeasure() {
    // Phase and gain of A against B at the calibration frequency.
    const int e = static_cast<int>(kCalibrationHz / st_.BinWidth);
    const bool measurable = e > 0 && e < st_.FftSize / 2 &&
                            static_cast<std::size_t>(e) < st_.DisplayPhase.size() &&
                            static_cast<std::size_t>(e) < st_.DisplayA.size() && st_.ScaleB != 0;
    if (measurable) {
        const double phase = st_.DisplayPhase[static_cast<std::size_t>(e)];
        const double gain = st_.DisplayA[static_cast<std::size_t>(e)] / st_.ScaleB * kDbPerUnit;
        const double d = in_.editNumber(Ctl::Edit14) - phase * 1e9 / kCalibrationHz / 360;
        const double g = in_.editNumber(Ctl::Edit5) + gain;
        // A result that cannot be right leaves the probe as it was.
        const std::string refused = calibrationRefusal(phase, gain, d, g);
        if (refused.empty()) {
            // Into the boxes; their change handlers store them for the probe.
            panel_.setText(Ctl::Edit14, display::NumberText(d, delayTextWidth(d)).str());
            panel_.setText(Ctl::Edit5, display::NumberText(g, 7).str());
            in_.Edit14Change();
            in_.Edit5Change();
            panel_.setCaption(Ctl::Label213, "CALIBRATED");
        } else {
            panel_.setCaption(Ctl::Label213, "Autocalibration");
            in_.showStatusMessage("Calibration refused (" + refused +
                                  "); the probe's delay and gain are unchanged");
        }
    } else {
        // 15 kHz lies above half the sample rate: there is nothing to measure,
        // and the probe keeps its values.
        panel_.setCaption(Ctl::Label213, "Autocalibration");
        in_.showStatusMessage("Calibration needs a sample rate above " +
                              std::to_string(static_cast<int>(2 * kCalibrationHz)) +
                              " Hz; the probe values are unchanged");
    }
    // Back to the panel as it was.
    panel_.setEnabled(Ctl::Timer10, false);
    calibrationStep_ = 0;
    st_.LfRestartCount = 7;
    in_.trasfClick();
    panel_.setDown(Ctl::markerview, calibrationMarkerView_);
    in_.markerviewClick();
    // The displayed band as it was (the view handlers of the restore put it
    // onto the band knobs), then the panel.
    st_.FMin = calibrationBand_[0];
    st_.FMax = calibrationBand_[1];
    st_.FCenter = calibrationBand_[2];
    in_.ripristinaClick();
    calibrationSaved_ = false;
    // The LF restart is for an averaging that runs; with "LF" up it would
    // press the button, which the panel did not have before the run.
    if (!panel_.down(Ctl::lowf)) st_.LfRestartCount = 0;
}

// ---- The instrument's handlers ---------------------------------------------------------

void Instrument::SpeedButton19Click(const UiEvent&) {
    calibration_.SpeedButton19Click();
}
void Instrument::Timer10Timer(const UiEvent&) {
    calibration_.Timer10Timer();
}

}  // namespace miral::core
