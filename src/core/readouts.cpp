// SPDX-License-Identifier: GPL-3.0-or-later
// The readouts on the traces of the frequency views, after both traces.
#include "core/instrument.h"

namespace miral::core {

void Instrument::frequencyReadouts() {
    // The RLC meter classifies the device and tunes its test frequency every
    // cycle of the impedance view.
    if (activeView(panel) == View::Impedance) rlc_.rlcSetup();
    if (panel.down(Ctl::markerview)) {
        // Marker 1's block carries the distortion and, in the impedance view,
        // the RLC readouts at marker 1's bin.
        markers_.markerReadouts();
    } else if (rlc_.active()) {
        rlc_.rlcReadout(rlc_.testBin());
    }
}

}  // namespace miral::core
