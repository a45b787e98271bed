// SPDX-License-Identifier: GPL-3.0-or-later
// The stream callbacks: 24-bit conversions both ways, decimation, looping.

#include "audio/callbacks.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

namespace miral::audio {
namespace {

struct CaptureFixture {
    std::unique_ptr<CaptureRing> ring = std::make_unique<CaptureRing>();
    CaptureContext ctx;
    CaptureFixture() { ctx.ring = ring.get(); }
};

TEST(Int24, CaptureDecodesSignExtendedTimesTwoToMinus23) {
    CaptureFixture f;
    f.ring->SetDecimation(1);
    // Frame 0 is the very first after the start and is not kept (the counter
    // starts at 0); frame 1 carries the most negative and most positive codes.
    const std::array<std::uint8_t, 12> bytes = {0,    0,    0,    0,    0,    0,      // frame 0
                                                0x00, 0x00, 0x80, 0xFF, 0xFF, 0x7F};  // frame 1: L, R
    CaptureInt24(nullptr, const_cast<std::uint8_t*>(bytes.data()), 2, 0.0, 0, &f.ctx);
    ASSERT_EQ(f.ring->WriteIndex.load(), 1);
    EXPECT_EQ(f.ring->SampleA(0), -1.0f);
    EXPECT_EQ(f.ring->SampleB(0), static_cast<float>(8388607.0 / 8388608.0));
    EXPECT_LT(f.ring->SampleB(0), 1.0f);
}

TEST(Int24, DecodeCoversSignBoundaries) {
    const std::uint8_t one[3] = {0x01, 0x00, 0x00};
    const std::uint8_t minusOne[3] = {0xFF, 0xFF, 0xFF};
    const std::uint8_t half[3] = {0x00, 0x00, 0x40};
    EXPECT_EQ(DecodeInt24(one), static_cast<float>(1.0 / 8388608.0));
    EXPECT_EQ(DecodeInt24(minusOne), static_cast<float>(-1.0 / 8388608.0));
    EXPECT_EQ(DecodeInt24(half), 0.5f);
}

std::array<std::uint8_t, 3> Encode(float x) {
    std::array<std::uint8_t, 3> b{};
    EncodeInt24(x, b.data());
    return b;
}

TEST(Int24, PlaybackEncodesTruncatedLowByteFirst) {
    using B = std::array<std::uint8_t, 3>;
    EXPECT_EQ(Encode(-1.0f), (B{0x00, 0x00, 0x80}));
    EXPECT_EQ(Encode(0.5f), (B{0x00, 0x00, 0x40}));
    EXPECT_EQ(Encode(-0.25f), (B{0x00, 0x00, 0xE0}));
    // Truncation toward zero, on both sides.
    EXPECT_EQ(Encode(static_cast<float>(2.9 / 8388608.0)), (B{0x02, 0x00, 0x00}));
    EXPECT_EQ(Encode(static_cast<float>(-2.9 / 8388608.0)), (B{0xFE, 0xFF, 0xFF}));
    // Values that do not fit are held at the ends instead of wrapping round.
    EXPECT_EQ(Encode(1.0f), (B{0xFF, 0xFF, 0x7F}));
    EXPECT_EQ(Encode(7.5f), (B{0xFF, 0xFF, 0x7F}));
    EXPECT_EQ(Encode(-3.0f), (B{0x00, 0x00, 0x80}));
    EXPECT_EQ(Encode(std::nanf("")), (B{0x00, 0x00, 0x00}));
}

TEST(Int24, RoundTripIsExactForEveryCodeSampled) {
    for (std::int32_t v = -8388608; v < 8388608; v += 4099) {
        const std::uint8_t in[3] = {static_cast<std::uint8_t>(v & 0xFF),
                                    static_cast<std::uint8_t>((v >> 8) & 0xFF),
                                    static_cast<std::uint8_t>((v >> 16) & 0xFF)};
        std::uint8_t out[3];
        EncodeInt24(DecodeInt24(in), out);
        ASSERT_EQ(0, std::memcmp(in, out, 3)) << v;
    }
}

TEST(PlayInt24, SendsTableValuesAsPackedFrames) {
    auto tables = std::make_unique<PlaybackTables>();
    tables->BackA()[0] = -1.0f;
    tables->BackB()[0] = 0.5f;
    tables->BackA()[1] = -0.25f;
    tables->BackB()[1] = 0.0f;
    tables->Publish();
    tables->PlaybackLength.store(2);
    PlaybackContext ctx;
    ctx.tables = tables.get();
    std::array<std::uint8_t, 12> out{};
    PlayInt24(out.data(), nullptr, 2, 0.0, 0, &ctx);
    const std::array<std::uint8_t, 12> expected = {0x00, 0x00, 0x80, 0x00, 0x00, 0x40,
                                                   0x00, 0x00, 0xE0, 0x00, 0x00, 0x00};
    EXPECT_EQ(out, expected);
}

TEST(Decimation, Decimation200KeepsEvery200thFrameAndCarriesTheCounter) {
    CaptureFixture f;
    f.ring->SetDecimation(200);
    std::vector<float> frames(2 * 1000);
    for (int i = 0; i < 1000; ++i) {
        frames[2 * i] = static_cast<float>(i);  // the frame number, exactly representable
        frames[2 * i + 1] = static_cast<float>(-i);
    }
    CaptureFloat(nullptr, frames.data(), 1000, 0.0, 0, &f.ctx);
    ASSERT_EQ(f.ring->WriteIndex.load(), 4);
    EXPECT_EQ(f.ring->SampleA(0), 200.0f);
    EXPECT_EQ(f.ring->SampleA(1), 400.0f);
    EXPECT_EQ(f.ring->SampleA(2), 600.0f);
    EXPECT_EQ(f.ring->SampleA(3), 800.0f);
    EXPECT_EQ(f.ring->SampleB(3), -800.0f);
    EXPECT_EQ(f.ring->DecimationCounter.load(), 200);
    // So the first frame of the next callback is kept too.
    CaptureFloat(nullptr, frames.data(), 1, 0.0, 0, &f.ctx);
    EXPECT_EQ(f.ring->WriteIndex.load(), 5);
    EXPECT_EQ(f.ring->SampleA(4), 0.0f);
}

TEST(Decimation, OneKeepsEveryFrameAfterTheFirstAndWrapsTheRing) {
    CaptureFixture f;
    std::vector<float> frames(2 * 4096);
    for (int i = 0; i < 4096; ++i) frames[2 * i] = static_cast<float>(i);
    int kept = 0;
    for (int call = 0; call < 40; ++call) {  // 163840 frames: more than the ring holds
        CaptureFloat(nullptr, frames.data(), 4096, 0.0, 0, &f.ctx);
        kept += call == 0 ? 4095 : 4096;
    }
    EXPECT_EQ(f.ring->WriteIndex.load(), kept % CaptureRing::kSize);
    // The newest sample is the last frame of the last callback.
    EXPECT_EQ(f.ring->SampleA(f.ring->WriteIndex.load() - 1), 4095.0f);
}

TEST(PlayFloat, LoopsOverExactlyPlaybackLengthEntries) {
    auto tables = std::make_unique<PlaybackTables>();
    for (int i = 0; i < PlaybackTables::kSize; ++i) {
        tables->BackA()[i] = static_cast<float>(i);
        tables->BackB()[i] = static_cast<float>(-i);
    }
    tables->Publish();
    tables->PlaybackLength.store(48000);
    PlaybackContext ctx;
    ctx.tables = tables.get();
    std::vector<float> out(2 * 1000);
    std::vector<float> heard;
    for (int call = 0; call < 100; ++call) {  // 100000 frames: two loops and a bit
        PlayFloat(out.data(), nullptr, 1000, 0.0, 0, &ctx);
        for (int i = 0; i < 1000; ++i) {
            heard.push_back(out[2 * i]);
            ASSERT_EQ(out[2 * i + 1], -out[2 * i]);
        }
    }
    for (size_t k = 0; k < heard.size(); ++k) ASSERT_EQ(heard[k], static_cast<float>(k % 48000)) << k;
    EXPECT_EQ(tables->ReadIndex.load(), 100000 % 48000);
}

TEST(PlayFloat, ALengthOutsideTheTablesIsHeldInside) {
    auto tables = std::make_unique<PlaybackTables>();
    tables->PlaybackLength.store(10 * PlaybackTables::kSize);
    tables->ReadIndex.store(PlaybackTables::kSize - 1);
    PlaybackContext ctx;
    ctx.tables = tables.get();
    std::vector<float> out(2 * 4);
    PlayFloat(out.data(), nullptr, 4, 0.0, 0, &ctx);  // ASan would catch a read past the end
    EXPECT_EQ(tables->ReadIndex.load(), 3);
}

TEST(Priority, IsRaisedOnTheFirstCallOnly) {
    CaptureFixture f;
    f.ctx.priority = 0;  // leave this test thread alone
    float frame[2] = {0, 0};
    EXPECT_FALSE(f.ctx.prioritySet);
    CaptureFloat(nullptr, frame, 1, 0.0, 0, &f.ctx);
    EXPECT_TRUE(f.ctx.prioritySet);
    EXPECT_TRUE(RaiseThreadPriority(0));
}

}  // namespace
}  // namespace miral::audio
