// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The sound card's mixer: which cards there are, each card's playback and
// recording lines, their levels and mute switches, and the recording input.
//
// Addressing: destination 0 is the card's playback side, destination 1 its
// recording side; a line is (destination, source index) in the order that
// ListLines gave; source -1 is the master line of that side. Levels run
// 0 .. 65535 over the line's own range.
//
//   auto mixer = MakeAlsaMixer();
//   auto cards = mixer->ListMixers();        // "default", "HDA Intel PCH", ...
//   MixerLines lines = mixer->ListLines(0);  // remembers card 0
//   mixer->SetVolume(0, -1, 32768);          // the master line at half
//   mixer->SelectInput("Mic");               // every recording input named "...Mic..."
//
// Every operation works on the card that the last ListLines named (card 0
// before the first). Failures are quiet: no exception and no message; the
// operation reports false (GetVolume -1, GetMute true) and LastError() says
// why. Used on the window thread only.

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace miral::audio {

class AudioStreams;

// One side of a card and its source lines.
struct MixerDestination {
    bool present = false;  // false when the side could not be read
    std::string name;      // the side's own name
    std::vector<std::string> sources;
    // Playback side, per source: true for one of the card's inputs mixed
    // into its output (line-in, microphone, CD ...), false for an output or
    // the card's own playback (Master, Headphone, Speaker, PCM ...) and for
    // a line of unknown kind. Empty on the recording side.
    std::vector<bool> mixedInputs;
};

struct MixerLines {
    MixerDestination playback;   // destination 0
    MixerDestination recording;  // destination 1
};

class Mixer {
  public:
    static constexpr int kPlayback = 0;
    static constexpr int kRecording = 1;
    static constexpr int kMaster = -1;
    static constexpr int kFullScale = 65535;

    virtual ~Mixer() = default;

    // The cards whose mixer can be opened, in the order device numbers
    // follow (card index k is device number k + 2 of the streams).
    virtual std::vector<std::string> ListMixers() = 0;
    // Remembers the card and reads its two sides.
    virtual MixerLines ListLines(int device) = 0;
    // The card the operations address.
    int Device() const { return device_; }

    // The line's level 0 .. 65535; -1 when any step fails.
    virtual int GetVolume(int destination, int source) = 0;
    // Sets the line's level (clamped to 0 .. 65535) on every channel.
    virtual bool SetVolume(int destination, int source, int value) = 0;
    // True when the line is muted or any step fails. A line without a mute
    // switch cannot be muted and reads false.
    virtual bool GetMute(int destination, int source) = 0;
    virtual bool SetMute(int destination, int source, bool on) = 0;
    // Selects every recording input whose name contains `name`; on a card
    // that records from one input at a time, the one named exactly so or
    // else the first containing it, and the others are deselected. An empty name selects nothing. False when
    // no input matched or a step failed.
    virtual bool SelectInput(std::string_view name) = 0;
    // The gain in dB that the line applies at `level` (0 .. 65535), as the
    // card accounts for its volume curve (minus infinity where the level
    // silences the line); nothing where the card gives no account, and then
    // the caller can only take the level as a linear share of full scale.
    virtual std::optional<double> LevelDb(int destination, int source, int level);
    // Whether the recording input of that name is selected: the one named
    // exactly so, or else the last whose name contains it (so that "Mic"
    // means "Mic" and not "Rear Mic"); false when none matches or a step
    // fails.
    virtual bool IsInputSelected(std::string_view name) = 0;

    // Why the last operation failed ("" after a success).
    const std::string& LastError() const { return lastError_; }

  protected:
    bool Fail(std::string text) {
        lastError_ = std::move(text);
        return false;
    }
    void Succeeded() { lastError_.clear(); }

    int device_ = 0;
    std::string lastError_;
};

// The system's mixer through ALSA (mixer_alsa.h).
std::unique_ptr<Mixer> MakeAlsaMixer();

// A software card's mixer (the simulated bench, the WAV player), acting on
// the streams' input and output levels (mixer_bench.h).
std::unique_ptr<Mixer> MakeBenchMixer(AudioStreams& streams, std::string cardName, std::string playbackLine,
                                      std::string recordingLine);

// ---- Helpers shared by the mixers ----------------------------------------

// A level 0 .. 65535 on a line whose own range is min .. max, rounded to
// the nearest step; and back. A range of one value maps to min and reads 0.
long LevelToRange(int level, long min, long max);
int RangeToLevel(long value, long min, long max);

// The selection of a list of recording inputs after choosing `name`: every
// item containing it is selected; with singleSelect only the item named
// exactly so, or else the first containing it, and every other item is
// deselected. Returns how many items it
// selected (0 leaves `selected` as it was; so does an empty name).
int ChooseInputs(const std::vector<std::string>& items, std::vector<bool>& selected, bool singleSelect,
                 std::string_view name);
// The index of the item named exactly `name`, or else of the last item
// containing it; -1 when none does (or the name is empty).
int InputNamed(const std::vector<std::string>& items, std::string_view name);

}  // namespace miral::audio
