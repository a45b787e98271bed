// SPDX-License-Identifier: GPL-3.0-or-later
// The probe table: per shunt or probe (the `ComboBox5` entries) the channel
// delay, shunt, lead resistance, capacitance and differential gain, and for
// all of them the input impedance and common gain, shown and typed in the
// calibration edit boxes. The table itself is `InstrumentState::Probes`
// (kept in prefs.dat).
#pragma once

#include "core/instrument_section.h"
#include "storage/panel_store.h"

namespace miral::core {

class ProbeTable : public InstrumentSection {
  public:
    using InstrumentSection::InstrumentSection;

    // The selected entry (`ComboBox5`), 0..9.
    int probeIndex() const;
    // The edit boxes from the selected entry (after the table was read).
    void fillProbeEdits();

    // An edit box changed: its value into the table (the delay and the
    // gains are refused outside their ranges).
    void Edit14Change();
    void Edit9Change();
    void Edit17Change();
    void Edit1Change();
    void Edit5Change();
    void Edit10Change();
    void Edit16Change();
    // Another entry selected: the boxes show it.
    void ComboBox5Change();

  private:
    // Puts a typed probe correction into its entry, or refuses one outside
    // its range: the box goes back to the entry, the status line says why.
    void takeProbeEntry(Ctl box, const storage::ProbeRange& range, double& entry);
};

}  // namespace miral::core
