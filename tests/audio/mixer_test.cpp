// SPDX-License-Identifier: GPL-3.0-or-later
// The mixers' shared rules (level scaling, recording input choice) and the
// simulated bench's mixer acting on the signals that really pass the card.

#include "audio/mixer.h"

#include <gtest/gtest.h>

#include <memory>

#include "audio/mixer_bench.h"
#include "audio/streams.h"
#include "audio_test_support.h"

namespace miral::audio {
namespace {

TEST(MixerLevels, FullScaleSpansTheLineRangeAndEveryStepComesBack) {
    // PulseAudio's range, a small hardware range and one below zero.
    struct Range {
        long min, max;
    };
    for (Range r : {Range{0, 65536}, Range{0, 31}, Range{-10239, 400}}) {
        EXPECT_EQ(LevelToRange(0, r.min, r.max), r.min);
        EXPECT_EQ(LevelToRange(Mixer::kFullScale, r.min, r.max), r.max);
        EXPECT_EQ(RangeToLevel(r.min, r.min, r.max), 0);
        EXPECT_EQ(RangeToLevel(r.max, r.min, r.max), Mixer::kFullScale);
        EXPECT_EQ(LevelToRange(-5, r.min, r.max), r.min);  // clamped
        EXPECT_EQ(LevelToRange(70000, r.min, r.max), r.max);
        const long step = r.max - r.min > 1000 ? 97 : 1;
        for (long v = r.min; v <= r.max; v += step)
            ASSERT_EQ(LevelToRange(RangeToLevel(v, r.min, r.max), r.min, r.max), v) << r.min << ".." << r.max;
    }
    EXPECT_EQ(RangeToLevel(5, 5, 5), 0);  // a range of one value
    EXPECT_EQ(LevelToRange(40000, 5, 5), 5);
}

TEST(MixerInputs, ASubstringOfSeveralInputsSelectsAllOfThemOnAMultiSelectCard) {
    const std::vector<std::string> items{"Front Mic", "Rear Mic", "Line", "Mic Boost"};
    std::vector<bool> selected{false, false, true, false};
    EXPECT_EQ(ChooseInputs(items, selected, false, "Mic"), 3);
    EXPECT_EQ(selected, (std::vector<bool>{true, true, true, true}));  // "Line" stays as it was
    EXPECT_EQ(InputNamed(items, "Mic"), 3);                            // the last one containing it
    EXPECT_EQ(InputNamed({"Mic", "Rear Mic"}, "Mic"), 0);              // one named so exactly wins
    EXPECT_EQ(InputNamed(items, "Line"), 2);
    EXPECT_EQ(InputNamed(items, "CD"), -1);
}

TEST(MixerInputs, OneAtATimeTakesTheInputNamedSoOrTheFirstMatch) {
    const std::vector<std::string> items{"Front Mic", "Rear Mic", "Line"};
    std::vector<bool> selected{false, false, true};
    EXPECT_EQ(ChooseInputs(items, selected, true, "Mic"), 1);
    EXPECT_EQ(selected, (std::vector<bool>{true, false, false}));
    std::vector<bool> two{true, false};
    EXPECT_EQ(ChooseInputs({"Rear Mic", "Mic"}, two, true, "Mic"), 1);
    EXPECT_EQ(two, (std::vector<bool>{false, true}));
    // No match, or no name, changes nothing.
    for (bool single : {false, true}) {
        EXPECT_EQ(ChooseInputs(items, selected, single, "CD"), 0);
        EXPECT_EQ(ChooseInputs(items, selected, single, ""), 0);
        EXPECT_EQ(selected, (std::vector<bool>{true, false, false}));
    }
    EXPECT_EQ(InputNamed(items, ""), -1);
}

// The simulated bench with its mixer: a 1 kHz sine of amplitude 0.5 on the
// left output comes back on input A through the plain wire.
struct MixedBench {
    std::unique_ptr<CaptureRing> ring = std::make_unique<CaptureRing>();
    std::unique_ptr<PlaybackTables> tables = std::make_unique<PlaybackTables>();
    std::unique_ptr<AudioStreams> audio = std::make_unique<AudioStreams>(*ring, *tables);
    std::unique_ptr<Mixer> mixer;
    double now = 0.0;

    MixedBench() {
        EXPECT_TRUE(audio->SelectDriver("sim", TimeMode::Simulated)) << audio->LastError();
        mixer = MakeBenchMixer(*audio, "Simulated bench", "Generator", "Bench input");
        test::PublishSines(*tables, 44100, 1000.0, 0.5, 1000.0, 0.25);
        EXPECT_TRUE(audio->StartPlayback(44100, 1, DefaultPlaybackSettings())) << audio->LastError();
        EXPECT_TRUE(audio->StartCapture(44100, 1, DefaultCaptureSettings())) << audio->LastError();
    }
    // Amplitude of the 1 kHz tone on A over the last 0.1 s, after 0.3 s more.
    double Level() {
        for (int ms = 0; ms < 300; ++ms) audio->AdvanceTo(now += 0.001);
        return std::abs(test::ToneAt(test::Newest(*ring, 4410, false), 1000.0, 44100));
    }
};

TEST(BenchMixer, LevelsActOnTheSignalsTheBenchPlaysAndRecords) {
    MixedBench b;
    EXPECT_EQ(b.mixer->ListMixers(), std::vector<std::string>{"Simulated bench"});
    const MixerLines lines = b.mixer->ListLines(0);
    EXPECT_EQ(lines.playback.sources, std::vector<std::string>{"Generator"});
    EXPECT_EQ(lines.recording.sources, std::vector<std::string>{"Bench input"});
    EXPECT_EQ(b.mixer->GetVolume(0, -1), Mixer::kFullScale);
    EXPECT_NEAR(b.Level(), 0.5, 1e-4);

    ASSERT_TRUE(b.mixer->SetVolume(1, 0, 32768));  // input at half
    EXPECT_NEAR(b.Level(), 0.25, 1e-4);
    ASSERT_TRUE(b.mixer->SetVolume(0, 0, 32768));  // and the generator line at half
    EXPECT_NEAR(b.Level(), 0.125, 1e-4);
    ASSERT_TRUE(b.mixer->SetVolume(0, -1, 16384));  // and the master at a quarter
    EXPECT_NEAR(b.Level(), 0.125 * 16384 / 65535, 1e-4);
    EXPECT_EQ(b.mixer->GetVolume(0, -1), 16384);
    EXPECT_EQ(b.mixer->GetVolume(1, 0), 32768);

    ASSERT_TRUE(b.mixer->SetMute(0, -1, true));  // master muted: silence
    EXPECT_TRUE(b.mixer->GetMute(0, -1));
    EXPECT_LT(b.Level(), 1e-6);
    ASSERT_TRUE(b.mixer->SetMute(0, -1, false));
    ASSERT_TRUE(b.mixer->SetVolume(0, -1, Mixer::kFullScale));
    ASSERT_TRUE(b.mixer->SetVolume(0, 0, Mixer::kFullScale));
    EXPECT_NEAR(b.Level(), 0.25, 1e-4);

    ASSERT_TRUE(b.mixer->SetMute(1, 0, true));  // the input deselected: silence
    EXPECT_FALSE(b.mixer->IsInputSelected("Bench"));
    EXPECT_LT(b.Level(), 1e-6);
    EXPECT_FALSE(b.mixer->SelectInput("Line"));  // no such input: nothing changes
    EXPECT_FALSE(b.mixer->LastError().empty());
    EXPECT_FALSE(b.mixer->IsInputSelected("Bench"));
    ASSERT_TRUE(b.mixer->SelectInput("input"));
    EXPECT_TRUE(b.mixer->IsInputSelected("Bench input"));
    EXPECT_NEAR(b.Level(), 0.25, 1e-4);
    EXPECT_EQ(b.mixer->LastError(), "");
}

TEST(BenchMixer, AnUnknownCardOrLineFailsQuietly) {
    MixedBench b;
    EXPECT_FALSE(b.mixer->ListLines(3).playback.present);
    EXPECT_EQ(b.mixer->GetVolume(0, -1), -1);  // card 3 does not exist
    EXPECT_FALSE(b.mixer->SetVolume(0, 0, 100));
    EXPECT_TRUE(b.mixer->GetMute(0, 0));
    EXPECT_FALSE(b.mixer->SelectInput("Bench"));
    EXPECT_FALSE(b.mixer->LastError().empty());
    EXPECT_NEAR(b.Level(), 0.5, 1e-4);  // the levels stayed as they were
    b.mixer->ListLines(0);
    EXPECT_EQ(b.mixer->GetVolume(0, 1), -1);  // one playback line only
    EXPECT_EQ(b.mixer->GetVolume(2, 0), -1);  // no third destination
}

}  // namespace
}  // namespace miral::audio
