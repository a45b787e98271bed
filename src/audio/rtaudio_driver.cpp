// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/rtaudio_driver.h"

#include <RtAudio.h>
#include <pulse/pulseaudio.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <type_traits>

namespace miral::audio {

static_assert(std::is_same_v<StreamCallback, RtAudioCallback>, "our callbacks must be RtAudio callbacks");

namespace {

std::string OneLine(std::string text) {
    for (char& c : text)
        if (c == '\n' || c == '\r') c = ' ';
    const size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos) return {};
    const size_t last = text.find_last_not_of(' ');
    return text.substr(first, last - first + 1);
}

bool ContainsNoCase(const std::string& haystack, const std::string& needle) {
    if (needle.empty()) return false;
    auto it = std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end(), [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
    });
    return it != haystack.end();
}

RtAudio::Api ToRtApi(RtApiKind api) {
    switch (api) {
        case RtApiKind::Pulse:
            return RtAudio::LINUX_PULSE;
        case RtApiKind::Alsa:
            return RtAudio::LINUX_ALSA;
        case RtApiKind::Jack:
            return RtAudio::UNIX_JACK;
    }
    return RtAudio::UNSPECIFIED;
}

// Where the error callback puts an error raised on a thread that is inside
// one of our wrapped calls; errors raised elsewhere (the library's stream
// threads) are runtime errors.
thread_local std::string* t_collector = nullptr;
std::mutex g_runtimeMutex;
std::string g_runtimeError;
// The newest warning from a stream thread, and when it came. A stream that
// keeps failing (the server went away) repeats its warning on every buffer:
// each distinct text is printed once until a stream opens again.
std::string g_lastWarning;
std::chrono::steady_clock::time_point g_lastWarningTime;
std::vector<std::string> g_printedWarnings;
// Warnings from stream threads in the present one-second window, and in the
// previous one.
std::chrono::steady_clock::time_point g_windowStart;
long g_windowCount = 0;
long g_previousCount = 0;

// RtAudio's error callback: warnings go to stderr, errors are collected.
void OnRtAudioError(RtAudioError::Type type, const std::string& text) {
    const std::string line = OneLine(text);
    if (type == RtAudioError::WARNING || type == RtAudioError::DEBUG_WARNING) {
        if (t_collector != nullptr) {
            std::fprintf(stderr, "miral: audio warning: %s\n", line.c_str());
            return;
        }
        std::lock_guard<std::mutex> lock(g_runtimeMutex);
        g_lastWarningTime = std::chrono::steady_clock::now();
        g_lastWarning = line;
        if (g_lastWarningTime - g_windowStart >= std::chrono::seconds(1)) {
            g_previousCount = g_lastWarningTime - g_windowStart < std::chrono::seconds(2) ? g_windowCount : 0;
            g_windowStart = g_lastWarningTime;
            g_windowCount = 0;
        }
        ++g_windowCount;
        if (std::find(g_printedWarnings.begin(), g_printedWarnings.end(), line) != g_printedWarnings.end())
            return;
        if (g_printedWarnings.size() < 16) g_printedWarnings.push_back(line);
        std::fprintf(stderr, "miral: audio warning: %s (reported once)\n", line.c_str());
        return;
    }
    if (t_collector != nullptr) {
        if (t_collector->empty()) *t_collector = line;
        return;
    }
    std::lock_guard<std::mutex> lock(g_runtimeMutex);
    if (g_runtimeError.empty()) g_runtimeError = line;
}

// Runs f; any error it raises (thrown or reported to the error callback)
// becomes false with the first message in error.
template <typename F>
bool Guarded(std::string& error, F&& f) {
    std::string collected;
    std::string* previous = t_collector;
    t_collector = &collected;
    try {
        f();
    } catch (const RtAudioError& e) {
        if (collected.empty()) collected = OneLine(e.getMessage());
    } catch (const std::exception& e) {
        if (collected.empty()) collected = OneLine(e.what());
    } catch (...) {
        if (collected.empty()) collected = "unknown error in the audio library";
    }
    t_collector = previous;
    if (collected.empty()) return true;
    error = collected;
    return false;
}

const char* DirectionWord(StreamDirection d) {
    return d == StreamDirection::Capture ? "capture" : "playback";
}

unsigned int ChannelsOf(const RtAudio::DeviceInfo& info, StreamDirection d) {
    return d == StreamDirection::Capture ? info.inputChannels : info.outputChannels;
}

std::vector<RtAudio::DeviceInfo> ListDevices(RtAudio& rt) {
    std::vector<RtAudio::DeviceInfo> infos;
    const unsigned int count = rt.getDeviceCount();
    for (unsigned int i = 0; i < count; ++i) {
        RtAudio::DeviceInfo info;
        info.probed = false;
        try {
            info = rt.getDeviceInfo(i);
        } catch (const RtAudioError&) {
            info.probed = false;  // busy or gone: not a candidate
        }
        infos.push_back(info);
    }
    return infos;
}

// Connects to the PulseAudio server (PULSE_SERVER, else the default) and
// waits for it to accept. RtAudio's own probe waits for ever on a server that
// stopped answering, and RtAudio 5.2 keeps a device list from an earlier
// probe when the server has gone; this one never blocks the caller for
// longer than the limit of one wait. A connection that is still under way
// when a wait ends is kept, and the next wait goes on with it: on a loaded
// machine a server may take seconds to answer, and a retry every second then
// gets there without the window ever waiting long. Window thread only.
class PulseProbe {
  public:
    enum class Answer { Ready, Failed, Pending };

    ~PulseProbe() { Reset(); }

    // Waits at most limitMs. Failed (the reason in why) when the server
    // refused or broke the connection; Pending when it has not answered yet.
    Answer Wait(int limitMs, std::string& why) {
        if (loop_ == nullptr && !Begin(why)) return Answer::Failed;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
        for (;;) {
            const pa_context_state_t state = pa_context_get_state(context_);
            if (state == PA_CONTEXT_READY) {
                Reset();
                return Answer::Ready;
            }
            if (!PA_CONTEXT_IS_GOOD(state)) {
                why = pa_strerror(pa_context_errno(context_));
                Reset();
                return Answer::Failed;
            }
            const auto left = std::chrono::duration_cast<std::chrono::microseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) return Answer::Pending;
            if (pa_mainloop_prepare(loop_, static_cast<int>(left.count())) < 0 ||
                pa_mainloop_poll(loop_) < 0 || pa_mainloop_dispatch(loop_) < 0) {
                why = "cannot reach PulseAudio";
                Reset();
                return Answer::Failed;
            }
        }
    }
    // Seconds since the connection under way was begun.
    double Waited() const {
        return loop_ == nullptr
                   ? 0.0
                   : std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
    }
    void Reset() {
        if (context_ != nullptr) {
            pa_context_disconnect(context_);
            pa_context_unref(context_);
            context_ = nullptr;
        }
        if (loop_ != nullptr) pa_mainloop_free(loop_);
        loop_ = nullptr;
    }

  private:
    bool Begin(std::string& why) {
        loop_ = pa_mainloop_new();
        if (loop_ != nullptr) context_ = pa_context_new(pa_mainloop_get_api(loop_), "Miral");
        if (context_ == nullptr) {
            why = "cannot reach PulseAudio";
            Reset();
            return false;
        }
        if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
            why = pa_strerror(pa_context_errno(context_));
            Reset();
            return false;
        }
        started_ = std::chrono::steady_clock::now();
        return true;
    }

    pa_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    std::chrono::steady_clock::time_point started_;
};

PulseProbe& Probe() {
    static PulseProbe probe;
    return probe;
}

// How long an open waits for the server to accept: a first request (at
// the start, or a control the user changed) as long as a loaded desktop
// may need; a retry after a loss only briefly, going on with the connection
// under way, so that a server that stopped answering never holds the window.
// A server silent for kPulseGiveUpSeconds is taken for one that is not there.
constexpr int kPulseFirstAnswerMs = 3000;
constexpr int kPulseRetryAnswerMs = 250;
constexpr double kPulseGiveUpSeconds = 30.0;

// Whether the server accepts within limitMs (or an earlier wait's
// connection completes in that time); otherwise the reason in error.
bool PulseAnswers(int limitMs, std::string& error) {
    std::string why;
    switch (Probe().Wait(limitMs, why)) {
        case PulseProbe::Answer::Ready:
            return true;
        case PulseProbe::Answer::Failed:
            error = "no PulseAudio or PipeWire server answers (" + why + ")";
            return false;
        case PulseProbe::Answer::Pending:
            break;
    }
    if (Probe().Waited() >= kPulseGiveUpSeconds) {
        Probe().Reset();
        error = "no PulseAudio or PipeWire server answers (no answer within " +
                std::to_string(static_cast<int>(kPulseGiveUpSeconds)) + " s)";
    } else {
        error = "the sound server has not answered yet; still waiting";
    }
    return false;
}

}  // namespace

RtAudioDriver::RtAudioDriver(RtApiKind api) : api_(api) {}

RtAudioDriver::~RtAudioDriver() {
    std::string ignored;
    Close(StreamDirection::Capture, ignored);
    Close(StreamDirection::Playback, ignored);
}

int RtAudioDriver::FixedRate() const {
    if (api_ != RtApiKind::Jack) return 0;
    if (serverRate_ < 0) {
        serverRate_ = 0;
        std::string ignored;
        Guarded(ignored, [&] {
            RtAudio rt(ToRtApi(api_));
            rt.showWarnings(false);
            for (const RtAudio::DeviceInfo& info : ListDevices(rt)) {
                if (!info.probed) continue;
                if (info.preferredSampleRate > 0) {
                    serverRate_ = static_cast<int>(info.preferredSampleRate);
                } else if (!info.sampleRates.empty()) {
                    serverRate_ = static_cast<int>(info.sampleRates.front());
                }
                if (serverRate_ > 0) break;
            }
        });
    }
    return serverRate_;
}

std::string RtAudioDriver::Name() const {
    switch (api_) {
        case RtApiKind::Pulse:
            return "pulse";
        case RtApiKind::Alsa:
            return "alsa";
        case RtApiKind::Jack:
            return "jack";
    }
    return "?";
}

SampleFormat RtAudioDriver::WireFormat(SampleFormat requested) const {
    // RtAudio 5.2's ALSA back end crashes with the packed 24-bit format: it
    // asks ALSA for a 4-byte container and then converts as if the samples
    // were 3 bytes apart. On ALSA the 24-bit setting therefore uses floats,
    // which carry 24 bits of the card's resolution unchanged (ALSA or RtAudio
    // convert from the card's own format). PulseAudio and JACK take the
    // packed format.
    if (api_ == RtApiKind::Alsa && requested == SampleFormat::Int24) return SampleFormat::Float32;
    return requested;
}

bool RtAudioDriver::Open(StreamDirection direction, const StreamRequest& request, std::string& error) {
    Side& side = Select(direction);
    if (side.rt) {
        error = "the stream is already open";
        return false;
    }
    if (api_ == RtApiKind::Pulse &&
        !PulseAnswers(request.retry ? kPulseRetryAnswerMs : kPulseFirstAnswerMs, error))
        return false;
    std::unique_ptr<RtAudio> rt;
    unsigned int frames = request.bufferFrames;
    std::string chosenName;
    const bool ok = Guarded(error, [&] {
        rt = std::make_unique<RtAudio>(ToRtApi(api_));
        if (rt->getCurrentApi() != ToRtApi(api_))
            throw std::runtime_error("this RtAudio has no " + Name() + " support");
        const std::vector<RtAudio::DeviceInfo> infos = ListDevices(*rt);
        if (infos.empty()) {
            std::string hint;
            if (api_ == RtApiKind::Pulse) hint = " (is a PulseAudio or PipeWire server running?)";
            if (api_ == RtApiKind::Jack) hint = " (is a JACK server running?)";
            if (api_ == RtApiKind::Alsa)
                hint = " (no sound card: without one, \"miral --audio sim\" runs the simulated bench)";
            throw std::runtime_error("no " + Name() + " audio devices found" + hint);
        }
        auto usable = [&](const RtAudio::DeviceInfo& info) {
            return info.probed && ChannelsOf(info, direction) >= 2;
        };
        int chosen = -1;
        if (!request.deviceName.empty()) {
            for (size_t i = 0; i < infos.size() && chosen < 0; ++i)
                if (usable(infos[i]) && ContainsNoCase(infos[i].name, request.deviceName))
                    chosen = static_cast<int>(i);
            if (chosen < 0) {
                std::string names;
                for (const auto& info : infos)
                    if (usable(info)) names += (names.empty() ? "\"" : ", \"") + info.name + "\"";
                throw std::runtime_error("no stereo " + std::string(DirectionWord(direction)) +
                                         " device matches \"" + request.deviceName + "\"" +
                                         (names.empty() ? std::string() : " (there are " + names + ")"));
            }
        } else if (request.deviceNumber >= 2 &&
                   static_cast<size_t>(request.deviceNumber - 2) < request.cardNames.size()) {
            const std::string& card = request.cardNames[static_cast<size_t>(request.deviceNumber - 2)];
            for (size_t i = 0; i < infos.size() && chosen < 0 && !card.empty(); ++i)
                if (usable(infos[i]) &&
                    (ContainsNoCase(infos[i].name, card) || ContainsNoCase(card, infos[i].name)))
                    chosen = static_cast<int>(i);
        }
        if (chosen < 0) {
            chosen = static_cast<int>(direction == StreamDirection::Capture ? rt->getDefaultInputDevice()
                                                                            : rt->getDefaultOutputDevice());
            if (chosen < 0 || static_cast<size_t>(chosen) >= infos.size()) chosen = 0;
        }
        chosenName = infos[static_cast<size_t>(chosen)].name;

        RtAudio::StreamParameters params;
        params.deviceId = static_cast<unsigned int>(chosen);
        params.nChannels = 2;
        params.firstChannel = 0;
        RtAudio::StreamOptions options;
        options.flags = 0;
        options.numberOfBuffers = request.bufferCount;
        options.streamName = direction == StreamDirection::Capture ? "Miral capture" : "Miral playback";
        const RtAudioFormat format = request.format == SampleFormat::Int24 ? RTAUDIO_SINT24 : RTAUDIO_FLOAT32;
        rt->openStream(direction == StreamDirection::Playback ? &params : nullptr,
                       direction == StreamDirection::Capture ? &params : nullptr, format,
                       static_cast<unsigned int>(request.rate), &frames, request.callback, request.userData,
                       &options, &OnRtAudioError);
        if (!rt->isStreamOpen()) throw std::runtime_error("the stream did not open");
    });
    if (!ok) {
        std::string ignored;
        Guarded(ignored, [&] { rt.reset(); });
        if (!chosenName.empty()) error = "device \"" + chosenName + "\": " + error;
        return false;
    }
    side.rt = std::move(rt);
    side.bufferFrames = frames;
    {
        std::lock_guard<std::mutex> lock(g_runtimeMutex);
        g_printedWarnings.clear();
        g_lastWarning.clear();
        g_windowCount = g_previousCount = 0;
    }
    side.deviceName = chosenName;
    return true;
}

bool RtAudioDriver::Start(StreamDirection direction, std::string& error) {
    Side& side = Select(direction);
    if (!side.rt) {
        error = "the stream is not open";
        return false;
    }
    return Guarded(error, [&] { side.rt->startStream(); });
}

bool RtAudioDriver::Close(StreamDirection direction, std::string& error) {
    Side& side = Select(direction);
    if (!side.rt) return true;
    const bool ok = Guarded(error, [&] {
        if (side.rt->isStreamRunning()) side.rt->stopStream();
        if (side.rt->isStreamOpen()) side.rt->closeStream();
    });
    std::string ignored;
    Guarded(ignored, [&] { side.rt.reset(); });
    side.rt.reset();
    side.bufferFrames = 0;
    side.deviceName.clear();
    return ok;
}

void RtAudioDriver::Abandon(StreamDirection direction, std::shared_ptr<void> keepAlive) {
    Side& side = Select(direction);
    std::shared_ptr<RtAudio> rt(std::move(side.rt));
    side.bufferFrames = 0;
    side.deviceName.clear();
    if (!rt) return;
    // A server that stopped answering may hold the stream's thread (and so
    // its close) until it answers again, or for ever: that wait is this
    // thread's, never the window's. What it reports is of no interest.
    std::thread([rt = std::move(rt), keep = std::move(keepAlive)]() mutable {
        std::string ignored;
        Guarded(ignored, [&] {
            if (rt->isStreamRunning()) rt->abortStream();
            if (rt->isStreamOpen()) rt->closeStream();
        });
        Guarded(ignored, [&] { rt.reset(); });
        keep.reset();
    }).detach();
}

bool RtAudioDriver::IsRunning(StreamDirection direction) const {
    const Side& side = Select(direction);
    return side.rt && side.rt->isStreamRunning();
}

unsigned int RtAudioDriver::BufferFrames(StreamDirection direction) const {
    return Select(direction).bufferFrames;
}

void RtAudioDriver::TakeRuntimeError(std::string& text) {
    std::lock_guard<std::mutex> lock(g_runtimeMutex);
    text.clear();
    text.swap(g_runtimeError);
    // A warning that streams still repeat is news too; one that stopped two
    // seconds ago is over.
    if (text.empty() && !g_lastWarning.empty() && (capture_.rt || playback_.rt) &&
        std::chrono::steady_clock::now() - g_lastWarningTime < std::chrono::seconds(2))
        text = g_lastWarning;
}

bool RtAudioDriver::Failing() const {
    if (!capture_.rt && !playback_.rt) return false;
    std::lock_guard<std::mutex> lock(g_runtimeMutex);
    const auto now = std::chrono::steady_clock::now();
    if (now - g_lastWarningTime > std::chrono::milliseconds(500)) return false;
    // A stream that works warns now and then (an overrun); one whose server
    // or device is gone warns on every buffer.
    return g_windowCount + g_previousCount > kFailingWarnings;
}

bool RtAudioDriver::Compiled(RtApiKind api) {
    std::vector<RtAudio::Api> apis;
    RtAudio::getCompiledApi(apis);
    return std::find(apis.begin(), apis.end(), ToRtApi(api)) != apis.end();
}

bool RtAudioDriver::PulseServerAnswers() {
    if (!Compiled(RtApiKind::Pulse)) return false;
    std::string why;
    if (!PulseAnswers(kPulseFirstAnswerMs, why)) return false;
    bool answers = false;
    std::string ignored;
    Guarded(ignored, [&] {
        RtAudio rt(RtAudio::LINUX_PULSE);
        rt.showWarnings(false);
        answers = rt.getCurrentApi() == RtAudio::LINUX_PULSE && rt.getDeviceCount() > 0;
    });
    return answers;
}

std::vector<std::string> RtAudioDriver::DeviceNames(RtApiKind api, StreamDirection direction) {
    std::vector<std::string> names;
    std::string ignored;
    Guarded(ignored, [&] {
        RtAudio rt(ToRtApi(api));
        rt.showWarnings(false);
        if (rt.getCurrentApi() != ToRtApi(api)) return;
        for (const auto& info : ListDevices(rt))
            if (info.probed && ChannelsOf(info, direction) >= 2) names.push_back(info.name);
    });
    return names;
}

}  // namespace miral::audio
