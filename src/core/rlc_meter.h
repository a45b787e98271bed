// SPDX-License-Identifier: GPL-3.0-or-later
// The RLC meter of the impedance view (`rlcmode`, `CheckBox8`): the device's
// class (R, L or C, or forced by `rr`, `ll`, `cc`), its test frequency played
// by the aux generator, and the readouts at the test bin or marker 1's.
#pragma once

#include "core/instrument_section.h"

namespace miral::core {

class RlcMeter : public InstrumentSection {
  public:
    using InstrumentSection::InstrumentSection;

    void rlcmodeClick();
    void SpeedButton9Click();

    // The meter has the screen this cycle: the impedance view with
    // `rlcmode` down and `CheckBox8` checked.
    void setActive(bool active) { rlcActive_ = active; }
    bool active() const { return rlcActive_; }
    // Classification and test frequency, every cycle of the impedance view;
    // the aux generator plays a new test frequency right after the cycle (a
    // new tone may reopen the playback stream).
    void rlcSetup();
    void rlcTune();
    // R, L or C readouts at a bin (the test bin while the meter is active,
    // else marker 1's).
    void rlcReadout(int bin);
    // The test bin (also read at marker 1's place while the meter is active).
    int testBin() const { return rlcTestBin_; }
    // The bin the impedance stage reads for the meter: the test bin while the
    // meter is active, else none (-1).
    int readingBin() const { return rlcActive_ ? rlcTestBin_ : -1; }
    // The impedance stage's phase of Z at the reading bin, without the
    // high-impedance correction: averaged as the display is (fresh with LF
    // up, after a restart or at a new bin; frozen by HOLD).
    void takePhase(bool valid, double phase);
    // What the impedance stage applies for the meter.
    bool highImpedanceCorrection() const { return highImpedanceCorrection_; }
    bool resistive() const { return rlcResistive_; }

  private:
    bool rlcActive_ = false;
    int rlcTestBin_ = 0;
    // The device's class (exactly one set), the high-impedance phase
    // correction, the precision of the readouts (1, 0, -1).
    bool rlcResistive_ = true, rlcCapacitive_ = false, rlcInductive_ = false;
    bool highImpedanceCorrection_ = false;
    int rlcPrecision_ = 1;
    // The phase of Z at the test bin as measured, averaged: what the meter reads.
    bool rlcPhaseValid_ = false;
    int rlcPhaseBin_ = -1;
    double rlcPhase_ = 0;
    // The test frequency (Hz) the aux generator is to play, noted by the cycle.
    bool rlcToneDue_ = false;
    int rlcToneHz_ = 0;
};

}  // namespace miral::core
