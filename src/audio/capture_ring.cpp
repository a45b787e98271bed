// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/capture_ring.h"

#include <algorithm>
#include <cmath>

namespace miral::audio {

CaptureRing::CaptureRing() {
    for (int i = 0; i < kSize; ++i) {
        CaptureA[i].store(0.0f, std::memory_order_relaxed);
        CaptureB[i].store(0.0f, std::memory_order_relaxed);
    }
}

void CaptureRing::Clear() {
    ClearRequests.fetch_add(1, std::memory_order_acq_rel);
}

void CaptureRing::ServeClear() {
    const unsigned request = ClearRequests.load(std::memory_order_acquire);
    if (request == ClearsServed.load(std::memory_order_relaxed)) return;
    for (int i = 0; i < kSize; ++i) {
        CaptureA[i].store(0.0f, std::memory_order_relaxed);
        CaptureB[i].store(0.0f, std::memory_order_relaxed);
    }
    RestartAtSlot0();
    // The zeroed slots and the index are visible before the request counts as
    // served (the window thread reads ClearsServed with acquire).
    ClearsServed.store(request, std::memory_order_release);
}

void CaptureRing::RestartAtSlot0() {
    const std::uint64_t kept = Published.load(std::memory_order_relaxed) >> kIndexBits;
    WriteIndex.store(0, std::memory_order_release);
    Published.store(Publish(kept + kSize, 0), std::memory_order_release);
}

void CaptureRing::SetDecimation(int decimation) {
    Decimation.store(std::max(decimation, 1), std::memory_order_relaxed);
}

namespace {

// Folds the magnitudes of count values into four running maxima (a value
// that is no number leaves them as they are).
template <typename T>
void FoldPeaks(const T* x, int count, double peak[4]) {
    int i = 0;
    for (; i + 4 <= count; i += 4) {
        const double a0 = std::fabs(static_cast<double>(x[i])), a1 = std::fabs(static_cast<double>(x[i + 1])),
                     a2 = std::fabs(static_cast<double>(x[i + 2])),
                     a3 = std::fabs(static_cast<double>(x[i + 3]));
        peak[0] = a0 > peak[0] ? a0 : peak[0];
        peak[1] = a1 > peak[1] ? a1 : peak[1];
        peak[2] = a2 > peak[2] ? a2 : peak[2];
        peak[3] = a3 > peak[3] ? a3 : peak[3];
    }
    for (; i < count; ++i) {
        const double a = std::fabs(static_cast<double>(x[i]));
        peak[0] = a > peak[0] ? a : peak[0];
    }
}

// Copies count slots starting at first (no wrap inside) in counts and folds
// their magnitudes into the running maxima.
void CopySegment(const std::atomic<float>* src, int first, int count, double* dst, double peak[4]) {
    for (int i = 0; i < count; ++i)
        dst[i] = kCountsPerFullScale * src[first + i].load(std::memory_order_relaxed);
    FoldPeaks(dst, count, peak);
}

double Fold(const double peak[4]) {
    return std::max(std::max(peak[0], peak[1]), std::max(peak[2], peak[3]));
}

}  // namespace

AcquiredWindow AcquireWindow(const CaptureRing& ring, int n, double* timeWorkA, double* timeWorkB) {
    AcquiredWindow result;
    n = std::clamp(n, 0, CaptureRing::kMaxWindow);
    if (ring.ClearPending()) {
        // The ring is as good as cleared: a silent window behind slot 0.
        std::fill(timeWorkA, timeWorkA + n, 0.0);
        std::fill(timeWorkB, timeWorkB + n, 0.0);
        return result;
    }
    // The one read of WriteIndex; the mask keeps a stray value inside the ring.
    const int writeIndex = ring.WriteIndex.load(std::memory_order_acquire) & CaptureRing::kMask;
    result.writeIndex = writeIndex;
    if (n == 0) return result;

    int start = writeIndex - n;
    if (start < 0) start += CaptureRing::kSize;
    // The window is [start, start + n) modulo the ring: at most two pieces.
    const int first = std::min(n, CaptureRing::kSize - start);
    const int second = n - first;

    double peakA[4] = {0, 0, 0, 0};
    double peakB[4] = {0, 0, 0, 0};
    CopySegment(ring.CaptureA, start, first, timeWorkA, peakA);
    CopySegment(ring.CaptureB, start, first, timeWorkB, peakB);
    if (second > 0) {
        CopySegment(ring.CaptureA, 0, second, timeWorkA + first, peakA);
        CopySegment(ring.CaptureB, 0, second, timeWorkB + first, peakB);
    }
    result.peakA = Fold(peakA);
    result.peakB = Fold(peakB);
    return result;
}

WindowReader::WindowReader()
    : copyA_(std::make_unique<float[]>(CaptureRing::kSize)),
      copyB_(std::make_unique<float[]>(CaptureRing::kSize)),
      blockPeakA_(std::make_unique<double[]>(CaptureRing::kSize / kBlock)),
      blockPeakB_(std::make_unique<double[]>(CaptureRing::kSize / kBlock)) {}

void WindowReader::convert(const CaptureRing& ring, int first, int count) {
    first &= CaptureRing::kMask;
    while (count > 0) {
        const int piece = std::min(count, CaptureRing::kSize - first);
        for (int i = first; i < first + piece; ++i) {
            copyA_[i] = ring.CaptureA[i].load(std::memory_order_relaxed);
            copyB_[i] = ring.CaptureB[i].load(std::memory_order_relaxed);
        }
        // Every block that holds a converted slot takes its largest |x| again.
        for (int block = first / kBlock; block <= (first + piece - 1) / kBlock; ++block) {
            double peak[2][4] = {{0, 0, 0, 0}, {0, 0, 0, 0}};
            FoldPeaks(copyA_.get() + block * kBlock, kBlock, peak[0]);
            FoldPeaks(copyB_.get() + block * kBlock, kBlock, peak[1]);
            blockPeakA_[block] = Fold(peak[0]);
            blockPeakB_[block] = Fold(peak[1]);
        }
        count -= piece;
        first = (first + piece) & CaptureRing::kMask;
    }
}

double WindowReader::peakOf(const double* blockPeak, const float* copy, int first, int count) const {
    double peak[4] = {0, 0, 0, 0};
    const int end = first + count;
    const int headEnd = std::min(end, (first + kBlock - 1) / kBlock * kBlock);
    FoldPeaks(copy + first, headEnd - first, peak);
    int i = headEnd;
    for (; i + kBlock <= end; i += kBlock) {
        const double a = blockPeak[i / kBlock];
        peak[1] = a > peak[1] ? a : peak[1];
    }
    FoldPeaks(copy + i, end - i, peak);
    // Counts are the samples times a power of two: the largest magnitude
    // scales exactly.
    return kCountsPerFullScale * Fold(peak);
}

AcquiredWindow WindowReader::Read(const CaptureRing& ring, int n, double gainA, double gainB,
                                  double* timeWorkA, double* timeWorkB) {
    AcquiredWindow result;
    n = std::clamp(n, 0, CaptureRing::kMaxWindow);
    if (ring.ClearPending()) {
        std::fill(timeWorkA, timeWorkA + n, 0.0);
        std::fill(timeWorkB, timeWorkB + n, 0.0);
        primed_ = false;
        return result;
    }
    const std::uint64_t published = ring.Published.load(std::memory_order_acquire);
    const std::uint64_t frames = published >> CaptureRing::kIndexBits;
    const int publishedIndex = static_cast<int>(published & CaptureRing::kMask);
    const std::uint64_t fresh = frames - lastFrames_;
    int writeIndex;
    if (primed_ && fresh > 0 && fresh <= CaptureRing::kSize / 2 &&
        ((lastIndex_ + static_cast<int>(fresh)) & CaptureRing::kMask) == publishedIndex) {
        // Only the frames kept since the last read are new.
        convert(ring, lastIndex_, static_cast<int>(fresh));
        valid_ = std::min(valid_ + static_cast<int>(fresh), CaptureRing::kMaxWindow);
        writeIndex = publishedIndex;
    } else {
        // Which slots changed is not known: the window is converted afresh,
        // behind WriteIndex as AcquireWindow takes it.
        writeIndex = ring.WriteIndex.load(std::memory_order_acquire) & CaptureRing::kMask;
        valid_ = 0;
        primed_ = writeIndex == publishedIndex;
    }
    lastFrames_ = frames;
    lastIndex_ = writeIndex;
    result.writeIndex = writeIndex;
    if (n == 0) return result;
    if (n > valid_) {
        convert(ring, writeIndex - n, n - valid_);
        valid_ = n;
    }

    int start = writeIndex - n;
    if (start < 0) start += CaptureRing::kSize;
    const int first = std::min(n, CaptureRing::kSize - start);
    const int second = n - first;
    // The copy keeps the samples as they came (half the bytes of counts to
    // read); counts are formed as AcquireWindow forms them, then the gain.
    const auto take = [&](const float* copy, double gain, double* out) {
        const auto counts = [](float x) { return kCountsPerFullScale * static_cast<double>(x); };
        if (gain == 1.0) {
            for (int i = 0; i < first; ++i) out[i] = counts(copy[start + i]);
            for (int i = 0; i < second; ++i) out[first + i] = counts(copy[i]);
        } else {
            for (int i = 0; i < first; ++i) out[i] = counts(copy[start + i]) * gain;
            for (int i = 0; i < second; ++i) out[first + i] = counts(copy[i]) * gain;
        }
    };
    take(copyA_.get(), gainA, timeWorkA);
    take(copyB_.get(), gainB, timeWorkB);
    result.peakA = std::max(peakOf(blockPeakA_.get(), copyA_.get(), start, first),
                            peakOf(blockPeakA_.get(), copyA_.get(), 0, second));
    result.peakB = std::max(peakOf(blockPeakB_.get(), copyB_.get(), start, first),
                            peakOf(blockPeakB_.get(), copyB_.get(), 0, second));
    return result;
}

}  // namespace miral::audio
