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
    WriteIndex.store(0, std::memory_order_relaxed);
    // The zeroed slots and the index are visible before the request counts as
    // served (the window thread reads ClearsServed with acquire).
    ClearsServed.store(request, std::memory_order_release);
}

void CaptureRing::SetDecimation(int decimation) {
    Decimation.store(std::max(decimation, 1), std::memory_order_relaxed);
}

namespace {

// Copies count slots starting at first (no wrap inside) and folds their
// magnitudes into four running maxima, which keeps the max chains short.
void CopySegment(const std::atomic<float>* src, int first, int count, double* dst, double peak[4]) {
    const std::atomic<float>* s = src + first;
    int i = 0;
    for (; i + 4 <= count; i += 4) {
        const double x0 = kCountsPerFullScale * s[i].load(std::memory_order_relaxed);
        const double x1 = kCountsPerFullScale * s[i + 1].load(std::memory_order_relaxed);
        const double x2 = kCountsPerFullScale * s[i + 2].load(std::memory_order_relaxed);
        const double x3 = kCountsPerFullScale * s[i + 3].load(std::memory_order_relaxed);
        dst[i] = x0;
        dst[i + 1] = x1;
        dst[i + 2] = x2;
        dst[i + 3] = x3;
        const double a0 = std::fabs(x0), a1 = std::fabs(x1), a2 = std::fabs(x2), a3 = std::fabs(x3);
        peak[0] = a0 > peak[0] ? a0 : peak[0];
        peak[1] = a1 > peak[1] ? a1 : peak[1];
        peak[2] = a2 > peak[2] ? a2 : peak[2];
        peak[3] = a3 > peak[3] ? a3 : peak[3];
    }
    for (; i < count; ++i) {
        const double x = kCountsPerFullScale * s[i].load(std::memory_order_relaxed);
        dst[i] = x;
        const double a = std::fabs(x);
        peak[0] = a > peak[0] ? a : peak[0];
    }
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

}  // namespace miral::audio
