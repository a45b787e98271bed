// SPDX-License-Identifier: GPL-3.0-or-later
// The ALSA mixer on model cards (alsa_model_card.cpp) that ALSA itself loads
// as the "default" control: what the mixer makes of a card's elements.

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "audio/alsa_model_card.h"
#include "audio/mixer_alsa.h"

namespace miral::audio {
namespace {

// Playback line name -> whether it is an input mixed into the output.
std::map<std::string, bool> PlaybackKinds(AlsaMixer& mixer) {
    const auto cards = mixer.ListMixers();
    EXPECT_FALSE(cards.empty()) << mixer.LastError();
    if (cards.empty()) return {};
    EXPECT_EQ(cards[0], "default");
    const MixerLines lines = mixer.ListLines(0);
    EXPECT_TRUE(lines.playback.present) << mixer.LastError();
    EXPECT_EQ(lines.playback.mixedInputs.size(), lines.playback.sources.size());
    std::map<std::string, bool> kinds;
    for (size_t i = 0; i < lines.playback.sources.size() && i < lines.playback.mixedInputs.size(); ++i)
        kinds[lines.playback.sources[i]] = lines.playback.mixedInputs[i];
    return kinds;
}

TEST(AlsaMixerCards, AnHdaCardsInputsAreMixedInputsAndItsOutputsAreNot) {
    test::ModelCard card;
    AlsaMixer mixer;
    const auto kinds = PlaybackKinds(mixer);
    EXPECT_EQ(kinds.count("Master"), 0u);  // the master line, not one of the lines
    for (const char* output : {"Headphone", "Speaker", "Front", "PCM"}) {
        ASSERT_EQ(kinds.count(output), 1u) << output;
        EXPECT_FALSE(kinds.at(output)) << output;
    }
    for (const char* input : {"Line", "Mic", "CD", "Beep"}) {
        ASSERT_EQ(kinds.count(input), 1u) << input;
        EXPECT_TRUE(kinds.at(input)) << input;
    }
}

TEST(AlsaMixerCards, AnOutputThatAlsoRecordsIsStillAnOutput) {
    test::ModelCard card("usb");
    AlsaMixer mixer;
    const auto kinds = PlaybackKinds(mixer);
    ASSERT_EQ(kinds.count("PCM"), 1u);
    EXPECT_FALSE(kinds.at("PCM"));  // records too, but it is the card's own playback
    ASSERT_EQ(kinds.count("Mic"), 1u);
    EXPECT_TRUE(kinds.at("Mic"));
    ASSERT_EQ(kinds.count("Synth"), 1u);
    EXPECT_FALSE(kinds.at("Synth"));        // neither: left alone
    EXPECT_EQ(kinds.count("Speaker"), 0u);  // the master line of this card
}

// A card whose elements report dB scales: the gain of a level is the
// element's, step by step (capture -17.25 .. +30 dB in 0.75 dB steps, the
// loopback lines -34.5 .. +12 dB in 1.5 dB steps).
TEST(AlsaMixerCards, LevelsGainIsTheElementsDbScale) {
    test::ModelCard card;
    AlsaMixer mixer;
    ASSERT_FALSE(mixer.ListMixers().empty()) << mixer.LastError();
    const MixerLines lines = mixer.ListLines(0);
    ASSERT_EQ(lines.recording.sources, (std::vector<std::string>{"Mic", "Line", "CD"}));
    for (int step : {0, 1, 23, 40, 63}) {
        const auto db = mixer.LevelDb(Mixer::kRecording, 1, RangeToLevel(step, 0, 63));
        ASSERT_TRUE(db.has_value()) << mixer.LastError();
        EXPECT_DOUBLE_EQ(*db, -17.25 + 0.75 * step) << step;
    }
    int line = -1;
    for (size_t i = 0; i < lines.playback.sources.size(); ++i)
        if (lines.playback.sources[i] == "Line") line = static_cast<int>(i);
    ASSERT_GE(line, 0);
    const auto db = mixer.LevelDb(Mixer::kPlayback, line, RangeToLevel(10, 0, 31));
    ASSERT_TRUE(db.has_value()) << mixer.LastError();
    EXPECT_DOUBLE_EQ(*db, -34.5 + 1.5 * 10);
    // A line without a volume, or one that does not exist: no answer.
    EXPECT_FALSE(mixer.LevelDb(Mixer::kRecording, 7, 100).has_value());
    EXPECT_FALSE(mixer.LastError().empty());
}

}  // namespace
}  // namespace miral::audio
