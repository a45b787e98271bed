// SPDX-License-Identifier: GPL-3.0-or-later
// The generator handlers on the whole instrument, with the simulated bench
// as the sound card.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>

#include "core/instrument.h"
#include "core/operate.h"
#include "core/runner.h"
#include "cycle_bench.h"

namespace miral::core {
namespace {

namespace fs = std::filesystem;

struct SimBench : test::CycleBench {
    explicit SimBench(const std::string& prefs = "") : CycleBench("gen") {
        if (!prefs.empty()) preferences(prefs);
        power();
    }
};

TEST(GeneratorHandlers, SwitchingOnPlaysAndOffStops) {
    SimBench b;
    b.set("genon1", "1");
    b.runner.runFor(0.01);
    EXPECT_TRUE(b.in.streams().PlaybackRunning());
    EXPECT_EQ(b.in.panel.caption(Ctl::gendispl), "440");
    EXPECT_EQ(b.in.tables().PlaybackLength.load(), 44100);
    b.set("genon1", "0");
    b.runner.runFor(0.01);
    EXPECT_FALSE(b.in.streams().PlaybackRunning());
    EXPECT_EQ(b.in.panel.caption(Ctl::gendispl), "0");
}

TEST(GeneratorHandlers, WaveformChangeDoesNotRestartTheStream) {
    SimBench b;
    b.set("genon1", "1");
    b.runner.runFor(0.05);
    int readBefore = b.in.tables().ReadIndex.load();
    ASSERT_GT(readBefore, 0);
    b.set("gentri1", "1");  // same length: the stream keeps playing where it was
    EXPECT_GE(b.in.tables().ReadIndex.load(), readBefore);
    b.set("genx4", "1");  // 4400 Hz: same length again
    EXPECT_GE(b.in.tables().ReadIndex.load(), readBefore);
    b.runner.runFor(0.001);  // the readout is refreshed by the cycle
    EXPECT_EQ(b.in.panel.caption(Ctl::gendispl), "4400");
}

TEST(GeneratorHandlers, SquareRateAdjustment) {
    SimBench b("Freq_Var=1\n");
    b.set("ComboBox4", "48000");
    b.set("gensqr1", "1");
    b.set("genfreq", "7000");
    b.set("genx4", "1");  // 7000 Hz
    b.set("genon1", "1");
    EXPECT_EQ(b.in.panel.caption(Ctl::Label214), "DAC 42000");
    EXPECT_EQ(b.in.tables().PlaybackLength.load(), 42000);
    EXPECT_TRUE(b.in.streams().PlaybackRunning());
}

TEST(GeneratorHandlers, StepButtonsMoveOneHertz) {
    SimBench b;
    b.set("genon1", "1");
    b.in.panel.userPress(Ctl::SpeedButton16);
    EXPECT_EQ(b.in.panel.value(Ctl::genfreq), 4410);
    b.runner.runFor(0.001);
    EXPECT_EQ(b.in.panel.caption(Ctl::gendispl), "441");
    b.set("genx1", "1");
    b.in.panel.userPress(Ctl::SpeedButton15);
    EXPECT_EQ(b.in.panel.value(Ctl::genfreq), 3410);
}

TEST(GeneratorHandlers, ModulationSelectorSwitchesTheAuxOn) {
    SimBench b;
    b.set("genon1", "1");
    b.in.panel.userPress(Ctl::genstart1);
    EXPECT_EQ(b.in.st.ModulationMode, 2);
    EXPECT_EQ(b.in.panel.caption(Ctl::Label129), "AM");
    EXPECT_TRUE(b.in.panel.down(Ctl::genon2));
    for (int i = 0; i < 4; ++i) b.in.panel.userPress(Ctl::genstart1);
    EXPECT_EQ(b.in.panel.caption(Ctl::Label129), "ADD");
    b.in.panel.userPress(Ctl::Label131);
    EXPECT_EQ(b.in.panel.caption(Ctl::Label131), "1");
    b.set("gensweep1", "1");
    EXPECT_EQ(b.in.panel.caption(Ctl::Label128), "Sweep");
}

TEST(GeneratorHandlers, TheLoopReachesTheInputs) {
    SimBench b;
    b.set("genon1", "1");
    b.set("genampl", "100");
    b.set("Tempo", "1");
    b.runner.runFor(0.5);
    // The simulated wire brings the 440 Hz sine back: the window holds it at
    // about 32000 / 1.1 counts.
    double peak = 0;
    for (int i = 0; i < b.in.st.TimeWindow; ++i) peak = std::max(peak, std::abs(b.in.st.TimeWorkA[i]));
    EXPECT_NEAR(peak, 32000.0 / 1.1, 300.0);
}

}  // namespace
}  // namespace miral::core
