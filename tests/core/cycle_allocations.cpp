// SPDX-License-Identifier: GPL-3.0-or-later
// No processing cycle allocates, also not the cycles in which the RLC meter
// tunes its test tone (which opens the playback stream) or the loopback test
// moves to its second level and ends (which writes the card's floor). A
// program of its own: it counts every allocation of the process.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "core/instrument.h"
#include "core/operate.h"
#include "cycle_bench.h"
#include "display/qimage_canvas.h"
#include "support/counting_new.h"

namespace miral::core {
namespace {

using miral::testing::allocations;

// Drawn into QImage canvases, as in the window (the recording canvas keeps
// every text it is given).
struct Counted : test::CycleBench {
    display::QImageCanvas picture{1134, 800};
    display::QImageCanvas shown{567, 400};
    Counted() : CycleBench("allocations") {
        in.setScreenBuffer(&picture);
        in.panel.setCanvas(Ctl::PaintBox1, &shown);
    }
    long long ms = 0;
    long allocatingCycles = 0;

    // One simulated millisecond as the runner makes it: the card advanced,
    // Timer1's tick (counted), the step after its cycle, and every 100 ms the
    // slow timers. Returns the allocations of the tick.
    long tick() {
        ++ms;
        in.streams().AdvanceTo(static_cast<double>(ms) / 1000.0);
        const long before = allocations.load();
        in.panel.timerTick(Ctl::Timer1);
        const long n = allocations.load() - before;
        in.afterCycle();
        if (ms % 100 == 0) {
            in.panel.timerTick(Ctl::Timer7);
            in.panel.timerTick(Ctl::Timer10);
        }
        if (n != 0) ++allocatingCycles;
        return n;
    }
};

TEST(CycleAllocations, RlcMeterTuningItsToneAllocatesNothingInTheCycle) {
    Counted b;
    b.power("sim", "shunt:R=10,C=1u");
    b.set("ComboBox3", "16");
    b.set("zeta", "1");
    for (int i = 0; i < 300; ++i) b.tick();
    // The main generator off: the meter's tone opens the playback stream.
    b.set("genon1", "0");
    ASSERT_FALSE(b.in.streams().PlaybackRunning());
    b.set("rlcmode", "1");
    ASSERT_FALSE(b.in.panel.down(Ctl::genon2));  // the aux tone waits for the meter
    b.allocatingCycles = 0;
    int tunedAt = -1;
    for (int i = 0; i < 500; ++i) {
        b.tick();
        if (tunedAt < 0 && b.in.panel.down(Ctl::genon2)) tunedAt = i;
    }
    // Tuned at once, to the test frequency of a 1 uF part behind 10 ohms
    // (bin 111 of 4096), and the playback stream runs again.
    EXPECT_EQ(tunedAt, 0);
    EXPECT_EQ(b.in.st.AuxFrequency, 1195);
    EXPECT_TRUE(b.in.streams().PlaybackRunning());
    EXPECT_EQ(b.allocatingCycles, 0);
    // And it reads the part.
    EXPECT_NE(b.in.panel.text(Ctl::Edit11).find("F."), std::string::npos) << b.in.panel.text(Ctl::Edit11);
}

TEST(CycleAllocations, LoopbackTestAllocatesNothingInTheCycleUpToItsEnd) {
    Counted b;
    b.power("sim", "noise:dbfs=-100+harmonics:h2=-110");
    for (int i = 0; i < 300; ++i) b.tick();
    const int level = b.in.panel.value(Ctl::genampl);
    std::string why;
    ASSERT_TRUE(operateClick(b.in, "loopback_test", &why)) << why;
    ASSERT_TRUE(b.in.loopbackRunning());
    b.allocatingCycles = 0;
    bool secondLevel = false;
    for (int i = 0; i < 20000 && b.in.loopbackRunning(); ++i) {
        b.tick();
        secondLevel = secondLevel || b.in.panel.value(Ctl::genampl) == 11;
    }
    ASSERT_FALSE(b.in.loopbackRunning());
    EXPECT_TRUE(secondLevel);
    EXPECT_NE(b.in.st.StatusText.find("(stored)"), std::string::npos) << b.in.st.StatusText;
    EXPECT_TRUE(std::filesystem::exists(b.dir / "card-floor.txt"));
    EXPECT_EQ(b.in.panel.value(Ctl::genampl), level) << "the panel as it was";
    EXPECT_EQ(b.allocatingCycles, 0);
}

}  // namespace
}  // namespace miral::core
