// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The four stream callbacks and the sample conversions on the wire.
//
// Every callback has RtAudio's callback signature, so the same functions serve
// RtAudio and the simulated and WAV cards. Interleaved stereo, left first.
//   float  format: 8-byte frames, 32-bit IEEE floats, +-1.0 full scale.
//   24-bit format: 6-byte frames, 3 bytes per sample, little-endian two's
//                  complement; capture sign-extends and multiplies by 2^-23,
//                  playback multiplies by 2^23, truncates toward zero and
//                  writes the low 3 bytes low byte first.
// Callbacks allocate nothing, take no lock and return 0 (keep running). On
// their first call for a stream they raise their thread's priority (the only
// system call they make).

#include <atomic>
#include <cstdint>

#include "audio/capture_ring.h"
#include "audio/playback_tables.h"

namespace miral::audio {

// Same shape as RtAudioCallback.
using StreamCallback = int (*)(void* outputBuffer, void* inputBuffer, unsigned int nFrames, double streamTime,
                               unsigned int status, void* userData);

// What every stream's callback shares with the window thread, which watches
// the stream through it.
//   frames   the heartbeat: frames handed to or taken from the callback since
//            the stream started (the callback is its only writer).
//   retired  set by the window thread when it gives up a stream that no
//            longer answers: from then on the callback touches nothing of
//            ours (capture stores nothing, playback sends silence).
//   busy     raised by the callback while it works, so that the window
//            thread can wait until a callback that began before the
//            retirement has finished (Retire()).
//   spinLimit  frames per second beyond which the stream cannot be real
//            (set before the stream starts; 0: not watched, as for the
//            simulated cards, which run as fast as their caller asks). A
//            library whose connection broke may call back as fast as it can
//            with the last buffer, on a real-time thread that starves the
//            rest of the system: the callback then stops its stream (returns
//            2, abort) and raises `spun`.
struct StreamHeartbeat {
    std::atomic<std::uint64_t> frames{0};
    std::atomic<bool> retired{false};
    std::atomic<bool> busy{false};
    double spinLimit = 0;
    std::atomic<bool> spun{false};
    // The callback's own: the span over which it measures its rate.
    std::int64_t spanStartNs = -1;
    std::uint64_t spanFrames = 0;

    // Window thread: from now on no callback of this stream works on our
    // data. Waits at most for one callback that is under way.
    void Retire();
};

// User data of a capture stream. Set up on the window thread before the
// stream starts; afterwards only the callback touches it (and the window
// thread reads the heartbeat).
struct CaptureContext {
    CaptureRing* ring = nullptr;
    int priority = 0;  // "rx_priority"; 0 or less leaves the thread alone
    bool prioritySet = false;
    // Counts the buffers that the library reports as overrun (input data
    // lost); owned by the streams, null: not counted.
    std::atomic<unsigned long>* overruns = nullptr;
    StreamHeartbeat heartbeat;
};

// User data of a playback stream.
struct PlaybackContext {
    PlaybackTables* tables = nullptr;
    int priority = 0;  // "tx_priority"; 0 or less leaves the thread alone
    bool prioritySet = false;
    // Counts the buffers that the library reports as underrun (output gap).
    std::atomic<unsigned long>* underruns = nullptr;
    StreamHeartbeat heartbeat;
};

// RtAudio's stream status flags.
inline constexpr unsigned int kStatusInputOverflow = 0x1;
inline constexpr unsigned int kStatusOutputUnderflow = 0x2;

// Capture, float format: inputBuffer holds nFrames float frames.
int CaptureFloat(void* outputBuffer, void* inputBuffer, unsigned int nFrames, double streamTime,
                 unsigned int status, void* userData);
// Capture, 24-bit format: inputBuffer holds nFrames 6-byte frames.
int CaptureInt24(void* outputBuffer, void* inputBuffer, unsigned int nFrames, double streamTime,
                 unsigned int status, void* userData);
// Playback, float format: fills outputBuffer with nFrames float frames.
int PlayFloat(void* outputBuffer, void* inputBuffer, unsigned int nFrames, double streamTime,
              unsigned int status, void* userData);
// Playback, 24-bit format: fills outputBuffer with nFrames 6-byte frames.
int PlayInt24(void* outputBuffer, void* inputBuffer, unsigned int nFrames, double streamTime,
              unsigned int status, void* userData);

// One 24-bit sample (3 bytes, low first) to a float: sign-extended times 2^-23.
inline float DecodeInt24(const std::uint8_t* p) {
    std::int32_t v =
        static_cast<std::int32_t>(static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
                                  (static_cast<std::uint32_t>(p[2]) << 16));
    if (v & 0x800000) v -= 0x1000000;
    return static_cast<float>(v * (1.0 / 8388608.0));
}

// A float to one 24-bit sample: times 2^23, truncated toward zero. Values
// outside the representable range (1.0 and above, below -1.0, NaN) are held
// at the nearest end (NaN as 0) instead of wrapping around to the opposite
// sign.
inline void EncodeInt24(float x, std::uint8_t* p) {
    const double scaled = static_cast<double>(x) * 8388608.0;
    std::int32_t v;
    if (scaled >= 8388607.0) {
        v = 8388607;
    } else if (scaled <= -8388608.0) {
        v = -8388608;
    } else if (scaled == scaled) {
        v = static_cast<std::int32_t>(scaled);  // truncation toward zero
    } else {
        v = 0;
    }
    const auto u = static_cast<std::uint32_t>(v);
    p[0] = static_cast<std::uint8_t>(u & 0xFF);
    p[1] = static_cast<std::uint8_t>((u >> 8) & 0xFF);
    p[2] = static_cast<std::uint8_t>((u >> 16) & 0xFF);
}

// Raises the calling thread's scheduling priority. level is a priority on
// the scale 1..15 (15 = time-critical): it maps to round-robin real-time
// scheduling at 5 x level, held inside the system's range. 0 or less leaves
// the thread as it is. Returns false when the system refused (harmless: the
// stream simply runs at normal priority).
bool RaiseThreadPriority(int level);

}  // namespace miral::audio
