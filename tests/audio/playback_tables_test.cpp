// SPDX-License-Identifier: GPL-3.0-or-later
// The triple-buffered playback tables: a rebuild is heard whole or not at all.

#include "audio/playback_tables.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "audio/callbacks.h"

namespace miral::audio {
namespace {

void Fill(PlaybackTables& t, float a, float b, int n = PlaybackTables::kSize) {
    std::fill(t.BackA(), t.BackA() + n, a);
    std::fill(t.BackB(), t.BackB() + n, b);
}

TEST(PlaybackTables, StartSilentAndPublishSwapsInTheNewTable) {
    auto t = std::make_unique<PlaybackTables>();
    EXPECT_EQ(t->PublishedA()[0], 0.0f);
    t->PickUpNewest();
    EXPECT_EQ(t->FrontA()[123], 0.0f);

    Fill(*t, 0.25f, -0.25f);
    EXPECT_EQ(t->PublishedA()[5], 0.0f);  // not published yet
    t->Publish();
    EXPECT_EQ(t->PublishedA()[5], 0.25f);
    EXPECT_EQ(t->PublishedB()[5], -0.25f);
    EXPECT_EQ(t->FrontA()[5], 0.0f);  // the reader has not looked yet
    t->PickUpNewest();
    EXPECT_EQ(t->FrontA()[5], 0.25f);
    // The back table handed out now is neither the front nor the published one.
    EXPECT_NE(t->BackA(), t->FrontA());
    EXPECT_NE(t->BackA(), t->PublishedA());
}

TEST(PlaybackTables, OnlyTheNewestOfSeveralPublishesIsPickedUp) {
    auto t = std::make_unique<PlaybackTables>();
    for (int g = 1; g <= 5; ++g) {
        Fill(*t, static_cast<float>(g), 0.0f, 16);
        t->Publish();
    }
    t->PickUpNewest();
    EXPECT_EQ(t->FrontA()[0], 5.0f);
    EXPECT_EQ(t->PublishedA()[0], 5.0f);
    // Nothing new: the front stays.
    t->PickUpNewest();
    EXPECT_EQ(t->FrontA()[0], 5.0f);
}

TEST(PlaybackTables, AChangeIsHeardFromTheNextCallbackOnAndReadIndexCarriesOn) {
    auto t = std::make_unique<PlaybackTables>();
    for (int i = 0; i < 100; ++i) t->BackA()[i] = static_cast<float>(i);
    t->Publish();
    t->PlaybackLength.store(100);
    PlaybackContext ctx;
    ctx.tables = t.get();
    std::vector<float> out(2 * 30);
    PlayFloat(out.data(), nullptr, 30, 0.0, 0, &ctx);
    EXPECT_EQ(out[2 * 29], 29.0f);
    for (int i = 0; i < 100; ++i) t->BackA()[i] = static_cast<float>(1000 + i);
    t->Publish();
    PlayFloat(out.data(), nullptr, 30, 0.0, 0, &ctx);
    EXPECT_EQ(out[0], 1030.0f);
    EXPECT_EQ(out[2 * 29], 1059.0f);
}

// The generator rebuilds the tables as fast as it can while the playback
// callback plays them on another thread. Every table is one constant value
// (its generation) in both channels, so a torn table would show two values
// in one callback, or an old generation after a newer one. ThreadSanitizer
// checks the sharing.
TEST(PlaybackTablesThreads, ASwapDuringPlaybackIsNeverHeardTorn) {
    auto t = std::make_unique<PlaybackTables>();
    constexpr int kLength = 4800;
    t->PlaybackLength.store(kLength);
    std::atomic<bool> stop{false};
    std::atomic<int> generations{0};
    std::thread writer([&] {
        float g = 1.0f;
        while (!stop.load(std::memory_order_relaxed)) {
            Fill(*t, g, -g, kLength);
            t->Publish();
            generations.store(static_cast<int>(g));
            g += 1.0f;
        }
    });
    PlaybackContext ctx;
    ctx.tables = t.get();
    std::vector<float> out(2 * 512);
    float last = 0.0f;
    int changes = 0;
    for (int call = 0; call < 4000; ++call) {
        PlayFloat(out.data(), nullptr, 512, 0.0, 0, &ctx);
        const float g = out[0];
        for (int i = 0; i < 512; ++i) {
            ASSERT_EQ(out[2 * i], g) << "call " << call << " frame " << i;
            ASSERT_EQ(out[2 * i + 1], -g) << "call " << call << " frame " << i;
        }
        ASSERT_GE(g, last);
        if (g != last) ++changes;
        last = g;
        if (call % 64 == 0) std::this_thread::yield();
    }
    stop.store(true);
    writer.join();
    EXPECT_GT(generations.load(), 1);
    EXPECT_GT(changes, 1);
}

}  // namespace
}  // namespace miral::audio
