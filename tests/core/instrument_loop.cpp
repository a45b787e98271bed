// SPDX-License-Identifier: GPL-3.0-or-later
// The whole instrument on a real sound server: the main generator plays
// through the real playback stream into the test server's null sink, and the
// capture stream records its monitor. scripts/test starts the server and sets
// MIRAL_PULSE=1; without it these tests are skipped.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "support/server_instrument.h"

namespace miral::core {
namespace {

using test::ServerInstrument;

TEST(InstrumentLoop, GeneratorAt440HzComesBackThroughTheServer) {
    if (!test::PulseThere()) GTEST_SKIP() << "no private PulseAudio server (scripts/test starts one)";
    test::FullServerVolumes();
    ServerInstrument s("instrument_loop", "pulse");
    std::string err;
    ASSERT_TRUE(s.start(&err)) << err;
    double level = 0;
    for (int attempt = 0; attempt < 2 && level < 1000; ++attempt) {  // one retry on a dropout
        s.runner.runFor(1.5);
        ASSERT_TRUE(s.in.streams().CaptureRunning()) << s.in.st.StatusText;
        ASSERT_TRUE(s.in.streams().PlaybackRunning()) << s.in.st.StatusText;
        level = s.level(440.0);
        EXPECT_LT(s.level(430.0), 0.01 * level);
    }
    // The server plays the table's peak at full volume.
    EXPECT_NEAR(level, ServerInstrument::kPlayed, 0.05 * ServerInstrument::kPlayed);
    EXPECT_EQ(s.in.panel.caption(Ctl::gendispl), "440");
}

// The input level's correction on a real server: PulseAudio's recording level
// is not linear (its volume is cubic), so the corrected reading at a lower
// "Input Level" must match the full-level reading only if the correction
// uses the level's real gain.
TEST(InstrumentLoop, CorrectedLevelHoldsAtEveryInputLevel) {
    if (!test::PulseThere()) GTEST_SKIP() << "no private PulseAudio server (scripts/test starts one)";
    test::FullServerVolumes();
    // The server's recording level back at full scale however the test ends.
    struct FullLevelAgain {
        ~FullLevelAgain() {
            if (std::system("pactl set-source-volume @DEFAULT_SOURCE@ 100% >/dev/null 2>&1") != 0)
                std::fprintf(stderr, "could not reset the recording level\n");
        }
    } fullLevelAgain;
    ServerInstrument s("instrument_level", "pulse", "DAC_Bits=24\n");
    std::string err;
    ASSERT_TRUE(s.start(&err, true)) << err;
    Instrument& in = s.in;
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
            s.runner.runFor(1.5);
            EXPECT_TRUE(in.streams().CaptureRunning()) << in.st.StatusText;
            level = s.level(440.0);
            if (std::fabs(20 * std::log10(level / expected)) < 0.5) break;
        }
        return level;
    };
    const double full = levelAt(65535, ServerInstrument::kPlayed);
    EXPECT_NEAR(full, ServerInstrument::kPlayed, 0.05 * ServerInstrument::kPlayed);
    for (double share : {0.7, 0.5}) {
        const int position = static_cast<int>(std::lround(share * 65535));
        const double level = levelAt(position, full);
        EXPECT_NEAR(20 * std::log10(level / full), 0.0, 0.5) << "input level " << share * 100 << " %";
        std::printf("input level %.0f %%: %.3f dB from the full-level reading\n", share * 100,
                    20 * std::log10(level / full));
    }
    in.panel.userTrackPosition(Ctl::input_bar, 65535);
}

}  // namespace
}  // namespace miral::core
