// SPDX-License-Identifier: GPL-3.0-or-later
// Power-off and power-on: the panel stored in the registry file and
// prefs.dat by one instrument comes back in the next one; first runs,
// voided and damaged stores come up with the defaults.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <limits>
#include <sstream>

#include "audio/sim_driver.h"
#include "core/store_rig.h"
#include "file_limits.h"
#include "storage/panel_store.h"
#include "storage/preferences.h"
#include "support/file_bytes.h"

namespace miral::core {
namespace {

using namespace miral::core::testing;

constexpr const char* kStates = "Software\\Zorvane\\V1_005\\States";

struct KnobDefault {
    Ctl knob;
    int value;
};
constexpr KnobDefault kKnobDefaults[] = {
    {Ctl::genampl2, 100},  {Ctl::pos1, 10},      {Ctl::range1, 6},     {Ctl::pos2, -10},
    {Ctl::range2, 6},      {Ctl::mainselect, 4}, {Ctl::pretrigger, 0}, {Ctl::triglevel, 0},
    {Ctl::fftselect, 8},   {Ctl::tb1, 10},       {Ctl::tb2, 160},      {Ctl::tb3, 10},
    {Ctl::tb4, 55},        {Ctl::genfreq, 4400}, {Ctl::genampl, 50},   {Ctl::gensweep, 100},
    {Ctl::genfreq2, 4400},
};

void expectDefaults(const Instrument& in) {
    for (const auto& k : kKnobDefaults) {
        // The band knobs show the band's defaults that the power-on sets
        // after them: 10 Hz to 22050 Hz around 1000 Hz.
        if (k.knob == Ctl::tb1 || k.knob == Ctl::tb2 || k.knob == Ctl::tb4) continue;
        EXPECT_EQ(in.panel.value(k.knob), k.value) << controlName(k.knob);
    }
    EXPECT_EQ(in.panel.value(Ctl::tb1), 10);
    EXPECT_TRUE(in.panel.down(Ctl::tb11));
    EXPECT_EQ(in.panel.value(Ctl::tb2), 220);
    EXPECT_TRUE(in.panel.down(Ctl::tb23));
    EXPECT_EQ(in.panel.value(Ctl::tb4), 10);
    EXPECT_TRUE(in.panel.down(Ctl::tb43));
    EXPECT_EQ(in.panel.itemIndex(Ctl::ComboBox1), 2);  // "PERSONAL 2"
    EXPECT_EQ(in.selectedScheme(), 2);
    for (int k = 0; k < kSchemeCount; ++k)
        for (int slot = 1; slot <= 18; ++slot)
            EXPECT_EQ(in.schemeColor(k, slot), designedColor(slot)) << k << "/" << slot;
    for (int slot = 1; slot <= 18; ++slot) EXPECT_EQ(in.slotColor(slot), designedColor(slot)) << slot;
    EXPECT_EQ(in.panel.itemIndex(Ctl::ComboBox5), 0);
}

storage::Registry readRegistry(const fs::path& dir) {
    storage::Registry reg(dir / storage::kRegistryFileName);
    EXPECT_EQ(reg.load(), storage::LoadStatus::Loaded) << reg.message();
    return reg;
}

std::string recordOf(Ctl c) {
    return std::string(Panel().def(c).kind == Kind::Knob ? "CmpI" : "CmpB") + std::to_string(idx(c));
}

using miral::testing::fileBytes;

// The simulated bench as a card of one rate, as a JACK server is.
class OneRateBench final : public audio::SimDriver {
  public:
    OneRateBench() : SimDriver(audio::TimeMode::Simulated, audio::DutSetup{}) {}
    int FixedRate() const override { return 48000; }
};

TEST(PowerOn, ACardOfOneRateRunsEveryViewAtItAndTheUsersRatesStayStored) {
    ConfigDir cfg;
    {
        Rig r(cfg.dir);
        r.set("ComboBox2", "96000");
        r.set("ComboBox4", "88200");
        r.click("Panel29");
    }
    {
        Instrument in;
        in.setConfigDir(cfg.dir);
        in.panel.setRequireShowing(false);
        in.streams().UseDriver(std::make_unique<OneRateBench>());
        in.useMixerOfDriver();
        in.FormCreate();
        in.FormActivate();
        Runner runner(in, true);
        runner.start();
        runner.runFor(0.3);
        EXPECT_EQ(in.st.AdcRate, 48000);
        EXPECT_EQ(in.st.DacRate, 48000);
        EXPECT_EQ(in.st.CaptureRate, 48000);
        EXPECT_EQ(in.panel.itemText(Ctl::ComboBox2), "48000");
        EXPECT_EQ(in.panel.itemText(Ctl::ComboBox4), "48000");
        EXPECT_FALSE(in.panel.state(Ctl::ComboBox2).enabled);
        // Every time base runs at the card's rate (none asks for the default
        // 44100 Hz or a multiple).
        std::string err;
        ASSERT_TRUE(operateSet(in, "Tempo", "1", &err)) << err;
        for (int position = 0; position <= 8; ++position) {
            ASSERT_TRUE(operateSet(in, "mainselect", std::to_string(position), &err)) << err;
            runner.runFor(0.2);
            EXPECT_EQ(in.st.CaptureRate, 48000) << position;
            EXPECT_EQ(in.streams().CaptureRate(), 48000) << position;
        }
        ASSERT_TRUE(operateClick(in, "Panel29", &err)) << err;
    }
    // On a card that takes any rate the user's own rates come back.
    Rig r(cfg.dir);
    EXPECT_EQ(r.in.panel.itemText(Ctl::ComboBox2), "96000");
    EXPECT_EQ(r.in.panel.itemText(Ctl::ComboBox4), "88200");
    EXPECT_TRUE(r.in.panel.state(Ctl::ComboBox2).enabled);
    EXPECT_EQ(r.in.st.AdcRate, 96000);
}

TEST(PowerOn, FirstRunComesUpWithTheDefaults) {
    ConfigDir cfg;
    Rig r(cfg.dir);
    expectDefaults(r.in);
    EXPECT_DOUBLE_EQ(r.in.st.FreqCorr, 1.0);
    EXPECT_TRUE(r.in.panel.down(Ctl::Frequenza));
    EXPECT_EQ(r.in.st.CaptureRate, 44100);
    EXPECT_EQ(r.in.st.Decimation, 1);
    // The probe boxes and the probe table agree from the start.
    EXPECT_EQ(r.in.panel.text(Ctl::Edit9), "10");
    EXPECT_EQ(r.in.panel.text(Ctl::Edit10), "10000");
    EXPECT_EQ(r.in.panel.text(Ctl::Edit14), "0");
    EXPECT_EQ(r.in.st.Probes.shuntOhm[7], 10);
    EXPECT_EQ(r.in.st.Probes.inputImpedance, 10000);
    EXPECT_EQ(r.in.st.StatusText, "");
    // Nothing is written before the power button.
    EXPECT_FALSE(fs::exists(cfg.dir / storage::kRegistryFileName));
    EXPECT_FALSE(fs::exists(cfg.dir / storage::kPrefsDatFileName));
    // The capture opens at 44100 Hz on the next housekeeping tick.
    r.runner.runFor(0.2);
    EXPECT_TRUE(r.in.streams().CaptureRunning());
}

TEST(PowerOff, TheNextStartHasTheSamePanel) {
    ConfigDir cfg;
    PanelPicture before;
    {
        Rig r(cfg.dir);
        // One change of every kind: latching groups and toggles, check boxes,
        // radios, knobs, combos, track bars, the window and the handles.
        r.set("Tempo", "1");
        r.set("mainselect", "6");
        r.set("pos1", "30");
        r.set("range1", "3");
        r.set("pos2", "-40");
        r.set("triglevel", "-20");
        r.set("pretrigger", "30");
        r.set("sourceb", "1");
        r.set("Slope", "1");
        r.set("trignorm", "1");
        r.set("modea", "1");
        r.set("black", "1");
        r.set("Inv2", "1");
        r.set("dc1", "1");
        r.set("gnd2", "1");
        r.set("xlog", "0");
        r.set("roll", "1");
        r.set("genx2", "1");
        r.set("gentri1", "1");
        r.set("db20", "1");
        r.set("genfreq", "2500");
        r.set("genampl", "70");
        r.set("gensweep", "40");
        r.set("genampl2", "40");
        r.set("genfreq2", "3000");
        r.set("geny3", "1");
        r.set("gensqr2", "1");
        r.set("croma", "1");
        r.set("color", "1");
        r.set("tb3", "25");
        r.set("monof", "1");
        r.set("vedifreq", "1");
        r.set("CheckBox1", "0");
        r.set("CheckBox3", "1");
        r.set("CheckBox6", "1");
        r.set("RadioButton3", "1");
        r.set("CheckBox9", "0");
        r.set("split1", "0");
        r.set("CheckBox12", "0");
        r.set("tic2", "1");
        r.set("ComboBox3", "8");
        r.set("ComboBox2", "48000");
        r.set("ComboBox4", "32000");
        r.set("ComboBox5", "Probe 1");
        r.set("master_bar", "30000");
        r.set("output_bar", "12345");
        r.click("Label131");                                                     // the sweep range label
        r.in.panel.userMouseDown(Ctl::genstart1, MouseButton::Right, 0, 0, {});  // the modulation word
        r.in.panel.setFormPos(123, 45);
        r.in.panel.setBounds(Ctl::mark3x, 200, r.in.panel.state(Ctl::mark3x).top, 9, 9);
        r.in.panel.setTag(Ctl::mark3x, 1);
        r.set("hold", "1");
        r.runner.runFor(0.3);
        ASSERT_EQ(r.in.st.SidePanelMode, 2);
        before = picture(r.in.panel);
        const std::string modul = r.in.panel.caption(Ctl::Label129);
        const std::string duty = r.in.panel.caption(Ctl::Label131);
        const int modulation = r.in.st.ModulationMode;
        r.click("Panel29");
        EXPECT_TRUE(r.in.terminateRequested());

        Rig next(cfg.dir);
        // Every control comes back, except what the power-on sets itself:
        // "HOLD" is released, the band knobs take the band's defaults, the
        // power and panel buttons show the instrument on and its side area.
        const std::vector<std::string> diff = differences(
            before, picture(next.in.panel),
            {Ctl::hold, Ctl::Panel29, Ctl::fun, Ctl::tb1, Ctl::tb2, Ctl::tb4, Ctl::tb11, Ctl::tb12, Ctl::tb13,
             Ctl::tb21, Ctl::tb22, Ctl::tb23, Ctl::tb41, Ctl::tb42, Ctl::tb43});
        EXPECT_TRUE(diff.empty()) << joined(diff);
        EXPECT_FALSE(next.in.panel.down(Ctl::hold));
        EXPECT_TRUE(next.in.panel.down(Ctl::Panel29));
        EXPECT_EQ(next.in.panel.caption(Ctl::Label129), modul);
        EXPECT_EQ(next.in.panel.caption(Ctl::Label131), duty);
        EXPECT_EQ(next.in.st.ModulationMode, modulation);
        EXPECT_EQ(next.in.panel.formLeft(), 123);
        EXPECT_EQ(next.in.panel.formTop(), 45);
        EXPECT_EQ(next.in.panel.state(Ctl::mark3x).left, 200);
        EXPECT_EQ(next.in.panel.tag(Ctl::mark3x), 1);
        EXPECT_EQ(next.in.st.SidePanelMode, 2);
        EXPECT_TRUE(next.in.panel.visible(Ctl::pan2a));
        // The rates and the time base are set up from the restored controls.
        EXPECT_EQ(next.in.st.AdcRate, 48000);
        EXPECT_EQ(next.in.st.DacRate, 32000);
        EXPECT_EQ(next.in.st.FftDivider, 8);
        EXPECT_EQ(next.in.st.TimeBaseStep, 6);
        EXPECT_DOUBLE_EQ(next.in.st.FreqCorr, 1.0);
    }
    // The store has one value per control of a stored kind.
    storage::Registry reg = readRegistry(cfg.dir);
    const storage::RegistryKey* key = reg.findKey(kStates);
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(key->readInt("check_all"), 346);
    int records = 0;
    for (int i = 0; i < kControlCount; ++i) {
        if (before.values[i].empty()) continue;
        ++records;
        const Ctl c = static_cast<Ctl>(i);
        if (c == Ctl::Panel29) continue;  // the power-off click released it
        const storage::RegistryValue* v = key->find(recordOf(c));
        ASSERT_NE(v, nullptr) << controlName(c);
        EXPECT_EQ(v->isText ? "'" + v->text + "'" : std::to_string(v->number), before.values[i])
            << controlName(c);
    }
    EXPECT_EQ(key->size(), static_cast<std::size_t>(records) + 17);  // and the 17 header values
    const char* header[] = {"check_all", "f1l",  "f1t", "mk1",    "mk2",     "mk3",   "mk4",  "mk1T", "mk2T",
                            "mk3T",      "mk4T", "SPS", "Status", "Status2", "modul", "duty", "Scale"};
    for (std::size_t i = 0; i < std::size(header); ++i) EXPECT_EQ(key->values()[i].first, header[i]);
    EXPECT_EQ(fs::file_size(cfg.dir / storage::kPrefsDatFileName), 1440u);
}

TEST(PowerOff, FromTheSettingsPagesTheNextStartShowsTheTuner) {
    ConfigDir cfg;
    {
        Rig r(cfg.dir);
        r.in.panel.userPress(Ctl::fun, MouseButton::Right);  // the settings pages
        ASSERT_EQ(r.in.st.SidePanelMode, 0);
        r.click("Label31");  // the power button's caption also switches off
        ASSERT_TRUE(r.in.terminateRequested());
    }
    EXPECT_EQ(readRegistry(cfg.dir).findKey(kStates)->readInt("Status"), 1);
    Rig next(cfg.dir);
    EXPECT_EQ(next.in.st.SidePanelMode, 1);
    EXPECT_TRUE(next.in.panel.visible(Ctl::pan1));
    EXPECT_FALSE(next.in.panel.visible(Ctl::pan2a));
    EXPECT_TRUE(next.in.panel.down(Ctl::fun));
    EXPECT_EQ(next.in.panel.formWidth(), 848);
}

TEST(PowerOff, ResetButtonMakesTheNextStartIgnoreTheStoredPanel) {
    ConfigDir cfg;
    {
        Rig r(cfg.dir);
        r.set("genfreq", "2000");
        r.set("black", "1");
        r.click("Panel29");
    }
    {
        Rig r(cfg.dir);
        EXPECT_EQ(r.in.panel.value(Ctl::genfreq), 2000);
        r.click("SpeedButton22");
        EXPECT_TRUE(r.in.terminateRequested());
    }
    // The records are still there, but the state is void.
    const storage::Registry reg = readRegistry(cfg.dir);
    const storage::RegistryKey* key = reg.findKey(kStates);
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(key->readInt("check_all"), 0);
    EXPECT_EQ(key->readInt(recordOf(Ctl::genfreq)), 2000);
    Rig r(cfg.dir);
    expectDefaults(r.in);
    EXPECT_TRUE(r.in.panel.down(Ctl::hann));
    EXPECT_FALSE(r.in.panel.down(Ctl::black));
}

TEST(PowerOn, TwentyFourBitStreamsFromTheFirstOpen) {
    ConfigDir cfg;
    std::ofstream(cfg.dir / "Prefs.ini") << "DAC_Bits=24\nADC_Bits=24\n";
    {
        Rig r(cfg.dir);
        r.set("genon1", "1");  // before the first housekeeping tick
        ASSERT_TRUE(r.in.streams().PlaybackRunning());
        EXPECT_EQ(r.in.streams().PlaybackFormat(), audio::SampleFormat::Int24);
        r.click("Panel29");
    }
    // The power-on switches the stored generator on in its first cycle.
    Rig next(cfg.dir);
    ASSERT_TRUE(next.in.panel.down(Ctl::genon1));
    ASSERT_TRUE(next.in.streams().PlaybackRunning());
    EXPECT_EQ(next.in.streams().PlaybackFormat(), audio::SampleFormat::Int24);
    EXPECT_FALSE(next.in.streams().CaptureRunning());
    next.runner.runFor(0.15);  // the first housekeeping tick opens the capture
    ASSERT_TRUE(next.in.streams().CaptureRunning());
    EXPECT_EQ(next.in.streams().CaptureFormat(), audio::SampleFormat::Int24);
    EXPECT_EQ(next.in.streams().PlaybackFormat(), audio::SampleFormat::Int24);
    // Above the 24-bit limit (88200 by default) the streams use float.
    next.set("ComboBox4", "96000");
    EXPECT_EQ(next.in.streams().PlaybackFormat(), audio::SampleFormat::Float32);
}

TEST(PowerOn, ProbeBoxesAndColoursComeFromPrefsDatNotFromTheStore) {
    ConfigDir cfg;
    {
        Rig r(cfg.dir);
        r.set("ComboBox5", "Shunt 3");
        r.set("ComboBox1", "PERSONAL 5");
        r.in.setSchemeColor(5, SlotBackground, display::rgb(1, 2, 3));
        r.in.coloClick();
        r.in.st.Probes.delayNs[2] = 123.5;
        r.in.st.Probes.diffGainDb[2] = -0.25;
        r.in.st.Probes.inputImpedance = 1e6;
        r.in.panel.setText(Ctl::Edit14, "999");  // what the store will hold for the box
        r.click("Panel29");
    }
    ASSERT_EQ(readRegistry(cfg.dir).findKey(kStates)->readText(recordOf(Ctl::Edit14)), "999");
    Rig r(cfg.dir);
    EXPECT_EQ(r.in.panel.itemIndex(Ctl::ComboBox5), 2);
    EXPECT_EQ(r.in.panel.text(Ctl::Edit14), "123.5");
    EXPECT_EQ(r.in.panel.text(Ctl::Edit5), "-0.25");
    EXPECT_EQ(r.in.panel.text(Ctl::Edit10), "1000000");
    EXPECT_EQ(r.in.panel.itemIndex(Ctl::ComboBox1), 5);
    EXPECT_EQ(r.in.selectedScheme(), 5);
    EXPECT_EQ(r.in.slotColor(SlotBackground), display::rgb(1, 2, 3));
    EXPECT_EQ(r.in.schemeColor(4, SlotBackground), designedColor(SlotBackground));
}

TEST(PowerOn, AStateOfAnotherLayoutOrWithValuesMissingIsHandledSafely) {
    ConfigDir cfg;
    {
        Rig r(cfg.dir);
        r.set("genfreq", "2000");
        r.set("black", "1");
        r.click("Panel29");
    }
    // A value missing from a valid state leaves its control as designed.
    {
        storage::Registry reg = readRegistry(cfg.dir);
        storage::Registry edited(reg.file());
        storage::RegistryKey* to = edited.openKey(kStates, true);
        for (const auto& [name, v] : reg.findKey(kStates)->values()) {
            if (name == recordOf(Ctl::black)) continue;
            if (v.isText) {
                to->setText(name, v.text);
            } else {
                to->setInt(name, v.number);
            }
        }
        std::string error;
        ASSERT_TRUE(edited.save(&error)) << error;
    }
    {
        Rig r(cfg.dir);
        EXPECT_EQ(r.in.panel.value(Ctl::genfreq), 2000);
        // Black's record is gone: it keeps its designed state (up), and Hann
        // follows its own record (up), so no window is chosen.
        EXPECT_FALSE(r.in.panel.down(Ctl::black));
        EXPECT_FALSE(r.in.panel.down(Ctl::hann));
    }
    // Another panel layout stored a different component count: ignored whole.
    {
        storage::Registry reg = readRegistry(cfg.dir);
        reg.openKey(kStates, false)->setInt("check_all", 333);
        std::string error;
        ASSERT_TRUE(reg.save(&error)) << error;
    }
    Rig r(cfg.dir);
    expectDefaults(r.in);
}

TEST(PowerOn, DamagedStoreAndPrefsDatGiveDefaultsAMessageAndAreKeptAside) {
    ConfigDir cfg;
    const fs::path regFile = cfg.dir / storage::kRegistryFileName;
    const fs::path datFile = cfg.dir / storage::kPrefsDatFileName;
    {
        Rig r(cfg.dir);
        r.set("genfreq", "2000");
        r.set("ComboBox1", "PERSONAL 4");
        r.click("Panel29");
    }
    // A store cut short and a prefs.dat with garbage at its end.
    const std::string reg = fileBytes(regFile);
    const std::string cut = reg.substr(0, reg.size() / 2);
    std::ofstream(regFile, std::ios::binary | std::ios::trunc) << cut;
    const std::string dat = fileBytes(datFile).substr(0, 1000);
    std::ofstream(datFile, std::ios::binary | std::ios::trunc) << dat;
    {
        Rig r(cfg.dir);
        expectDefaults(r.in);
        EXPECT_NE(r.in.st.StatusText.find("registry.txt is damaged"), std::string::npos)
            << r.in.st.StatusText;
        EXPECT_NE(r.in.st.StatusText.find("prefs.dat is damaged"), std::string::npos) << r.in.st.StatusText;
        // The message stays while the housekeeping tick rewrites the status line.
        r.runner.runFor(0.25);
        EXPECT_NE(r.in.st.StatusText.find("prefs.dat is damaged"), std::string::npos) << r.in.st.StatusText;
        // The damaged files are kept aside as they were.
        EXPECT_FALSE(fs::exists(regFile));
        EXPECT_FALSE(fs::exists(datFile));
        EXPECT_EQ(fileBytes(cfg.dir / "registry.txt.bad"), cut);
        EXPECT_EQ(fileBytes(cfg.dir / "prefs.dat.bad"), dat);
        r.set("genfreq", "3000");
        r.click("Panel29");
    }
    // The next orderly power-off wrote good ones; the bad ones are still there.
    EXPECT_TRUE(fs::exists(cfg.dir / "registry.txt.bad"));
    Rig r(cfg.dir);
    EXPECT_EQ(r.in.panel.value(Ctl::genfreq), 3000);
    EXPECT_EQ(r.in.st.StatusText, "");
}

TEST(PowerOff, AStoreThatCannotBeWrittenKeepsTheInstrumentOn) {
    ConfigDir cfg;
    fs::create_directory(cfg.dir / storage::kRegistryFileName);  // in the way of the file
    Rig r(cfg.dir);
    EXPECT_NE(r.in.st.StatusText.find("unreadable"), std::string::npos) << r.in.st.StatusText;
    r.click("Panel29");
    EXPECT_FALSE(r.in.terminateRequested());
    EXPECT_TRUE(r.in.panel.down(Ctl::Panel29));
    EXPECT_NE(r.in.st.StatusText.find("The panel was not stored"), std::string::npos) << r.in.st.StatusText;
    r.click("SpeedButton22");
    EXPECT_FALSE(r.in.terminateRequested());
    // Once the way is free, the button works.
    fs::remove(cfg.dir / storage::kRegistryFileName);
    r.click("Panel29");
    EXPECT_TRUE(r.in.terminateRequested());
}

int occurrences(const std::string& text, const std::string& what) {
    int n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

// Values of Prefs.ini that would hang the time view or overflow an integer
// take their defaults; the status line names each once.
TEST(PowerOn, PreferencesOutsideTheirRangeFallBackToTheirDefaults) {
    struct Case {
        const char* line;
        const char* field;
        const char* expected;
    };
    const Case cases[] = {
        {"Mag_Scale=100000", "MagScale", "10"},
        {"Mag_Scale=-2147483648", "MagScale", "10"},
        {"num_rx_device=2147483647", "", ""},
        {"Base_Freq=0", "BaseRate", "44100"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        ConfigDir cfg;
        std::ofstream(cfg.dir / "Prefs.ini") << "Probe1=My shunt\n" << c.line << "\nRatio_1=30\n";
        Rig r(cfg.dir);
        // The time view with the "x10" buttons, where the multiplier acts.
        r.set("Tempo", "1");
        r.set("mainselect", "2");
        r.set("dc1", "1");
        r.set("dc2", "1");
        r.set("genon1", "1");
        r.runner.runFor(0.3);
        if (*c.field) {
            const auto value = r.in.printField(c.field);
            ASSERT_TRUE(value);
            EXPECT_EQ(*value, c.expected);
        }
        // The rest of the file still counts.
        EXPECT_EQ(r.in.st.Ratio1, 30);
        EXPECT_EQ(r.in.panel.itemText(Ctl::ComboBox5), "My shunt");
        EXPECT_EQ(r.in.panel.caption(Ctl::Label205), "x" + std::to_string(r.in.st.MagScale));
        const std::string line = c.line;
        const std::string key = line.substr(0, line.find('='));
        EXPECT_EQ(occurrences(r.in.st.StatusText, line + " is outside"), 1) << r.in.st.StatusText;
        EXPECT_EQ(occurrences(r.in.st.StatusText, key), 1) << r.in.st.StatusText;
        EXPECT_NE(r.in.st.StatusText.find("Prefs.ini"), std::string::npos) << r.in.st.StatusText;
        EXPECT_TRUE(r.in.streams().CaptureRunning());
    }
}

// Values in the stored files that the program never writes (an edited or
// damaged store, another program's prefs.dat) take their defaults, with one
// message for each file; nothing overflows on the way (the test build aborts
// on a signed overflow).
TEST(PowerOn, StoredValuesOutsideTheirRangeTakeTheDefaults) {
    ConfigDir cfg;
    {
        Rig r(cfg.dir);
        r.set("pretrigger", "40");
        r.set("pos2", "30");
        r.set("genfreq", "2000");
        r.set("ComboBox5", "Shunt 2");
        r.set("Edit5", "1.5");  // Shunt 2's gain
        r.set("Edit14", "-250");
        r.set("markerview", "1");
        r.in.panel.setTag(Ctl::mark1x, 1);
        r.click("Panel29");
        ASSERT_TRUE(r.in.terminateRequested());
    }
    // The store, edited.
    {
        storage::Registry reg = readRegistry(cfg.dir);
        storage::RegistryKey* key = reg.openKey(kStates, false);
        ASSERT_NE(key, nullptr);
        key->setInt(recordOf(Ctl::pretrigger), 2147483647);
        key->setInt("mk1", -2147483647 - 1);
        key->setInt("SPS", -2147483647 - 1);
        key->setInt(recordOf(Ctl::master_bar), 2147483647);
        key->setInt(recordOf(Ctl::Inv1), -7);
        storage::Registry edited(reg.file());
        storage::RegistryKey* to = edited.openKey(kStates, true);
        for (const auto& [name, v] : key->values()) {
            if (name == recordOf(Ctl::pos2)) continue;  // a knob's record gone missing
            if (v.isText) {
                to->setText(name, v.text);
            } else {
                to->setInt(name, v.number);
            }
        }
        std::string error;
        ASSERT_TRUE(edited.save(&error)) << error;
    }
    // prefs.dat with a gain no card has, on the selected probe, and an input
    // impedance of zero.
    std::string dat = fileBytes(cfg.dir / storage::kPrefsDatFileName);
    ASSERT_EQ(dat.size(), 1440u);
    const double hugeGain = -1e308, noImpedance = 0;
    std::memcpy(dat.data() + 1360 + 8 * 1, &hugeGain, 8);
    std::memcpy(dat.data() + 1344, &noImpedance, 8);
    std::ofstream(cfg.dir / storage::kPrefsDatFileName, std::ios::binary | std::ios::trunc) << dat;
    std::ofstream(cfg.dir / "Prefs.ini") << "num_rx_device=2147483647\n";

    Rig r(cfg.dir);
    // The frequency view with marker 1 on, then the time view with the
    // pretrigger: where the values would act.
    r.runner.runFor(0.3);
    r.set("Tempo", "1");
    r.set("genon1", "1");
    r.runner.runFor(0.3);
    EXPECT_EQ(r.in.panel.value(Ctl::pretrigger), 0);
    EXPECT_EQ(r.in.panel.value(Ctl::pos2), -10);      // the knob's default, not 0
    EXPECT_EQ(r.in.panel.value(Ctl::genfreq), 2000);  // a good record next to the bad ones
    EXPECT_EQ(r.in.panel.state(Ctl::mark1x).left, Panel().state(Ctl::mark1x).left);
    EXPECT_EQ(r.in.panel.tag(Ctl::mark1x), 1);
    EXPECT_EQ(r.in.panel.position(Ctl::master_bar), Panel().state(Ctl::master_bar).position);
    EXPECT_FALSE(r.in.panel.down(Ctl::Inv1));
    EXPECT_EQ(r.in.panel.itemIndex(Ctl::ComboBox5), 1);
    EXPECT_EQ(r.in.panel.text(Ctl::Edit5), "0");  // the gain's default
    EXPECT_EQ(r.in.st.Probes.diffGainDb[1], 0);
    EXPECT_EQ(r.in.panel.text(Ctl::Edit14), "-250");  // the rest of the probe table stays
    EXPECT_EQ(r.in.panel.text(Ctl::Edit10), "10000");
    EXPECT_EQ(r.in.st.Probes.inputImpedance, 10000);
    const std::string& status = r.in.st.StatusText;
    EXPECT_EQ(occurrences(status, "registry.txt"), 1) << status;
    EXPECT_EQ(occurrences(status, "prefs.dat"), 1) << status;
    EXPECT_EQ(occurrences(status, "Prefs.ini"), 1) << status;
    for (const char* part : {"2147483647 is outside 0..100", "mk1 -2147483648 is outside", "SPS -2147483648",
                             "-1e+308 dB is outside -40..40", "num_rx_device=2147483647 is outside"})
        EXPECT_EQ(occurrences(status, part), 1) << part << " in: " << status;
    EXPECT_TRUE(fs::exists(cfg.dir / storage::kPrefsDatFileName));  // not set aside: only values were bad

    // A prefs.dat with a gain that is no number at all is not ours: set
    // aside whole, with the defaults and one message.
    {
        std::string nan = dat;
        const double q = std::numeric_limits<double>::quiet_NaN();
        std::memcpy(nan.data() + 1360 + 8 * 1, &q, 8);
        r.click("Panel29");
        std::ofstream(cfg.dir / storage::kPrefsDatFileName, std::ios::binary | std::ios::trunc) << nan;
    }
    Rig next(cfg.dir);
    next.runner.runFor(0.2);
    EXPECT_EQ(next.in.panel.text(Ctl::Edit5), "0");
    EXPECT_EQ(next.in.st.Probes.diffGainDb[1], 0);
    EXPECT_EQ(occurrences(next.in.st.StatusText, "prefs.dat"), 2)
        << next.in.st.StatusText;  // the file and its copy
    EXPECT_EQ(occurrences(next.in.st.StatusText, "is damaged"), 1) << next.in.st.StatusText;
    EXPECT_EQ(occurrences(next.in.st.StatusText, "registry.txt"), 0) << next.in.st.StatusText;
}

}  // namespace
}  // namespace miral::core

namespace miral::core {
namespace {

// Panels stored by the earlier layouts (334 components, and 335 with the CSV
// box) come back whole; the analyzer's own controls are stored and restored
// like every other. A state of a layout with more controls than this one is
// not this panel.
TEST(PowerOn, APanelStoredBeforeTheDistortionAnalyzerStillRestores) {
    ConfigDir cfg;
    {
        Rig r(cfg.dir);
        r.set("genfreq", "2000");
        r.set("distview", "1");
        r.set("distavg", "16");
        r.set("disthigh", "15000");
        r.click("Panel29");
    }
    {
        Rig r(cfg.dir);
        EXPECT_EQ(r.in.panel.value(Ctl::genfreq), 2000);
        EXPECT_TRUE(r.in.panel.down(Ctl::distview));
        EXPECT_TRUE(r.in.panel.visible(Ctl::pan3));
        EXPECT_EQ(r.in.panel.text(Ctl::distavg), "16");
        EXPECT_EQ(r.in.panel.text(Ctl::disthigh), "15000");
    }
    // The same store as the earlier layout wrote it: its count, no records
    // beyond its last component.
    {
        storage::Registry reg = readRegistry(cfg.dir);
        storage::Registry edited(reg.file());
        storage::RegistryKey* to = edited.openKey(kStates, true);
        for (const auto& [name, v] : reg.findKey(kStates)->values()) {
            if (name.rfind("Cmp", 0) == 0 && std::stoi(name.substr(4)) >= 334) continue;
            if (v.isText) {
                to->setText(name, v.text);
            } else {
                to->setInt(name, name == "check_all" ? 334 : v.number);
            }
        }
        std::string error;
        ASSERT_TRUE(edited.save(&error)) << error;
    }
    {
        Rig r(cfg.dir);
        EXPECT_EQ(r.in.panel.value(Ctl::genfreq), 2000);
        EXPECT_FALSE(r.in.panel.down(Ctl::distview));
        EXPECT_FALSE(r.in.panel.visible(Ctl::pan3));
        EXPECT_EQ(r.in.panel.text(Ctl::distavg), "1");
        EXPECT_EQ(r.in.panel.text(Ctl::disthigh), "20000");
    }
    {
        storage::Registry reg = readRegistry(cfg.dir);
        reg.openKey(kStates, false)->setInt("check_all", kControlCount + 1);
        std::string error;
        ASSERT_TRUE(reg.save(&error)) << error;
    }
    Rig r(cfg.dir);
    EXPECT_NE(r.in.panel.value(Ctl::genfreq), 2000);
}

// ---- Stored files that cannot be written, read or found ---------------------------

std::vector<std::string> listing(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(PowerOff, AFullDiskKeepsTheStoredPanelAndTheInstrumentOn) {
    ConfigDir cfg;
    const fs::path regFile = cfg.dir / storage::kRegistryFileName;
    {
        Rig r(cfg.dir);
        r.set("genfreq", "2000");
        r.click("Panel29");
    }
    const std::string stored = fileBytes(regFile);
    const std::vector<std::string> files = listing(cfg.dir);
    {
        Rig r(cfg.dir);
        r.set("genfreq", "3000");
        {
            miral::testing::FileSizeLimit full(stored.size() / 2);
            r.click("Panel29");
        }
        EXPECT_FALSE(r.in.terminateRequested());
        EXPECT_TRUE(r.in.panel.down(Ctl::Panel29));
        EXPECT_NE(r.in.st.StatusText.find("The panel was not stored (cannot write " + regFile.string() +
                                          ": the file size limit is reached"),
                  std::string::npos)
            << r.in.st.StatusText;
        EXPECT_NE(r.in.st.StatusText.find("the file already there is unchanged"), std::string::npos)
            << r.in.st.StatusText;
        // The panel stored before is whole, and nothing half-written is left.
        EXPECT_EQ(fileBytes(regFile), stored);
        EXPECT_EQ(listing(cfg.dir), files);
        // With room again the same button stores the panel.
        r.click("Panel29");
        EXPECT_TRUE(r.in.terminateRequested());
    }
    Rig r(cfg.dir);
    EXPECT_EQ(r.in.panel.value(Ctl::genfreq), 3000);
}

TEST(PowerOn, AConfigurationFolderThatCannotBeMadeIsNamedAndNothingIsStoredElsewhere) {
    ConfigDir cfg;
    // A file where a folder on the way should be: even root cannot make it.
    const fs::path blocker = cfg.dir / "config";
    std::ofstream(blocker) << "not a folder\n";
    const fs::path wanted = blocker / "miral";
    const fs::path cwd = cfg.dir / "cwd";
    fs::create_directories(cwd);
    const fs::path before = fs::current_path();
    fs::current_path(cwd);
    std::string problem;
    const fs::path dir = storage::configDirectory(wanted, &problem);
    EXPECT_EQ(dir, wanted);
    EXPECT_EQ(problem.rfind("cannot create the configuration folder " + wanted.string() + ": ", 0), 0u)
        << problem;
    EXPECT_NE(problem.find("nothing is stored"), std::string::npos) << problem;
    {
        Rig r(dir, "", problem);
        expectDefaults(r.in);
        // The status line says so at once, and keeps saying it a while.
        EXPECT_NE(r.in.st.StatusText.find(problem), std::string::npos) << r.in.st.StatusText;
        r.runner.runFor(0.25);
        EXPECT_NE(r.in.st.StatusText.find("cannot create the configuration folder"), std::string::npos)
            << r.in.st.StatusText;
        r.set("genfreq", "2000");
        r.click("salva");
        EXPECT_NE(r.in.st.StatusText.find("kept in memory only"), std::string::npos) << r.in.st.StatusText;
        r.click("Panel29");
        EXPECT_FALSE(r.in.terminateRequested());
        EXPECT_NE(r.in.st.StatusText.find(
                      "The panel was not stored (cannot create the configuration folder " + wanted.string()),
                  std::string::npos)
            << r.in.st.StatusText;
        // Nothing went to the current folder, nor anywhere else.
        EXPECT_TRUE(fs::is_empty(cwd));
        EXPECT_EQ(listing(cfg.dir), (std::vector<std::string>{"config", "cwd"}));
        // Once the way is free the folder is made and the panel stored there.
        fs::remove(blocker);
        r.click("Panel29");
        EXPECT_TRUE(r.in.terminateRequested());
    }
    fs::current_path(before);
    EXPECT_TRUE(fs::is_empty(cwd));
    EXPECT_TRUE(fs::exists(wanted / storage::kRegistryFileName));
    Rig r(wanted);
    EXPECT_EQ(r.in.panel.value(Ctl::genfreq), 2000);
}

TEST(PowerOn, AnUnreadableStoreIsKeptAsideAndTheNextPowerOffStoresAfresh) {
    ConfigDir cfg;
    const fs::path regFile = cfg.dir / storage::kRegistryFileName;
    const fs::path datFile = cfg.dir / storage::kPrefsDatFileName;
    {
        Rig r(cfg.dir);
        r.set("genfreq", "2000");
        r.set("ComboBox1", "PERSONAL 4");
        r.click("Panel29");
    }
    const std::string reg = fileBytes(regFile);
    const std::string dat = fileBytes(datFile);
    fs::permissions(regFile, fs::perms::none);
    fs::permissions(datFile, fs::perms::none);
    {
        miral::testing::PermissionsApply asUser;
        Rig r(cfg.dir);
        expectDefaults(r.in);
        EXPECT_NE(r.in.st.StatusText.find("the stored panel is unreadable (cannot read " + regFile.string() +
                                          ": Permission denied)"),
                  std::string::npos)
            << r.in.st.StatusText;
        EXPECT_NE(r.in.st.StatusText.find("kept as " + regFile.string() + ".bad"), std::string::npos)
            << r.in.st.StatusText;
        EXPECT_NE(r.in.st.StatusText.find("kept as " + datFile.string() + ".bad"), std::string::npos)
            << r.in.st.StatusText;
        r.set("genfreq", "3000");
        r.click("Panel29");
        EXPECT_TRUE(r.in.terminateRequested()) << r.in.st.StatusText;
    }
    // The unreadable ones are kept as they were, beside the new ones.
    fs::permissions(cfg.dir / "registry.txt.bad", fs::perms::owner_read);
    fs::permissions(cfg.dir / "prefs.dat.bad", fs::perms::owner_read);
    EXPECT_EQ(fileBytes(cfg.dir / "registry.txt.bad"), reg);
    EXPECT_EQ(fileBytes(cfg.dir / "prefs.dat.bad"), dat);
    Rig r(cfg.dir);
    EXPECT_EQ(r.in.panel.value(Ctl::genfreq), 3000);
    EXPECT_EQ(r.in.st.StatusText, "");
}

TEST(PowerOn, FifosOrFoldersInThePlaceOfTheStoredFilesGiveDefaultsAtOnce) {
    for (const char* kind : {"FIFO", "folder"}) {
        SCOPED_TRACE(kind);
        ConfigDir cfg;
        const fs::path names[] = {cfg.dir / storage::kRegistryFileName, cfg.dir / storage::kPrefsDatFileName,
                                  cfg.dir / "Prefs.ini"};
        for (const fs::path& f : names) {
            if (std::string(kind) == "FIFO") {
                ASSERT_EQ(::mkfifo(f.c_str(), 0600), 0);
            } else {
                fs::create_directory(f);
            }
        }
        // A FIFO with no writer holds an ordinary open for ever: the process
        // is ended after 30 s rather than hanging the test run.
        ::alarm(30);
        Rig r(cfg.dir);
        ::alarm(0);
        expectDefaults(r.in);
        for (const fs::path& f : names)
            EXPECT_NE(r.in.st.StatusText.find("cannot read " + f.string() + ": it is a " + kind),
                      std::string::npos)
                << r.in.st.StatusText;
        // Power-off replaces none of them: the instrument stays on.
        r.click("Panel29");
        EXPECT_FALSE(r.in.terminateRequested());
        EXPECT_NE(r.in.st.StatusText.find("The panel was not stored"), std::string::npos)
            << r.in.st.StatusText;
        const auto type = std::string(kind) == "FIFO" ? fs::file_type::fifo : fs::file_type::directory;
        for (const fs::path& f : names) EXPECT_EQ(fs::status(f).type(), type) << f;
        EXPECT_EQ(listing(cfg.dir), (std::vector<std::string>{"Prefs.ini", "prefs.dat", "registry.txt"}));
    }
}

}  // namespace
}  // namespace miral::core
