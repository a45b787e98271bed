// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Real sound cards through RtAudio 5: PulseAudio (which also serves PipeWire
// desktops), ALSA and JACK. Each stream has an RtAudio object of its own,
// created when the stream opens and discarded when it closes.
//
// Every library call is wrapped: an RtAudio error (thrown, or reported to the
// error callback) becomes a failure with the library's message; no exception
// leaves this driver. Library warnings go to stderr.
//
// Devices are chosen by name, never by RtAudio's index (which moves the
// default device to the front):
//   - StreamRequest::deviceName, when not empty: the first device whose name
//     contains it (case-insensitive) and has two channels in the stream's
//     direction; no such device is a failure that says so;
//   - otherwise device number k >= 2 with a card name at cardNames[k - 2]:
//     the first device whose name contains that card name (or the other way
//     round); when none does, the default device;
//   - otherwise (number 1, or anything not mapped): the API's default device.

#include <memory>
#include <string>

#include "audio/audio_driver.h"

class RtAudio;

namespace miral::audio {

enum class RtApiKind { Pulse, Alsa, Jack };

class RtAudioDriver : public AudioDriver {
  public:
    explicit RtAudioDriver(RtApiKind api);
    ~RtAudioDriver() override;

    std::string Name() const override;
    SampleFormat WireFormat(SampleFormat requested) const override;
    bool Open(StreamDirection direction, const StreamRequest& request, std::string& error) override;
    bool Start(StreamDirection direction, std::string& error) override;
    bool Close(StreamDirection direction, std::string& error) override;
    bool IsRunning(StreamDirection direction) const override;
    unsigned int BufferFrames(StreamDirection direction) const override;
    void TakeRuntimeError(std::string& text) override;
    bool Failing() const override;
    bool CanFail() const override { return true; }
    // JACK: the server's rate (asked once).
    int FixedRate() const override;
    // Stops, closes and discards the stream on a thread of its own.
    void Abandon(StreamDirection direction, std::shared_ptr<void> keepAlive) override;
    // More warnings than this within about a second mean a failing stream.
    static constexpr long kFailingWarnings = 50;

    // True when this RtAudio build has the API.
    static bool Compiled(RtApiKind api);
    // True when a PulseAudio (or PipeWire) server answers.
    static bool PulseServerAnswers();
    // The names of the API's devices with at least `channels` channels in
    // the direction (for messages and tests). Empty when none or on failure.
    static std::vector<std::string> DeviceNames(RtApiKind api, StreamDirection direction);

  private:
    struct Side {
        std::unique_ptr<RtAudio> rt;
        unsigned int bufferFrames = 0;
        std::string deviceName;
    };
    Side& Select(StreamDirection d) { return d == StreamDirection::Capture ? capture_ : playback_; }
    const Side& Select(StreamDirection d) const {
        return d == StreamDirection::Capture ? capture_ : playback_;
    }

    RtApiKind api_;
    mutable int serverRate_ = -1;  // JACK's rate once asked (0: none found)
    Side capture_;
    Side playback_;
};

}  // namespace miral::audio
