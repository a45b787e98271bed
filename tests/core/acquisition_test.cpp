// SPDX-License-Identifier: GPL-3.0-or-later
// The acquisition step of the processing cycle on a ring filled by hand.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <limits>
#include <memory>
#include <optional>

#include "core/instrument.h"

namespace miral::core {
namespace {

// A card with one recording line, "Line", whose level either reports a dB
// scale like many codecs' capture volume (-17.25 .. +30 dB in 63 steps of
// 0.75 dB, the lowest step silent) or reports none.
class LevelCard : public audio::Mixer {
  public:
    bool reportsDb = false;
    int volume = kFullScale;

    std::vector<std::string> ListMixers() override { return {"Card"}; }
    audio::MixerLines ListLines(int device) override {
        device_ = device;
        audio::MixerLines lines;
        lines.recording = {true, "Recording", {"Line"}, {}};
        return lines;
    }
    int GetVolume(int d, int s) override { return d == kRecording && s == 0 ? volume : -1; }
    bool SetVolume(int d, int s, int v) override {
        if (d != kRecording || s != 0) return false;
        volume = v;
        return true;
    }
    bool GetMute(int, int) override { return false; }
    bool SetMute(int, int, bool) override { return true; }
    bool SelectInput(std::string_view) override { return true; }
    bool IsInputSelected(std::string_view name) override { return name == "Line"; }
    std::optional<double> LevelDb(int d, int s, int level) override {
        ++asked;
        if (!reportsDb || d != kRecording || s != 0) return Mixer::LevelDb(d, s, level);
        const long step = audio::LevelToRange(level, 0, 63);
        return step == 0 ? -std::numeric_limits<double>::infinity()
                         : -17.25 + 0.75 * static_cast<double>(step);
    }
    int asked = 0;
};

struct Cycle {
    std::filesystem::path dir;
    Instrument in;
    LevelCard* card;
    Cycle() {
        dir = std::filesystem::temp_directory_path() /
              ("miral_acq_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        std::filesystem::create_directories(dir);
        in.setConfigDir(dir);
        EXPECT_TRUE(in.streams().SelectDriver("sim", audio::TimeMode::Simulated));
        // A mixer of our own: the machine's (its recording level) must not
        // enter the figures.
        auto mixer = std::make_unique<LevelCard>();
        card = mixer.get();
        in.setMixer(std::move(mixer));
        in.FormCreate();
        in.FormActivate();
        in.processingCycle();  // the power-on restore
    }
    ~Cycle() { std::filesystem::remove_all(dir); }
    void fill(float a, float b) {
        for (int i = 0; i < audio::CaptureRing::kSize; ++i) {
            in.ring().CaptureA[i].store(a);
            in.ring().CaptureB[i].store(b);
        }
    }
};

TEST(Acquisition, BarsReachFullScaleAfter36CyclesAndDecay) {
    Cycle c;
    c.fill(1.0f, -0.5f);
    c.in.ring().WriteIndex.store(20000);
    c.in.st.PeakA = c.in.st.PeakB = 0;
    for (int i = 0; i < 35; ++i) c.in.processingCycle();
    EXPECT_LT(c.in.panel.position(Ctl::bar1), 1000);
    c.in.processingCycle();
    EXPECT_EQ(c.in.panel.position(Ctl::bar1), 1000);  // 32768 counts x 0.03125 = 1024: shown full
    EXPECT_NEAR(c.in.st.PeakA, 32768 * (1 - std::pow(0.9, 36)), 1e-6);
    EXPECT_NEAR(c.in.st.PeakB, 16384 * (1 - std::pow(0.9, 36)), 1e-6);
    double before = c.in.st.PeakA;
    c.fill(0, 0);
    c.in.processingCycle();
    EXPECT_NEAR(c.in.st.PeakA, 0.9 * before, 1e-9);
}

TEST(Acquisition, GainCorrectionAndInversion) {
    Cycle c;
    c.fill(0.5f, 0.25f);
    c.in.ring().WriteIndex.store(30000);
    c.in.panel.setText(Ctl::Edit5, "6");    // channel A 6 dB above B
    c.in.panel.setText(Ctl::Edit16, "20");  // both 20 dB high
    c.in.panel.setPosition(Ctl::input_bar, 32767);
    c.in.panel.setDown(Ctl::Inv2, true);
    c.in.processingCycle();
    const double g = std::pow(10.0, -20.0 / 20) * 65535 / (32767 + 0.1);
    EXPECT_NEAR(c.in.st.TimeWorkA[100], 16384 * std::pow(10.0, -6.0 / 20) * g, 1e-9);
    EXPECT_NEAR(c.in.st.TimeWorkB[100], -8192 * g, 1e-9);
    // The peaks are taken before the correction.
    EXPECT_NEAR(c.in.st.PeakA, 0.9 * 0 + 0.1 * 16384, 16384 * 0.1 + 1);
    c.in.panel.setChecked(Ctl::CheckBox4, false);
    c.in.processingCycle();
    EXPECT_DOUBLE_EQ(c.in.st.TimeWorkA[100], 16384);
    EXPECT_DOUBLE_EQ(c.in.st.TimeWorkB[100], -8192);
}

TEST(Acquisition, GainCorrectionUndoesTheRecordingLevelsRealGain) {
    Cycle c;
    ASSERT_EQ(c.in.panel.itemText(Ctl::input_box), "Line");
    LevelCard* card = c.card;
    card->reportsDb = true;
    c.fill(0.25f, 0.25f);
    c.in.ring().WriteIndex.store(30000);
    // Step 23 of 63 is 0 dB, 30 dB below full scale: the reading is raised
    // by 30 dB, not by the linear share's 8.7 dB.
    const int position = audio::RangeToLevel(23, 0, 63);
    c.in.panel.setPosition(Ctl::input_bar, position);
    c.in.processingCycle();
    EXPECT_NEAR(c.in.st.TimeWorkA[100], 8192 * std::pow(10.0, 30.0 / 20), 1e-6);
    EXPECT_NEAR(c.in.st.TimeWorkB[100], 8192 * std::pow(10.0, 30.0 / 20), 1e-6);
    // The card is asked once per position, not every cycle.
    const int asked = card->asked;
    c.in.processingCycle();
    EXPECT_EQ(card->asked, asked);
    // At the lowest step the line is silent: nothing to undo but the linear rule's.
    c.in.panel.setPosition(Ctl::input_bar, 0);
    c.in.processingCycle();
    EXPECT_NEAR(c.in.st.TimeWorkA[100], 8192 * 65535 / 0.1, 1e-3);
    // A card that reports no dB: the linear rule.
    card->reportsDb = false;
    c.in.panel.setPosition(Ctl::input_bar, 16384);
    c.in.processingCycle();
    EXPECT_NEAR(c.in.st.TimeWorkA[100], 8192 * 65535 / 16384.1, 1e-9);
}

TEST(Acquisition, WindowEndsJustBeforeTheWriteIndex) {
    Cycle c;
    for (int i = 0; i < audio::CaptureRing::kSize; ++i)
        c.in.ring().CaptureA[i].store(static_cast<float>(i) / 131072);
    c.in.ring().WriteIndex.store(100);
    c.in.panel.setChecked(Ctl::CheckBox4, false);  // no gain correction
    c.in.processingCycle();
    int n = c.in.st.FftSize;
    EXPECT_DOUBLE_EQ(c.in.st.TimeWorkA[n - 1], 99.0 / 131072 * 32768);
    EXPECT_DOUBLE_EQ(c.in.st.TimeWorkA[n - 100], 0.0);
    EXPECT_DOUBLE_EQ(c.in.st.TimeWorkA[0], static_cast<double>(131072 - (n - 100)) / 131072 * 32768);
}

}  // namespace
}  // namespace miral::core
