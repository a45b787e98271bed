// SPDX-License-Identifier: GPL-3.0-or-later
// The acquisition window taken from the capture ring, and the ring shared
// between a capture thread and the processing cycle.

#include "audio/capture_ring.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <iterator>
#include <memory>
#include <random>
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
    auto slotOf = [](double counts) {
        return static_cast<int>(std::lround(counts / 32768.0 * CaptureRing::kSize));
    };
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
    // Until the capture side serves the clear, the ring reads as cleared.
    std::vector<double> a(1000, 7.0), b(1000, 7.0);
    AcquiredWindow w = AcquireWindow(*ring, 1000, a.data(), b.data());
    EXPECT_EQ(w.writeIndex, 0);
    EXPECT_EQ(w.peakA, 0.0);
    EXPECT_EQ(a[0], 0.0);
    EXPECT_EQ(b[999], 0.0);
    EXPECT_EQ(ring->SampleA(500), 0.0f);
    // The next capture buffer clears the slots and starts again at slot 0.
    CaptureContext ctx;
    ctx.ring = ring.get();
    float frames[6] = {0.5f, -0.5f, 0.25f, -0.25f, 0.125f, -0.125f};
    CaptureFloat(nullptr, frames, 3, 0.0, 0, &ctx);
    EXPECT_FALSE(ring->ClearPending());
    // (A new stream's first frame is never kept.)
    EXPECT_EQ(ring->WriteIndex.load(), 2);
    EXPECT_EQ(ring->SampleA(0), 0.25f);
    EXPECT_EQ(ring->SampleB(1), -0.125f);
    for (int s = 2; s < CaptureRing::kSize; s += 97) ASSERT_EQ(ring->SampleA(s), 0.0f) << s;
    ring->SetDecimation(0);
    EXPECT_EQ(ring->Decimation.load(), 1);
}

// The reader that converts only new slots, against the whole conversion of
// AcquireWindow, with the real capture callback as the writer: random
// buffers and decimations, window sizes that grow and shrink, gains and
// inversions, clears, a new stream starting at slot 0, a reader that falls
// more than half a ring behind, values that are no number, and slots and
// WriteIndex written by other means. Windows, peaks and WriteIndex must be
// the same to the last bit.
TEST(WindowReader, GivesTheWindowsOfAWholeConversionWhateverTheWriterDid) {
    auto ring = std::make_unique<CaptureRing>();
    CaptureContext ctx;
    ctx.ring = ring.get();
    WindowReader reader;
    std::mt19937 rng(12345);
    std::uniform_real_distribution<float> sample(-1.0f, 1.0f);
    std::vector<float> buffer(2 * 8192);
    std::vector<double> a(CaptureRing::kMaxWindow), b(CaptureRing::kMaxWindow);
    std::vector<double> refA(CaptureRing::kMaxWindow), refB(CaptureRing::kMaxWindow);
    const int sizes[] = {0, 1, 63, 64, 65, 1000, 4096, 16384, 65536};
    const double gains[] = {1.0, -1.0, 0.5011872336272722, -3.1622776601683795};
    int n = 4096;
    for (int round = 0; round < 1000; ++round) {
        const int action = static_cast<int>(rng() % 100);
        if (action < 70) {
            // One to three capture buffers of 1 .. 8192 frames.
            for (int k = 1 + static_cast<int>(rng() % 3); k > 0; --k) {
                const unsigned frames = 1 + rng() % 8192;
                for (unsigned i = 0; i < 2 * frames; ++i) buffer[i] = sample(rng);
                if (rng() % 50 == 0) buffer[rng() % (2 * frames)] = std::nanf("");
                CaptureFloat(nullptr, buffer.data(), frames, 0.0, 0, &ctx);
            }
        } else if (action < 75) {
            ring->SetDecimation(1 + static_cast<int>(rng() % 4));
        } else if (action < 80) {
            n = sizes[rng() % std::size(sizes)];
        } else if (action < 83) {
            ring->Clear();
        } else if (action < 85) {
            ring->ServeClear();
            ring->RestartAtSlot0();  // a new stream begins at slot 0
        } else if (action < 87) {
            // Far behind: more than half a ring arrives between two reads.
            for (int k = 0; k < 9; ++k) {
                for (unsigned i = 0; i < 2 * 8192; ++i) buffer[i] = sample(rng);
                CaptureFloat(nullptr, buffer.data(), 8192, 0.0, 0, &ctx);
            }
        } else if (action < 89) {
            // Written by other means than the callback (as tests do).
            const int slot = static_cast<int>(rng() % CaptureRing::kSize);
            ring->CaptureA[slot].store(sample(rng));
            if (rng() % 2) ring->WriteIndex.store(static_cast<int>(rng() % CaptureRing::kSize));
        }
        const double gainA = gains[rng() % 4], gainB = gains[rng() % 4];
        const AcquiredWindow got = reader.Read(*ring, n, gainA, gainB, a.data(), b.data());
        const AcquiredWindow want = AcquireWindow(*ring, n, refA.data(), refB.data());
        ASSERT_EQ(got.writeIndex, want.writeIndex) << "round " << round;
        ASSERT_EQ(got.peakA, want.peakA) << "round " << round;
        ASSERT_EQ(got.peakB, want.peakB) << "round " << round;
        for (int i = 0; i < n; ++i) {
            const double wa = refA[i] * gainA, wb = refB[i] * gainB;
            if (std::isnan(wa)) {
                ASSERT_TRUE(std::isnan(a[i])) << "round " << round << " slot " << i;
            } else {
                ASSERT_EQ(a[i], wa) << "round " << round << " slot " << i;
            }
            ASSERT_TRUE(b[i] == wb || (std::isnan(b[i]) && std::isnan(wb)))
                << "round " << round << " slot " << i;
        }
    }
}

// A capture thread fills the ring through CaptureFloat while the cycle takes
// windows, and clears the ring now and then. Every frame carries a counter
// in A and its negative in B; a complete window shows the same frame in both
// channels, silence only before the first frame after a clear, and
// consecutive counters. ThreadSanitizer checks the sharing.
TEST(CaptureRingThreads, WindowsAreCompleteWhileTheCallbackWrites) {
    auto ring = std::make_unique<CaptureRing>();
    CaptureContext ctx;
    ctx.ring = ring.get();
    std::atomic<bool> stop{false};
    std::atomic<long long> buffersWritten{0};
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
            buffersWritten.fetch_add(1);
            // Faster than any card, yet slow enough that a short hold-up of
            // the test thread does not let it lap the ring.
            std::this_thread::sleep_for(std::chrono::microseconds(20));
        }
    });
    std::vector<double> a(4096), b(4096);
    WindowReader reader;
    int windows = 0, lapped = 0;
    for (int round = 0; round < 300; ++round) {
        const long long before = buffersWritten.load();
        // Every other window through the reader that converts only new slots.
        if (round % 2 == 0)
            (void)AcquireWindow(*ring, 4096, a.data(), b.data());
        else
            (void)reader.Read(*ring, 4096, 1.0, 1.0, a.data(), b.data());
        // This writer is not paced like a sound card: should the test thread
        // be held up for so long that it laps the ring during the copy, the
        // window cannot be judged (a real card writes a few frames per copy).
        const bool judged = (buffersWritten.load() - before + 2) * 256 < CaptureRing::kSize - 4096;
        if (!judged) ++lapped;
        for (int i = 0; judged && i < 4096; ++i) {
            // A frame is never half there, not even right after a clear.
            ASSERT_EQ(a[i], -b[i]) << "round " << round << " slot " << i;
            if (i > 0 && a[i - 1] != 0.0) {
                const double previous = a[i - 1] / 32768.0;
                const double next = previous >= 1.0e6 ? 1.0 : previous + 1.0;
                ASSERT_EQ(a[i] / 32768.0, next) << "round " << round << " slot " << i;
            }
        }
        ++windows;
        if (round % 10 == 9) ring->Clear();
        std::this_thread::yield();
    }
    stop.store(true);
    capture.join();
    EXPECT_EQ(windows, 300);
    EXPECT_LT(lapped, 150);
}

}  // namespace
}  // namespace miral::audio
