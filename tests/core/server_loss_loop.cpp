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
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "core/instrument.h"
#include "core/operate.h"
#include "core/runner.h"
#include "display/recording_canvas.h"
#include "sound_servers.h"

namespace miral::core {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr double kPlayed = 32000.0 / 1.1;  // the generator table's peak, counts

class ServerLoss : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!test::PulseThere()) GTEST_SKIP() << "no private PulseAudio server (scripts/test starts one)";
        for (const char* cmd : {"pactl set-sink-volume @DEFAULT_SINK@ 100% >/dev/null 2>&1",
                                "pactl set-source-volume @DEFAULT_SOURCE@ 100% >/dev/null 2>&1"})
            if (std::system(cmd) != 0) ADD_FAILURE() << cmd;
        dir_ = fs::temp_directory_path() / ("miral_server_loss_" + std::to_string(::getpid()));
        fs::create_directories(dir_);
        std::ofstream(dir_ / "Prefs.ini")
            << "rx_buffersize=1024\nnum_rx_buffers=4\ntx_buffersize=1024\nnum_tx_buffers=4\n";
        in.setConfigDir(dir_);
        in.panel.setRequireShowing(false);
        in.setScreenBuffer(&buffer);
        in.panel.setCanvas(Ctl::PaintBox1, &screen);
        ASSERT_TRUE(in.streams().SelectDriver("pulse")) << in.streams().LastError();
        in.FormCreate();
        in.FormActivate();
        runner.start();
        std::string err;
        ASSERT_TRUE(operateSet(in, "genampl", "100", &err)) << err;
        ASSERT_TRUE(operateSet(in, "genon1", "1", &err)) << err;
        ASSERT_TRUE(operateSet(in, "CheckBox4", "0", &err)) << err;  // no gain correction
        ASSERT_GE(runUntil(5.0, [&] { return toneThere(); }), 0.0)
            << "no tone at the start: " << in.st.StatusText;
    }
    void TearDown() override {
        if (!dir_.empty()) fs::remove_all(dir_);
    }

    double level(double f) {
        return test::ToneAt(in.st.TimeWorkA.data(), in.st.FftSize, f, in.st.AnalysisRate);
    }
    bool toneThere() {
        const double l = level(440.0);
        return std::fabs(l / kPlayed - 1.0) < 0.05 && level(430.0) < 0.01 * l;
    }
    // Runs the instrument until `done` holds, at most `seconds`; the time it
    // took, or -1. longestSlice_ keeps the longest 50 ms slice (the window
    // must never wait long for the server).
    double runUntil(double seconds, const std::function<bool()>& done) {
        const auto start = Clock::now();
        for (;;) {
            const double t = std::chrono::duration<double>(Clock::now() - start).count();
            if (done()) return t;
            if (t > seconds) return -1.0;
            buffer.clear();
            screen.clear();
            const auto sliceStart = Clock::now();
            runner.runFor(0.05);
            longestSlice_ =
                std::max(longestSlice_, std::chrono::duration<double>(Clock::now() - sliceStart).count());
        }
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
    fs::path dir_;
    display::RecordingCanvas buffer{1134, 800};
    display::RecordingCanvas screen{567, 400};
    Instrument in;
    Runner runner{in, false};  // real time
    double longestSlice_ = 0;
};

TEST_F(ServerLoss, TheToneReturnsByItselfWhenAKilledServerStartsAgain) {
    ASSERT_TRUE(test::PulseScript("miral_pulse_kill"));
    const double seen = runUntil(3.0, [&] { return in.streams().CaptureLost(); });
    ASSERT_GE(seen, 0.0) << "the loss was not seen; status: " << in.st.StatusText;
    EXPECT_LE(seen, 1.0);
    std::printf("killed server seen after %.2f s\n", seen);
    runUntil(1.5, [] { return false; });  // every retry fails meanwhile
    EXPECT_TRUE(in.streams().PlaybackLost());
    expectNoStalePicture("No input: the sound server stopped answering - retrying");

    ASSERT_TRUE(test::PulseScript("miral_pulse_restart"));  // the same address
    expectReturnWithin3s("the server answered again");
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
