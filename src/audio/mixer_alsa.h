// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The system's mixer through ALSA's simple mixer interface.
//
// Cards: "default" (on a desktop the PulseAudio or PipeWire mixer) when it
// opens, then every hardware card (hw:N) under its own name, e.g.
// "HDA Intel PCH", which is also how the streams find its devices.
//
// Lines of a card:
//   playback   every element with a playback volume or switch, except the
//              master line; a card whose only playback element is the master
//              lists it as its one line as well.
//   master     the "Master" element, or else the first element with a
//              playback volume (e.g. "PCM" on many USB cards); its volume
//              and switch are what the master level and mute act on.
//   recording  on a card with an enumerated capture source (e.g. "Input
//              Source": "Front Mic", "Line"): its items, one recording at a
//              time; each item's level is the capture volume of the element
//              of that name, or else of the capture master. Otherwise every
//              element with a capture volume or switch, and the selected
//              inputs are those whose capture switch is on (several at once,
//              unless the card's switches are exclusive).
//   recording master (source -1 of destination 1): the "Capture" element,
//              or else the first element with a capture volume.
// Mute is a playback element's playback switch, a recording line's capture
// switch (off = muted). Playback lines say whether they are inputs mixed into
// the output (see IsMixedInput in mixer_alsa.cpp for the rule).
// A level's gain in dB is the element's dB scale where it reports one; the
// sound servers' controls ("pulse", "pipewire") report none, and their
// server's cubic volume curve is used.
//
// Every operation opens the card's mixer, works and closes it again, so a
// card that went away (or a sound server that stopped) only makes the
// operations fail until it is back. Element names that repeat carry their
// index, e.g. "Capture 1".

#include <string>
#include <vector>

#include "audio/mixer.h"

namespace miral::audio {

class AlsaMixer : public Mixer {
  public:
    std::vector<std::string> ListMixers() override;
    MixerLines ListLines(int device) override;
    int GetVolume(int destination, int source) override;
    bool SetVolume(int destination, int source, int value) override;
    bool GetMute(int destination, int source) override;
    bool SetMute(int destination, int source, bool on) override;
    bool SelectInput(std::string_view name) override;
    bool IsInputSelected(std::string_view name) override;
    std::optional<double> LevelDb(int destination, int source, int level) override;

    // The ALSA control name of a listed card ("default", "hw:0"); "" when
    // the index is not listed.
    std::string ControlName(int device) const;

  private:
    struct Card {
        std::string name;     // as listed
        std::string control;  // "default", "hw:N"
    };
    std::vector<Card> cards_;
};

}  // namespace miral::audio
