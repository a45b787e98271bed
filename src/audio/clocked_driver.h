// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A sound card made of software (the simulated bench and the WAV player):
// both converters run from one clock, and the stream callbacks are called in
// whole buffers as their frames fall due.
//
// Time: in real time a thread of the card's own plays the part of the sound
// card's interrupt; in simulated time (headless runs) nothing happens until
// the caller's AdvanceTo(seconds), which delivers exactly the callbacks due by
// then, on the caller's thread, so a run is repeatable bit for bit.
//
// Every converter runs on a grid of its own rate counted from time 0; a
// stream starts at the first grid point at or after its start time, so two
// streams at the same rate are always frame-aligned.
//
// A capture buffer is delivered once its last frame has been sampled; a
// playback buffer is requested once its first frame is due to play (the
// simulated bench may also request it earlier, when a capture frame needs
// it). The captured signal passes through the input level, is clipped at full
// scale like a converter, encoded in the stream's format and handed to the
// stream callback (CaptureFloat, CaptureInt24, ...), so conversions and
// decimation work exactly as with a real card.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "audio/audio_driver.h"

namespace miral::audio {

enum class TimeMode {
    RealTime,   // the card's own thread, paced by the system clock
    Simulated,  // the caller's AdvanceTo(seconds)
};

class ClockedDriver : public AudioDriver {
  public:
    explicit ClockedDriver(TimeMode mode);
    ~ClockedDriver() override;

    bool Open(StreamDirection direction, const StreamRequest& request, std::string& error) override;
    bool Start(StreamDirection direction, std::string& error) override;
    bool Close(StreamDirection direction, std::string& error) override;
    bool IsRunning(StreamDirection direction) const override;
    unsigned int BufferFrames(StreamDirection direction) const override;
    void AdvanceTo(double seconds) override;
    void SetInputLevel(double level) override;
    // Scales every played buffer before the card hands it on (OnPlayed).
    void SetOutputLevel(double level) override;

    TimeMode Mode() const { return mode_; }
    // The card's present time in nanoseconds.
    std::int64_t NowNs() const;
    // Highest rate a stream may ask for.
    static constexpr int kMaxRate = 1000000;

  protected:
    // Subclasses must call this first in their destructor: it ends the card
    // thread, which would otherwise call into a half-destroyed object.
    void Shutdown();

    struct Stream {
        bool open = false;
        bool running = false;
        int rate = 0;
        SampleFormat format = SampleFormat::Float32;
        unsigned int bufferFrames = 0;
        StreamCallback callback = nullptr;
        void* userData = nullptr;
        std::int64_t startTick = 0;      // first frame, on the grid of this rate
        std::int64_t frames = 0;         // frames delivered (capture) or requested (playback) since the start
        std::vector<float> samples;      // one buffer, interleaved float
        std::vector<std::uint8_t> wire;  // one buffer in the stream's format
    };

    // Hooks, all called with the card's lock held.
    // A capture stream opens at this rate (allocate here).
    virtual bool OnCaptureOpen(const Stream& capture, std::string& error) = 0;
    virtual void OnCaptureStart(const Stream& capture) = 0;
    // Produces frames [first, first + count) of the running capture stream
    // (frame numbers since its start), interleaved stereo, +-1.0 full scale.
    virtual void RenderCapture(std::int64_t first, unsigned int count, float* interleaved) = 0;
    // A playback stream opens / starts / closes.
    virtual bool OnPlaybackOpen(const Stream& playback, std::string& error) = 0;
    virtual void OnPlaybackStart(const Stream& playback) = 0;
    virtual void OnPlaybackClose() = 0;
    // Frames [first, first + count) that the playback callback just produced.
    virtual void OnPlayed(std::int64_t first, unsigned int count, const float* interleaved) = 0;

    // Requests playback buffers until frames up to (not including) frame
    // `end` exist. For subclasses that need the output ahead of time.
    void RequestPlaybackUpTo(std::int64_t end);

    const Stream& CaptureStream() const { return capture_; }
    const Stream& PlaybackStream() const { return playback_; }

    // Frames of a converter at `rate` completed by time ns: floor(ns * rate / 1e9).
    static std::int64_t FramesAt(std::int64_t ns, int rate);
    // The first grid point of `rate` at or after time ns.
    static std::int64_t FirstTickAt(std::int64_t ns, int rate);
    // The time of grid point `tick` of `rate`, rounded up to whole ns.
    static std::int64_t TickTimeNs(std::int64_t tick, int rate);

    mutable std::mutex mutex_;

  private:
    Stream& Select(StreamDirection direction) {
        return direction == StreamDirection::Capture ? capture_ : playback_;
    }
    void AdvanceLocked(std::int64_t nowNs);
    void DeliverCaptureBuffer();
    void RequestPlaybackBuffer();
    std::int64_t NextDueNs() const;
    std::int64_t NowNsLocked() const;
    void ThreadMain();
    void EnsureThread();

    const TimeMode mode_;
    Stream capture_;
    Stream playback_;
    std::int64_t simNowNs_ = 0;  // simulated time
    std::atomic<float> inputLevel_{1.0f};
    std::atomic<float> outputLevel_{1.0f};
    std::chrono::steady_clock::time_point epoch_;
    std::thread thread_;
    std::condition_variable wake_;
    bool quit_ = false;
};

}  // namespace miral::audio
