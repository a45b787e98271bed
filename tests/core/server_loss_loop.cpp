// SPDX-License-Identifier: GPL-3.0-or-later
// The whole instrument in real time while its sound server dies or freezes
// and comes back: the main generator plays 440 Hz through the private
// PulseAudio server's null sink, the capture stream records its monitor, and
// the test kills the server (as a crash would) or stops it (SIGSTOP), then
// starts it again at the same address or lets it go on. scripts/test starts
// the server; without it the tests are skipped.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <string>

#include "display/recording_canvas.h"
#include "support/server_instrument.h"

namespace miral::core {
namespace {

using Clock = std::chrono::steady_clock;
using test::ServerInstrument;

class ServerLoss : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!test::PulseThere()) GTEST_SKIP() << "no private PulseAudio server (scripts/test starts one)";
        test::FullServerVolumes();
        in.setScreenBuffer(&buffer);
        in.panel.setCanvas(Ctl::PaintBox1, &screen);
        std::string err;
        ASSERT_TRUE(s_.start(&err)) << err;
        // The window must never wait long for the server: the longest 50 ms slice is kept.
        s_.between = [this] {
            buffer.clear();
            screen.clear();
            sliceStart_ = Clock::now();
        };
        ASSERT_GE(runUntil(5.0, [&] { return toneThere(); }), 0.0)
            << "no tone at the start: " << in.st.StatusText;
    }

    bool toneThere() {
        const double l = s_.level(440.0);
        return std::fabs(l / ServerInstrument::kPlayed - 1.0) < 0.05 && s_.level(430.0) < 0.01 * l;
    }
    // Runs the instrument until `done` holds, at most `seconds`; the time it
    // took, or -1. longestSlice_ keeps the longest 50 ms slice.
    double runUntil(double seconds, const std::function<bool()>& done) {
        return s_.runUntil(seconds, [&] {
            if (sliceStart_ != Clock::time_point{}) {
                longestSlice_ = std::max(longestSlice_,
                                         std::chrono::duration<double>(Clock::now() - sliceStart_).count());
                sliceStart_ = {};
            }
            return done();
        });
    }
    bool drewText(const std::string& prefix) {
        for (const auto& call : buffer.callsOf(display::DrawCall::Kind::Text))
            if (call.text.rfind(prefix, 0) == 0) return true;
        return false;
    }
    // While the input is lost: silence, bars at 0, the generator marked
    // stopped, and a screen with the banner and no trace.
    void expectNoStalePicture(const std::string& banner) {
        EXPECT_TRUE(in.streams().CaptureLost());
        EXPECT_NE(in.st.StatusText.find("retrying"), std::string::npos) << in.st.StatusText;
        for (int i = 0; i < in.st.FftSize; ++i)
            ASSERT_EQ(in.st.TimeWorkA[static_cast<std::size_t>(i)], 0.0) << i;
        EXPECT_EQ(in.panel.position(Ctl::bar1), 0);
        EXPECT_EQ(in.panel.position(Ctl::bar2), 0);
        EXPECT_EQ(in.panel.caption(Ctl::gendispl), kGeneratorStopped);
        buffer.clear();
        in.processingCycle();
        EXPECT_TRUE(drewText(banner)) << banner;
        EXPECT_TRUE(buffer.callsOf(display::DrawCall::Kind::Polyline).empty()) << "a trace was drawn";
    }
    // After the return: the tone within 3 s, everything as before.
    void expectReturnWithin3s(const char* what) {
        const double back = runUntil(6.0, [&] { return toneThere(); });
        ASSERT_GE(back, 0.0) << "the tone did not return; status: " << in.st.StatusText;
        EXPECT_LE(back, 3.0);
        std::printf("tone back %.2f s after %s\n", back, what);
        EXPECT_FALSE(in.streams().CaptureLost());
        EXPECT_FALSE(in.streams().PlaybackLost());
        EXPECT_EQ(in.panel.caption(Ctl::gendispl), "440");
        EXPECT_GT(in.panel.position(Ctl::bar1), 500);
        buffer.clear();
        in.processingCycle();
        EXPECT_FALSE(drewText("No input"));
        EXPECT_FALSE(buffer.callsOf(display::DrawCall::Kind::Polyline).empty())
            << "no trace after the return";
    }

    test::PulseRevival revival_;
    display::RecordingCanvas buffer{1134, 800};
    display::RecordingCanvas screen{567, 400};
    ServerInstrument s_{"server_loss", "pulse"};
    core::Instrument& in = s_.in;
    Clock::time_point sliceStart_{};
    double longestSlice_ = 0;
};

TEST_F(ServerLoss, TheToneReturnsByItselfWhenAKilledServerStartsAgain) {
    ::testing::internal::CaptureStderr();
    ASSERT_TRUE(test::PulseScript("miral_pulse_kill"));
    const double seen = runUntil(3.0, [&] { return in.streams().CaptureLost(); });
    ASSERT_GE(seen, 0.0) << "the loss was not seen; status: " << in.st.StatusText;
    EXPECT_LE(seen, 1.0);
    std::printf("killed server seen after %.2f s\n", seen);
    runUntil(1.5, [] { return false; });  // every retry fails meanwhile
    EXPECT_TRUE(in.streams().PlaybackLost());
    expectNoStalePicture("No input: the sound server stopped answering - retrying");
    // The status line (the window's banner) says it in the program's words:
    // what happened and what it does; the library's texts go to the log.
    EXPECT_NE(
        in.st.StreamStatus.find("capture stream: the sound server stopped answering; retrying every second"),
        std::string::npos)
        << in.st.StreamStatus;
    EXPECT_EQ(in.st.StreamStatus.find("RtApi"), std::string::npos) << in.st.StreamStatus;

    ASSERT_TRUE(test::PulseScript("miral_pulse_restart"));  // the same address
    expectReturnWithin3s("the server answered again");
    // The log tells the loss and the return in the same words.
    const std::string log = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("miral: capture stream: the sound server stopped answering; retrying every second"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("miral: capture stream: back"), std::string::npos) << log;
}

TEST_F(ServerLoss, AFrozenServerNeitherFreezesTheWindowNorStaysLost) {
    longestSlice_ = 0;
    ASSERT_TRUE(test::PulseScript("miral_pulse_freeze"));
    const double seen = runUntil(3.0, [&] { return in.streams().CaptureLost(); });
    ASSERT_GE(seen, 0.0) << "the stall was not seen; status: " << in.st.StatusText;
    EXPECT_LE(seen, 1.0);
    std::printf("frozen server seen after %.2f s\n", seen);
    runUntil(2.0, [] { return false; });  // retries meet a server that answers nothing
    expectNoStalePicture("No input: the stream stalled - retrying");
    // A retry waits for the server a quarter of a second at most.
    EXPECT_LT(longestSlice_, 0.45);
    std::printf("longest 50 ms slice while frozen: %.2f s\n", longestSlice_);

    ASSERT_TRUE(test::PulseScript("miral_pulse_thaw"));
    expectReturnWithin3s("the server went on");
}

}  // namespace
}  // namespace miral::core
