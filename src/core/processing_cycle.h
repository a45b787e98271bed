// SPDX-License-Identifier: GPL-3.0-or-later
// The stages of one processing cycle (Timer1): the geometry, the generator
// readouts, the acquisition of the window from the capture ring (or silence
// while the capture stream is lost), the trigger, and the frame drawn into
// the screen buffer and shown on PaintBox1.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "audio/capture_ring.h"
#include "core/instrument_section.h"
#include "display/color_slots.h"
#include "display/screen.h"

namespace miral::core {

class ProcessingCycle : public InstrumentSection {
  public:
    using InstrumentSection::InstrumentSection;

    // One cycle's stages, in order.
    void run();
    // The RLC meter's tuning, the RLC and marker readouts, after both traces of a frequency view.
    void frequencyReadouts();
    // Another mixer, card or line: the recording level's gain is asked anew.
    void forgetInputLevelGain() { inputLevelGain_ = {}; }

    // This run's colour of every slot, as the screen draws it.
    const display::ColorSlots& colors() const { return colors_; }
    // The ring's write index the window in TimeWorkA / TimeWorkB ends at
    // (-1 before the first acquisition).
    int acquiredWriteIndex() const { return acquiredWriteIndex_; }
    // This cycle's largest |input| of A and B, counts, before gain correction.
    double windowPeak() const { return windowPeak_; }
    int phaseSmooth() const { return phaseSmooth_; }  // "Phase_Smoth" of this run
    int penWidth() const { return penWidth_; }        // of the frequency traces (`tic1`..`tic3`)

  private:
    void updateGeometry();
    void updateBand();
    void scopeChannel(bool channelB);
    void updateGeneratorReadouts();
    void acquire();
    void noInput();  // the acquisition while the capture stream is lost: silence, bars at 0
    // "No input: <reason> - retrying" (made again only when the reason changes).
    const std::string& noInputBanner();
    // The factor by which the acquisition undoes the recording level
    // (`input_bar`): the level's real gain below full scale where the mixer
    // reports it in dB, else the linear rule max / (position + 0.1). Asks the
    // mixer only when the line or the position changed.
    double inputLevelCorrection();
    void present();

    // The recording level's correction and the line and position it is for
    // (line -2: none worked out yet).
    struct InputLevelGain {
        int line = -2;
        int position = -1;
        double factor = 1.0;
    } inputLevelGain_;
    // Keeps the capture ring converted, so that each cycle converts only
    // the frames that came since the last.
    std::unique_ptr<audio::WindowReader> windowReader_ = std::make_unique<audio::WindowReader>();
    int acquiredWriteIndex_ = -1;
    double windowPeak_ = 0;
    std::string banner_, bannerReason_;
    int phaseSmooth_ = 0;
    int penWidth_ = 1;
    display::ScreenInputs screenIn_;
    display::ScreenGeometry geo_;
    display::ColorSlots colors_;
    std::vector<display::Point> tracePoints_ = std::vector<display::Point>(65536);  // scope and pan traces
};

}  // namespace miral::core
