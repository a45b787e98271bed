// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The mixer of a software card (the simulated bench, the WAV player): one
// card with one playback line and one recording line, e.g. "Simulated
// bench" with "Generator" and "Bench input".
//
// Levels are linear: a line at 32768 passes half the amplitude, and LevelDb
// says so (20 log10(level / 65535) dB, the master not included). The output
// level (master x playback line, 0 while either is muted) scales what the
// card plays (AudioStreams::SetOutputLevel); the input level (the recording
// line, 0 while it is muted or deselected) scales what it records
// (AudioStreams::SetInputLevel). Everything starts at full scale, unmuted
// and selected. Source -1 of the recording side is its one line.

#include <string>
#include <vector>

#include "audio/mixer.h"

namespace miral::audio {

class BenchMixer : public Mixer {
  public:
    BenchMixer(AudioStreams& streams, std::string cardName, std::string playbackLine,
               std::string recordingLine);

    std::vector<std::string> ListMixers() override;
    MixerLines ListLines(int device) override;
    int GetVolume(int destination, int source) override;
    bool SetVolume(int destination, int source, int value) override;
    bool GetMute(int destination, int source) override;
    bool SetMute(int destination, int source, bool on) override;
    bool SelectInput(std::string_view name) override;
    bool IsInputSelected(std::string_view name) override;
    std::optional<double> LevelDb(int destination, int source, int level) override;

    // What the streams were last given.
    double OutputLevel() const;
    double InputLevel() const;

  private:
    struct Level {
        int volume = kFullScale;
        bool muted = false;
    };
    // The addressed level, or null (and LastError) when there is none.
    Level* Find(int destination, int source);
    void Apply();

    AudioStreams& streams_;
    std::string card_;
    std::string playbackLine_;
    std::string recordingLine_;
    Level master_;
    Level output_;
    Level input_;  // muted = deselected
};

}  // namespace miral::audio
