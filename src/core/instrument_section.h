// SPDX-License-Identifier: GPL-3.0-or-later
// What every section of the instrument (the markers, the device views, the
// store ...) works on: the panel, the instrument state, and the instrument
// it belongs to, for the screen and the handlers of other sections. Each
// section is a class that owns its own state.
#pragma once

#include "core/instrument_state.h"
#include "core/panel.h"

namespace miral::core {

class Instrument;

class InstrumentSection {
  public:
    InstrumentSection(Panel& panel, InstrumentState& st, Instrument& in) : panel_(panel), st_(st), in_(in) {}
    InstrumentSection(const InstrumentSection&) = delete;
    InstrumentSection& operator=(const InstrumentSection&) = delete;

  protected:
    ~InstrumentSection() = default;

    Panel& panel_;
    InstrumentState& st_;
    Instrument& in_;
};

}  // namespace miral::core
