#pragma once

// The CaptureRing: what the capture callback has recorded, for the processing
// cycle to take its window from.
//
// Threads: the capture callback (audio thread) is the only writer of the
// sample slots, WriteIndex and the decimation counter while a stream runs.
// The window thread reads WriteIndex once per cycle (acquire) and copies the
// window behind it; the callback stores a frame's samples (relaxed) before it
// publishes the advanced WriteIndex (release), so every slot of the window is
// complete. A window never covers more than half of the ring, so frames that
// arrive during the copy land outside it. The window thread may also clear
// the ring and reset WriteIndex while a callback runs (Clear); a few frames of
// the old setting may then land in the cleared ring, which is accepted.
//
// Slots are std::atomic<float> accessed with relaxed ordering: on x86 these are
// plain loads and stores, and ThreadSanitizer sees no data race.

#include <atomic>
#include <cstdint>

namespace miral::audio {

class CaptureRing {
public:
    static constexpr int kSize = 131072;  // a power of two: the wrap is a mask
    static constexpr int kMask = kSize - 1;
    static constexpr int kMaxWindow = kSize / 2;  // 65536

    CaptureRing();
    CaptureRing(const CaptureRing&) = delete;
    CaptureRing& operator=(const CaptureRing&) = delete;

    // Channel A (left input) and channel B (right input), normalised to +-1.0.
    std::atomic<float> CaptureA[kSize];
    std::atomic<float> CaptureB[kSize];
    // The slot that the next kept frame goes to; the newest sample sits just
    // before it (modulo kSize).
    std::atomic<int> WriteIndex{0};
    // The capture callback keeps one frame in every Decimation frames (>= 1).
    // Written by the window thread, read by the callback for every frame.
    std::atomic<int> Decimation{1};
    // Frames seen since the last kept frame. Private to the capture callback;
    // atomic only because successive streams run their callbacks on different
    // threads.
    std::atomic<int> DecimationCounter{0};

    // Window thread: zero both channels and set WriteIndex to 0.
    void Clear();
    // Window thread: set Decimation (values below 1 count as 1).
    void SetDecimation(int decimation);

    // Window thread: the sample values in one slot (tests, --dump).
    float SampleA(int slot) const { return CaptureA[slot & kMask].load(std::memory_order_relaxed); }
    float SampleB(int slot) const { return CaptureB[slot & kMask].load(std::memory_order_relaxed); }
};

// What one acquisition found.
struct AcquiredWindow {
    double peakA = 0.0;  // largest |TimeWorkA[i]| of the window, count units (0 for silence)
    double peakB = 0.0;
    int writeIndex = 0;  // the one value of WriteIndex that the window was taken behind
};

// Full scale in count units: a sample of 1.0 becomes 32768 counts.
inline constexpr double kCountsPerFullScale = 32768.0;

// The acquisition of the processing cycle: reads WriteIndex once, takes the
// n slots before it (modulo the ring size, entry 0 the oldest, entry n-1 the
// newest sample), widens them to double times 32768 into timeWorkA/timeWorkB
// and returns the peaks of |x| (starting from 0). n is clamped to
// 0 .. CaptureRing::kMaxWindow; the arrays must hold at least n entries.
// Smoothing of the peaks, the level bars, gain correction and inversion are
// the caller's. Allocates nothing.
AcquiredWindow AcquireWindow(const CaptureRing& ring, int n, double* timeWorkA, double* timeWorkB);

}  // namespace miral::audio
