// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What AudioStreams asks of a sound card: one capture stream and one playback
// stream, opened, started and closed independently. Implemented over RtAudio
// (PulseAudio, ALSA, JACK), by the simulated bench and by the WAV player.
// All methods are called on the window thread.

#include <memory>
#include <string>
#include <vector>

#include "audio/callbacks.h"

namespace miral::audio {

enum class StreamDirection { Capture, Playback };

enum class SampleFormat {
    Float32,  // 8-byte frames
    Int24,    // 6-byte frames, 3 bytes per sample
};

const char* SampleFormatName(SampleFormat format);  // "float", "24-bit"

struct StreamRequest {
    int rate = 44100;
    // Device number: 1 (or anything not mapped) is the default device; k >= 2
    // the (k-2)-th entry of cardNames, matched by name.
    int deviceNumber = 1;
    // A name or part of one; when not empty it overrides deviceNumber.
    std::string deviceName;
    std::vector<std::string> cardNames;
    SampleFormat format = SampleFormat::Float32;
    unsigned int bufferFrames = 512;
    unsigned int bufferCount = 4;
    StreamCallback callback = nullptr;
    void* userData = nullptr;
    // A retry of a lost stream: a server that does not answer is waited for
    // only briefly (the next retry goes on waiting).
    bool retry = false;
};

class AudioDriver {
  public:
    virtual ~AudioDriver() = default;

    // "pulse", "alsa", "jack", "sim", "wav".
    virtual std::string Name() const = 0;
    // The format this driver really uses for a requested one.
    virtual SampleFormat WireFormat(SampleFormat requested) const { return requested; }

    // Opens a stream with the callback attached, not yet running. On failure
    // returns false, leaves the stream closed and puts the reason in error.
    virtual bool Open(StreamDirection direction, const StreamRequest& request, std::string& error) = 0;
    // Starts an open stream.
    virtual bool Start(StreamDirection direction, std::string& error) = 0;
    // Stops and closes the stream if there is one; afterwards its callback is
    // no longer called. A failure still leaves the stream closed.
    virtual bool Close(StreamDirection direction, std::string& error) = 0;
    // True while the stream delivers callbacks. A stream that the system
    // stopped on its own (server gone, device unplugged) reads false.
    virtual bool IsRunning(StreamDirection direction) const = 0;
    // The buffer size the stream really uses (the library may change it).
    virtual unsigned int BufferFrames(StreamDirection direction) const = 0;
    // A problem that happened while the streams ran, or one that they keep
    // reporting, into text (empty when none). An error is handed over once.
    // Reuses text's storage: called on every processing cycle.
    virtual void TakeRuntimeError(std::string& text) { text.clear(); }
    // True while the library reports problems on every buffer (the sound
    // server or the device has gone): the streams only spin and are better
    // closed.
    virtual bool Failing() const { return false; }
    // True for cards that can fail on their own (real ones: a sound server
    // that goes away, a device unplugged). AudioStreams watches their
    // streams and reopens lost ones; software cards never fail and are left
    // alone, so that their runs stay repeatable.
    virtual bool CanFail() const { return false; }
    // A card that runs at one rate only (a JACK server runs at its own):
    // that rate; 0 when any rate may be asked for.
    virtual int FixedRate() const { return 0; }
    // Gives up a stream that no longer answers (its callbacks stopped
    // arriving): like Close, but the caller does not wait for the system,
    // which may hang on a server that stopped answering. keepAlive (the
    // stream's user data) is kept until the stream is really closed; the
    // callback's retirement (StreamHeartbeat) stops it from using anything
    // else. Cards whose Close cannot hang just close.
    virtual void Abandon(StreamDirection direction, std::shared_ptr<void> keepAlive) {
        std::string ignored;
        Close(direction, ignored);
        keepAlive.reset();
    }

    // Simulated time (simulated and WAV cards in headless runs): deliver every
    // callback that has fallen due by this many seconds. Real cards ignore it.
    virtual void AdvanceTo(double /*seconds*/) {}
    // Level of the simulated input, full scale = 1.0 (unchanged). Real cards
    // ignore it; their level is the mixer's.
    virtual void SetInputLevel(double /*level*/) {}
    // Level of the simulated output, full scale = 1.0 (unchanged). Real cards
    // ignore it.
    virtual void SetOutputLevel(double /*level*/) {}
};

}  // namespace miral::audio
