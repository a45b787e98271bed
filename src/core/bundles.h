// SPDX-License-Identifier: GPL-3.0-or-later
// Measurement bundles: the raw capture of both channels with the panel, the
// preferences and the probe table in one MAT-file (storage/bundle.h), written
// by --save-bundle or by the Save key with "BUNDLE" checked, and opened again
// as a sound card whose inputs hold the saved capture (audio/bundle_driver.h).
#pragma once

#include <memory>
#include <string>

#include "core/instrument_section.h"
#include "storage/bundle.h"

namespace miral::core {

class Bundles : public InstrumentSection {
  public:
    using InstrumentSection::InstrumentSection;

    // Opens a bundle (NAME.miral) as the sound card: its capture on the
    // inputs, its panel, preferences and probe table for the power-on
    // restore. False with a one-line message (nothing changed) when the file
    // is no usable bundle.
    bool openBundle(const std::string& path, std::string* error);
    // The open bundle (null: none) and its file.
    const storage::Bundle* bundle() const { return bundle_.get(); }
    const std::string& path() const { return bundlePath_; }
    // Writes the bundle of this moment; false with a one-line reason.
    bool saveBundle(const std::string& path, std::string* error);
    // Power-on: the averaging buttons as the bundle's panel had them.
    void bundleAfterRestore();

  private:
    std::unique_ptr<storage::Bundle> bundle_;
    std::string bundlePath_;
};

}  // namespace miral::core
