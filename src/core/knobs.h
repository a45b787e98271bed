// SPDX-License-Identifier: GPL-3.0-or-later
// Knob values and faces on the panel model; the drawing is display's. A
// knob's value lives in its control's tag, its range text in its hint.
#pragma once

#include "core/instrument_section.h"

namespace miral::core {

class Knobs : public InstrumentSection {
  public:
    using InstrumentSection::InstrumentSection;

    // Redraws a knob's pointer at v and stores v as its value.
    void drawKnob(Ctl knob, int v);
    // The turn a knob's mouse-move event asks for: steps of the wheel or the
    // keys, or a drag with the left button held. False when it asks none.
    bool knobInput(const UiEvent& e);
    // Paints every knob face with its scale (start-up).
    void drawKnobFaces();

    // A press within this many pixels of a knob's centre turns nothing: its
    // angle is anybody's guess.
    static constexpr int kKnobDeadRadius = 6;

  private:
    // Turns a knob to the mouse point (knob image coordinates).
    void dragKnob(Ctl knob, int x, int y);
    // Turns a knob by whole steps, stopping at the ends of its scale.
    void stepKnob(Ctl knob, int steps);
};

}  // namespace miral::core
