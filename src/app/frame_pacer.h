// SPDX-License-Identifier: GPL-3.0-or-later
// When the window runs the processing cycle: at most once per display frame,
// and only when there is something new to show (samples arrived in the
// capture ring, a control, a timer or the user changed the panel, or a
// stream was lost or came back, which stops the samples but changes the
// picture: the banner, the level bars, the generator readouts). A
// window that nobody can see draws nothing. No toolkit here.
#pragma once

#include <cstdint>

namespace miral::app {

class FramePacer {
  public:
    static constexpr int kDefaultRate = 60;  // frames per second
    static constexpr int kMinRate = 10;
    static constexpr int kMaxRate = 240;

    // The frame rate a "Max_Refresh" value asks for; a value outside
    // kMinRate..kMaxRate gives the default.
    static int rateFromPreference(int value) {
        return value >= kMinRate && value <= kMaxRate ? value : kDefaultRate;
    }
    // Milliseconds between frames, rounded up so that the rate is never exceeded.
    static int intervalMs(int rate) { return (1000 + rate - 1) / rate; }

    struct Frame {
        bool cycleEnabled = false;    // Timer1 is enabled in the model
        bool restorePending = false;  // the first cycle (the power-on restore) has not run
        bool shown = true;            // the window is on screen (not minimised or hidden)
        bool keepMeasuring = false;   // a run that needs its cycles unseen (the calibration)
        int writeIndex = 0;           // the capture ring's WriteIndex now
        std::uint64_t revision = 0;   // the panel's revision now
        int streamState = 0;          // which streams are lost now (a bit per stream)
    };

    // Whether this frame runs a cycle.
    bool due(const Frame& f) const {
        if (!f.cycleEnabled) return false;
        if (f.restorePending || !ranOnce_) return true;
        if (!f.shown && !f.keepMeasuring) return false;
        return f.writeIndex != writeIndex_ || f.revision != revision_ || f.streamState != streamState_;
    }
    // A cycle ran: writeIndex as read just before it, revision just after it
    // (what the cycle itself changed is not news for the next frame).
    // streamState as read just before it.
    void ran(int writeIndex, std::uint64_t revisionAfter, int streamState = 0) {
        ranOnce_ = true;
        writeIndex_ = writeIndex;
        revision_ = revisionAfter;
        streamState_ = streamState;
    }

  private:
    bool ranOnce_ = false;
    int writeIndex_ = 0;
    std::uint64_t revision_ = 0;
    int streamState_ = 0;
};

}  // namespace miral::app
