// The automatic calibration on the simulated bench: the timer's steps and
// the title, the measured phase and gain turned into the probe's delay and
// gain, and the panel put back afterwards.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <fstream>
#include <set>

#include "core/store_rig.h"

namespace miral::core {
namespace {

using namespace miral::core::testing;

// The percentages of the screen's calibration title drawn since the last
// call (the recordings are cleared: they would grow).
void collectTitles(Rig& r, std::set<int>* titles) {
    for (const auto& c : r.buffer.callsOf(display::DrawCall::Kind::Text)) {
        if (c.text.rfind("Calibration ", 0) == 0 && c.text.back() == '%') titles->insert(std::stoi(c.text.substr(12)));
    }
    r.buffer.clear();
    r.screen.clear();
}

// Runs whole Timer10 periods on the bench, or (quicker) one processing cycle
// before each step.
void runSteps(Rig& r, int steps, std::set<int>* titles, bool bench = true) {
    for (int i = 0; i < steps; ++i) {
        if (bench) {
            r.runner.runFor(0.1);
        } else {
            r.in.panel.timerTick(Ctl::Timer1);
            r.in.panel.timerTick(Ctl::Timer10);
        }
        collectTitles(r, titles);
    }
}

// A panel that differs from the design where the calibration changes it.
void userPanel(Rig& r) {
    r.set("genfreq", "3000");
    r.set("gentri1", "1");
    r.set("db20", "1");
    r.set("genampl", "60");
    r.set("ylog", "0");
    r.set("Inv1", "1");
    r.set("markerview", "1");
    r.set("CheckBox2", "0");
    r.set("ComboBox5", "Shunt 2");
    r.set("ComboBox3", "16");  // 4096 points keep the runs quick
}

TEST(Calibration, StepsTitleAndTheMeasurementArithmetic) {
    ConfigDir cfg;
    Rig r(cfg.dir);
    userPanel(r);
    r.runner.runFor(0.15);
    const PanelPicture before = picture(r.in.panel);
    const double mainFrequency = r.in.st.MainFrequency;
    r.click("SpeedButton19");
    EXPECT_EQ(r.in.calibrationStep(), 1);
    EXPECT_TRUE(r.in.panel.enabled(Ctl::Timer10));
    std::set<int> titles;
    runSteps(r, 28, &titles, false);  // to step 29
    EXPECT_EQ(r.in.panel.caption(Ctl::Label213), "Calibrating ..29");
    // The analyzer and the generator are set up for the measurement.
    EXPECT_TRUE(r.in.panel.down(Ctl::trasf));
    EXPECT_FALSE(r.in.panel.down(Ctl::markerview));
    EXPECT_TRUE(r.in.panel.down(Ctl::genon1));
    EXPECT_TRUE(r.in.panel.down(Ctl::gensin1));
    EXPECT_TRUE(r.in.panel.down(Ctl::genx4));
    EXPECT_EQ(r.in.panel.value(Ctl::genfreq), 15000);
    EXPECT_EQ(r.in.panel.value(Ctl::genampl), 100);
    EXPECT_TRUE(r.in.panel.down(Ctl::ylog));
    EXPECT_TRUE(r.in.panel.down(Ctl::lowf));  // since step 10
    EXPECT_FALSE(r.in.panel.down(Ctl::db20));
    EXPECT_FALSE(r.in.panel.down(Ctl::Inv1));
    EXPECT_TRUE(r.in.panel.checked(Ctl::CheckBox2));
    EXPECT_DOUBLE_EQ(r.in.st.MainFrequency, 15000);
    runSteps(r, 20, &titles, false);  // to step 49
    ASSERT_EQ(r.in.calibrationStep(), 49);
    r.in.panel.timerTick(Ctl::Timer1);
    collectTitles(r, &titles);
    for (int p = 2; p <= 98; p += 2) EXPECT_EQ(titles.count(p), 1u) << p << "%";
    EXPECT_EQ(titles.size(), 49u);

    // Step 50 on a known measurement: +9 degrees and 1.5 dB at 15 kHz.
    const auto e = static_cast<std::size_t>(15000 / r.in.st.BinWidth);
    r.in.st.DisplayPhase[e] = 9;
    r.in.st.DisplayA[e] = 1.5 / (20 * 0.00021714724972) * r.in.st.ScaleB;
    r.in.panel.setText(Ctl::Edit5, "-0.5");
    r.in.panel.timerTick(Ctl::Timer10);
    // 9 degrees at 15 kHz are 1666.67 ns: from 0 that is -1666.67, cut to
    // eight characters.
    EXPECT_EQ(r.in.panel.text(Ctl::Edit14), "-1666.66");
    EXPECT_EQ(r.in.panel.text(Ctl::Edit5), "1");
    EXPECT_EQ(r.in.panel.caption(Ctl::Label213), "CALIBRATED");
    EXPECT_EQ(r.in.calibrationStep(), 0);
    EXPECT_FALSE(r.in.panel.enabled(Ctl::Timer10));
    // Every other control is back as it was.
    const std::vector<std::string> diff = differences(before, picture(r.in.panel), {Ctl::Edit14, Ctl::Edit5});
    EXPECT_TRUE(diff.empty()) << joined(diff);
    EXPECT_TRUE(r.in.panel.down(Ctl::markerview));
    EXPECT_EQ(r.in.st.LfRestartCount, 0);  // "LF" was up before: it stays up
    EXPECT_DOUBLE_EQ(r.in.st.MainFrequency, mainFrequency);
    r.runner.runFor(1.0);
    EXPECT_FALSE(r.in.panel.down(Ctl::lowf));
    EXPECT_EQ(r.in.panel.text(Ctl::Edit14), "-1666.66");
}

TEST(Calibration, FindsTheDelayAndGainOfChannelBOnTheBench) {
    ConfigDir cfg;
    Rig r(cfg.dir, "delay-b:ns=20000+gain-b:db=-6");
    userPanel(r);
    r.runner.runFor(0.15);
    const PanelPicture before = picture(r.in.panel);
    r.click("SpeedButton19");
    std::set<int> titles;
    runSteps(r, 48, &titles);
    ASSERT_EQ(r.in.calibrationStep(), 49);
    const auto e = static_cast<std::size_t>(15000 / r.in.st.BinWidth);
    if (std::all_of(r.in.st.DisplayPhase.begin(), r.in.st.DisplayPhase.begin() + r.in.st.FftSize / 2,
                    [](double v) { return v == 0; }))
        GTEST_SKIP() << "the transfer-function view draws no phase yet";
    const double phase = r.in.st.DisplayPhase[e];
    runSteps(r, 1, &titles);
    ASSERT_EQ(r.in.calibrationStep(), 0);
    // B late by 20 us at 15 kHz: 108 degrees. The box takes the correction
    // that turns B's phase back by as much: -20000 ns.
    EXPECT_NEAR(phase, 108, 0.5);
    EXPECT_NEAR(std::stod(r.in.panel.text(Ctl::Edit14)), -20000, 50);
    EXPECT_NEAR(std::stod(r.in.panel.text(Ctl::Edit5)), 6.0, 0.2);
    const std::vector<std::string> diff = differences(before, picture(r.in.panel), {Ctl::Edit14, Ctl::Edit5});
    EXPECT_TRUE(diff.empty()) << joined(diff);
    // The values are the selected probe's ("Shunt 2"), kept over a power-off.
    const std::string delay = r.in.panel.text(Ctl::Edit14), gain = r.in.panel.text(Ctl::Edit5);
    EXPECT_DOUBLE_EQ(r.in.st.Probes.delayNs[1], std::stod(delay));
    EXPECT_DOUBLE_EQ(r.in.st.Probes.diffGainDb[1], std::stod(gain));
    r.click("Panel29");
    Rig next(cfg.dir);
    EXPECT_EQ(next.in.panel.itemIndex(Ctl::ComboBox5), 1);
    EXPECT_EQ(next.in.panel.text(Ctl::Edit14), delay);
    EXPECT_EQ(next.in.panel.text(Ctl::Edit5), gain);
}

// The temporary save at the start of a run fails (the folder is gone, or
// the disk is full) while the store still holds the panel of an earlier
// calibration: the run ends with the panel the user had, not that one.
TEST(Calibration, AFailedTemporarySaveStillRestoresThePanelTheUserHad) {
    for (const std::string way : {"a file in place of the folder", "a full disk"}) {
        SCOPED_TRACE(way);
        ConfigDir cfg;
        {
            Rig earlier(cfg.dir);
            earlier.set("genfreq", "2000");
            earlier.set("black", "1");
            earlier.set("ComboBox3", "8");
            earlier.set("Tempo", "1");
            earlier.click("salva");
            ASSERT_EQ(earlier.in.st.StatusText.find("could not"), std::string::npos) << earlier.in.st.StatusText;
        }
        const std::string storedBefore = [&] {
            std::ifstream f(cfg.dir / "registry.txt");
            return std::string(std::istreambuf_iterator<char>(f), {});
        }();
        ASSERT_NE(storedBefore.find("TempStates"), std::string::npos);
        Rig r(cfg.dir);
        userPanel(r);
        r.runner.runFor(0.15);
        const PanelPicture before = picture(r.in.panel);
        r.click("SpeedButton19");
        r.in.panel.timerTick(Ctl::Timer1);
        // Step 2 saves the panel: let it fail.
        const fs::path away = cfg.dir.string() + ".away";
        rlimit oldLimit{};
        void (*oldHandler)(int) = SIG_DFL;
        if (way == "a full disk") {
            ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &oldLimit), 0);
            rlimit small = oldLimit;
            small.rlim_cur = 100;  // bytes: far less than the store
            oldHandler = std::signal(SIGXFSZ, SIG_IGN);
            ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
        } else {
            fs::rename(cfg.dir, away);
            std::ofstream(cfg.dir) << "not a folder";
        }
        r.in.panel.timerTick(Ctl::Timer10);
        if (way == "a full disk") {
            setrlimit(RLIMIT_FSIZE, &oldLimit);
            std::signal(SIGXFSZ, oldHandler);
        } else {
            fs::remove(cfg.dir);
            fs::rename(away, cfg.dir);
        }
        ASSERT_EQ(r.in.calibrationStep(), 2);
        EXPECT_NE(r.in.st.StatusText.find("registry.txt"), std::string::npos) << r.in.st.StatusText;
        // The earlier calibration's panel is still in the store, untouched.
        std::ifstream f(cfg.dir / "registry.txt");
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(f), {}), storedBefore);
        std::set<int> titles;
        runSteps(r, 48, &titles, false);
        ASSERT_EQ(r.in.calibrationStep(), 0);
        const std::vector<std::string> diff = differences(before, picture(r.in.panel), {Ctl::Edit14, Ctl::Edit5});
        EXPECT_TRUE(diff.empty()) << joined(diff);
        // A later start without a copy of its own restores the stored one.
        Rig later(cfg.dir);
        later.click("ripristina");
        EXPECT_EQ(later.in.panel.value(Ctl::genfreq), 2000);
        EXPECT_TRUE(later.in.panel.down(Ctl::black));
        EXPECT_TRUE(later.in.panel.down(Ctl::Tempo));
    }
}

}  // namespace
}  // namespace miral::core
