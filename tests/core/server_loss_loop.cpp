// The whole instrument in real time while its sound server dies and comes
// back: the main generator plays 440 Hz through the private PulseAudio
// server's null sink, the capture stream records its monitor, and the test
// kills the server (as a crash would) and starts it again at the same
// address. scripts/test starts the server; without it the test is skipped.
#include <gtest/gtest.h>

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

bool DrewText(const display::RecordingCanvas& c, const std::string& prefix) {
    for (const auto& call : c.callsOf(display::DrawCall::Kind::Text))
        if (call.text.rfind(prefix, 0) == 0) return true;
    return false;
}

TEST(ServerLoss, TheToneReturnsByItselfWhenTheServerComesBack) {
    if (!test::PulseThere()) GTEST_SKIP() << "no private PulseAudio server (scripts/test starts one)";
    test::PulseRevival revival;
    for (const char* cmd : {"pactl set-sink-volume @DEFAULT_SINK@ 100% >/dev/null 2>&1",
                            "pactl set-source-volume @DEFAULT_SOURCE@ 100% >/dev/null 2>&1"})
        if (std::system(cmd) != 0) ADD_FAILURE() << cmd;
    const fs::path dir = fs::temp_directory_path() / "miral_server_loss";
    fs::create_directories(dir);
    std::ofstream(dir / "Prefs.ini") << "rx_buffersize=1024\nnum_rx_buffers=4\ntx_buffersize=1024\nnum_tx_buffers=4\n";

    display::RecordingCanvas buffer{1134, 800};
    display::RecordingCanvas screen{567, 400};
    Instrument in;
    in.setConfigDir(dir);
    in.panel.setRequireShowing(false);
    in.setScreenBuffer(&buffer);
    in.panel.setCanvas(Ctl::PaintBox1, &screen);
    ASSERT_TRUE(in.streams().SelectDriver("pulse")) << in.streams().LastError();
    in.FormCreate();
    in.FormActivate();
    Runner runner(in, false);  // real time
    runner.start();
    std::string err;
    ASSERT_TRUE(operateSet(in, "genampl", "100", &err)) << err;
    ASSERT_TRUE(operateSet(in, "genon1", "1", &err)) << err;
    ASSERT_TRUE(operateSet(in, "CheckBox4", "0", &err)) << err;  // no gain correction

    const double played = 32000.0 / 1.1;  // the table's peak, counts
    auto level = [&](double f) { return test::ToneAt(in.st.TimeWorkA.data(), in.st.FftSize, f, in.st.AnalysisRate); };
    auto toneThere = [&] {
        const double l = level(440.0);
        return std::fabs(l / played - 1.0) < 0.05 && level(430.0) < 0.01 * l;
    };
    // Runs the instrument until the condition holds, at most `seconds`; the
    // time it took, or -1.
    auto runUntil = [&](double seconds, const std::function<bool()>& done) {
        const auto start = Clock::now();
        for (;;) {
            const double t = std::chrono::duration<double>(Clock::now() - start).count();
            if (done()) return t;
            if (t > seconds) return -1.0;
            buffer.clear();
            screen.clear();
            runner.runFor(0.05);
        }
    };
    ASSERT_GE(runUntil(5.0, toneThere), 0.0) << "no tone before the server went: " << in.st.StatusText;

    // The server dies.
    ASSERT_TRUE(test::PulseScript("miral_pulse_kill"));
    const double seen = runUntil(3.0, [&] { return in.streams().CaptureLost(); });
    ASSERT_GE(seen, 0.0) << "the loss was not seen; status: " << in.st.StatusText;
    EXPECT_LE(seen, 1.0);
    std::printf("server loss seen after %.2f s\n", seen);
    // A while without it: every retry fails, and nothing stale is shown.
    runUntil(1.5, [] { return false; });
    EXPECT_TRUE(in.streams().CaptureLost());
    EXPECT_TRUE(in.streams().PlaybackLost());
    EXPECT_NE(in.st.StatusText.find("retrying"), std::string::npos) << in.st.StatusText;
    for (int i = 0; i < in.st.FftSize; ++i) ASSERT_EQ(in.st.TimeWorkA[static_cast<std::size_t>(i)], 0.0) << i;
    EXPECT_EQ(in.panel.position(Ctl::bar1), 0);
    EXPECT_EQ(in.panel.position(Ctl::bar2), 0);
    EXPECT_EQ(in.panel.caption(Ctl::gendispl), kGeneratorStopped);
    buffer.clear();
    in.processingCycle();
    EXPECT_TRUE(DrewText(buffer, "No input: the sound server stopped answering - retrying"));
    EXPECT_TRUE(buffer.callsOf(display::DrawCall::Kind::Polyline).empty()) << "a trace was drawn";

    // The server is back at the same address.
    ASSERT_TRUE(test::PulseScript("miral_pulse_restart"));
    const double back = runUntil(6.0, toneThere);
    ASSERT_GE(back, 0.0) << "the tone did not return; status: " << in.st.StatusText;
    EXPECT_LE(back, 3.0);
    std::printf("tone back %.2f s after the server answered again\n", back);
    EXPECT_FALSE(in.streams().CaptureLost());
    EXPECT_FALSE(in.streams().PlaybackLost());
    EXPECT_EQ(in.panel.caption(Ctl::gendispl), "440");
    EXPECT_GT(in.panel.position(Ctl::bar1), 500);
    buffer.clear();
    in.processingCycle();
    EXPECT_FALSE(DrewText(buffer, "No input"));
    EXPECT_FALSE(buffer.callsOf(display::DrawCall::Kind::Polyline).empty()) << "no trace after the return";
    fs::remove_all(dir);
}

}  // namespace
}  // namespace miral::core
