// SPDX-License-Identifier: GPL-3.0-or-later
// The distortion analyzer (`distview`): its box in the side area, the
// measurement on each new window of the frequency views, the printed fields
// ("DistThdDb", "DistBF0", ...) and the figures in the MAT-file.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "analysis/distortion_analyzer.h"
#include "core/instrument_section.h"

namespace miral::storage {
class MatFile;
}

namespace miral::core {

class DistortionMeter : public InstrumentSection {
  public:
    using InstrumentSection::InstrumentSection;

    void distviewClick();
    void distortionStage();         // measures each new window of the frequency views
    void distortionIdle();          // the time view: no figures
    void prepareDistortionFonts();  // the analyzer box's fonts, before any cycle draws
    void distortionRestart();       // the capture (re)starts: the ring's old samples do not count

    // A figure of the analyzer by its print name ("DistThdDb", "DistBF0", ...).
    std::optional<std::string> distortionField(std::string_view name) const;
    // The analyzer's figures as MAT-file variables ("DistA...", "DistB...").
    void addDistortionVariables(storage::MatFile& mat) const;

    const analysis::DistortionAnalyzer& analyzer() const { return distAnalyzer_; }
    analysis::DistortionAnalyzer& analyzer() { return distAnalyzer_; }
    // Samples captured since the capture started (up to a ring).
    int captured() const { return distCaptured_; }

  private:
    void drawDistortionPanel();  // the analyzer's box in the side area, when shown

    analysis::DistortionAnalyzer distAnalyzer_;
    analysis::DistSettings distSettings_;
    int distN_ = 0;
    int distWriteIndex_ = -1;    // the window the figures come from
    int distCountedIndex_ = -1;  // the write index up to which samples are counted
    int distCaptured_ = 0;
    bool distDrawn_ = false;
    bool sharesSpectrumPass_ = false;
    bool distTimeView_ = false;
    bool analyzerAtFloor_ = false;  // a figure of the box is within 3 dB of the card's floor
};

}  // namespace miral::core
