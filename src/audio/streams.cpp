#include "audio/streams.h"

#include <algorithm>
#include <cctype>
#include <chrono>

#include "audio/alsa_quiet.h"
#include "audio/rtaudio_driver.h"
#include "audio/sim_driver.h"
#include "audio/wav_driver.h"

namespace miral::audio {

const char* SampleFormatName(SampleFormat format) { return format == SampleFormat::Int24 ? "24-bit" : "float"; }

StreamSettings DefaultCaptureSettings() { return StreamSettings{}; }

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
        if (!real(RtAudioDriver::PulseServerAnswers() ? RtApiKind::Pulse : RtApiKind::Alsa, "default")) return false;
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

std::string AudioStreams::DriverName() const { return driver_ ? driver_->Name() : std::string(); }

bool AudioStreams::SetDeviceUnderTest(std::string_view setup) {
    lastError_.clear();
    DutSetup parsed;
    std::string why;
    if (!ParseDut(setup, parsed, why)) return Fail(why);
    dut_ = parsed;
    if (auto* sim = dynamic_cast<SimDriver*>(driver_.get())) sim->SetDut(dut_);
    return true;
}

void AudioStreams::SetCardNames(std::vector<std::string> names) { cardNames_ = std::move(names); }

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
    return request;
}

bool AudioStreams::StartCapture(int rate, int device, const StreamSettings& settings) {
    if (captureOpen_ && rate == captureRate_ && device == captureDevice_ && settings.deviceName == captureName_ &&
        driver_->IsRunning(StreamDirection::Capture)) {
        lastError_.clear();
        return true;
    }
    lastError_.clear();
    if (!EnsureDriver()) {
        captureError_ = "capture stream failed: " + lastError_;
        return Fail(captureError_);
    }
    // Remembered before the attempt: a failure leaves the stream absent, so
    // the same request tries again.
    captureRate_ = rate;
    captureDevice_ = device;
    captureName_ = settings.deviceName;
    auto failed = [&](const std::string& why, SampleFormat format) {
        captureError_ = "capture stream failed (" + DriverName() + ", " + std::to_string(rate) + " Hz, " +
                        SampleFormatName(format) + "): " + why;
        return Fail(captureError_);
    };
    if (captureOpen_) StopCapture();

    SampleFormat format = settings.bits == 24 && rate <= settings.maxRate24 ? SampleFormat::Int24 : SampleFormat::Float32;
    format = driver_->WireFormat(format);
    captureContext_ = CaptureContext{};
    captureContext_.ring = &ring_;
    captureContext_.overruns = &overruns_;
    // A simulated card in simulated time calls back on the caller's own
    // thread, whose priority is none of the stream's business.
    const auto* clocked = dynamic_cast<const ClockedDriver*>(driver_.get());
    captureContext_.priority = clocked && clocked->Mode() == TimeMode::Simulated ? 0 : settings.priority;
    StreamRequest request = MakeRequest(rate, device, settings, format);
    request.callback = format == SampleFormat::Int24 ? &CaptureInt24 : &CaptureFloat;
    request.userData = &captureContext_;

    std::string why;
    if (rate <= 0) return failed("the sample rate must be above 0 Hz", format);
    if (!driver_->Open(StreamDirection::Capture, request, why)) return failed(why, format);
    captureOpen_ = true;
    captureFormat_ = format;
    // No callback runs yet: a clear asked for meanwhile is served here.
    ring_.ServeClear();
    ring_.WriteIndex.store(0, std::memory_order_release);
    if (!driver_->Start(StreamDirection::Capture, why)) {
        std::string ignored;
        driver_->Close(StreamDirection::Capture, ignored);
        captureOpen_ = false;
        captureFormat_ = SampleFormat::Float32;
        return failed(why, format);
    }
    captureError_.clear();
    runtimeError_.clear();
    return true;
}

bool AudioStreams::StopCapture() {
    lastError_.clear();
    if (!captureOpen_) return true;
    std::string why;
    const bool ok = driver_->Close(StreamDirection::Capture, why);
    captureOpen_ = false;
    captureFormat_ = SampleFormat::Float32;
    captureError_.clear();
    if (!ok) return Fail("capture stream did not stop cleanly: " + why);
    return true;
}

bool AudioStreams::StartPlayback(int rate, int device, const StreamSettings& settings) {
    if (playbackOpen_ && rate == playbackRate_ && device == playbackDevice_ && settings.deviceName == playbackName_ &&
        driver_->IsRunning(StreamDirection::Playback)) {
        lastError_.clear();
        return true;
    }
    lastError_.clear();
    if (!EnsureDriver()) {
        playbackError_ = "playback stream failed: " + lastError_;
        return Fail(playbackError_);
    }
    // Remembered before the attempt: a failure leaves the stream absent, so
    // the same request tries again.
    playbackRate_ = rate;
    playbackDevice_ = device;
    playbackName_ = settings.deviceName;
    auto failed = [&](const std::string& why, SampleFormat format) {
        playbackError_ = "playback stream failed (" + DriverName() + ", " + std::to_string(rate) + " Hz, " +
                         SampleFormatName(format) + "): " + why;
        return Fail(playbackError_);
    };
    if (playbackOpen_) StopPlayback();

    SampleFormat format = settings.bits == 24 && rate <= settings.maxRate24 ? SampleFormat::Int24 : SampleFormat::Float32;
    format = driver_->WireFormat(format);
    // The tables hold one second at the highest rate; a longer loop would
    // read past their end.
    if (rate < 1 || rate > PlaybackTables::kSize)
        return failed("the rate must lie within 1 .. " + std::to_string(PlaybackTables::kSize) +
                          " Hz (the tables hold one second at the highest rate)",
                      format);
    tables_.PlaybackLength.store(rate, std::memory_order_relaxed);
    playbackContext_ = PlaybackContext{};
    playbackContext_.tables = &tables_;
    playbackContext_.underruns = &underruns_;
    const auto* clocked = dynamic_cast<const ClockedDriver*>(driver_.get());
    playbackContext_.priority = clocked && clocked->Mode() == TimeMode::Simulated ? 0 : settings.priority;
    StreamRequest request = MakeRequest(rate, device, settings, format);
    request.callback = format == SampleFormat::Int24 ? &PlayInt24 : &PlayFloat;
    request.userData = &playbackContext_;

    std::string why;
    if (!driver_->Open(StreamDirection::Playback, request, why)) return failed(why, format);
    playbackOpen_ = true;
    playbackFormat_ = format;
    tables_.ReadIndex.store(0, std::memory_order_relaxed);
    if (!driver_->Start(StreamDirection::Playback, why)) {
        std::string ignored;
        driver_->Close(StreamDirection::Playback, ignored);
        playbackOpen_ = false;
        playbackFormat_ = SampleFormat::Float32;
        return failed(why, format);
    }
    playbackError_.clear();
    runtimeError_.clear();
    return true;
}

bool AudioStreams::StopPlayback() {
    lastError_.clear();
    if (!playbackOpen_) return true;
    std::string why;
    const bool ok = driver_->Close(StreamDirection::Playback, why);
    playbackOpen_ = false;
    playbackFormat_ = SampleFormat::Float32;
    playbackError_.clear();
    if (!ok) return Fail("playback stream did not stop cleanly: " + why);
    return true;
}

bool AudioStreams::CaptureRunning() const { return captureOpen_ && driver_->IsRunning(StreamDirection::Capture); }

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

const std::string& AudioStreams::StatusText() {
    // Problems reported while the streams run are shown for a few seconds
    // after they were last reported. Called on every processing cycle: the
    // strings keep their storage, so a steady state allocates nothing.
    const auto now = std::chrono::steady_clock::now();
    if (driver_) {
        driver_->TakeRuntimeError(scratch_);
        if (!scratch_.empty()) {
            runtimeError_.assign("audio: ");
            runtimeError_ += scratch_;
            runtimeTime_ = now;
        }
    }
    if (!runtimeError_.empty() && now - runtimeTime_ > std::chrono::seconds(5)) runtimeError_.clear();
    if (driver_ && driver_->Failing() && (captureOpen_ || playbackOpen_)) {
        // The streams' server or device is gone: close them rather than let
        // them spin; the next start tries again.
        const std::string why = runtimeError_.empty() ? std::string("audio: the device stopped working") : runtimeError_;
        const bool hadCapture = captureOpen_, hadPlayback = playbackOpen_;
        const std::string keep = lastError_;
        StopCapture();
        StopPlayback();
        lastError_ = keep;
        if (hadCapture) captureError_ = "capture stream closed (" + why + ")";
        if (hadPlayback) playbackError_ = "playback stream closed (" + why + ")";
        runtimeError_.clear();
    }
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
