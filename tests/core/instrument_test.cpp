// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/instrument.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "core/operate.h"
#include "core/runner.h"
#include "cycle_bench.h"

namespace miral::core {
namespace {

namespace fs = std::filesystem;

// An instrument activated in a private configuration folder, optionally with
// a Prefs.ini, before its first cycle (the power-on restore).
struct Bench : test::CycleBench {
    explicit Bench(const std::string& prefs = "") : CycleBench("core") {
        if (!prefs.empty()) preferences(prefs);
        power("sim", "", false);
    }
};

TEST(FrequencyView, EnteringSetsTheAnalysisFromTheRates) {
    Bench b;
    Instrument& in = b.in;
    EXPECT_EQ(in.st.FftSize, 8192);  // before the first entry: 32768 / divider
    in.FrequenzaClick();
    EXPECT_EQ(in.st.FftSize, 16384);
    // No correction is stored: the card's clock is taken as exact at every rate.
    EXPECT_DOUBLE_EQ(in.st.BinWidth, 44100.0 / 16384);
    EXPECT_DOUBLE_EQ(in.st.FreqCorr, 1.0);
    EXPECT_EQ(in.st.CaptureRate, 44100);
    EXPECT_EQ(in.st.Decimation, 1);
    EXPECT_TRUE(in.st.InputRestartPending);
    EXPECT_TRUE(in.st.FreshCapture);
    EXPECT_FALSE(in.st.DisplayPrimed);
}

TEST(FrequencyView, CorrectionKeysOnlyForTheirRates) {
    Bench b("Freq_Corr_48000=1.002\nFreq_Corr_60000=2\nFreq_Corr_65536=2\n");
    Instrument& in = b.in;
    in.st.AdcRate = 48000;
    in.FrequenzaClick();
    EXPECT_DOUBLE_EQ(in.st.FreqCorr, 1.002);
    for (int rate : {60000, 65536, 32000}) {
        in.st.AdcRate = rate;
        in.FrequenzaClick();
        EXPECT_DOUBLE_EQ(in.st.FreqCorr, 1.0) << rate;  // no key is read for these rates
    }
}

TEST(FrequencyView, BOnlyViewExistsOnlyInTheTimeView) {
    Bench b;
    Instrument& in = b.in;
    in.panel.setDown(Ctl::modeb, true);
    in.FrequenzaClick();
    EXPECT_TRUE(in.panel.down(Ctl::modea));
    EXPECT_FALSE(in.panel.down(Ctl::modeb));
    EXPECT_FALSE(in.panel.enabled(Ctl::modeb));
}

TEST(FrequencyView, LowerBandLimitFollowsTheDivider) {
    Bench b;
    Instrument& in = b.in;
    in.st.FMin = 10;
    in.st.FftDivider = 16;
    in.FrequenzaClick();
    EXPECT_GE(in.st.FMin, 32);
    EXPECT_EQ(in.panel.value(Ctl::tb1), 32);  // the band is put back onto the knobs
    EXPECT_TRUE(in.panel.down(Ctl::tb11));
    for (int d : {1, 2}) {
        in.st.FMin = 1;
        in.st.FftDivider = d;
        in.FrequenzaClick();
        EXPECT_DOUBLE_EQ(in.st.FMin, 5);
    }
}

TEST(FrequencyView, NothingChangesInTheTimeView) {
    Bench b;
    Instrument& in = b.in;
    in.panel.setDown(Ctl::Tempo, true);
    in.st.InputRestartPending = false;
    in.st.AdcRate = 96000;
    InstrumentState before = in.st;
    in.FrequenzaClick();
    EXPECT_EQ(in.st.FftSize, before.FftSize);
    EXPECT_EQ(in.st.AnalysisRate, before.AnalysisRate);
    EXPECT_EQ(in.st.BinWidth, before.BinWidth);
    EXPECT_FALSE(in.st.InputRestartPending);
}

TEST(RateCombos, TextThatIsNoIntegerFallsBack) {
    Bench b;
    Instrument& in = b.in;
    for (Ctl c : {Ctl::ComboBox2, Ctl::ComboBox3, Ctl::ComboBox4}) {
        in.panel.setItemIndex(c, -1);
        in.panel.setText(c, "");
    }
    in.st.AdcRate = in.st.DacRate = 8000;
    in.st.FftDivider = 1;
    in.ComboBox1Change();
    EXPECT_EQ(in.st.AdcRate, 44100);
    EXPECT_EQ(in.st.DacRate, 44100);
    EXPECT_EQ(in.st.FftDivider, 4);
    EXPECT_EQ(in.st.FftSize, 16384);
}

TEST(RateCombos, ChoosingARateReachesTheAnalysis) {
    Bench b;
    Instrument& in = b.in;
    std::string err;
    ASSERT_TRUE(operateSet(in, "ComboBox2", "96000", &err)) << err;
    EXPECT_EQ(in.st.AdcRate, 96000);
    EXPECT_EQ(in.st.AnalysisRate, 96000);
    EXPECT_EQ(in.st.CaptureRate, 96000);
    ASSERT_TRUE(operateSet(in, "ComboBox3", "16", &err)) << err;
    EXPECT_EQ(in.st.FftSize, 4096);
    EXPECT_DOUBLE_EQ(in.st.BinWidth, 16.0 / 65536 * 96000);
}

struct FakeChooser : ColorChooser {
    std::optional<display::Color> answer;
    int shown = 0;
    std::optional<display::Color> choose(display::Color) override {
        ++shown;
        return answer;
    }
};

TEST(ColourSchemes, DefaultSchemeIsReadOnlyAndCancelChangesNothing) {
    Bench b;
    Instrument& in = b.in;
    FakeChooser chooser;
    in.setColorChooser(&chooser);
    std::string err;
    ASSERT_TRUE(operateSet(in, "ComboBox1", "DEFAULT", &err)) << err;
    in.panel.userPress(Ctl::cc5);
    EXPECT_EQ(chooser.shown, 0);
    ASSERT_TRUE(operateSet(in, "ComboBox1", "PERSONAL 3", &err)) << err;
    display::Color before = in.slotColor(SlotXfrGain);
    chooser.answer.reset();
    in.panel.userPress(Ctl::cc5);
    EXPECT_EQ(chooser.shown, 1);
    EXPECT_EQ(in.slotColor(SlotXfrGain), before);
    chooser.answer = before;  // the same colour: the scheme is untouched
    in.panel.userPress(Ctl::cc5);
    EXPECT_EQ(in.schemeColor(3, SlotXfrGain), before);
}

TEST(ColourSchemes, EachSchemeKeepsItsOwnColours) {
    Bench b;
    Instrument& in = b.in;
    FakeChooser chooser;
    in.setColorChooser(&chooser);
    std::string err;
    ASSERT_TRUE(operateSet(in, "ComboBox1", "PERSONAL 3", &err));
    chooser.answer = display::rgb(1, 2, 3);
    in.panel.userPress(Ctl::cc1);
    ASSERT_TRUE(operateSet(in, "ComboBox1", "PERSONAL 4", &err));
    chooser.answer = display::rgb(4, 5, 6);
    in.panel.userPress(Ctl::cc1);
    ASSERT_TRUE(operateSet(in, "ComboBox1", "PERSONAL 3", &err));
    EXPECT_EQ(in.slotColor(SlotBackground), display::rgb(1, 2, 3));
    ASSERT_TRUE(operateSet(in, "ComboBox1", "PERSONAL 4", &err));
    EXPECT_EQ(in.slotColor(SlotBackground), display::rgb(4, 5, 6));
    // The "Fast mode" combo shares the handler: it repaints from the selected scheme too.
    in.panel.setColor(Ctl::cc1, 0);
    ASSERT_TRUE(operateSet(in, "ComboBox3", "8", &err));
    EXPECT_EQ(in.slotColor(SlotBackground), display::rgb(4, 5, 6));
}

TEST(SidePanel, FunCyclesAndRightClickGoesToTheSettings) {
    Bench b;
    Instrument& in = b.in;
    in.showSidePanel(2);
    for (int i = 0; i < 3; ++i) in.panel.userPress(Ctl::fun);
    EXPECT_EQ(in.st.SidePanelMode, 2);
    EXPECT_TRUE(in.panel.visible(Ctl::pan2a));
    EXPECT_TRUE(in.panel.visible(Ctl::pan2b));
    EXPECT_FALSE(in.panel.visible(Ctl::PageControl1));
    in.panel.userPress(Ctl::fun);
    EXPECT_EQ(in.st.SidePanelMode, 0);
    EXPECT_TRUE(in.panel.visible(Ctl::PageControl1));
    EXPECT_FALSE(in.panel.down(Ctl::fun));
    for (int from : {1, 2}) {
        in.showSidePanel(from);
        in.panel.userPress(Ctl::fun, MouseButton::Right);
        EXPECT_EQ(in.st.SidePanelMode, 0);
        EXPECT_FALSE(in.panel.visible(Ctl::pan1));
        EXPECT_EQ(in.panel.formWidth(), 848);
    }
    in.panel.userPress(Ctl::Label211);  // the tuner's "-" does the same
    EXPECT_EQ(in.st.SidePanelMode, 1);
}

TEST(EnlargedScreen, TwoDoubleClicksRestoreTheExactSize) {
    Bench b;
    Instrument& in = b.in;
    in.showSidePanel(0);
    const ControlState before = in.panel.state(Ctl::screen);
    const ControlState pbBefore = in.panel.state(Ctl::PaintBox1);
    in.panel.userDoubleClick(Ctl::PaintBox1);
    EXPECT_TRUE(in.st.EnlargedScreen);
    EXPECT_EQ(in.panel.state(Ctl::screen).width, 840);
    EXPECT_EQ(in.panel.state(Ctl::screen).height, 842 * 418 / 585);
    EXPECT_TRUE(in.panel.visible(Ctl::Panel1));
    EXPECT_EQ(in.panel.state(Ctl::Panel1).top, 602);
    EXPECT_FALSE(in.panel.visible(Ctl::PageControl1));
    EXPECT_FALSE(in.panel.visible(Ctl::SpeedButton22));
    in.panel.setFormSize(900, 722);  // the window changes size in between
    in.panel.userDoubleClick(Ctl::PaintBox1);
    EXPECT_FALSE(in.st.EnlargedScreen);
    EXPECT_EQ(in.panel.state(Ctl::screen).width, before.width);
    EXPECT_EQ(in.panel.state(Ctl::screen).height, before.height);
    EXPECT_EQ(in.panel.state(Ctl::PaintBox1).width, pbBefore.width);
    EXPECT_EQ(in.panel.state(Ctl::PaintBox1).height, pbBefore.height);
    EXPECT_TRUE(in.panel.visible(Ctl::PageControl1));
    EXPECT_FALSE(in.panel.visible(Ctl::Panel1));
}

TEST(Operate, KnobsTurnToEveryValueLikeADrag) {
    Bench b;
    Instrument& in = b.in;
    std::string err;
    for (int v : {-100, -99, -50, -10, -1, 0, 1, 49, 100}) {
        ASSERT_TRUE(operateSet(in, "pos1", std::to_string(v), &err)) << v << ": " << err;
        EXPECT_EQ(in.panel.value(Ctl::pos1), v);
    }
    for (int v : {1000, 1001, 4400, 9999, 10000}) {
        ASSERT_TRUE(operateSet(in, "genfreq", std::to_string(v), &err)) << err;
        EXPECT_EQ(in.panel.value(Ctl::genfreq), v);
    }
    EXPECT_FALSE(operateSet(in, "pos1", "101", &err));
    EXPECT_FALSE(operateSet(in, "pos1", "1.5", &err));
}

TEST(Operate, ErrorsNameTheProblem) {
    Bench b;
    Instrument& in = b.in;
    std::string err;
    EXPECT_FALSE(operateSet(in, "nosuch", "1", &err));
    EXPECT_NE(err.find("unknown control"), std::string::npos);
    EXPECT_FALSE(operateSet(in, "Tempo", "yes", &err));
    EXPECT_FALSE(operateSet(in, "Frequenza", "0", &err));  // the view group keeps one button down
    EXPECT_FALSE(operateSet(in, "ComboBox2", "12345", &err));
    EXPECT_NE(err.find("44100"), std::string::npos);
    EXPECT_FALSE(operateSet(in, "Label3", "x", &err));
    in.FrequenzaClick();
    EXPECT_FALSE(operateSet(in, "modeb", "1", &err));
    EXPECT_NE(err.find("disabled"), std::string::npos);
    std::string line;
    EXPECT_TRUE(operatePrint(in, "BinWidth", &line, &err));
    EXPECT_TRUE(operatePrint(in, "Label3", &line, &err));
    EXPECT_EQ(line, "Label3=  Miral Realtime Analyzer");
    EXPECT_FALSE(operatePrint(in, "Nonsense", &line, &err));
}

TEST(StartUp, ProbeNamesComeFromThePreferences) {
    {
        Bench b;
        const auto& items = b.in.panel.state(Ctl::ComboBox5).items;
        ASSERT_EQ(items.size(), 10u);
        EXPECT_EQ(items.front(), "Shunt 1");
        EXPECT_EQ(items[4], "Probe 1");
        EXPECT_EQ(items.back(), "User 2");
    }
    Bench b2("Probe3=10 mOhm shunt\n");
    EXPECT_EQ(b2.in.panel.state(Ctl::ComboBox5).items[2], "10 mOhm shunt");
    EXPECT_EQ(b2.in.panel.hint(Ctl::tb2), "10#200");
    Bench b3("tune_max_freq=300\ntune_center_freq=250\n");
    EXPECT_EQ(b3.in.panel.hint(Ctl::tb2), "10#300");
    EXPECT_EQ(b3.in.panel.hint(Ctl::tb4), "10#250");
}

}  // namespace
}  // namespace miral::core

namespace miral::core {
namespace {

TEST(StartUp, EveryPreferenceReadHasItsRowAndDefault) {
    // Every view, the RLC meter, both generators and a time-base change read
    // their keys; each has a row in the table of keys, read with the row's default.
    Bench b;
    Runner& runner = b.runner;
    runner.start();
    std::string err;
    for (const auto& [name, value] : std::vector<std::pair<const char*, const char*>>{{"genon1", "1"},
                                                                                      {"genon2", "1"},
                                                                                      {"Tempo", "1"},
                                                                                      {"mainselect", "3"},
                                                                                      {"trasf", "1"},
                                                                                      {"zeta", "1"},
                                                                                      {"rlcmode", "1"},
                                                                                      {"Frequenza", "1"}}) {
        ASSERT_TRUE(operateSet(b.in, name, value, &err)) << name << ": " << err;
        runner.runFor(0.3);
    }
    EXPECT_TRUE(b.in.prefs.unlistedReads().empty()) << ::testing::PrintToString(b.in.prefs.unlistedReads());
}

TEST(FftSizeKeys, TheFastModeComboFollowsTheDivider) {
    Bench b;
    Instrument& in = b.in;
    in.FrequenzaClick();
    in.panel.userPress(Ctl::Label135);  // "+": divider 4 -> 2
    EXPECT_EQ(in.st.FftDivider, 2);
    EXPECT_EQ(in.panel.text(Ctl::ComboBox3), "2");
    std::string err;
    ASSERT_TRUE(operateSet(in, "ComboBox2", "48000", &err)) << err;
    EXPECT_EQ(in.st.FftDivider, 2);  // a rate change keeps the divider
    EXPECT_EQ(in.st.FftSize, 32768);
}

}  // namespace
}  // namespace miral::core

namespace miral::core {
namespace {

TEST(EnlargedScreen, TheStripsViewKeysSetTheViewUpAtOnce) {
    Bench b;
    Instrument& in = b.in;
    in.panel.userDoubleClick(Ctl::PaintBox1);
    ASSERT_TRUE(in.panel.visible(Ctl::Panel1));
    in.panel.userPress(Ctl::Tempo_bis);
    EXPECT_TRUE(in.panel.down(Ctl::Tempo));
    // The time base of the knob's position ("1Sec" before any restore) is applied.
    ASSERT_EQ(in.panel.value(Ctl::mainselect), 0);
    EXPECT_EQ(in.st.TimeWindow, 4409);
    EXPECT_EQ(in.st.Decimation, 200);
    in.panel.userPress(Ctl::Frequenza_bis);
    EXPECT_TRUE(in.panel.down(Ctl::Frequenza));
    EXPECT_EQ(in.st.Decimation, 1);
}

}  // namespace
}  // namespace miral::core
