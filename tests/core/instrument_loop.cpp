// SPDX-License-Identifier: GPL-3.0-or-later
// The whole instrument on a real sound server: the main generator plays
// through the real playback stream into the test server's null sink, and the
// capture stream records its monitor. scripts/test starts the server and sets
// MIRAL_PULSE=1; without it these tests are skipped.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "core/instrument.h"
#include "core/operate.h"
#include "core/runner.h"

namespace miral::core {
namespace {

namespace fs = std::filesystem;

bool pulseThere() {
    const char* flag = std::getenv("MIRAL_PULSE");
    return flag && std::string(flag) == "1";
}

// Amplitude of the tone at f in the newest n samples of a window (counts).
double toneAt(const double* x, int n, double f, double rate) {
    std::complex<double> acc = 0;
    for (int i = 0; i < n; ++i) {
        double w = 0.5 - 0.5 * std::cos(2 * M_PI * i / n);
        acc += x[i] * w * std::polar(1.0, -2 * M_PI * f * i / rate);
    }
    return 4.0 * std::abs(acc) / n;
}

TEST(InstrumentLoop, GeneratorAt440HzComesBackThroughTheServer) {
    if (!pulseThere()) GTEST_SKIP() << "no private PulseAudio server (scripts/test starts one)";
    // Start from full volume, whatever other programs left on the server.
    for (const char* cmd : {"pactl set-sink-volume @DEFAULT_SINK@ 100% >/dev/null 2>&1",
                            "pactl set-source-volume @DEFAULT_SOURCE@ 100% >/dev/null 2>&1"})
        if (std::system(cmd) != 0) ADD_FAILURE() << cmd;
    fs::path dir = fs::temp_directory_path() / "miral_instrument_loop";
    fs::create_directories(dir);
    std::ofstream(dir / "Prefs.ini")
        << "rx_buffersize=1024\nnum_rx_buffers=4\ntx_buffersize=1024\nnum_tx_buffers=4\n";

    Instrument in;
    in.setConfigDir(dir);
    in.panel.setRequireShowing(false);
    ASSERT_TRUE(in.streams().SelectDriver("pulse")) << in.streams().LastError();
    in.FormCreate();
    in.FormActivate();
    Runner runner(in, false);  // real time
    runner.start();
    std::string err;
    ASSERT_TRUE(operateSet(in, "genampl", "100", &err)) << err;
    ASSERT_TRUE(operateSet(in, "genon1", "1", &err)) << err;
    ASSERT_TRUE(operateSet(in, "CheckBox4", "0", &err)) << err;  // no gain correction
    double level = 0;
    for (int attempt = 0; attempt < 2 && level < 1000; ++attempt) {  // one retry on a dropout
        runner.runFor(1.5);
        ASSERT_TRUE(in.streams().CaptureRunning()) << in.st.StatusText;
        ASSERT_TRUE(in.streams().PlaybackRunning()) << in.st.StatusText;
        const int n = in.st.FftSize;
        const double* a = in.st.TimeWorkA.data();
        level = toneAt(a, n, 440.0, in.st.AnalysisRate);
        EXPECT_LT(toneAt(a, n, 430.0, in.st.AnalysisRate), 0.01 * level);
    }
    // The table's peak is 32000 / 1.1 counts; the server plays it at full volume.
    EXPECT_NEAR(level, 32000.0 / 1.1, 0.05 * 32000.0 / 1.1);
    EXPECT_EQ(in.panel.caption(Ctl::gendispl), "440");
    fs::remove_all(dir);
}

// The input level's correction on a real server: PulseAudio's recording level
// is not linear (its volume is cubic), so the corrected reading at a lower
// "Input Level" must match the full-level reading only if the correction
// uses the level's real gain.
TEST(InstrumentLoop, CorrectedLevelHoldsAtEveryInputLevel) {
    if (!pulseThere()) GTEST_SKIP() << "no private PulseAudio server (scripts/test starts one)";
    for (const char* cmd : {"pactl set-sink-volume @DEFAULT_SINK@ 100% >/dev/null 2>&1",
                            "pactl set-source-volume @DEFAULT_SOURCE@ 100% >/dev/null 2>&1"})
        if (std::system(cmd) != 0) ADD_FAILURE() << cmd;
    // The server's recording level back at full scale however the test ends.
    struct FullLevelAgain {
        ~FullLevelAgain() {
            if (std::system("pactl set-source-volume @DEFAULT_SOURCE@ 100% >/dev/null 2>&1") != 0)
                std::fprintf(stderr, "could not reset the recording level\n");
        }
    } fullLevelAgain;
    fs::path dir = fs::temp_directory_path() / "miral_instrument_level";
    fs::create_directories(dir);
    std::ofstream(dir / "Prefs.ini")
        << "rx_buffersize=1024\nnum_rx_buffers=4\ntx_buffersize=1024\nnum_tx_buffers=4\nDAC_Bits=24\n";
    {
        Instrument in;
        in.setConfigDir(dir);
        in.panel.setRequireShowing(false);
        ASSERT_TRUE(in.streams().SelectDriver("pulse")) << in.streams().LastError();
        in.FormCreate();
        in.FormActivate();
        Runner runner(in, false);  // real time
        runner.start();
        std::string err;
        ASSERT_TRUE(operateSet(in, "genampl", "100", &err)) << err;
        ASSERT_TRUE(operateSet(in, "genon1", "1", &err)) << err;
        // 24-bit playback from the first open (the server takes 24-bit samples as they are).
        EXPECT_EQ(in.streams().PlaybackFormat(), audio::SampleFormat::Int24);
        ASSERT_TRUE(in.panel.checked(Ctl::CheckBox4));  // the gain correction, 0 dB both
        ASSERT_EQ(in.panel.itemText(Ctl::input_box), "Capture") << in.mixer().LastError();
        // The corrected reading after 1.5 s at a level. A dropout on a busy
        // machine only lowers a reading: up to three readings, until one is
        // near `expected`.
        auto levelAt = [&](int position, double expected) {
            in.panel.userTrackPosition(Ctl::input_bar, position);
            double level = 0;
            for (int attempt = 0; attempt < 3; ++attempt) {
                runner.runFor(1.5);
                EXPECT_TRUE(in.streams().CaptureRunning()) << in.st.StatusText;
                level = toneAt(in.st.TimeWorkA.data(), in.st.FftSize, 440.0, in.st.AnalysisRate);
                if (std::fabs(20 * std::log10(level / expected)) < 0.5) break;
            }
            return level;
        };
        const double played = 32000.0 / 1.1;  // the table's peak
        const double full = levelAt(65535, played);
        EXPECT_NEAR(full, played, 0.05 * played);
        for (double share : {0.7, 0.5}) {
            const int position = static_cast<int>(std::lround(share * 65535));
            const double level = levelAt(position, full);
            EXPECT_NEAR(20 * std::log10(level / full), 0.0, 0.5) << "input level " << share * 100 << " %";
            std::printf("input level %.0f %%: %.3f dB from the full-level reading\n", share * 100,
                        20 * std::log10(level / full));
        }
        in.panel.userTrackPosition(Ctl::input_bar, 65535);
    }
    fs::remove_all(dir);
}

}  // namespace
}  // namespace miral::core
