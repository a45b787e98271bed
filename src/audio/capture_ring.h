// SPDX-License-Identifier: GPL-3.0-or-later
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
// arrive during the copy land outside it.
//
// Clearing: the window thread never writes the slots while a callback may run.
// Clear() only raises a request (a generation counter); the capture side
// serves it (ServeClear) at the start of its next buffer, or the stream layer
// serves it while no callback runs. Until it is served, a window taken by the
// window thread reads as silence behind WriteIndex 0, which is what the ring
// holds once it is served: no window ever shows a frame half cleared.
//
// Slots are std::atomic<float> accessed with relaxed ordering: on x86 these are
// plain loads and stores, and ThreadSanitizer sees no data race.

#include <atomic>
#include <cstdint>
#include <memory>

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
    // WriteIndex and the count of frames kept before it, in one word that the
    // capture side publishes with each kept frame (release), so that a reader
    // that keeps a converted copy of the ring learns from one load which
    // slots are new: kept frames in the upper bits, the slot in the lower
    // kIndexBits. A jump of WriteIndex that is no run of new frames (a clear,
    // a new stream starting at slot 0) counts as a whole ring of new frames.
    static constexpr int kIndexBits = 17;  // kSize == 1 << kIndexBits
    std::atomic<std::uint64_t> Published{0};
    static std::uint64_t Publish(std::uint64_t framesKept, int writeIndex) {
        return (framesKept << kIndexBits) | static_cast<std::uint64_t>(writeIndex & kMask);
    }
    // Capture side (or the stream layer while no callback runs): sets
    // WriteIndex to 0 and tells readers that every slot may have changed.
    void RestartAtSlot0();
    // The capture callback keeps one frame in every Decimation frames (>= 1).
    // Written by the window thread, read by the callback for every frame.
    std::atomic<int> Decimation{1};
    // Frames seen since the last kept frame. Private to the capture callback;
    // atomic only because successive streams run their callbacks on different
    // threads.
    std::atomic<int> DecimationCounter{0};

    // Clear requests raised by the window thread, and the last one served by
    // the capture side.
    std::atomic<unsigned> ClearRequests{0};
    std::atomic<unsigned> ClearsServed{0};

    // Window thread: ask for both channels to be zeroed and WriteIndex set to
    // 0 before the next captured frame is stored.
    void Clear();
    // True while a clear is asked for and not yet served (any thread).
    bool ClearPending() const {
        return ClearRequests.load(std::memory_order_acquire) != ClearsServed.load(std::memory_order_acquire);
    }
    // Capture side (the callback at the start of a buffer, or the stream
    // layer while no callback runs): performs a pending clear. Cheap when
    // none is pending; never allocates or locks.
    void ServeClear();
    // Window thread: set Decimation (values below 1 count as 1).
    void SetDecimation(int decimation);

    // Window thread: WriteIndex as the acquisition sees it (0 while a clear
    // is pending).
    int VisibleWriteIndex() const {
        return ClearPending() ? 0 : WriteIndex.load(std::memory_order_acquire) & kMask;
    }
    // Window thread: the sample values in one slot (tests, --dump); a ring
    // with a clear pending reads as silence.
    float SampleA(int slot) const {
        return ClearPending() ? 0.0f : CaptureA[slot & kMask].load(std::memory_order_relaxed);
    }
    float SampleB(int slot) const {
        return ClearPending() ? 0.0f : CaptureB[slot & kMask].load(std::memory_order_relaxed);
    }
};

// What one acquisition found.
struct AcquiredWindow {
    double peakA = 0.0;  // largest |TimeWorkA[i]| of the window, count units (0 for silence)
    double peakB = 0.0;
    int writeIndex = 0;  // the one value of WriteIndex that the window was taken behind
};

// Full scale in count units: a sample of 1.0 becomes 32768 counts.
inline constexpr double kCountsPerFullScale = 32768.0;

// The processing cycle's reader of the ring: the same windows and peaks as
// AcquireWindow, but it keeps the ring converted to counts and converts only
// the slots that the capture side has published since its last read. When
// it cannot be sure which slots are new (nothing published since, a clear, a
// new stream, more than half a ring behind, slots written by other means) it
// converts the whole window again. The peaks come from the largest |x| of
// each block of kBlock slots, kept with the copy. Window thread only; holds
// about 2 MiB; allocates nothing after construction.
class WindowReader {
  public:
    static constexpr int kBlock = 64;
    WindowReader();
    WindowReader(const WindowReader&) = delete;
    WindowReader& operator=(const WindowReader&) = delete;

    // Like AcquireWindow, and the window multiplied by gainA / gainB
    // (1: copied as it is; -1 inverts exactly). The peaks are those of the
    // samples before the gains.
    AcquiredWindow Read(const CaptureRing& ring, int n, double gainA, double gainB, double* timeWorkA,
                        double* timeWorkB);

  private:
    void convert(const CaptureRing& ring, int first, int count);  // slots first.. (modulo), blocks redone
    double peakOf(const double* blockPeak, const float* copy, int first, int count) const;  // in counts

    std::unique_ptr<float[]> copyA_, copyB_;             // kSize slots as the ring holds them
    std::unique_ptr<double[]> blockPeakA_, blockPeakB_;  // kSize / kBlock, largest |sample| of each
    bool primed_ = false;                                // last* describe the copy
    std::uint64_t lastFrames_ = 0;
    int lastIndex_ = 0;
    int valid_ = 0;  // slots behind lastIndex_ that the copy holds as the ring does
};

// The acquisition of the processing cycle: while a clear is pending the
// window is silence behind WriteIndex 0; otherwise it reads WriteIndex once, takes the
// n slots before it (modulo the ring size, entry 0 the oldest, entry n-1 the
// newest sample), widens them to double times 32768 into timeWorkA/timeWorkB
// and returns the peaks of |x| (starting from 0). n is clamped to
// 0 .. CaptureRing::kMaxWindow; the arrays must hold at least n entries.
// Smoothing of the peaks, the level bars, gain correction and inversion are
// the caller's. Allocates nothing.
AcquiredWindow AcquireWindow(const CaptureRing& ring, int n, double* timeWorkA, double* timeWorkB);

}  // namespace miral::audio
