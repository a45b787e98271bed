// SPDX-License-Identifier: GPL-3.0-or-later
// The colour schemes: eleven schemes of the 18 colour slots ("DEFAULT" and
// "PERSONAL 1".."PERSONAL 10"), the one chosen in `ComboBox1` shown on the
// swatches `cc1`..`cc18`, where a click edits a personal scheme's slot.
#pragma once

#include <array>
#include <optional>

#include "core/instrument_section.h"
#include "display/color_slots.h"

namespace miral::core {

// The colour dialog, behind an interface so that tests can answer it.
class ColorChooser {
  public:
    virtual ~ColorChooser() = default;
    // Shows the dialog starting at `initial`; nothing when cancelled.
    virtual std::optional<display::Color> choose(display::Color initial) = 0;
};

constexpr int kSchemeCount = 11;  // "DEFAULT" and "PERSONAL 1".."PERSONAL 10"
constexpr int kSchemeSlots = 20;  // slots 1..18 are used

// Colour slots by number (the swatch tags).
enum Slot : int {
    SlotBackground = 1,
    SlotFTrace = 2,
    SlotTTrace1 = 3,
    SlotTTrace2 = 4,
    SlotXfrGain = 5,
    SlotXfrPhase = 6,
    SlotXfrIn = 7,
    SlotTGrid = 8,
    SlotFGrid = 9,
    SlotFGrid0 = 10,
    SlotLabels = 11,
    SlotMark1Trace = 12,
    SlotMark2Trace = 13,
    SlotMarker1 = 14,
    SlotMarker2 = 15,
    SlotMarker3 = 16,
    SlotMarker4 = 17,
    SlotCanvas = 18,
};

// The designed colour of a slot (1..18).
display::Color designedColor(int slot);
// The swatch that holds a slot's colour (1..18).
Ctl swatchOf(int slot);

class ColorSchemes : public InstrumentSection {
  public:
    using InstrumentSection::InstrumentSection;

    void coloClick();                 // shows the scheme chosen in `ComboBox1`
    void cc1Click(const UiEvent& e);  // a swatch's new colour from the dialog
    void setColorChooser(ColorChooser* chooser) { colorChooser_ = chooser; }

    // A slot's colour (1..18) as its swatch shows it now.
    display::Color slotColor(int slot) const;
    int selectedScheme() const { return selectedScheme_; }
    void setSelectedScheme(int scheme) { selectedScheme_ = scheme; }
    display::Color schemeColor(int scheme, int slot) const { return schemes_[scheme][slot]; }
    void setSchemeColor(int scheme, int slot, display::Color c) { schemes_[scheme][slot] = c; }
    // The first-run schemes: scheme 2 selected, all equal to the design.
    void setDefaultSchemes();

  private:
    // 11 x 20 slots, 0x00BBGGRR; the selected scheme index.
    std::array<std::array<display::Color, kSchemeSlots>, kSchemeCount> schemes_{};
    int selectedScheme_ = 2;
    ColorChooser* colorChooser_ = nullptr;
};

}  // namespace miral::core
