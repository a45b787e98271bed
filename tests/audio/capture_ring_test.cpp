// The acquisition window taken from the capture ring, and the ring shared
// between a capture thread and the processing cycle.

#include "audio/capture_ring.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <memory>
#include <thread>
#include <vector>

#include "audio/callbacks.h"

namespace miral::audio {
namespace {

// Slot s holds s / 2^17 in A and -s / 2^17 in B: every slot tells its number.
std::unique_ptr<CaptureRing> NumberedRing() {
    auto ring = std::make_unique<CaptureRing>();
    for (int s = 0; s < CaptureRing::kSize; ++s) {
        ring->CaptureA[s].store(static_cast<float>(s) / CaptureRing::kSize);
        ring->CaptureB[s].store(-static_cast<float>(s) / CaptureRing::kSize);
    }
    return ring;
}

TEST(AcquireWindow, WrapsBehindWriteIndex) {
    auto ring = NumberedRing();
    ring->WriteIndex.store(100);
    std::vector<double> a(4410), b(4410);
    const AcquiredWindow w = AcquireWindow(*ring, 4410, a.data(), b.data());
    EXPECT_EQ(w.writeIndex, 100);
    auto slotOf = [](double counts) { return static_cast<int>(std::lround(counts / 32768.0 * CaptureRing::kSize)); };
    EXPECT_EQ(slotOf(a[0]), 126762);
    EXPECT_EQ(slotOf(a[4309]), 131071);
    EXPECT_EQ(slotOf(a[4310]), 0);
    EXPECT_EQ(slotOf(a[4409]), 99);
    for (int i = 0; i < 4410; ++i) {
        ASSERT_EQ(slotOf(a[i]), (126762 + i) % CaptureRing::kSize) << i;
        ASSERT_EQ(b[i], -a[i]);
    }
    // The peak is the largest magnitude, here the slot just before the wrap.
    EXPECT_DOUBLE_EQ(w.peakA, 32768.0 * 131071.0 / CaptureRing::kSize);
    EXPECT_DOUBLE_EQ(w.peakB, w.peakA);
}

TEST(AcquireWindow, ScalesToCountsAndFindsPeaksOfEitherSign) {
    auto ring = std::make_unique<CaptureRing>();
    ring->CaptureA[10].store(-1.0f);
    ring->CaptureA[11].store(0.25f);
    ring->CaptureB[12].store(0.5f);
    ring->WriteIndex.store(13);
    std::vector<double> a(5), b(5);
    const AcquiredWindow w = AcquireWindow(*ring, 5, a.data(), b.data());
    EXPECT_EQ(a[2], -32768.0);
    EXPECT_EQ(a[3], 8192.0);
    EXPECT_EQ(b[4], 16384.0);
    EXPECT_EQ(w.peakA, 32768.0);
    EXPECT_EQ(w.peakB, 16384.0);
}

TEST(AcquireWindow, SilenceGivesZeroPeaksAndOddSizesAreClamped) {
    auto ring = std::make_unique<CaptureRing>();
    std::vector<double> a(CaptureRing::kMaxWindow, 7.0), b(CaptureRing::kMaxWindow, 7.0);
    AcquiredWindow w = AcquireWindow(*ring, 3, a.data(), b.data());
    EXPECT_EQ(w.peakA, 0.0);
    EXPECT_EQ(a[0], 0.0);
    EXPECT_EQ(a[3], 7.0);  // nothing written past n
    w = AcquireWindow(*ring, -5, a.data(), b.data());
    EXPECT_EQ(w.peakA, 0.0);
    // A window larger than half the ring is held at half (ASan checks the writes).
    w = AcquireWindow(*ring, 1 << 20, a.data(), b.data());
    EXPECT_EQ(w.peakB, 0.0);
}

TEST(CaptureRing, ClearZeroesEverySlotAndTheIndex) {
    auto ring = NumberedRing();
    ring->WriteIndex.store(777);
    ring->Clear();
    EXPECT_EQ(ring->WriteIndex.load(), 0);
    for (int s = 0; s < CaptureRing::kSize; s += 97) ASSERT_EQ(ring->SampleA(s), 0.0f);
    ring->SetDecimation(0);
    EXPECT_EQ(ring->Decimation.load(), 1);
}

// A capture thread fills the ring through CaptureFloat while the cycle takes
// windows, and clears the ring now and then. Every frame carries a counter
// in A and its negative in B; a complete window shows the same frame in both
// channels and consecutive counters (except across a clear). ThreadSanitizer
// checks the sharing.
TEST(CaptureRingThreads, WindowsAreCompleteWhileTheCallbackWrites) {
    auto ring = std::make_unique<CaptureRing>();
    CaptureContext ctx;
    ctx.ring = ring.get();
    std::atomic<bool> stop{false};
    std::thread capture([&] {
        std::vector<float> buffer(2 * 256);
        float counter = 1.0f;
        while (!stop.load()) {
            for (int i = 0; i < 256; ++i) {
                buffer[2 * i] = counter;
                buffer[2 * i + 1] = -counter;
                counter = counter >= 1.0e6f ? 1.0f : counter + 1.0f;
            }
            CaptureFloat(nullptr, buffer.data(), 256, 0.0, 0, &ctx);
        }
    });
    std::vector<double> a(4096), b(4096);
    int windows = 0;
    for (int round = 0; round < 300; ++round) {
        const AcquiredWindow w = AcquireWindow(*ring, 4096, a.data(), b.data());
        for (int i = 0; i < 4096; ++i) {
            // Slots just cleared read 0 in both channels; a frame is never half there.
            ASSERT_EQ(a[i], -b[i]) << i;
        }
        (void)w;
        ++windows;
        if (round % 50 == 49) {
            ring->Clear();
            // Frames being written while the ring is cleared may be left half
            // cleared (accepted: the next frames overwrite them). Check again
            // once the writer has moved well past them.
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
            while (ring->WriteIndex.load() < 3 * 4096 && std::chrono::steady_clock::now() < deadline)
                std::this_thread::yield();
        }
        std::this_thread::yield();
    }
    stop.store(true);
    capture.join();
    EXPECT_EQ(windows, 300);
    EXPECT_GT(ring->WriteIndex.load(), 0);
}

}  // namespace
}  // namespace miral::audio
