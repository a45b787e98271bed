// SPDX-License-Identifier: GPL-3.0-or-later
// The card's own floor: the loopback test (`loopback_test`), its file in the
// configuration folder ("card-floor.txt"), and the floor of the current card,
// rate and format that marks distortion figures the card itself limits.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/instrument_section.h"

namespace miral::core {

class CardFloor : public InstrumentSection {
  public:
    using InstrumentSection::InstrumentSection;

    // What the loopback test measured on one card, rate and format: per
    // channel THD and THD+N (dB) at -1 dBFS and the noise (dBFS, r.m.s. in
    // the analyzer's band, relative to a full-scale sine) at -20 dBFS.
    struct Figures {
        bool valid = false;
        std::array<double, 2> thdDb{}, thdNDb{}, noiseDbfs{};
    };

    void loopback_testClick();
    void floorStage();       // the loopback test's step after each analysis (noted, not run)
    void floorAfterCycle();  // runs the step that floorStage noted, right after the cycle
    void refreshFloor();     // housekeeping: the floor of the current card, rate and format

    // The stored floor of the current card, rate and format.
    const Figures& floor() const { return floor_; }
    // A figure within 3 dB of the floor (or below it) is the card's.
    bool figureAtFloor(double db, double floorDb) const;
    // "FloorThdDbA", "FloorThdNDbB", "FloorNoiseDbfsA", ...: the stored floor
    // of the current card, rate and format ("nan" when there is none).
    std::optional<std::string> floorField(std::string_view name) const;
    // The loopback test is playing and measuring.
    bool loopbackRunning() const { return floorStep_ != 0; }
    // Card, rate and format as the floor file names them.
    std::string floorKey() const;

  private:
    void floorFinish(const std::string& message, bool store);

    int floorStep_ = 0;           // 0 idle, 1 at -1 dBFS, 2 at -20 dBFS
    bool floorArmed_ = false;     // the generator's new level has reached the window
    long long floorSamples_ = 0;  // captured since the level reached the window
    int floorCountedIndex_ = 0;
    // What the cycle found due: the second level, the end with the figures
    // stored, or the end without a tone.
    enum class FloorDue { None, NextLevel, Store, GiveUp } floorDue_ = FloorDue::None;
    std::vector<std::pair<std::string, std::string>> floorSaved_;  // the controls to put back
    Figures floorMeasured_;
    Figures floor_;  // of the current card, rate and format
    std::string floorKey_;
};

}  // namespace miral::core
