// SPDX-License-Identifier: GPL-3.0-or-later
// The transfer-function view ("XFR") and the impedance view ("Z"): their
// set-up with the generator's excitation, the gain and phase (or impedance)
// stage of the processing cycle with its display units, and the phase curve
// drawn in both. The RLC meter that reads the impedance view is rlc_meter.h's.
#pragma once

#include "core/instrument_section.h"

namespace miral::core {

class TransferImpedance : public InstrumentSection {
  public:
    using InstrumentSection::InstrumentSection;

    // `trasf`, the excitation radio buttons and `zeta`: the view's set-up
    // (and leaving the device views, the band's upper limit).
    void trasfClick();

    // The stages of the processing cycle, at their places in the frequency views.
    void transferBranch();         // gain and phase into channel A's arrays, smoothing
    void impedanceBranch();        // impedance into channel A's arrays, smoothing
    void impedanceDisplayUnits();  // the impedance view's conversion to display units
    void phaseCurve();             // the phase curve, drawn before the traces

    // Row of a phase on this cycle's phase curve: the transfer view's scale,
    // or the impedance view's own (+90 at the top of the lower area, -90 at
    // its bottom, on the grid's lines). A marker's phase row is 8 above it.
    double phaseCurveRow(double phase) const;
    // The transfer view's phase grid: -180 (180 .. -180), or 0 when both
    // inputs are inverted and the device inverts (0 .. -360).
    double phaseOffset() const { return transferPhaseOffset_; }
    // The shunt and input impedance allowed a reading this cycle.
    bool impedanceValid() const { return impedanceValid_; }

  private:
    void excitationPreset();  // the generator and analyzer set-up ("Auto XFR Adjust :")

    bool inversionFold_ = false;  // both inputs inverted and the device inverts: phase in (-360, 0]
    bool phasePositive_ = false;  // the tally of this cycle's transfer or impedance phase is positive
    bool impedanceValid_ = true;
    double transferPhaseOffset_ = -180;
};

}  // namespace miral::core
