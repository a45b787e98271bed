// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/clocked_driver.h"

#include <pthread.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace miral::audio {

namespace {
constexpr std::int64_t kNsPerSecond = 1000000000;
}

ClockedDriver::ClockedDriver(TimeMode mode) : mode_(mode), epoch_(std::chrono::steady_clock::now()) {}

ClockedDriver::~ClockedDriver() {
    Shutdown();
}

void ClockedDriver::Shutdown() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        quit_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
}

std::int64_t ClockedDriver::FramesAt(std::int64_t ns, int rate) {
    if (ns <= 0) return 0;
    const std::int64_t seconds = ns / kNsPerSecond;
    const std::int64_t rest = ns % kNsPerSecond;
    return seconds * rate + rest * rate / kNsPerSecond;
}

std::int64_t ClockedDriver::FirstTickAt(std::int64_t ns, int rate) {
    if (ns <= 0) return 0;
    const std::int64_t rest = ns % kNsPerSecond;
    return FramesAt(ns, rate) + ((rest * rate) % kNsPerSecond != 0 ? 1 : 0);
}

std::int64_t ClockedDriver::TickTimeNs(std::int64_t tick, int rate) {
    const std::int64_t seconds = tick / rate;
    const std::int64_t rest = tick % rate;
    return seconds * kNsPerSecond + (rest * kNsPerSecond + rate - 1) / rate;
}

std::int64_t ClockedDriver::NowNsLocked() const {
    if (mode_ == TimeMode::Simulated) return simNowNs_;
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - epoch_)
        .count();
}

std::int64_t ClockedDriver::NowNs() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return NowNsLocked();
}

void ClockedDriver::SetInputLevel(double level) {
    if (!(level >= 0.0)) level = 0.0;  // NaN and negative levels mute
    inputLevel_.store(static_cast<float>(level), std::memory_order_relaxed);
}

void ClockedDriver::SetOutputLevel(double level) {
    if (!(level >= 0.0)) level = 0.0;  // NaN and negative levels mute
    outputLevel_.store(static_cast<float>(level), std::memory_order_relaxed);
}

bool ClockedDriver::Open(StreamDirection direction, const StreamRequest& request, std::string& error) {
    std::lock_guard<std::mutex> lock(mutex_);
    Stream& s = Select(direction);
    if (s.open) {
        error = "the stream is already open";
        return false;
    }
    if (request.rate <= 0 || request.rate > kMaxRate) {
        error =
            "sample rate " + std::to_string(request.rate) + " Hz is outside 1 .. " + std::to_string(kMaxRate);
        return false;
    }
    if (request.callback == nullptr) {
        error = "no stream callback";
        return false;
    }
    Stream fresh;
    fresh.rate = request.rate;
    fresh.format = request.format;
    fresh.bufferFrames = std::clamp(request.bufferFrames, 1u, 65536u);
    fresh.callback = request.callback;
    fresh.userData = request.userData;
    fresh.samples.assign(2 * static_cast<size_t>(fresh.bufferFrames), 0.0f);
    fresh.wire.assign(8 * static_cast<size_t>(fresh.bufferFrames), 0);
    const bool ok =
        direction == StreamDirection::Capture ? OnCaptureOpen(fresh, error) : OnPlaybackOpen(fresh, error);
    if (!ok) return false;
    fresh.open = true;
    s = std::move(fresh);
    return true;
}

bool ClockedDriver::Start(StreamDirection direction, std::string& error) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        Stream& s = Select(direction);
        if (!s.open) {
            error = "the stream is not open";
            return false;
        }
        if (!s.running) {
            s.startTick = FirstTickAt(NowNsLocked(), s.rate);
            s.frames = 0;
            s.running = true;
            if (direction == StreamDirection::Capture) {
                OnCaptureStart(s);
            } else {
                OnPlaybackStart(s);
            }
        }
        if (mode_ == TimeMode::RealTime) EnsureThread();
    }
    wake_.notify_all();
    return true;
}

bool ClockedDriver::Close(StreamDirection direction, std::string& /*error*/) {
    std::lock_guard<std::mutex> lock(mutex_);
    Stream& s = Select(direction);
    const bool wasOpen = s.open;
    s = Stream();
    if (wasOpen && direction == StreamDirection::Playback) OnPlaybackClose();
    return true;
}

bool ClockedDriver::IsRunning(StreamDirection direction) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return direction == StreamDirection::Capture ? capture_.running : playback_.running;
}

unsigned int ClockedDriver::BufferFrames(StreamDirection direction) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return direction == StreamDirection::Capture ? capture_.bufferFrames : playback_.bufferFrames;
}

void ClockedDriver::AdvanceTo(double seconds) {
    if (mode_ != TimeMode::Simulated) return;
    if (!(seconds >= 0.0)) return;
    const double ns = std::min(seconds * 1e9, 9.0e18);
    std::lock_guard<std::mutex> lock(mutex_);
    const auto target = static_cast<std::int64_t>(std::llround(ns));
    if (target <= simNowNs_) return;  // time never runs backwards
    simNowNs_ = target;
    AdvanceLocked(simNowNs_);
}

void ClockedDriver::AdvanceLocked(std::int64_t nowNs) {
    if (playback_.running) {
        const std::int64_t due = FramesAt(nowNs, playback_.rate) - playback_.startTick;
        if (mode_ == TimeMode::RealTime && due - playback_.frames > playback_.rate) {
            // The card thread fell far behind (the machine stalled): skip, as a
            // card that under-ran would.
            const std::int64_t skip =
                (due - playback_.frames) / playback_.bufferFrames * playback_.bufferFrames;
            playback_.frames += skip;
        }
        while (playback_.running && playback_.frames <= due) RequestPlaybackBuffer();
    }
    if (capture_.running) {
        const std::int64_t sampled =
            FramesAt(nowNs, capture_.rate) - capture_.startTick;  // frames fully sampled - 1
        if (mode_ == TimeMode::RealTime && sampled - capture_.frames > capture_.rate) {
            const std::int64_t skip =
                (sampled - capture_.frames) / capture_.bufferFrames * capture_.bufferFrames;
            capture_.frames += skip;
        }
        while (capture_.running && capture_.frames + capture_.bufferFrames - 1 <= sampled)
            DeliverCaptureBuffer();
    }
}

void ClockedDriver::RequestPlaybackUpTo(std::int64_t end) {
    while (playback_.running && playback_.frames < end) RequestPlaybackBuffer();
}

void ClockedDriver::RequestPlaybackBuffer() {
    Stream& s = playback_;
    const unsigned int n = s.bufferFrames;
    const double streamTime = static_cast<double>(s.frames) / s.rate;
    s.callback(s.wire.data(), nullptr, n, streamTime, 0, s.userData);
    if (s.format == SampleFormat::Int24) {
        for (unsigned int i = 0; i < 2 * n; ++i) s.samples[i] = DecodeInt24(s.wire.data() + 3 * i);
    } else {
        std::memcpy(s.samples.data(), s.wire.data(), 2 * n * sizeof(float));
    }
    // The card's output level acts on what it plays.
    const float level = outputLevel_.load(std::memory_order_relaxed);
    if (level != 1.0f)
        for (unsigned int i = 0; i < 2 * n; ++i) s.samples[i] *= level;
    const std::int64_t first = s.frames;
    s.frames += n;
    OnPlayed(first, n, s.samples.data());
}

void ClockedDriver::DeliverCaptureBuffer() {
    Stream& s = capture_;
    const unsigned int n = s.bufferFrames;
    RenderCapture(s.frames, n, s.samples.data());
    const float level = inputLevel_.load(std::memory_order_relaxed);
    for (unsigned int i = 0; i < 2 * n; ++i) {
        float x = s.samples[i] * level;
        // The converter clips at full scale.
        if (!(x == x)) x = 0.0f;
        s.samples[i] = std::clamp(x, -1.0f, 1.0f);
    }
    if (s.format == SampleFormat::Int24) {
        for (unsigned int i = 0; i < 2 * n; ++i) EncodeInt24(s.samples[i], s.wire.data() + 3 * i);
    } else {
        std::memcpy(s.wire.data(), s.samples.data(), 2 * n * sizeof(float));
    }
    const double streamTime = static_cast<double>(s.frames) / s.rate;
    s.frames += n;
    s.callback(nullptr, s.wire.data(), n, streamTime, 0, s.userData);
}

std::int64_t ClockedDriver::NextDueNs() const {
    std::int64_t next = std::numeric_limits<std::int64_t>::max();
    if (playback_.running)
        next = std::min(next, TickTimeNs(playback_.startTick + playback_.frames, playback_.rate));
    if (capture_.running)
        next = std::min(next, TickTimeNs(capture_.startTick + capture_.frames + capture_.bufferFrames - 1,
                                         capture_.rate));
    return next;
}

void ClockedDriver::EnsureThread() {
    if (!thread_.joinable() && !quit_) thread_ = std::thread([this] { ThreadMain(); });
}

void ClockedDriver::ThreadMain() {
    // Named, so that a look at the process's threads tells the card's work
    // from the window's (15 characters at most).
    pthread_setname_np(pthread_self(), "software card");
    std::unique_lock<std::mutex> lock(mutex_);
    while (!quit_) {
        if (!capture_.running && !playback_.running) {
            wake_.wait(lock);
            continue;
        }
        AdvanceLocked(NowNsLocked());
        const std::int64_t due = NextDueNs();
        if (due == std::numeric_limits<std::int64_t>::max()) continue;
        wake_.wait_until(lock, epoch_ + std::chrono::nanoseconds(due));
    }
}

}  // namespace miral::audio
