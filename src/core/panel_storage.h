// SPDX-License-Identifier: GPL-3.0-or-later
// The stored panel: the States key written at power-off and read at
// power-on, the TempStates copy around the calibration, prefs.dat with the
// colour schemes and the probe table, and the power and reset buttons.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "core/instrument_section.h"
#include "storage/panel_store.h"

namespace miral::core {

class PanelStorage : public InstrumentSection {
  public:
    using InstrumentSection::InstrumentSection;

    // The files of the stored panel in the configuration folder.
    std::filesystem::path registryFile() const;
    std::filesystem::path prefsDatFile() const;

    // Power-on: the States key (false when there is none valid) and prefs.dat.
    bool loadPanelState();
    void loadPrefsDat();
    // The panel as power-off stores it, and prefs.dat's bytes (the bundles
    // keep both).
    void writeStatesKey(storage::RegistryKey& key) const;
    std::string prefsDatBytes() const;

    // `Panel29` (power: store and switch off), `SpeedButton22` (reset:
    // forget the stored panel and switch off), `salva` and `ripristina`
    // (take and put back the temporary copy).
    void Panel29Click();
    void SpeedButton22Click();
    void salvaClick();
    void ripristinaClick();

  private:
    bool savePanelState(std::string* error);
    bool savePrefsDat(std::string* error);
    void fillPrefsDat(storage::PrefsDat& p) const;  // the colours and probe table into p
    // Whether the configuration folder is there to store into (it is made
    // again when it was missing); false with the reason in *error.
    bool configFolderReady(std::string* error);
    void redrawStoredKnobs();
    void restoreTempPanel(const storage::RegistryKey& key);

    // The panel that salvaClick took last (also written to TempStates when
    // the store can be written): what ripristinaClick puts back.
    std::optional<storage::RegistryKey> tempPanel_;
};

}  // namespace miral::core
