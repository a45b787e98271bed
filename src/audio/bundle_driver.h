// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The bundle player ("bundle:FILE"): a card whose inputs hold a saved
// capture. Every start of the capture stream delivers the whole capture at
// once, and then nothing more: the newest window on the inputs stays the
// saved one, as a held picture does, so the measurement can be analysed
// again with other windows, FFT sizes, markers or views.
//
// The capture is kept at its own sample rate (the capture rate divided by
// the decimation in force when it was saved). A stream at the saved capture
// rate gets every sample repeated `decimation` times, so that the capture
// callback's decimation keeps exactly the saved samples; a stream at another
// rate gets the capture resampled to that rate (libsamplerate). The samples
// are encoded in the stream's format (float, or 24-bit, which is exact for a
// capture that was taken in 24 bits). The input level is ignored: the saved
// samples already carry it. Playback streams run, and what they play is
// discarded; the card calls no playback callback.

#include <memory>
#include <string>
#include <vector>

#include "audio/audio_driver.h"

namespace miral::audio {

class BundleDriver : public AudioDriver {
  public:
    // a, b: the saved samples (oldest first) at sampleRate = captureRate / decimation.
    BundleDriver(std::vector<float> a, std::vector<float> b, int captureRate, int decimation);

    std::string Name() const override { return "bundle"; }
    bool Open(StreamDirection direction, const StreamRequest& request, std::string& error) override;
    bool Start(StreamDirection direction, std::string& error) override;
    bool Close(StreamDirection direction, std::string& error) override;
    bool IsRunning(StreamDirection direction) const override;
    unsigned int BufferFrames(StreamDirection direction) const override;

    // Frames that the last capture start delivered.
    long long DeliveredFrames() const { return delivered_; }

  private:
    struct Stream {
        bool open = false;
        bool running = false;
        StreamRequest request;
    };
    Stream& Select(StreamDirection d) { return d == StreamDirection::Capture ? capture_ : playback_; }
    const Stream& Select(StreamDirection d) const {
        return d == StreamDirection::Capture ? capture_ : playback_;
    }
    // The capture as interleaved stereo frames at `rate`.
    bool FramesAt(int rate, std::vector<float>& frames, std::string& error) const;

    std::vector<float> a_, b_;
    int captureRate_;
    int decimation_;
    Stream capture_, playback_;
    long long delivered_ = 0;
};

}  // namespace miral::audio
