// SPDX-License-Identifier: GPL-3.0-or-later
// The automatic calibration on the simulated bench: the timer's steps and
// the title, the measured phase and gain turned into the probe's delay and
// gain, and the panel put back afterwards.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <fstream>
#include <limits>
#include <set>

#include "core/store_rig.h"

namespace miral::core {
namespace {

using namespace miral::core::testing;

// The percentages of the screen's calibration title drawn since the last
// call (the recordings are cleared: they would grow).
void collectTitles(Rig& r, std::set<int>* titles) {
    for (const auto& c : r.buffer.callsOf(display::DrawCall::Kind::Text)) {
        if (c.text.rfind("Calibration ", 0) == 0 && c.text.back() == '%')
            titles->insert(std::stoi(c.text.substr(12)));
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

    // Step 50 on a known measurement: +9 degrees and 1.5 dB at 15 kHz, with
    // the tone on both inputs.
    const auto e = static_cast<std::size_t>(15000 / r.in.st.BinWidth);
    r.in.st.DisplayPhase[e] = 9;
    r.in.st.DisplayA[e] = 1.5 / (20 * 0.00021714724972) * r.in.st.ScaleB;
    r.in.st.PeakA = r.in.st.PeakB = 20000;
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

// Starts a calibration and runs it to step 49 (the last cycle before the
// measurement) without advancing the bench.
void runToMeasurement(Rig& r) {
    std::set<int> titles;
    r.click("SpeedButton19");
    runSteps(r, 48, &titles, false);
    r.in.panel.timerTick(Ctl::Timer1);
    ASSERT_EQ(r.in.calibrationStep(), 49);
}

// Probe values the user had before a run.
void givenProbeValues(Rig& r) {
    r.set("Edit14", "-300");
    r.set("Edit5", "1.5");
}

void expectProbeValuesKept(Rig& r) {
    EXPECT_EQ(r.in.panel.text(Ctl::Edit14), "-300");
    EXPECT_EQ(r.in.panel.text(Ctl::Edit5), "1.5");
    EXPECT_EQ(r.in.st.Probes.delayNs[1], -300);
    EXPECT_EQ(r.in.st.Probes.diffGainDb[1], 1.5);
    EXPECT_NE(r.in.panel.caption(Ctl::Label213), "CALIBRATED");
    EXPECT_EQ(r.in.calibrationStep(), 0);
}

// Channel A not connected (a shunt of 1 mOhm against a device of 1 GOhm: A
// gets 1e-12 of the tone): the analyzer shows its floor, about -90 dB, which
// must not become the probe's gain, run after run.
TEST(Calibration, ASilentChannelIsRefusedAndThePreviousValuesStay) {
    ConfigDir cfg;
    Rig r(cfg.dir, "shunt:R=1m,Z=1G");
    userPanel(r);
    givenProbeValues(r);
    r.runner.runFor(0.15);
    const PanelPicture before = picture(r.in.panel);
    for (int run = 1; run <= 2; ++run) {
        SCOPED_TRACE(run);
        r.click("SpeedButton19");
        std::set<int> titles;
        runSteps(r, 49, &titles, run == 1);  // the first on the bench, the second quicker on what it left
        expectProbeValuesKept(r);
        EXPECT_NE(r.in.st.StatusText.find("Calibration refused (channel A is silent)"), std::string::npos)
            << r.in.st.StatusText;
        const std::vector<std::string> diff = differences(before, picture(r.in.panel));
        EXPECT_TRUE(diff.empty()) << joined(diff);
    }
}

// Channel B 6 dB above full scale: a clipped tone has no trustworthy phase
// or gain.
TEST(Calibration, AClippingChannelIsRefused) {
    ConfigDir cfg;
    Rig r(cfg.dir, "gain-b:db=6");
    userPanel(r);
    givenProbeValues(r);
    r.set("genon1", "1");
    r.set("genampl", "100");
    r.set("db20", "0");  // the full-scale tone that the calibration plays
    r.runner.runFor(0.3);
    ASSERT_GE(r.in.st.PeakB, 32767);
    runToMeasurement(r);
    r.in.panel.timerTick(Ctl::Timer10);
    expectProbeValuesKept(r);
    EXPECT_NE(r.in.st.StatusText.find("Calibration refused (channel B clips)"), std::string::npos)
        << r.in.st.StatusText;
}

// Readings that cannot be a probe's correction: a gain beyond 40 dB, a delay
// beyond the half period (33.3 us) that a phase at 15 kHz tells apart, no
// number at all. Each is refused and the values stay.
TEST(Calibration, ResultsBeyondTheMeasurableRangeAreRefused) {
    ConfigDir cfg;
    Rig r(cfg.dir);
    userPanel(r);
    r.runner.runFor(0.15);
    const struct {
        const char* what;
        const char* delay;  // Edit14 before the run
        double phase, gainDb;
        const char* reason;
    } cases[] = {
        {"gain", "-300", 0, -45, "channel A reads -45.0 dB against B, beyond -40..40 dB"},
        {"gain on top of the previous", "-300", 0, 39, "the gain would be 40.5 dB, beyond -40..40 dB"},
        {"delay", "-32000", 9, 0, "the delay would be -33666.7 ns, beyond the -33333.3..33333.3 ns"},
        {"no number", "-300", std::numeric_limits<double>::quiet_NaN(), 0, "no reading at 15000 Hz"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        r.set("Edit14", c.delay);
        r.set("Edit5", "1.5");
        runToMeasurement(r);
        const auto e = static_cast<std::size_t>(15000 / r.in.st.BinWidth);
        r.in.st.DisplayPhase[e] = c.phase;
        r.in.st.DisplayA[e] = c.gainDb / (20 * 0.00021714724972) * r.in.st.ScaleB;
        r.in.st.PeakA = r.in.st.PeakB = 20000;
        r.in.panel.timerTick(Ctl::Timer10);
        EXPECT_EQ(r.in.panel.text(Ctl::Edit14), c.delay);
        EXPECT_EQ(r.in.panel.text(Ctl::Edit5), "1.5");
        EXPECT_EQ(r.in.st.Probes.diffGainDb[1], 1.5);
        EXPECT_EQ(r.in.calibrationStep(), 0);
        EXPECT_NE(r.in.st.StatusText.find(c.reason), std::string::npos) << r.in.st.StatusText;
    }
    // Just inside: taken.
    r.set("Edit14", "-300");
    runToMeasurement(r);
    const auto e = static_cast<std::size_t>(15000 / r.in.st.BinWidth);
    r.in.st.DisplayPhase[e] = 0;
    r.in.st.DisplayA[e] = 38.5 / (20 * 0.00021714724972) * r.in.st.ScaleB;
    r.in.st.PeakA = r.in.st.PeakB = 20000;
    r.in.panel.timerTick(Ctl::Timer10);
    EXPECT_EQ(r.in.panel.caption(Ctl::Label213), "CALIBRATED");
    EXPECT_NEAR(std::stod(r.in.panel.text(Ctl::Edit5)), 40, 1e-4);
}

// Typed gains and delays outside their ranges are refused: the box goes back
// to the value in force, and the status line says why.
TEST(Calibration, TypedGainsAndDelaysOutsideTheirRangesAreRefused) {
    ConfigDir cfg;
    Rig r(cfg.dir);
    r.set("ComboBox5", "Shunt 2");
    r.set("Edit5", "-12");
    r.set("Edit14", "250");
    r.set("Edit16", "3");
    const struct {
        const char* box;
        const char* typed;
        const char* kept;
        const char* message;
    } cases[] = {
        {"Edit5", "-120", "-12", "-120 dB refused (the range is -40..40 dB)"},
        {"Edit5", "1e308", "-12", "refused (the range is -40..40 dB)"},
        {"Edit16", "100", "3", "100 dB refused (the range is -40..40 dB)"},
        {"Edit14", "5e6", "250", "5000000 ns refused (the range is -1000000..1000000 ns)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.typed);
        r.set(c.box, c.typed);
        EXPECT_EQ(r.in.panel.text(findControl(c.box)), c.kept);
        EXPECT_NE(r.in.st.StatusText.find(c.message), std::string::npos) << r.in.st.StatusText;
    }
    EXPECT_EQ(r.in.st.Probes.diffGainDb[1], -12);
    EXPECT_EQ(r.in.st.Probes.commonGain, 3);
    EXPECT_EQ(r.in.st.Probes.delayNs[1], 250);
    // The edges are inside; the time view runs with them.
    r.set("Edit5", "-40");
    r.set("Edit16", "40");
    r.set("Edit14", "-1000000");
    EXPECT_EQ(r.in.st.Probes.diffGainDb[1], -40);
    EXPECT_EQ(r.in.st.Probes.commonGain, 40);
    EXPECT_EQ(r.in.st.Probes.delayNs[1], -1e6);
    r.set("Tempo", "1");
    r.set("genon1", "1");
    r.runner.runFor(0.1);
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
            ASSERT_EQ(earlier.in.st.StatusText.find("could not"), std::string::npos)
                << earlier.in.st.StatusText;
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
        const std::vector<std::string> diff =
            differences(before, picture(r.in.panel), {Ctl::Edit14, Ctl::Edit5});
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
