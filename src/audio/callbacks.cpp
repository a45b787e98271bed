// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/callbacks.h"

#include <pthread.h>
#include <sched.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

namespace miral::audio {

bool RaiseThreadPriority(int level) {
    if (level <= 0) return true;
    const int lo = sched_get_priority_min(SCHED_RR);
    const int hi = sched_get_priority_max(SCHED_RR);
    if (lo < 0 || hi < 0) return false;
    sched_param param{};
    param.sched_priority = std::clamp(5 * std::min(level, 15), lo, hi);
    return pthread_setschedparam(pthread_self(), SCHED_RR, &param) == 0;
}

void StreamHeartbeat::Retire() {
    // Sequentially consistent on both sides: either the callback sees the
    // retirement, or this thread sees it busy and waits for it to end.
    retired.store(true);
    while (busy.load()) std::this_thread::yield();
}

namespace {

template <typename Context>
inline void FirstCall(Context* ctx) {
    if (!ctx->prioritySet) {
        ctx->prioritySet = true;
        RaiseThreadPriority(ctx->priority);
    }
}

// Marks a callback at work for its stream's watcher; false (and nothing
// marked) once the stream is retired.
inline bool Enter(StreamHeartbeat& h) {
    h.busy.store(true);
    if (h.retired.load()) {
        h.busy.store(false);
        return false;
    }
    return true;
}

// Counts the frames and ends the callback's work; false when the stream is
// called back far faster than real time and should stop.
inline bool Leave(StreamHeartbeat& h, unsigned int nFrames) {
    const std::uint64_t total = h.frames.fetch_add(nFrames, std::memory_order_relaxed) + nFrames;
    bool real = true;
    if (h.spinLimit > 0) {
        // The monotonic clock is read without a system call.
        const std::int64_t now = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count();
        if (h.spanStartNs < 0) {
            h.spanStartNs = now;
            h.spanFrames = total - nFrames;
        }
        const double span = static_cast<double>(now - h.spanStartNs) * 1e-9;
        // Buffers that queued up during a hiccup may come in a burst: eight
        // buffers and a tenth of a second are always allowed.
        const double allowed = h.spinLimit * std::max(span, 0.1) + 8.0 * nFrames;
        if (static_cast<double>(total - h.spanFrames) > allowed) {
            h.spun.store(true, std::memory_order_relaxed);
            real = false;
        } else if (span >= 0.5) {
            h.spanStartNs = now;
            h.spanFrames = total;
        }
    }
    h.busy.store(false, std::memory_order_release);
    return real;
}

// The capture loop shared by both formats; Decode(i, left, right) gives
// frame i's samples.
template <typename Decode>
inline void StoreFrames(CaptureRing& ring, unsigned int nFrames, Decode decode) {
    // A clear asked for by the window thread is done here, between buffers,
    // where no frame is half written.
    ring.ServeClear();
    int counter = ring.DecimationCounter.load(std::memory_order_relaxed);
    std::uint64_t kept = ring.Published.load(std::memory_order_relaxed) >> CaptureRing::kIndexBits;
    for (unsigned int i = 0; i < nFrames; ++i) {
        if (counter >= ring.Decimation.load(std::memory_order_relaxed)) {
            float left, right;
            decode(i, left, right);
            const int w = ring.WriteIndex.load(std::memory_order_relaxed) & CaptureRing::kMask;
            ring.CaptureA[w].store(left, std::memory_order_relaxed);
            ring.CaptureB[w].store(right, std::memory_order_relaxed);
            // The frame is complete before the index that exposes it moves.
            const int next = (w + 1) & CaptureRing::kMask;
            ring.WriteIndex.store(next, std::memory_order_release);
            ring.Published.store(CaptureRing::Publish(++kept, next), std::memory_order_release);
            counter = 0;
        }
        ++counter;
    }
    ring.DecimationCounter.store(counter, std::memory_order_relaxed);
}

// The playback loop shared by both formats; Encode(i, left, right) writes
// frame i.
template <typename Encode>
inline void SendFrames(PlaybackTables& tables, unsigned int nFrames, Encode encode) {
    tables.PickUpNewest();
    const float* a = tables.FrontA();
    const float* b = tables.FrontB();
    // The tables hold kSize entries; a length outside 1 .. kSize would read
    // past them.
    const int length =
        std::clamp(tables.PlaybackLength.load(std::memory_order_relaxed), 1, PlaybackTables::kSize);
    int r = tables.ReadIndex.load(std::memory_order_relaxed);
    if (r < 0 || r >= length) r = 0;
    for (unsigned int i = 0; i < nFrames; ++i) {
        encode(i, a[r], b[r]);
        if (++r >= length) r = 0;
    }
    tables.ReadIndex.store(r, std::memory_order_relaxed);
}

}  // namespace

int CaptureFloat(void* /*outputBuffer*/, void* inputBuffer, unsigned int nFrames, double /*streamTime*/,
                 unsigned int status, void* userData) {
    auto* ctx = static_cast<CaptureContext*>(userData);
    if (!Enter(ctx->heartbeat)) return 0;
    FirstCall(ctx);
    if ((status & kStatusInputOverflow) != 0 && ctx->overruns != nullptr)
        ctx->overruns->fetch_add(1, std::memory_order_relaxed);
    if (inputBuffer != nullptr) {
        const auto* in = static_cast<const float*>(inputBuffer);
        StoreFrames(*ctx->ring, nFrames, [in](unsigned int i, float& left, float& right) {
            left = in[2 * i];
            right = in[2 * i + 1];
        });
    }
    return Leave(ctx->heartbeat, nFrames) ? 0 : 2;
}

int CaptureInt24(void* /*outputBuffer*/, void* inputBuffer, unsigned int nFrames, double /*streamTime*/,
                 unsigned int status, void* userData) {
    auto* ctx = static_cast<CaptureContext*>(userData);
    if (!Enter(ctx->heartbeat)) return 0;
    FirstCall(ctx);
    if ((status & kStatusInputOverflow) != 0 && ctx->overruns != nullptr)
        ctx->overruns->fetch_add(1, std::memory_order_relaxed);
    if (inputBuffer != nullptr) {
        const auto* in = static_cast<const std::uint8_t*>(inputBuffer);
        StoreFrames(*ctx->ring, nFrames, [in](unsigned int i, float& left, float& right) {
            left = DecodeInt24(in + 6 * i);
            right = DecodeInt24(in + 6 * i + 3);
        });
    }
    return Leave(ctx->heartbeat, nFrames) ? 0 : 2;
}

int PlayFloat(void* outputBuffer, void* /*inputBuffer*/, unsigned int nFrames, double /*streamTime*/,
              unsigned int status, void* userData) {
    auto* ctx = static_cast<PlaybackContext*>(userData);
    if (!Enter(ctx->heartbeat)) {
        if (outputBuffer != nullptr) std::memset(outputBuffer, 0, std::size_t{8} * nFrames);
        return 0;
    }
    FirstCall(ctx);
    if ((status & kStatusOutputUnderflow) != 0 && ctx->underruns != nullptr)
        ctx->underruns->fetch_add(1, std::memory_order_relaxed);
    if (outputBuffer != nullptr) {
        auto* out = static_cast<float*>(outputBuffer);
        SendFrames(*ctx->tables, nFrames, [out](unsigned int i, float left, float right) {
            out[2 * i] = left;
            out[2 * i + 1] = right;
        });
    }
    return Leave(ctx->heartbeat, nFrames) ? 0 : 2;
}

int PlayInt24(void* outputBuffer, void* /*inputBuffer*/, unsigned int nFrames, double /*streamTime*/,
              unsigned int status, void* userData) {
    auto* ctx = static_cast<PlaybackContext*>(userData);
    if (!Enter(ctx->heartbeat)) {
        if (outputBuffer != nullptr) std::memset(outputBuffer, 0, std::size_t{6} * nFrames);
        return 0;
    }
    FirstCall(ctx);
    if ((status & kStatusOutputUnderflow) != 0 && ctx->underruns != nullptr)
        ctx->underruns->fetch_add(1, std::memory_order_relaxed);
    if (outputBuffer != nullptr) {
        auto* out = static_cast<std::uint8_t*>(outputBuffer);
        SendFrames(*ctx->tables, nFrames, [out](unsigned int i, float left, float right) {
            EncodeInt24(left, out + 6 * i);
            EncodeInt24(right, out + 6 * i + 3);
        });
    }
    return Leave(ctx->heartbeat, nFrames) ? 0 : 2;
}

}  // namespace miral::audio
