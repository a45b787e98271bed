// SPDX-License-Identifier: GPL-3.0-or-later
// The watch over streams on cards that can fail: a card of the test's own
// whose callbacks the test calls by hand, and the watch's clock given by the
// test, so that stalls, spins, failures and retries happen exactly when the
// test says.

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "audio/sim_driver.h"
#include "audio/streams.h"

namespace miral::audio {
namespace {

using Clock = AudioStreams::Clock;
using std::chrono::milliseconds;

// A real card as the watch sees it: it can fail, its streams run until the
// test says otherwise, and every open, close and abandonment is counted.
class Card : public AudioDriver {
  public:
    std::string Name() const override { return "pulse"; }
    bool CanFail() const override { return true; }
    bool Open(StreamDirection d, const StreamRequest& r, std::string& error) override {
        opens.push_back(r);
        if (!answers) {
            error = "no server answers";
            return false;
        }
        side(d) = Side{true, false, r};
        return true;
    }
    bool Start(StreamDirection d, std::string&) override {
        side(d).running = true;
        return true;
    }
    bool Close(StreamDirection d, std::string&) override {
        ++closes;
        side(d) = Side{};
        return true;
    }
    void Abandon(StreamDirection d, std::shared_ptr<void> keepAlive) override {
        ++abandons;
        side(d) = Side{};
        kept.push_back(std::move(keepAlive));
    }
    bool IsRunning(StreamDirection d) const override {
        const Side& s = d == StreamDirection::Capture ? capture : playback;
        return s.open && s.running;
    }
    unsigned int BufferFrames(StreamDirection d) const override {
        return d == StreamDirection::Capture ? capture.request.bufferFrames : playback.request.bufferFrames;
    }
    // One capture buffer of a constant value through the stream's callback;
    // what the callback returned.
    int Capture(float value, unsigned int frames = 512) {
        std::vector<float> in(2 * frames, value);
        return capture.request.callback(nullptr, in.data(), frames, 0.0, 0, capture.request.userData);
    }
    int Play(unsigned int frames = 512) {
        std::vector<float> out(2 * frames);
        return playback.request.callback(out.data(), nullptr, frames, 0.0, 0, playback.request.userData);
    }

    struct Side {
        bool open = false;
        bool running = false;
        StreamRequest request;
    };
    Side& side(StreamDirection d) { return d == StreamDirection::Capture ? capture : playback; }
    Side capture, playback;
    bool Failing() const override { return failing; }
    bool answers = true;
    bool failing = false;
    std::vector<StreamRequest> opens;
    int closes = 0;
    int abandons = 0;
    std::vector<std::shared_ptr<void>> kept;
};

struct Watched {
    std::unique_ptr<CaptureRing> ring = std::make_unique<CaptureRing>();
    std::unique_ptr<PlaybackTables> tables = std::make_unique<PlaybackTables>();
    std::unique_ptr<AudioStreams> audio = std::make_unique<AudioStreams>(*ring, *tables);
    Card* card = nullptr;
    const Clock::time_point t0 = Clock::now();

    Watched() {
        auto owned = std::make_unique<Card>();
        card = owned.get();
        audio->UseDriver(std::move(owned));
    }
    void At(int ms) { audio->Supervise(t0 + milliseconds(ms)); }
    static StreamSettings Settings() {
        StreamSettings s;
        s.bufferFrames = 1024;
        s.bufferCount = 4;
        s.deviceName = "Null";
        return s;
    }
};

TEST(StreamWatch, AStalledCaptureIsGivenUpAndReopenedEverySecondWithTheSameRequest) {
    Watched w;
    ASSERT_TRUE(w.audio->StartCapture(48000, 3, Watched::Settings()));
    w.At(0);
    for (int ms = 100; ms <= 400; ms += 100) {
        EXPECT_EQ(w.card->Capture(0.5f), 0);
        w.At(ms);
    }
    EXPECT_GT(w.ring->VisibleWriteIndex(), 0);
    // Callbacks stop: half a second (three buffers of 1024 at 48 kHz are less).
    w.At(900);
    EXPECT_FALSE(w.audio->CaptureLost());
    w.At(950);
    ASSERT_TRUE(w.audio->CaptureLost());
    EXPECT_EQ(w.audio->LossReason(StreamDirection::Capture), "the stream stalled");
    EXPECT_EQ(w.card->abandons, 1);  // not waited for
    EXPECT_EQ(w.card->closes, 0);
    EXPECT_FALSE(w.audio->CaptureRunning());
    // The ring reads as silence, and the given-up stream's callback, should
    // it wake, stores nothing.
    EXPECT_EQ(w.ring->VisibleWriteIndex(), 0);
    EXPECT_EQ(w.ring->SampleA(10), 0.0f);
    const StreamRequest old = w.card->opens.back();
    std::vector<float> late(2048, 0.9f);
    old.callback(nullptr, late.data(), 1024, 0.0, 0, old.userData);
    for (int slot = 0; slot < 2048; ++slot) ASSERT_NE(w.ring->CaptureA[slot].load(), 0.9f) << slot;

    // No server: a retry every second, nothing in between.
    w.card->answers = false;
    w.At(1900);
    EXPECT_EQ(w.card->opens.size(), 1u);
    ::testing::internal::CaptureStderr();
    w.At(1950);
    const std::string log = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(w.card->opens.size(), 2u);
    // Why the retry failed, in the log.
    EXPECT_NE(log.find("miral: capture stream: the retry failed: "), std::string::npos) << log;
    EXPECT_NE(log.find("no server answers"), std::string::npos) << log;
    w.At(2500);
    EXPECT_EQ(w.card->opens.size(), 2u);
    EXPECT_TRUE(w.audio->CaptureLost());
    EXPECT_EQ(w.audio->LossReason(StreamDirection::Capture), "the stream stalled");
    EXPECT_EQ(w.audio->StatusText(), "capture stream: the stream stalled; retrying every second");
    // The server is back: the same request opens, the stream runs.
    w.card->answers = true;
    ::testing::internal::CaptureStderr();
    w.At(2950);
    EXPECT_NE(::testing::internal::GetCapturedStderr().find("miral: capture stream: back"),
              std::string::npos);
    ASSERT_EQ(w.card->opens.size(), 3u);
    const StreamRequest& again = w.card->opens.back();
    EXPECT_TRUE(again.retry);  // a retry waits for a silent server only briefly
    EXPECT_EQ(again.rate, 48000);
    EXPECT_EQ(again.deviceNumber, 3);
    EXPECT_EQ(again.deviceName, "Null");
    EXPECT_EQ(again.bufferFrames, 1024u);
    EXPECT_EQ(again.bufferCount, 4u);
    EXPECT_FALSE(w.audio->CaptureLost());
    EXPECT_EQ(w.audio->LossReason(StreamDirection::Capture), "");
    EXPECT_TRUE(w.audio->CaptureRunning());
    EXPECT_EQ(w.audio->StatusText(), "");
    EXPECT_EQ(w.card->Capture(0.25f), 0);
    EXPECT_EQ(w.ring->SampleA(0), 0.25f);
}

TEST(StreamWatch, AFirstCallbackMayTakeASecondAndLongBuffersThreeOfThem) {
    Watched w;
    ASSERT_TRUE(w.audio->StartCapture(44100, 1, Watched::Settings()));
    w.At(0);
    w.At(950);
    EXPECT_FALSE(w.audio->CaptureLost());
    w.At(1050);
    EXPECT_TRUE(w.audio->CaptureLost());

    // 16384 frames at 4000 Hz: a callback every 4.1 s, so 12.3 s of quiet is allowed.
    StreamSettings slow = Watched::Settings();
    slow.bufferFrames = 16384;
    ASSERT_TRUE(w.audio->StartCapture(4000, 1, slow));
    w.At(2000);
    EXPECT_EQ(w.card->Capture(0.1f, 16384), 0);
    w.At(6000);
    w.At(18000);
    EXPECT_FALSE(w.audio->CaptureLost());
    w.At(18400);
    EXPECT_TRUE(w.audio->CaptureLost());
}

TEST(StreamWatch, ACallbackCalledFarFasterThanRealTimeStopsItsStreamWhichIsClosed) {
    Watched w;
    ASSERT_TRUE(w.audio->StartPlayback(44100, 1, Watched::Settings()));
    w.At(0);
    EXPECT_EQ(w.card->Play(), 0);
    // A library spinning on a broken connection: thousands of buffers at once.
    int last = 0;
    for (int i = 0; i < 2000 && last == 0; ++i) last = w.card->Play(1024);
    EXPECT_EQ(last, 2) << "the callback did not stop its stream";
    w.At(100);
    ASSERT_TRUE(w.audio->PlaybackLost());
    EXPECT_FALSE(w.audio->CaptureLost());
    EXPECT_EQ(w.audio->LossReason(StreamDirection::Playback), "the sound server stopped answering");
    EXPECT_EQ(w.card->closes, 1);  // it answers: closed, not given up
    EXPECT_EQ(w.card->abandons, 0);
    w.At(1100);
    EXPECT_FALSE(w.audio->PlaybackLost());
    EXPECT_EQ(w.card->opens.size(), 2u);
    EXPECT_EQ(w.tables->PlaybackLength.load(), 44100);
}

TEST(StreamWatch, ABurstOfQueuedBuffersIsNoSpin) {
    Watched w;
    ASSERT_TRUE(w.audio->StartCapture(44100, 1, Watched::Settings()));
    for (int i = 0; i < 8; ++i) EXPECT_EQ(w.card->Capture(0.5f, 1024), 0) << i;
}

TEST(StreamWatch, AStreamTheSystemStoppedOrALibraryFailingOnEveryBufferIsLost) {
    Watched w;
    ASSERT_TRUE(w.audio->StartCapture(44100, 1, Watched::Settings()));
    w.At(0);
    w.card->capture.running = false;
    w.At(100);
    EXPECT_TRUE(w.audio->CaptureLost());
    EXPECT_EQ(w.audio->LossReason(StreamDirection::Capture), "the stream was stopped by the system");
    EXPECT_EQ(w.card->closes, 1);

    w.At(1100);  // reopened
    ASSERT_FALSE(w.audio->CaptureLost());
    ASSERT_TRUE(w.audio->StartPlayback(44100, 1, Watched::Settings()));
    w.card->failing = true;
    w.At(1200);
    EXPECT_TRUE(w.audio->CaptureLost());
    EXPECT_TRUE(w.audio->PlaybackLost());
    EXPECT_EQ(w.audio->LossReason(StreamDirection::Playback), "the sound server stopped answering");
    EXPECT_EQ(w.card->closes, 3);
    EXPECT_NE(w.audio->StatusText().find("retrying every second"), std::string::npos);
}

TEST(StreamWatch, AFailedRequestIsRetriedOnlyOnCardsThatCanFailAndStopEndsTheRetries) {
    Watched w;
    w.card->answers = false;
    EXPECT_FALSE(w.audio->StartPlayback(44100, 1, Watched::Settings()));
    EXPECT_TRUE(w.audio->PlaybackLost());
    EXPECT_EQ(w.audio->LossReason(StreamDirection::Playback), "no server answers");
    // Capture fails too; after one failed retry in a round, the other
    // stream waits for the next round.
    EXPECT_FALSE(w.audio->StartCapture(44100, 1, Watched::Settings()));
    const std::size_t before = w.card->opens.size();
    w.At(1100);
    EXPECT_EQ(w.card->opens.size(), before + 1);
    w.audio->StopPlayback();  // the generator switched off: nothing more to retry
    w.audio->StopCapture();
    EXPECT_FALSE(w.audio->PlaybackLost());
    EXPECT_FALSE(w.audio->CaptureLost());
    w.At(5000);
    EXPECT_EQ(w.card->opens.size(), before + 1);

    // The simulated bench never fails on its own: a failed request leaves
    // the stream absent, as it always did, and nothing is retried.
    ASSERT_TRUE(w.audio->SelectDriver("sim", TimeMode::Simulated));
    EXPECT_FALSE(w.audio->StartPlayback(999999, 1, Watched::Settings()));
    EXPECT_FALSE(w.audio->PlaybackLost());
    w.audio->Supervise(w.t0 + milliseconds(9000));
    EXPECT_FALSE(w.audio->PlaybackRunning());
}

}  // namespace
}  // namespace miral::audio
