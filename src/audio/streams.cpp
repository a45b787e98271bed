// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/streams.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>

#include "audio/alsa_quiet.h"
#include "audio/rtaudio_driver.h"
#include "audio/sim_driver.h"
#include "audio/wav_driver.h"

namespace miral::audio {

const char* SampleFormatName(SampleFormat format) {
    return format == SampleFormat::Int24 ? "24-bit" : "float";
}

StreamSettings DefaultCaptureSettings() {
    return StreamSettings{};
}

StreamSettings DefaultPlaybackSettings() {
    StreamSettings s;
    s.bufferCount = 32;
    return s;
}

namespace {

std::string Trimmed(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
    return std::string(s);
}

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

}  // namespace

AudioStreams::AudioStreams(CaptureRing& ring, PlaybackTables& tables) : ring_(ring), tables_(tables) {
    QuietAlsaErrors();
}

AudioStreams::~AudioStreams() {
    StopCapture();
    StopPlayback();
    driver_.reset();
}

bool AudioStreams::Fail(std::string text) {
    lastError_ = std::move(text);
    return false;
}

bool AudioStreams::SelectDriver(std::string_view name, TimeMode mode) {
    lastError_.clear();
    const std::string text = Trimmed(name);
    const std::string word = Lower(text);
    std::unique_ptr<AudioDriver> driver;
    auto real = [&](RtApiKind api, const char* label) {
        if (!RtAudioDriver::Compiled(api))
            return Fail(std::string("this build of RtAudio has no ") + label + " support");
        driver = std::make_unique<RtAudioDriver>(api);
        return true;
    };
    if (word.empty()) {
        if (!real(RtAudioDriver::PulseServerAnswers() ? RtApiKind::Pulse : RtApiKind::Alsa, "default"))
            return false;
    } else if (word == "pulse" || word == "pulseaudio" || word == "pipewire") {
        if (!real(RtApiKind::Pulse, "PulseAudio")) return false;
    } else if (word == "alsa") {
        if (!real(RtApiKind::Alsa, "ALSA")) return false;
    } else if (word == "jack") {
        if (!real(RtApiKind::Jack, "JACK")) return false;
    } else if (word == "sim") {
        driver = std::make_unique<SimDriver>(mode, dut_);
    } else if (word.rfind("wav:", 0) == 0) {
        const std::string path = text.substr(4);
        if (path.empty()) return Fail("audio driver \"wav:\" needs a file name, e.g. wav:input.wav");
        std::string why;
        driver = WavDriver::Create(path, mode, why);
        if (!driver) return Fail(why);
    } else {
        return Fail("unknown audio driver \"" + text + "\" (use pulse, alsa, jack, sim or wav:FILE)");
    }
    UseDriver(std::move(driver));
    return true;
}

void AudioStreams::UseDriver(std::unique_ptr<AudioDriver> driver) {
    StopCapture();
    StopPlayback();
    lastError_.clear();
    driver_ = std::move(driver);
    if (driver_) driver_->SetInputLevel(inputLevel_);
    if (driver_) driver_->SetOutputLevel(outputLevel_);
    captureRate_ = captureDevice_ = playbackRate_ = playbackDevice_ = -1;
    captureName_.clear();
    playbackName_.clear();
    captureError_.clear();
    playbackError_.clear();
    runtimeError_.clear();
}

std::string AudioStreams::DriverName() const {
    return driver_ ? driver_->Name() : std::string();
}

int AudioStreams::FixedRate() const {
    return driver_ ? driver_->FixedRate() : 0;
}

bool AudioStreams::RepeatableInput() const {
    return dynamic_cast<const SimDriver*>(driver_.get()) || dynamic_cast<const WavDriver*>(driver_.get());
}

bool AudioStreams::SetDeviceUnderTest(std::string_view setup) {
    lastError_.clear();
    DutSetup parsed;
    std::string why;
    if (!ParseDut(setup, parsed, why)) return Fail(why);
    dut_ = parsed;
    if (auto* sim = dynamic_cast<SimDriver*>(driver_.get())) sim->SetDut(dut_);
    return true;
}

void AudioStreams::SetCardNames(std::vector<std::string> names) {
    cardNames_ = std::move(names);
}

void AudioStreams::SetInputLevel(double level) {
    inputLevel_ = level;
    if (driver_) driver_->SetInputLevel(level);
}

void AudioStreams::SetOutputLevel(double level) {
    outputLevel_ = level;
    if (driver_) driver_->SetOutputLevel(level);
}

void AudioStreams::AdvanceTo(double seconds) {
    if (driver_) driver_->AdvanceTo(seconds);
}

bool AudioStreams::EnsureDriver() {
    if (driver_) return true;
    return SelectDriver("");
}

StreamRequest AudioStreams::MakeRequest(int rate, int device, const StreamSettings& settings,
                                        SampleFormat format) const {
    StreamRequest request;
    request.rate = rate;
    request.deviceNumber = device;
    request.deviceName = Trimmed(settings.deviceName);
    request.cardNames = cardNames_;
    request.format = format;
    request.bufferFrames = static_cast<unsigned int>(
        settings.bufferFrames < 1 ? 512 : std::min(settings.bufferFrames, kMaxBufferFrames));
    request.bufferCount = static_cast<unsigned int>(std::max(settings.bufferCount, 0));
    request.retry = retrying_;
    return request;
}

AudioStreams::Side AudioStreams::SideOf(StreamDirection direction) {
    if (direction == StreamDirection::Capture)
        return {"capture",      capture_,     captureOpen_,   captureRate_,
                captureDevice_, captureName_, captureFormat_, captureError_};
    return {"playback",      playback_,     playbackOpen_,   playbackRate_,
            playbackDevice_, playbackName_, playbackFormat_, playbackError_};
}

bool AudioStreams::StartCapture(int rate, int device, const StreamSettings& settings) {
    return StartStream(StreamDirection::Capture, rate, device, settings);
}

bool AudioStreams::StartPlayback(int rate, int device, const StreamSettings& settings) {
    return StartStream(StreamDirection::Playback, rate, device, settings);
}

bool AudioStreams::StopCapture() {
    return StopStream(StreamDirection::Capture);
}

bool AudioStreams::StopPlayback() {
    return StopStream(StreamDirection::Playback);
}

bool AudioStreams::StartStream(StreamDirection direction, int rate, int device,
                               const StreamSettings& settings) {
    const bool ok = OpenStream(direction, rate, device, settings);
    Side side = SideOf(direction);
    side.watch.wanted = true;
    side.watch.settings = settings;
    AfterRequest(side.watch, ok, Clock::now());
    return ok;
}

bool AudioStreams::OpenStream(StreamDirection direction, int rate, int device,
                              const StreamSettings& settings) {
    const bool capture = direction == StreamDirection::Capture;
    Side side = SideOf(direction);
    if (side.open && rate == side.rate && device == side.device && settings.deviceName == side.deviceName &&
        driver_->IsRunning(direction)) {
        lastError_.clear();
        return true;
    }
    lastError_.clear();
    if (!EnsureDriver()) {
        side.watch.failure = lastError_;
        side.error = std::string(side.name) + " stream failed: " + lastError_;
        return Fail(side.error);
    }
    // Remembered before the attempt: a failure leaves the stream absent, so
    // the same request tries again.
    side.rate = rate;
    side.device = device;
    side.deviceName = settings.deviceName;
    auto failed = [&](const std::string& why, SampleFormat format) {
        side.watch.failure = why;
        side.error = std::string(side.name) + " stream failed (" + DriverName() + ", " +
                     std::to_string(rate) + " Hz, " + SampleFormatName(format) + "): " + why;
        return Fail(side.error);
    };
    if (side.open) CloseStream(direction);

    SampleFormat format =
        settings.bits == 24 && rate <= settings.maxRate24 ? SampleFormat::Int24 : SampleFormat::Float32;
    format = driver_->WireFormat(format);
    if (capture && rate <= 0) return failed("the sample rate must be above 0 Hz", format);
    // The tables hold one second at the highest rate; a longer loop would
    // read past their end.
    if (!capture && (rate < 1 || rate > PlaybackTables::kSize))
        return failed("the rate must lie within 1 .. " + std::to_string(PlaybackTables::kSize) +
                          " Hz (the tables hold one second at the highest rate)",
                      format);
    // A simulated card in simulated time calls back on the caller's own
    // thread, whose priority is none of the stream's business.
    const auto* clocked = dynamic_cast<const ClockedDriver*>(driver_.get());
    const int priority = clocked && clocked->Mode() == TimeMode::Simulated ? 0 : settings.priority;
    StreamRequest request = MakeRequest(rate, device, settings, format);
    const bool int24 = format == SampleFormat::Int24;
    // The callback's user data, new for every stream opened.
    auto attach = [&](auto& context, decltype(request.callback) callback) {
        if (Watched()) context->heartbeat.spinLimit = kSpinFactor * rate;
        context->priority = priority;
        request.callback = callback;
        request.userData = context.get();
    };
    if (capture) {
        captureContext_ = std::make_shared<CaptureContext>();
        captureContext_->ring = &ring_;
        captureContext_->overruns = &overruns_;
        attach(captureContext_, int24 ? &CaptureInt24 : &CaptureFloat);
    } else {
        tables_.PlaybackLength.store(rate, std::memory_order_relaxed);
        playbackContext_ = std::make_shared<PlaybackContext>();
        playbackContext_->tables = &tables_;
        playbackContext_->underruns = &underruns_;
        attach(playbackContext_, int24 ? &PlayInt24 : &PlayFloat);
    }

    std::string why;
    if (!driver_->Open(direction, request, why)) return failed(why, format);
    side.open = true;
    side.format = format;
    if (capture) {
        // No callback runs yet: a clear asked for meanwhile is served here.
        ring_.ServeClear();
        ring_.RestartAtSlot0();
    } else {
        tables_.ReadIndex.store(0, std::memory_order_relaxed);
    }
    if (!driver_->Start(direction, why)) {
        CloseStream(direction);
        return failed(why, format);
    }
    side.error.clear();
    runtimeError_.clear();
    side.watch.fresh = true;
    return true;
}

bool AudioStreams::StopStream(StreamDirection direction) {
    Side side = SideOf(direction);
    side.watch.wanted = side.watch.lost = false;
    side.watch.reason.clear();
    lastError_.clear();
    if (!side.open) {
        side.error.clear();
        return true;
    }
    std::string why;
    const bool ok = driver_->Close(direction, why);
    side.open = false;
    side.format = SampleFormat::Float32;
    side.error.clear();
    if (!ok) return Fail(std::string(side.name) + " stream did not stop cleanly: " + why);
    return true;
}

void AudioStreams::CloseStream(StreamDirection direction) {
    Side side = SideOf(direction);
    if (!side.open) return;
    std::string ignored;
    driver_->Close(direction, ignored);
    side.open = false;
    side.format = SampleFormat::Float32;
}

bool AudioStreams::CaptureRunning() const {
    return captureOpen_ && driver_->IsRunning(StreamDirection::Capture);
}

bool AudioStreams::PlaybackRunning() const {
    return playbackOpen_ && driver_->IsRunning(StreamDirection::Playback);
}

unsigned int AudioStreams::CaptureBufferFrames() const {
    return captureOpen_ ? driver_->BufferFrames(StreamDirection::Capture) : 0;
}

unsigned int AudioStreams::PlaybackBufferFrames() const {
    return playbackOpen_ ? driver_->BufferFrames(StreamDirection::Playback) : 0;
}

std::string AudioStreams::DeviceLabel(StreamDirection direction) const {
    const bool capture = direction == StreamDirection::Capture;
    const std::string& name = capture ? captureName_ : playbackName_;
    const int device = capture ? captureDevice_ : playbackDevice_;
    if (!name.empty()) return name;
    if (device >= 2 && static_cast<std::size_t>(device - 2) < cardNames_.size())
        return cardNames_[static_cast<std::size_t>(device - 2)];
    return "default device";
}

namespace {

double Seconds(AudioStreams::Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

AudioStreams::Clock::duration Span(double seconds) {
    return std::chrono::duration_cast<AudioStreams::Clock::duration>(std::chrono::duration<double>(seconds));
}

}  // namespace

void AudioStreams::AfterRequest(Watch& w, bool ok, Clock::time_point now) {
    if (ok) {
        w.lost = false;
        w.reason.clear();
    } else if (Watched()) {
        // Nothing to record from: the request is retried like a lost stream.
        w.lost = true;
        w.reason = w.failure;
        w.nextAttempt = now + Span(kRetrySeconds);
    } else {
        w.lost = false;
        w.reason.clear();
    }
}

const char* AudioStreams::Check(StreamDirection direction, Watch& w, Clock::time_point now,
                                bool& unanswered) {
    const bool capture = direction == StreamDirection::Capture;
    const StreamHeartbeat& beat = capture ? captureContext_->heartbeat : playbackContext_->heartbeat;
    if (beat.spun.load(std::memory_order_relaxed)) return ServerGone();
    if (!driver_->IsRunning(direction)) return "the stream was stopped by the system";
    const std::uint64_t frames = beat.frames.load(std::memory_order_relaxed);
    if (w.fresh) {
        w.fresh = false;
        w.delivered = frames > 0;
        w.seenFrames = w.spanFrames = frames;
        w.lastProgress = w.spanStart = now;
        return nullptr;
    }
    const double rate = std::max(capture ? captureRate_ : playbackRate_, 1);
    const double buffer = driver_->BufferFrames(direction);
    if (frames != w.seenFrames) {
        w.seenFrames = frames;
        w.lastProgress = now;
        w.delivered = true;
    } else {
        // Three buffers late at least: a stream with long buffers calls back
        // seldom.
        const double limit =
            std::max(w.delivered ? kStallSeconds : kFirstCallbackSeconds, 3.0 * buffer / rate);
        if (Seconds(now - w.lastProgress) > limit) {
            unanswered = true;
            return "the stream stalled";
        }
    }
    // A library that fails on every buffer may call back as fast as it can,
    // with whatever the buffer held last.
    const double span = Seconds(now - w.spanStart);
    if (span >= 0.25) {
        const double moved = static_cast<double>(frames - w.spanFrames);
        if (moved > kSpinFactor * rate * span + 4.0 * buffer) return ServerGone();
        if (span >= 1.0) {
            w.spanStart = now;
            w.spanFrames = frames;
        }
    }
    return nullptr;
}

const char* AudioStreams::ServerGone() const {
    return DriverName() == "alsa" ? "the sound device stopped working" : "the sound server stopped answering";
}

void AudioStreams::Lose(StreamDirection direction, const std::string& reason, const std::string& detail,
                        bool unanswered, Clock::time_point now) {
    const bool capture = direction == StreamDirection::Capture;
    Watch& w = capture ? capture_ : playback_;
    if (unanswered) {
        // Waiting for a stream that does not answer could hang the window:
        // the card closes it on its own time, and its callback, retired,
        // touches nothing of ours any more.
        if (capture) {
            captureContext_->heartbeat.Retire();
            driver_->Abandon(direction, captureContext_);
            captureOpen_ = false;
            captureFormat_ = SampleFormat::Float32;
        } else {
            playbackContext_->heartbeat.Retire();
            driver_->Abandon(direction, playbackContext_);
            playbackOpen_ = false;
            playbackFormat_ = SampleFormat::Float32;
        }
    } else {
        CloseStream(direction);
    }
    // What was recorded before the loss is stale: the ring reads as
    // silence until the stream is back.
    if (capture) ring_.Clear();
    w.lost = true;
    w.reason = reason;
    w.nextAttempt = now + Span(kRetrySeconds);
    std::string& error = capture ? captureError_ : playbackError_;
    error = std::string(capture ? "capture" : "playback") + " stream: " + reason + "; retrying every second";
    Log(error + (detail == reason ? std::string() : " (" + detail + ")"));
    w.loggedFailure.clear();
}

void AudioStreams::Log(const std::string& line) {
    std::fprintf(stderr, "miral: %s\n", line.c_str());
}

bool AudioStreams::Retry(StreamDirection direction, Clock::time_point now) {
    Side side = SideOf(direction);
    Watch& w = side.watch;
    retrying_ = true;
    const bool opened = OpenStream(direction, side.rate, side.device, w.settings);
    retrying_ = false;
    if (opened) {
        w.lost = false;
        w.reason.clear();
        w.loggedFailure.clear();
        Log(std::string(side.name) + " stream: back (" + DriverName() + ", " + std::to_string(side.rate) +
            " Hz)");
        return true;
    }
    w.nextAttempt = now + Span(kRetrySeconds);
    if (w.reason.empty()) w.reason = w.failure;
    side.error = std::string(side.name) + " stream: " + w.reason + "; retrying every second";
    // Why each retry fails goes to the log, once for each new reason.
    if (w.failure != w.reason && w.failure != w.loggedFailure) {
        w.loggedFailure = w.failure;
        Log(std::string(side.name) + " stream: the retry failed: " + w.failure);
    }
    return false;
}

void AudioStreams::TakeRuntimeError(Clock::time_point now) {
    if (driver_) {
        driver_->TakeRuntimeError(scratch_);
        if (!scratch_.empty()) {
            // The library's own words go to the log, once for each new text;
            // the status line says what happened in ours.
            if (scratch_ != loggedRuntime_) {
                loggedRuntime_ = scratch_;
                Log("audio: " + scratch_);
            }
            runtimeError_.assign(DriverName() == "alsa" ? "audio: the sound device reported an error"
                                                        : "audio: the sound server reported an error");
            runtimeTime_ = now;
        }
    }
    if (!runtimeError_.empty() && now - runtimeTime_ > std::chrono::seconds(5)) runtimeError_.clear();
}

void AudioStreams::CloseFailing(Clock::time_point now) {
    // The streams' server or device is gone: close them rather than let
    // them spin; the next start (or, on a card that can fail, the watch)
    // tries again.
    const std::string why =
        runtimeError_.empty() ? std::string("the sound device stopped working") : runtimeError_;
    if (Watched()) {
        const std::string reason = ServerGone();
        if (captureOpen_) Lose(StreamDirection::Capture, reason, why, false, now);
        if (playbackOpen_) Lose(StreamDirection::Playback, reason, why, false, now);
    } else {
        const bool hadCapture = captureOpen_, hadPlayback = playbackOpen_;
        const std::string keep = lastError_;
        StopCapture();
        StopPlayback();
        lastError_ = keep;
        if (hadCapture) captureError_ = "capture stream closed (" + why + ")";
        if (hadPlayback) playbackError_ = "playback stream closed (" + why + ")";
    }
    runtimeError_.clear();
}

void AudioStreams::Supervise() {
    Supervise(Clock::now());
}

void AudioStreams::Supervise(Clock::time_point now) {
    if (!Watched()) return;
    TakeRuntimeError(now);
    if (driver_->Failing() && (captureOpen_ || playbackOpen_)) CloseFailing(now);
    for (const StreamDirection d : {StreamDirection::Capture, StreamDirection::Playback}) {
        const bool capture = d == StreamDirection::Capture;
        Watch& w = capture ? capture_ : playback_;
        if (capture ? captureOpen_ : playbackOpen_) {
            bool unanswered = false;
            if (const char* reason = Check(d, w, now, unanswered)) {
                const std::string detail =
                    std::string(reason) + (runtimeError_.empty() ? "" : ": " + runtimeError_);
                Lose(d, reason, detail, unanswered, now);
            }
        } else if (w.wanted && w.lost && now >= w.nextAttempt) {
            // Both streams need the same server: after a failed attempt the
            // other stream waits for the next round, so that a server that
            // does not answer costs the window one wait per round at most.
            if (!Retry(d, now)) {
                Watch& other = capture ? playback_ : capture_;
                other.nextAttempt = std::max(other.nextAttempt, w.nextAttempt);
            }
        }
    }
}

const std::string& AudioStreams::StatusText() {
    // Problems reported while the streams run are shown for a few seconds
    // after they were last reported. Called on every processing cycle: the
    // strings keep their storage, so a steady state allocates nothing.
    const auto now = Clock::now();
    TakeRuntimeError(now);
    if (driver_ && driver_->Failing() && (captureOpen_ || playbackOpen_)) CloseFailing(now);
    status_.clear();
    auto add = [this](const char* part) {
        if (*part == '\0') return;
        if (!status_.empty()) status_ += "; ";
        status_ += part;
    };
    add(captureError_.c_str());
    add(playbackError_.c_str());
    if (captureOpen_ && !driver_->IsRunning(StreamDirection::Capture)) add("the capture stream stopped");
    if (playbackOpen_ && !driver_->IsRunning(StreamDirection::Playback)) add("the playback stream stopped");
    add(runtimeError_.c_str());
    return status_;
}

}  // namespace miral::audio
