// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The capture and playback streams of the instrument.
//
//   CaptureRing ring;            // long-lived (about 1 MB)
//   PlaybackTables tables;       // long-lived (about 4.6 MB)
//   AudioStreams audio(ring, tables);
//   audio.SelectDriver("sim", TimeMode::Simulated);   // optional; default below
//   audio.StartCapture(44100, device, captureSettings);
//   ... fill tables.BackA()/BackB(), tables.Publish() ...
//   audio.StartPlayback(44100, device, playbackSettings);
//   audio.AdvanceTo(t);          // headless runs with sim/wav: once per simulated ms
//   reader.Read(ring, n, gainA, gainB, timeWorkA, timeWorkB);  // a WindowReader
//
// Drivers (SelectDriver's name):
//   "pulse"     PulseAudio, also on PipeWire desktops
//   "alsa"      ALSA
//   "jack"      JACK
//   "sim"       the simulated bench (sim_driver.h), device under test set by
//               SetDeviceUnderTest
//   "wav:FILE"  replays a sound file into the inputs (wav_driver.h)
//   ""          PulseAudio when a server answers, else ALSA (also what the
//               first stream start uses when no driver was selected)
//
// Start operations: the same request (rate, device number, device name) while
// that stream runs does nothing and succeeds. Otherwise the request is
// remembered before the attempt, a running stream is closed, and the stream
// opens anew; a failure leaves the stream absent, so the next request, even
// an identical one, tries again. Capture uses the 24-bit format when
// settings.bits == 24 and rate <= settings.maxRate24, else float (ALSA uses
// float for 24 bits, see rtaudio_driver.cpp); likewise playback.
// StartPlayback sets PlaybackLength to the rate (one second of table) and
// ReadIndex to 0; StartCapture sets WriteIndex to 0 once the stream is open.
//
// Failures: every operation returns false on failure and keeps a one-line
// text that names the stream and the reason; nothing throws. All methods
// belong to the window thread (the object is not thread-safe).
//
// Lost streams (real cards only, see AudioDriver::CanFail): Supervise(),
// called regularly (the housekeeping tick, every 100 ms), watches each
// stream that was asked for and not stopped. A stream is lost when
//   - no callback has arrived for kStallSeconds (or three of its buffers, if
//     that is longer; kFirstCallbackSeconds after it started), e.g. a server
//     that stopped answering: the stream is given up without waiting for it;
//   - its callbacks deliver over kSpinFactor times the real rate (the
//     library spins on a broken connection), or the library reports errors
//     on every buffer (AudioDriver::Failing): the stream is closed;
//   - the system stopped it (IsRunning reads false): it is closed;
//   - or its request failed (no server, no device).
// A lost stream is reopened with the same request and settings every
// kRetrySeconds until it opens; until then CaptureLost() / PlaybackLost()
// say so and LossReason() why, and the capture ring reads as silence.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "audio/audio_driver.h"
#include "audio/callbacks.h"
#include "audio/capture_ring.h"
#include "audio/clocked_driver.h"
#include "audio/playback_tables.h"
#include "audio/sim_dut.h"

namespace miral::audio {

// What the caller read from the preferences for one stream.
struct StreamSettings {
    int bufferFrames = 512;  // "rx_buffersize" / "tx_buffersize"; below 1 -> 512
    int bufferCount = 64;    // "num_rx_buffers" / "num_tx_buffers"; below 1 -> the library's choice
    int priority = 15;       // "rx_priority" / "tx_priority" (15 = time-critical, 0 = leave alone)
    int bits = 16;           // "ADC_Bits" / "DAC_Bits": 24 selects the 24-bit format
    int maxRate24 = 88200;   // "ADC_MaxFreq_24Bits" / "DAC_MaxFreq_24Bits"
    std::string
        deviceName;  // "rx_device_name" / "tx_device_name": a name or part of one; overrides the number
};

// The defaults of the preferences: capture 64 buffers, playback 32.
StreamSettings DefaultCaptureSettings();
StreamSettings DefaultPlaybackSettings();

class AudioStreams {
  public:
    // Largest buffer a stream may ask for (half the capture ring).
    static constexpr int kMaxBufferFrames = 65536;

    AudioStreams(CaptureRing& ring, PlaybackTables& tables);
    ~AudioStreams();  // closes both streams
    AudioStreams(const AudioStreams&) = delete;
    AudioStreams& operator=(const AudioStreams&) = delete;

    // Chooses the driver (see above); open streams are closed first. The
    // time mode matters to "sim" and "wav" only. On failure (unknown name,
    // unreadable file) the previous driver stays and LastError() says why.
    bool SelectDriver(std::string_view name, TimeMode mode = TimeMode::RealTime);
    // Uses a driver made elsewhere (tests, custom cards), as SelectDriver.
    void UseDriver(std::unique_ptr<AudioDriver> driver);
    // The driver in use: "pulse", "alsa", "jack", "sim", "wav", or "" before
    // the first selection or start.
    std::string DriverName() const;
    // The one rate the card runs at (a JACK server's), 0 when it takes any.
    int FixedRate() const;
    // The simulated bench and the WAV cards: their input follows from the
    // program alone, so a run can repeat bit for bit.
    bool RepeatableInput() const;
    // The device under test of the simulated bench (sim_dut.h); kept for a
    // later "sim" selection, ignored by other drivers. Bad text: false.
    bool SetDeviceUnderTest(std::string_view setup);
    // The mixer's card names, in the order of its card list: device number k
    // >= 2 means cardNames[k - 2].
    void SetCardNames(std::vector<std::string> names);
    // Input level of the simulated and WAV cards (full scale = 1.0 =
    // unchanged); real cards' levels belong to the mixer.
    void SetInputLevel(double level);
    // Output level of the simulated card (full scale = 1.0 = unchanged): it
    // scales what the bench plays into its device under test.
    void SetOutputLevel(double level);
    // Simulated time: delivers every callback due by this time (sim and wav
    // in TimeMode::Simulated); otherwise does nothing.
    void AdvanceTo(double seconds);

    bool StartCapture(int rate, int device, const StreamSettings& settings);
    bool StopCapture();
    bool StartPlayback(int rate, int device, const StreamSettings& settings);
    bool StopPlayback();

    bool CaptureRunning() const;
    bool PlaybackRunning() const;

    // Watching the streams (see above); the steady clock's present time, or
    // the given one (tests).
    static constexpr double kStallSeconds = 0.5;
    static constexpr double kFirstCallbackSeconds = 1.0;
    static constexpr double kRetrySeconds = 1.0;
    static constexpr double kSpinFactor = 20.0;
    using Clock = std::chrono::steady_clock;
    void Supervise();
    void Supervise(Clock::time_point now);
    // True while a stream that was asked for is lost and being retried.
    bool CaptureLost() const { return capture_.lost; }
    bool PlaybackLost() const { return playback_.lost; }
    // Why the stream was lost, short ("the sound server stopped answering");
    // "" when it is not.
    const std::string& LossReason(StreamDirection direction) const {
        return direction == StreamDirection::Capture ? capture_.reason : playback_.reason;
    }
    // The format on the wire of the open stream (Float32 when absent).
    SampleFormat CaptureFormat() const { return captureFormat_; }
    SampleFormat PlaybackFormat() const { return playbackFormat_; }
    // The buffer size the open stream really uses (0 when absent).
    unsigned int CaptureBufferFrames() const;
    unsigned int PlaybackBufferFrames() const;

    // Buffers that the library reported overrun (capture) or underrun
    // (playback) since the program started.
    unsigned long Overruns() const { return overruns_.load(std::memory_order_relaxed); }
    unsigned long Underruns() const { return underruns_.load(std::memory_order_relaxed); }
    // The rate asked of the stream last (0 before the first request).
    int CaptureRate() const { return captureRate_ > 0 ? captureRate_ : 0; }
    // The device number of the open capture stream (-1 before the first start).
    int CaptureDevice() const { return captureDevice_; }
    int PlaybackRate() const { return playbackRate_ > 0 ? playbackRate_ : 0; }
    // The device of the last request as the user knows it: the name asked
    // for, the mixer's card of its number, or "default device".
    std::string DeviceLabel(StreamDirection direction) const;

    // The failure of the last operation ("" when it succeeded).
    const std::string& LastError() const { return lastError_; }
    // For the window's status line: what is wrong with the streams now, one
    // line ("" when all is well): the last failure of each stream, cleared by
    // its next success or stop; a stream that stopped on its own; and, for a
    // few seconds, problems the library reported while the streams ran.
    // Streams that the library reports failing on every buffer (the sound
    // server or device is gone) are closed here, so that they do not spin;
    // the next start tries again.
    // The text stays valid until the next call.
    const std::string& StatusText();

  private:
    // What the watch keeps of one stream.
    struct Watch {
        bool wanted = false;  // asked for and not stopped since
        bool lost = false;    // wanted but absent: retried every kRetrySeconds
        std::string reason;
        std::string failure;               // why the last open failed
        StreamSettings settings;           // of the last request
        bool fresh = false;                // opened since the last look
        std::uint64_t seenFrames = 0;      // heartbeat at the last look
        bool delivered = false;            // a callback came since the open
        Clock::time_point lastProgress{};  // when the heartbeat last moved
        Clock::time_point spanStart{};     // the span over which the rate is measured
        std::uint64_t spanFrames = 0;
        Clock::time_point nextAttempt{};
        std::string loggedFailure;  // the last reason of a failed retry written to the log
    };

    bool EnsureDriver();
    bool Fail(std::string text);
    // A line of the log (stderr): what happened to the streams, with the
    // library's own words that the status line leaves out.
    static void Log(const std::string& line);
    StreamRequest MakeRequest(int rate, int device, const StreamSettings& settings,
                              SampleFormat format) const;
    // One direction's stream: its name in messages and its members.
    struct Side {
        const char* name;
        Watch& watch;
        bool& open;
        int& rate;
        int& device;
        std::string& deviceName;
        SampleFormat& format;
        std::string& error;
    };
    Side SideOf(StreamDirection direction);
    bool StartStream(StreamDirection direction, int rate, int device, const StreamSettings& settings);
    bool StopStream(StreamDirection direction);
    bool OpenStream(StreamDirection direction, int rate, int device, const StreamSettings& settings);
    void CloseStream(StreamDirection direction);
    bool Watched() const { return driver_ && driver_->CanFail(); }
    // After a request: a failed one on a card that can fail is retried.
    void AfterRequest(Watch& w, bool ok, Clock::time_point now);
    // Looks at one open stream; the reason it is lost, or nullptr.
    const char* Check(StreamDirection direction, Watch& w, Clock::time_point now, bool& unanswered);
    // Closes (or, when it does not answer, gives up) a lost stream; reason
    // for the screen, detail for the status line.
    void Lose(StreamDirection direction, const std::string& reason, const std::string& detail,
              bool unanswered, Clock::time_point now);
    bool Retry(StreamDirection direction, Clock::time_point now);
    const char* ServerGone() const;
    void TakeRuntimeError(Clock::time_point now);
    void CloseFailing(Clock::time_point now);

    CaptureRing& ring_;
    PlaybackTables& tables_;
    std::unique_ptr<AudioDriver> driver_;
    DutSetup dut_;
    std::vector<std::string> cardNames_;
    double inputLevel_ = 1.0;
    double outputLevel_ = 1.0;

    // The callbacks' user data, one per opened stream: a stream that is
    // given up keeps its own until it is really closed.
    std::shared_ptr<CaptureContext> captureContext_;
    std::shared_ptr<PlaybackContext> playbackContext_;
    Watch capture_;
    Watch playback_;
    bool retrying_ = false;      // the request being made is a retry of a lost stream
    std::string loggedRuntime_;  // the library's last error text written to the log
    bool captureOpen_ = false;
    bool playbackOpen_ = false;
    // Last requests; -1 matches no request.
    int captureRate_ = -1, captureDevice_ = -1;
    std::string captureName_;
    int playbackRate_ = -1, playbackDevice_ = -1;
    std::string playbackName_;
    SampleFormat captureFormat_ = SampleFormat::Float32;
    SampleFormat playbackFormat_ = SampleFormat::Float32;

    std::atomic<unsigned long> overruns_{0};
    std::atomic<unsigned long> underruns_{0};
    std::string lastError_;
    std::string captureError_;
    std::string playbackError_;
    std::string runtimeError_;
    std::chrono::steady_clock::time_point runtimeTime_;
    std::string scratch_;
    std::string status_;
};

}  // namespace miral::audio
