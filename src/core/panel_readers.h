// SPDX-License-Identifier: GPL-3.0-or-later
// Typed readings of the panel: which view, channel mode and analysis window
// are selected, and the knobs whose value only means something together with
// their range keys.
#pragma once

#include "analysis/window.h"
#include "core/instrument_state.h"
#include "core/panel.h"
#include "display/screen.h"

namespace miral::core {

// The view of the screen: `Tempo` (time), `Frequenza` (spectrum), `trasf`
// (transfer function) or `zeta` (impedance); their group always has one down.
using View = display::ScreenView;
View activeView(const Panel& p);
// The caption of a view's key: "T", "F", "XFR" or "Z".
const char* viewCaption(View v);
// The transfer-function and impedance views: the views with a device under
// test, whose results go into channel A's arrays.
inline bool isDeviceView(View v) {
    return v == View::Transfer || v == View::Impedance;
}

// The samples per channel of one acquired window: the time view's window,
// or the FFT size in the frequency views.
inline int windowLength(const Panel& p, const InstrumentState& st) {
    return activeView(p) == View::Time ? st.TimeWindow : st.FftSize;
}

// The channel group: `modea`, `modeb`, `modeab`.
using ChannelMode = display::ChannelMode;
ChannelMode channelMode(const Panel& p);

// The analysis window of the frequency views (every window button up: none).
analysis::WindowKind selectedWindow(const Panel& p);

// The band width knob `fftselect` stands at the free band: the band's limits
// come from `tb1` and `tb2`, else a fixed width centres on `tb4`.
bool freeBand(const Panel& p);

// A band knob (`tb1` minimum, `tb2` maximum, `tb4` centre) in hertz: its
// value times the multiplier of its range keys (x 1, x 10, x 100).
double bandKnobHertz(const Panel& p, Ctl knob);

// The range of a generator's frequency knob (`genfreq`: `genx1`..`genx4`,
// `genfreq2`: `geny1`..`geny4`): 1, 10, 100 or 1000, the hertz of 1000 knob
// units.
int generatorRange(const Panel& p, Ctl knob);

}  // namespace miral::core
