// SPDX-License-Identifier: GPL-3.0-or-later
// The two function generators (`genon1`, `genon2` and their controls):
// every change of a generator control rebuilds both output tables whole;
// playback restarts only when the table length (the playback rate) changes.
// The frequency readouts also move the band and the side area.
#pragma once

#include "core/instrument_section.h"
#include "generator/table_builder.h"

namespace miral::core {

class Generators : public InstrumentSection {
  public:
    using InstrumentSection::InstrumentSection;

    void generator1_onClick();  // rebuilds the tables (and restarts playback when their length changed)
    void generator1_offClick();
    void genon1Click();
    void Edit1Click();  // the -/+ buttons: a frequency knob by exactly 1 Hz
    void Edit2Click();
    void Edit3Click();
    void Edit4Click();
    void Label131Click();
    void genstart1MouseDown();
    void gendisplMouseDown(const UiEvent& e);
    void gendispl2MouseDown(const UiEvent& e);
    void Label62MouseDown(const UiEvent& e);

    // The noise generator's state (seeded at start-up).
    generator::GeneratorState& state() { return genState_; }

  private:
    generator::GeneratorControls generatorControls() const;
    void advanceSidePanelFromReadout();
    void centreBandOn(double frequency);

    generator::GeneratorState genState_;
};

}  // namespace miral::core
