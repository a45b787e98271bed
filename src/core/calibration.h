// SPDX-License-Identifier: GPL-3.0-or-later
// Automatic calibration of the selected probe (`SpeedButton19`, stepped by
// `Timer10`): with both inputs on the same 15 kHz sine, the transfer-function
// analyzer's phase and gain of A against B become the probe's channel delay
// (`Edit14`) and differential gain (`Edit5`).
#pragma once

#include <algorithm>
#include <string>

#include "core/instrument_section.h"

namespace miral::core {

class Calibration : public InstrumentSection {
  public:
    using InstrumentSection::InstrumentSection;

    void SpeedButton19Click();  // starts the run
    void Timer10Timer();        // one step of the run

    // The running calibration's step (0 when idle).
    int step() const { return calibrationStep_; }
    // The acquisition's window peaks of A and B (counts): a calibration
    // refuses a clipped input.
    void notePeaks(double peakA, double peakB) {
        calibrationPeak_[0] = std::max(calibrationPeak_[0], peakA);
        calibrationPeak_[1] = std::max(calibrationPeak_[1], peakB);
    }

  private:
    void calibrationMeasure();  // Timer10 at step 50
    // Why a calibration result cannot be right ("" when it can): the phase
    // and gain measured, the delay and gain they would give.
    std::string calibrationRefusal(double phase, double gain, double d, double g) const;

    int calibrationStep_ = 0;
    double calibrationPeak_[2] = {};      // largest window peak of A and B while the calibration averages
    bool calibrationSaved_ = false;       // the panel of this calibration run is in the temporary copy
    bool calibrationMarkerView_ = false;  // markerview before the run
    double calibrationBand_[3] = {};      // FMin, FMax, FCenter before the run
};

}  // namespace miral::core
