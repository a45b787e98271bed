// SPDX-License-Identifier: GPL-3.0-or-later
// The "INPUT-OUTPUT" panel's handlers: with a mixer whose state the tests
// arrange (cards, muted lines, unreadable levels), and with the simulated
// bench's own mixer acting on the signal the instrument measures.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <filesystem>
#include <memory>

#include "audio/alsa_model_card.h"
#include "audio/mixer.h"
#include "core/instrument.h"
#include "core/operate.h"
#include "core/runner.h"

namespace miral::core {
namespace {

namespace fs = std::filesystem;
using audio::Mixer;

struct FakeLine {
    std::string name;
    int volume = 0;
    bool muted = false;
    bool selected = false;
    bool input = true;  // playback: one of the card's inputs mixed into the output
};

// A mixer with two cards: card 0 as arranged by the test, card 1 with one
// playback line and no recording side. Inputs are chosen with the rules the
// real mixers share (several at once unless singleSelect).
class FakeMixer : public Mixer {
  public:
    std::vector<std::string> cards{"Card A", "Card B"};
    std::vector<FakeLine> playback{{"Wave", 1000, true}, {"CD", 2000, false}, {"Mic", 3000, false}};
    std::vector<FakeLine> recording{{"Mic", 4000, false, false}, {"Line", 5000, false, true}};
    std::vector<FakeLine> cardB{{"Speaker", 6000, false}};
    FakeLine master{"Master", 50000, true};
    bool masterReadable = true;
    bool singleSelect = false;
    std::vector<std::string> selectCalls;

    std::vector<std::string> ListMixers() override {
        if (cards.empty()) Fail("no cards");
        return cards;
    }
    audio::MixerLines ListLines(int device) override {
        device_ = device;
        audio::MixerLines out;
        if (device < 0 || device >= static_cast<int>(cards.size())) {
            Fail("no such card");
            return out;
        }
        out.playback.present = true;
        out.playback.name = "Playback";
        for (const FakeLine& l : Lines(0)) {
            out.playback.sources.push_back(l.name);
            out.playback.mixedInputs.push_back(l.input);
        }
        if (device == 0) {
            out.recording.present = true;
            out.recording.name = "Recording";
            for (const FakeLine& l : recording) out.recording.sources.push_back(l.name);
        }
        return out;
    }
    int GetVolume(int d, int s) override {
        FakeLine* l = Find(d, s);
        if (!l || (l == &master && !masterReadable)) return Fail("cannot read"), -1;
        return l->volume;
    }
    bool SetVolume(int d, int s, int v) override {
        FakeLine* l = Find(d, s);
        if (!l) return Fail("no line");
        l->volume = v;
        return true;
    }
    bool GetMute(int d, int s) override {
        FakeLine* l = Find(d, s);
        return !l || l->muted;
    }
    bool SetMute(int d, int s, bool on) override {
        FakeLine* l = Find(d, s);
        if (!l) return Fail("no line");
        l->muted = on;
        return true;
    }
    bool SelectInput(std::string_view name) override {
        selectCalls.emplace_back(name);
        if (!Valid()) return Fail("no card");
        std::vector<std::string> names;
        std::vector<bool> sel;
        for (const FakeLine& l : recording) {
            names.push_back(l.name);
            sel.push_back(l.selected);
        }
        if (audio::ChooseInputs(names, sel, singleSelect, name) == 0) return Fail("no match");
        for (size_t i = 0; i < recording.size(); ++i) recording[i].selected = sel[i];
        return true;
    }
    bool IsInputSelected(std::string_view name) override {
        if (!Valid() || device_ != 0) return Fail("no card");
        std::vector<std::string> names;
        for (const FakeLine& l : recording) names.push_back(l.name);
        const int i = audio::InputNamed(names, name);
        return i >= 0 && recording[static_cast<size_t>(i)].selected;
    }

  private:
    bool Valid() const { return device_ >= 0 && device_ < static_cast<int>(cards.size()); }
    std::vector<FakeLine>& Lines(int d) { return d == 0 ? (device_ == 0 ? playback : cardB) : recording; }
    FakeLine* Find(int d, int s) {
        if (!Valid() || d < 0 || d > 1) return nullptr;
        if (d == 0 && s == -1) return &master;
        std::vector<FakeLine>& lines = Lines(d);
        if (d == 1 && device_ != 0) return nullptr;
        if (s < 0 || s >= static_cast<int>(lines.size())) return nullptr;
        return &lines[static_cast<size_t>(s)];
    }
};

struct Panelled {
    Instrument in;
    FakeMixer* mixer;
    Panelled() {
        auto fake = std::make_unique<FakeMixer>();
        mixer = fake.get();
        in.setMixer(std::move(fake));
    }
    const std::vector<std::string>& items(Ctl c) const { return in.panel.state(c).items; }
};

TEST(MixerHandlers, StartListsTheCardsAndShowsTheAudibleAndRecordingLines) {
    Panelled p;
    p.in.mixerstartClick();
    EXPECT_EQ(p.items(Ctl::card_box), (std::vector<std::string>{"Card A", "Card B"}));
    EXPECT_EQ(p.in.panel.itemIndex(Ctl::card_box), 0);
    EXPECT_EQ(p.items(Ctl::output_box), (std::vector<std::string>{"Wave", "CD", "Mic"}));
    EXPECT_EQ(p.in.panel.itemText(Ctl::output_box), "CD");  // the first line not muted
    EXPECT_EQ(p.in.panel.text(Ctl::output_box), "CD");
    EXPECT_EQ(p.in.panel.position(Ctl::output_bar), 2000);
    EXPECT_EQ(p.items(Ctl::input_box), (std::vector<std::string>{"Mic", "Line"}));
    EXPECT_EQ(p.in.panel.itemText(Ctl::input_box), "Line");  // the selected input
    EXPECT_EQ(p.in.panel.position(Ctl::input_bar), 5000);
    EXPECT_EQ(p.in.panel.position(Ctl::master_bar), 50000);
    EXPECT_FALSE(p.mixer->master.muted);  // the master is always unmuted
    EXPECT_TRUE(p.in.st.InputRestartPending);
}

TEST(MixerHandlers, AllPlaybackLinesMutedKeepsNothingAndTheOutputBar) {
    Panelled p;
    for (FakeLine& l : p.mixer->playback) l.muted = true;
    for (FakeLine& l : p.mixer->recording) l.selected = false;
    p.in.panel.setPosition(Ctl::output_bar, 12345);
    p.in.panel.setPosition(Ctl::input_bar, 23456);
    p.in.mixerstartClick();
    EXPECT_EQ(p.in.panel.text(Ctl::output_box), "Nothing");
    EXPECT_EQ(p.in.panel.itemIndex(Ctl::output_box), -1);
    EXPECT_EQ(p.in.panel.position(Ctl::output_bar), 12345);
    EXPECT_EQ(p.in.panel.text(Ctl::input_box), "Nothing");
    EXPECT_EQ(p.in.panel.position(Ctl::input_bar), 23456);
    // With no line chosen the output bar sets nothing (not the master).
    p.in.panel.userTrackPosition(Ctl::output_bar, 100);
    EXPECT_EQ(p.mixer->master.volume, 50000);
    EXPECT_EQ(p.mixer->playback[0].volume, 1000);
}

TEST(MixerHandlers, AnUnreadableMasterLevelLeavesTheMasterBar) {
    Panelled p;
    p.mixer->masterReadable = false;
    p.in.panel.setPosition(Ctl::master_bar, 777);
    p.in.mixerstartClick();
    EXPECT_EQ(p.in.panel.position(Ctl::master_bar), 777);
    EXPECT_EQ(p.in.panel.itemText(Ctl::output_box), "CD");  // the rest goes on
}

TEST(MixerHandlers, WithoutMixerDevicesEverythingStaysQuiet) {
    Panelled p;
    p.mixer->cards.clear();
    p.in.panel.setItems(Ctl::output_box, {"stale"});
    p.in.mixerstartClick();
    EXPECT_TRUE(p.items(Ctl::card_box).empty());
    EXPECT_EQ(p.in.panel.itemIndex(Ctl::card_box), -1);
    EXPECT_TRUE(p.items(Ctl::output_box).empty());
    EXPECT_EQ(p.in.panel.text(Ctl::output_box), "Nothing");
    EXPECT_EQ(p.in.panel.text(Ctl::input_box), "Nothing");
    EXPECT_EQ(p.in.panel.position(Ctl::master_bar), 65535);
    EXPECT_EQ(p.in.panel.position(Ctl::output_bar), 65535);
    EXPECT_TRUE(p.in.st.InputRestartPending);  // capture still opens, on the default device
    p.in.panel.setRequireShowing(false);
    p.in.panel.userTrackPosition(Ctl::master_bar, 1000);
    EXPECT_FALSE(p.mixer->LastError().empty());
    EXPECT_EQ(p.in.panel.position(Ctl::master_bar), 1000);
}

TEST(MixerHandlers, ChoosingAnOutputLineMutesEveryOther) {
    Panelled p;
    p.in.panel.setRequireShowing(false);
    p.in.mixerstartClick();
    p.in.panel.userSelectItem(Ctl::output_box, 2);
    EXPECT_TRUE(p.mixer->playback[0].muted);
    EXPECT_TRUE(p.mixer->playback[1].muted);
    EXPECT_FALSE(p.mixer->playback[2].muted);
    EXPECT_EQ(p.in.panel.itemText(Ctl::output_box), "Mic");
    EXPECT_EQ(p.in.panel.position(Ctl::output_bar), 3000);
}

// A common HDA card through ALSA: its playback elements are the outputs
// (Master, Headphone, Speaker, Front, PCM) and the card's inputs mixed into
// them (Line, Mic, CD, Beep).
TEST(MixerHandlers, ChoosingAnOutputLineMutesTheMixedInputsButNeverAnOutput) {
    audio::test::ModelCard card;
    Instrument in;
    in.setMixer(audio::MakeAlsaMixer());
    in.panel.setRequireShowing(false);
    in.mixerstartClick();
    ASSERT_EQ(in.panel.itemText(Ctl::card_box), "default") << in.mixer().LastError();
    const std::vector<std::string>& lines = in.panel.state(Ctl::output_box).items;
    auto indexOf = [&](const std::string& name) {
        const auto at = std::find(lines.begin(), lines.end(), name);
        return at == lines.end() ? -1 : static_cast<int>(at - lines.begin());
    };
    const std::vector<std::string> outputs{"Master", "Headphone", "Speaker", "Front"};
    const std::vector<std::string> inputs{"Line", "Mic", "CD"};
    auto switchOn = [&](const std::string& element) {
        const long left = card.Value(element + " Playback Switch", 0);
        EXPECT_EQ(card.Value(element + " Playback Switch", 1), left) << element;
        return left == 1;
    };

    const int pcm = indexOf("PCM");
    ASSERT_GE(pcm, 0);
    in.panel.userSelectItem(Ctl::output_box, pcm);
    for (const std::string& o : outputs) EXPECT_TRUE(switchOn(o)) << o << " must stay audible";
    for (const std::string& i : inputs) EXPECT_FALSE(switchOn(i)) << i << " must be muted";
    EXPECT_EQ(card.Value("Beep Playback Switch"), 0);
    EXPECT_EQ(in.panel.itemText(Ctl::output_box), "PCM");  // the choice stays shown
    EXPECT_EQ(in.panel.position(Ctl::output_bar), 65535);  // with its level

    // Choosing an input's line makes it audible; the other inputs stay muted.
    const int mic = indexOf("Mic");
    ASSERT_GE(mic, 0);
    in.panel.userSelectItem(Ctl::output_box, mic);
    EXPECT_TRUE(switchOn("Mic"));
    EXPECT_FALSE(switchOn("Line"));
    EXPECT_FALSE(switchOn("CD"));
    for (const std::string& o : outputs) EXPECT_TRUE(switchOn(o)) << o;
    EXPECT_EQ(in.panel.itemText(Ctl::output_box), "Mic");
    EXPECT_EQ(in.panel.position(Ctl::output_bar), audio::RangeToLevel(23, 0, 31));

    // Choosing an output does not bring a muted output back either: it
    // leaves the others as they are.
    const int headphone = indexOf("Headphone");
    ASSERT_GE(headphone, 0);
    in.panel.userSelectItem(Ctl::output_box, headphone);
    EXPECT_FALSE(switchOn("Mic"));
    for (const std::string& o : outputs) EXPECT_TRUE(switchOn(o)) << o;
}

TEST(MixerHandlers, ChoosingAnInputNamedLikeSeveralSelectsThemAll) {
    Panelled p;
    p.mixer->recording = {
        {"Mic", 4000}, {"Front Mic", 4100}, {"Rear Mic", 4200}, {"Line", 5000, false, true}};
    p.in.panel.setRequireShowing(false);
    p.in.mixerstartClick();
    EXPECT_EQ(p.in.panel.itemText(Ctl::input_box), "Line");
    p.in.panel.userSelectItem(Ctl::input_box, 0);
    EXPECT_EQ(p.mixer->selectCalls, std::vector<std::string>{"Mic"});
    for (const FakeLine& l : p.mixer->recording) EXPECT_TRUE(l.selected) << l.name;  // "Line" stays on
    EXPECT_EQ(p.in.panel.itemText(Ctl::input_box), "Mic");
    EXPECT_EQ(p.in.panel.position(Ctl::input_bar), 4000);

    // One input at a time: the first of that name, the others off.
    p.mixer->singleSelect = true;
    p.in.panel.userSelectItem(Ctl::input_box, 2);
    EXPECT_EQ(p.mixer->selectCalls.back(), "Rear Mic");
    EXPECT_FALSE(p.mixer->recording[0].selected);
    EXPECT_TRUE(p.mixer->recording[2].selected);
    EXPECT_FALSE(p.mixer->recording[3].selected);
    EXPECT_EQ(p.in.panel.itemText(Ctl::input_box), "Rear Mic");
    EXPECT_EQ(p.in.panel.position(Ctl::input_bar), 4200);
}

TEST(MixerHandlers, BarsSetTheirLinesAndAnotherCardShowsItsOwnLines) {
    Panelled p;
    p.in.panel.setRequireShowing(false);
    p.in.mixerstartClick();
    p.in.panel.userTrackPosition(Ctl::master_bar, 1234);
    p.in.panel.userTrackPosition(Ctl::output_bar, 2345);
    p.in.panel.userTrackPosition(Ctl::input_bar, 3456);
    EXPECT_EQ(p.mixer->master.volume, 1234);
    EXPECT_EQ(p.mixer->playback[1].volume, 2345);   // "CD", the chosen line
    EXPECT_EQ(p.mixer->recording[1].volume, 3456);  // "Line"

    p.in.st.InputRestartPending = false;
    p.in.panel.userSelectItem(Ctl::card_box, 1);
    EXPECT_EQ(p.mixer->Device(), 1);
    EXPECT_EQ(p.items(Ctl::output_box), std::vector<std::string>{"Speaker"});
    EXPECT_EQ(p.in.panel.position(Ctl::output_bar), 6000);
    EXPECT_TRUE(p.items(Ctl::input_box).empty());  // card B records nothing: no lines of card A
    EXPECT_EQ(p.in.panel.text(Ctl::input_box), "Nothing");
    EXPECT_TRUE(p.in.st.InputRestartPending);
}

// The whole instrument on the simulated bench with the bench's own mixer.
TEST(MixerHandlers, TheSimulatedCardsInputLevelActsOnTheMeasuredSignal) {
    const fs::path dir = fs::temp_directory_path() / "miral_mixer_handlers";
    fs::create_directories(dir);
    {
        Instrument in;
        in.setConfigDir(dir);
        in.panel.setRequireShowing(false);
        ASSERT_TRUE(in.streams().SelectDriver("sim", audio::TimeMode::Simulated));
        in.useMixerOfDriver();
        in.FormCreate();
        in.FormActivate();
        Runner runner(in, true);
        runner.start();
        EXPECT_EQ(in.panel.state(Ctl::card_box).items, std::vector<std::string>{"Simulated bench"});
        EXPECT_EQ(in.panel.itemText(Ctl::output_box), "Generator");
        EXPECT_EQ(in.panel.itemText(Ctl::input_box), "Bench input");
        EXPECT_EQ(in.panel.position(Ctl::input_bar), 65535);

        std::string err;
        ASSERT_TRUE(operateSet(in, "genon1", "1", &err)) << err;
        runner.runFor(0.5);
        const double full = in.st.PeakA;
        ASSERT_GT(full, 1000.0);
        in.panel.userTrackPosition(Ctl::input_bar, 32768);
        runner.runFor(0.5);
        EXPECT_NEAR(in.st.PeakA / full, 0.5, 0.01);
        // The gain correction divides by the bar's share of full scale, so
        // the corrected window keeps the level the input had.
        ASSERT_TRUE(in.panel.checked(Ctl::CheckBox4));
        const int n = in.st.FftSize;
        const double corrected = *std::max_element(in.st.TimeWorkA.begin(), in.st.TimeWorkA.begin() + n);
        EXPECT_NEAR(corrected / full, 1.0, 0.01);
    }
    fs::remove_all(dir);
}

// Amplitude of the tone at f in a window (Hann).
double toneAt(const double* x, int n, double f, double rate) {
    std::complex<double> acc = 0;
    for (int i = 0; i < n; ++i)
        acc += x[i] * (0.5 - 0.5 * std::cos(2 * M_PI * i / n)) * std::polar(1.0, -2 * M_PI * f * i / rate);
    return 4.0 * std::abs(acc) / n;
}

// The simulated card's recording level scales the signal by its share of
// full scale, and the correction undoes exactly that at every level, down to
// the lowest steps.
TEST(MixerHandlers, TheSimulatedCardsLevelCorrectionIsExactAtEveryInputLevel) {
    const fs::path dir = fs::temp_directory_path() / "miral_mixer_correction";
    fs::create_directories(dir);
    {
        Instrument in;
        in.setConfigDir(dir);
        in.panel.setRequireShowing(false);
        ASSERT_TRUE(in.streams().SelectDriver("sim", audio::TimeMode::Simulated));
        in.useMixerOfDriver();
        in.FormCreate();
        in.FormActivate();
        Runner runner(in, true);
        runner.start();
        std::string err;
        ASSERT_TRUE(operateSet(in, "genon1", "1", &err)) << err;
        ASSERT_TRUE(in.panel.checked(Ctl::CheckBox4));
        auto levelAt = [&](int position) {
            in.panel.userTrackPosition(Ctl::input_bar, position);
            runner.runFor(0.5);
            return toneAt(in.st.TimeWorkA.data(), in.st.FftSize, 440.0, in.st.AnalysisRate);
        };
        const double full = levelAt(65535);
        ASSERT_GT(full, 1000.0);
        for (int position : {45875, 32768, 655, 66, 7}) {
            const double db = 20 * std::log10(levelAt(position) / full);
            EXPECT_NEAR(db, 0.0, 0.001) << "input level " << position;
        }
    }
    fs::remove_all(dir);
}

}  // namespace
}  // namespace miral::core
