// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/color_schemes.h"

#include "core/instrument.h"

namespace miral::core {

using display::Color;

Color designedColor(int slot) {
    if (slot < 1 || slot > display::kSlotCount) return 0;
    return display::designedColors()[static_cast<display::Slot>(slot)];
}

Ctl swatchOf(int slot) {
    static constexpr Ctl kSwatches[18] = {Ctl::cc1,  Ctl::cc2,  Ctl::cc3,  Ctl::cc4,  Ctl::cc5,  Ctl::cc6,
                                          Ctl::cc7,  Ctl::cc8,  Ctl::cc9,  Ctl::cc10, Ctl::cc11, Ctl::cc12,
                                          Ctl::cc13, Ctl::cc14, Ctl::cc15, Ctl::cc16, Ctl::cc17, Ctl::cc18};
    return kSwatches[slot - 1];
}

void ColorSchemes::coloClick() {
    int k = panel_.itemIndex(Ctl::ComboBox1);
    if (k >= 0 && k < kSchemeCount) selectedScheme_ = k;
    for (int slot = 1; slot <= 18; ++slot) panel_.setColor(swatchOf(slot), schemes_[selectedScheme_][slot]);
}

void ColorSchemes::cc1Click(const UiEvent& e) {
    if (selectedScheme_ == 0) return;  // the default scheme cannot be edited
    if (!colorChooser_) return;
    Ctl swatch = e.sender;
    int slot = panel_.tag(swatch);
    if (slot < 1 || slot > 18) return;
    auto chosen = colorChooser_->choose(panel_.color(swatch));
    if (!chosen) return;
    if (*chosen == panel_.color(swatch)) return;
    panel_.setColor(swatch, *chosen);
    schemes_[selectedScheme_][slot] = *chosen;
}

Color ColorSchemes::slotColor(int slot) const {
    if (slot < 1 || slot > 18) return 0;
    return panel_.color(swatchOf(slot));
}

void ColorSchemes::setDefaultSchemes() {
    for (auto& scheme : schemes_) scheme.fill(0);
    for (int slot = 1; slot <= 18; ++slot) schemes_[0][slot] = designedColor(slot);
    for (int k = 1; k < kSchemeCount; ++k)
        for (int slot = 1; slot < kSchemeSlots; ++slot) schemes_[k][slot] = schemes_[0][slot];
    selectedScheme_ = 2;
}

// ---- The instrument's handlers ---------------------------------------------------------

void Instrument::coloClick(const UiEvent&) {
    schemes_.coloClick();
}
void Instrument::cc1Click(const UiEvent& e) {
    schemes_.cc1Click(e);
}

}  // namespace miral::core
