// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/mixer_alsa.h"

#include <alsa/asoundlib.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <initializer_list>
#include <limits>
#include <utility>

#include "audio/alsa_quiet.h"

namespace miral::audio {

namespace {

// One open simple mixer on a control device, closed when it goes.
class Session {
  public:
    Session() = default;
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;
    ~Session() {
        if (handle_) snd_mixer_close(handle_);
    }

    bool Open(const std::string& control, std::string& error) {
        auto failed = [&](const char* step, int err) {
            error = "mixer of \"" + control + "\": " + step + ": " + snd_strerror(err);
            if (handle_) snd_mixer_close(handle_);
            handle_ = nullptr;
            return false;
        };
        int err = snd_mixer_open(&handle_, 0);
        if (err < 0) {
            handle_ = nullptr;
            return failed("cannot create a mixer", err);
        }
        if ((err = snd_mixer_attach(handle_, control.c_str())) < 0) return failed("cannot open", err);
        if ((err = snd_mixer_selem_register(handle_, nullptr, nullptr)) < 0)
            return failed("cannot register", err);
        if ((err = snd_mixer_load(handle_)) < 0) return failed("cannot load its controls", err);
        return true;
    }
    snd_mixer_t* handle() const { return handle_; }

    // The card's id as it reports it ("pulse", "pipewire", "PCH" ...); ""
    // when it cannot be read.
    std::string CardId(const std::string& control) const {
        snd_hctl_t* hctl = nullptr;
        if (!handle_ || snd_mixer_get_hctl(handle_, control.c_str(), &hctl) < 0) return {};
        snd_ctl_card_info_t* info = nullptr;
        if (snd_ctl_card_info_malloc(&info) < 0) return {};
        std::string id;
        if (snd_ctl_card_info(snd_hctl_ctl(hctl), info) >= 0) id = snd_ctl_card_info_get_id(info);
        snd_ctl_card_info_free(info);
        return id;
    }

  private:
    snd_mixer_t* handle_ = nullptr;
};

// A line as the operations address it: the element that carries its volume
// and the one that carries its switch (often the same, either may be absent).
struct Line {
    std::string name;
    snd_mixer_elem_t* volume = nullptr;
    snd_mixer_elem_t* mute = nullptr;
    bool mixedInput = false;  // playback: one of the card's inputs mixed into the output
};

// What a card offers, taken once per operation.
struct Inventory {
    std::vector<Line> playback;
    Line playbackMaster;
    std::vector<Line> recording;
    Line recordingMaster;
    // Recording input selection: an enumerated source, or capture switches.
    snd_mixer_elem_t* inputEnum = nullptr;
    std::vector<std::string> inputNames;
    std::vector<snd_mixer_elem_t*> inputSwitches;
    bool singleSelect = false;
};

constexpr auto kFirstChannel = SND_MIXER_SCHN_FRONT_LEFT;  // also the mono channel

std::string ElemName(snd_mixer_elem_t* e) {
    std::string name = snd_mixer_selem_get_name(e);
    const unsigned int index = snd_mixer_selem_get_index(e);
    if (index > 0) {
        // Appended piece by piece: GCC 12 warns wrongly about " " + to_string() at -O3.
        name += ' ';
        name += std::to_string(index);
    }
    return name;
}

bool IsNamed(snd_mixer_elem_t* e, const char* name) {
    return std::string(snd_mixer_selem_get_name(e)) == name && snd_mixer_selem_get_index(e) == 0;
}

std::vector<std::string> Words(const std::string& name) {
    std::vector<std::string> words;
    size_t from = 0;
    while (from < name.size()) {
        const size_t to = std::min(name.find(' ', from), name.size());
        if (to > from) words.push_back(name.substr(from, to - from));
        from = to + 1;
    }
    return words;
}

bool StartsWithAny(const std::string& word, std::initializer_list<const char*> heads) {
    for (const char* head : heads)
        if (word.rfind(head, 0) == 0) return true;
    return false;
}

// Whether a playback element is one of the card's inputs mixed into its
// output (which choosing an output line mutes) rather than an output or the
// card's own playback (which it never mutes: that would silence the card).
// By the name first, as the drivers name their elements:
//   inputs   a word "Mic", "Line" (not "Line Out"), "CD", "Aux", "Video",
//            "Phone", "Beep" or "PC" ("PC Speaker", "PC Beep"), with any
//            qualifier: "Front Mic", "Line In", "Internal Mic";
//   outputs  a word beginning with "Master", "Headphone", "Speaker",
//            "Front", "Surround", "Center", "LFE", "Side", "PCM", "Wave",
//            "IEC958", "HDMI", "Digital" or "Mono", or "Line Out";
// then by what the element does: one that can also record (a capture volume
// or switch) or that the recording input selector names is an input mixed
// in. Anything else (a synthesizer, "Loopback", a name never seen) is left
// alone.
bool IsMixedInput(snd_mixer_elem_t* e, const std::vector<std::string>& selectorItems) {
    const std::string name = ElemName(e);
    const std::vector<std::string> words = Words(name);
    for (size_t i = 0; i < words.size(); ++i) {
        const std::string& w = words[i];
        if (w == "Line" && i + 1 < words.size() && words[i + 1] == "Out") continue;
        if (w == "Mic" || w == "Line" || w == "CD" || w == "Aux" || w == "Video" || w == "Phone" ||
            w == "Beep" || w == "PC")
            return true;
    }
    for (size_t i = 0; i < words.size(); ++i) {
        if (StartsWithAny(words[i], {"Master", "Headphone", "Speaker", "Front", "Surround", "Center", "LFE",
                                     "Side", "PCM", "Wave", "IEC958", "HDMI", "Digital", "Mono"}))
            return false;
        if (words[i] == "Line") return false;  // "Line Out"
    }
    if (snd_mixer_selem_has_capture_volume(e) || snd_mixer_selem_has_capture_switch(e)) return true;
    return std::find(selectorItems.begin(), selectorItems.end(), name) != selectorItems.end();
}

// The items of an enumerated recording input selector.
std::vector<std::string> SelectorItems(snd_mixer_elem_t* selector) {
    std::vector<std::string> names;
    if (!selector) return names;
    const int items = snd_mixer_selem_get_enum_items(selector);
    for (int i = 0; i < items; ++i) {
        char text[128] = {};
        if (snd_mixer_selem_get_enum_item_name(selector, static_cast<unsigned int>(i), sizeof text - 1,
                                               text) < 0)
            break;
        names.emplace_back(text);
    }
    return names;
}

Inventory Take(snd_mixer_t* mixer) {
    Inventory inv;
    std::vector<snd_mixer_elem_t*> playback, capture;
    for (snd_mixer_elem_t* e = snd_mixer_first_elem(mixer); e; e = snd_mixer_elem_next(e)) {
        if (!snd_mixer_selem_is_active(e)) continue;
        if (snd_mixer_selem_has_playback_volume(e) || snd_mixer_selem_has_playback_switch(e))
            playback.push_back(e);
        if (snd_mixer_selem_has_capture_volume(e) || snd_mixer_selem_has_capture_switch(e))
            capture.push_back(e);
        if (!inv.inputEnum && snd_mixer_selem_is_enumerated(e) && snd_mixer_selem_is_enum_capture(e))
            inv.inputEnum = e;
    }
    auto playbackLine = [](snd_mixer_elem_t* e) {
        return Line{ElemName(e), snd_mixer_selem_has_playback_volume(e) ? e : nullptr,
                    snd_mixer_selem_has_playback_switch(e) ? e : nullptr};
    };
    auto captureLine = [](snd_mixer_elem_t* e) {
        return Line{ElemName(e), snd_mixer_selem_has_capture_volume(e) ? e : nullptr,
                    snd_mixer_selem_has_capture_switch(e) ? e : nullptr};
    };

    // Playback: the master line and the others.
    snd_mixer_elem_t* master = nullptr;
    for (snd_mixer_elem_t* e : playback)
        if (IsNamed(e, "Master")) master = e;
    if (!master)
        for (snd_mixer_elem_t* e : playback)
            if (snd_mixer_selem_has_playback_volume(e)) {
                master = e;
                break;
            }
    if (master) inv.playbackMaster = playbackLine(master);
    const std::vector<std::string> selectorItems = SelectorItems(inv.inputEnum);
    for (snd_mixer_elem_t* e : playback) {
        if (e == master && playback.size() > 1) continue;
        Line line = playbackLine(e);
        line.mixedInput = e != master && IsMixedInput(e, selectorItems);
        inv.playback.push_back(std::move(line));
    }

    // Recording master.
    snd_mixer_elem_t* captureMaster = nullptr;
    for (snd_mixer_elem_t* e : capture)
        if (IsNamed(e, "Capture") && snd_mixer_selem_has_capture_volume(e)) captureMaster = e;
    if (!captureMaster)
        for (snd_mixer_elem_t* e : capture)
            if (snd_mixer_selem_has_capture_volume(e)) {
                captureMaster = e;
                break;
            }
    if (captureMaster) inv.recordingMaster = captureLine(captureMaster);

    if (inv.inputEnum) {
        // One input at a time, chosen by the enumerated source; an input's
        // level and switch are those of the element of its name, if any.
        inv.singleSelect = true;
        for (const std::string& text : selectorItems) {
            Line line{text, inv.recordingMaster.volume, inv.recordingMaster.mute};
            for (snd_mixer_elem_t* e : capture) {
                if (ElemName(e) != line.name) continue;
                if (snd_mixer_selem_has_capture_volume(e)) line.volume = e;
                if (snd_mixer_selem_has_capture_switch(e)) line.mute = e;
            }
            inv.inputNames.push_back(line.name);
            inv.recording.push_back(std::move(line));
        }
    } else {
        for (snd_mixer_elem_t* e : capture) {
            inv.recording.push_back(captureLine(e));
            if (snd_mixer_selem_has_capture_switch(e)) {
                inv.inputNames.push_back(ElemName(e));
                inv.inputSwitches.push_back(e);
                if (snd_mixer_selem_has_capture_switch_exclusive(e)) inv.singleSelect = true;
            }
        }
    }
    return inv;
}

// The first channel an element has in the direction (the value read back).
snd_mixer_selem_channel_id_t FirstChannel(snd_mixer_elem_t* e, bool playback) {
    for (int ch = 0; ch <= SND_MIXER_SCHN_LAST; ++ch) {
        const auto id = static_cast<snd_mixer_selem_channel_id_t>(ch);
        if (playback ? snd_mixer_selem_has_playback_channel(e, id)
                     : snd_mixer_selem_has_capture_channel(e, id))
            return id;
    }
    return kFirstChannel;
}

}  // namespace

std::unique_ptr<Mixer> MakeAlsaMixer() {
    QuietAlsaErrors();
    return std::make_unique<AlsaMixer>();
}

std::string AlsaMixer::ControlName(int device) const {
    if (device < 0 || device >= static_cast<int>(cards_.size())) return {};
    return cards_[static_cast<size_t>(device)].control;
}

std::vector<std::string> AlsaMixer::ListMixers() {
    cards_.clear();
    std::string firstError;
    auto tryCard = [&](std::string name, std::string control) {
        Session session;
        std::string why;
        if (session.Open(control, why)) {
            cards_.push_back(Card{std::move(name), std::move(control)});
        } else if (firstError.empty()) {
            firstError = std::move(why);
        }
    };
    tryCard("default", "default");
    int card = -1;
    while (snd_card_next(&card) == 0 && card >= 0) {
        std::string control = "hw:" + std::to_string(card);
        std::string name = control;
        char* text = nullptr;
        if (snd_card_get_name(card, &text) == 0 && text) {
            name = text;
            std::free(text);
        }
        tryCard(std::move(name), std::move(control));
    }
    std::vector<std::string> names;
    for (const Card& c : cards_) names.push_back(c.name);
    if (names.empty()) {
        Fail(firstError.empty() ? "no sound card with a mixer was found" : firstError);
    } else {
        Succeeded();
    }
    return names;
}

namespace {

// Opens the addressed card; on failure the reason is in error.
bool OpenCard(const std::string& control, int device, Session& session, std::string& error) {
    if (control.empty()) {
        error = "mixer card " + std::to_string(device) + " is not in the card list";
        return false;
    }
    return session.Open(control, error);
}

// The addressed line, or null with the reason in error.
const Line* FindLine(const Inventory& inv, int destination, int source, std::string& error) {
    if (destination != Mixer::kPlayback && destination != Mixer::kRecording) {
        error =
            "mixer destination " + std::to_string(destination) + " does not exist (0 playback, 1 recording)";
        return nullptr;
    }
    const bool playback = destination == Mixer::kPlayback;
    if (source == Mixer::kMaster) {
        const Line& master = playback ? inv.playbackMaster : inv.recordingMaster;
        if (!master.volume && !master.mute) {
            error = playback ? "the card has no master playback line" : "the card has no capture master line";
            return nullptr;
        }
        return &master;
    }
    const std::vector<Line>& lines = playback ? inv.playback : inv.recording;
    if (source < 0 || source >= static_cast<int>(lines.size())) {
        error = std::string(playback ? "playback" : "recording") + " line " + std::to_string(source) +
                " does not exist (the card has " + std::to_string(lines.size()) + ")";
        return nullptr;
    }
    return &lines[static_cast<size_t>(source)];
}

std::string AlsaError(const std::string& line, const char* what, int err) {
    return "line \"" + line + "\": " + what + ": " + snd_strerror(err);
}

// One request's card: the addressed card opened and what it holds, and for
// the line requests the addressed line; on failure the reason is in why.
struct OpenedCard {
    Session session;
    Inventory inv;
    const Line* line = nullptr;
    long min = 0, max = 0;  // the line's volume range (OpenVolume)
    std::string why;

    bool Open(const std::string& control, int device) {
        if (!OpenCard(control, device, session, why)) return false;
        inv = Take(session.handle());
        return true;
    }
    bool OpenLine(const std::string& control, int device, int destination, int source) {
        if (!Open(control, device)) return false;
        line = FindLine(inv, destination, source, why);
        return line != nullptr;
    }
    // A card with a recording input selector.
    bool OpenInputs(const std::string& control, int device) {
        if (!Open(control, device)) return false;
        if (!inv.inputEnum && inv.inputSwitches.empty()) {
            why = "the card has no recording input selector";
            return false;
        }
        return true;
    }
    // A line with a volume control, and its range.
    bool OpenVolume(const std::string& control, int device, int destination, int source) {
        if (!OpenLine(control, device, destination, source)) return false;
        if (!line->volume) {
            why = "line \"" + line->name + "\" has no volume control";
            return false;
        }
        const int err = destination == Mixer::kPlayback
                            ? snd_mixer_selem_get_playback_volume_range(line->volume, &min, &max)
                            : snd_mixer_selem_get_capture_volume_range(line->volume, &min, &max);
        if (err < 0) {
            why = AlsaError(line->name, "cannot read the volume range", err);
            return false;
        }
        return true;
    }
};

}  // namespace

MixerLines AlsaMixer::ListLines(int device) {
    device_ = device;
    MixerLines out;
    OpenedCard card;
    if (!card.Open(ControlName(device), device)) {
        Fail(card.why);
        return out;
    }
    const Inventory& inv = card.inv;
    auto fill = [](MixerDestination& d, const char* name, const std::vector<Line>& lines,
                   const Line& master) {
        d.present = !lines.empty() || master.volume || master.mute;
        if (!d.present) return;
        d.name = name;
        for (const Line& l : lines) d.sources.push_back(l.name);
    };
    fill(out.playback, "Playback", inv.playback, inv.playbackMaster);
    fill(out.recording, "Recording", inv.recording, inv.recordingMaster);
    if (out.playback.present)
        for (const Line& l : inv.playback) out.playback.mixedInputs.push_back(l.mixedInput);
    Succeeded();
    return out;
}

int AlsaMixer::GetVolume(int destination, int source) {
    OpenedCard card;
    if (!card.OpenVolume(ControlName(device_), device_, destination, source)) return Fail(card.why), -1;
    const Line* line = card.line;
    const long min = card.min, max = card.max;
    const bool playback = destination == kPlayback;
    long value = 0;
    const auto channel = FirstChannel(line->volume, playback);
    const int err = playback ? snd_mixer_selem_get_playback_volume(line->volume, channel, &value)
                             : snd_mixer_selem_get_capture_volume(line->volume, channel, &value);
    if (err < 0) return Fail(AlsaError(line->name, "cannot read the volume", err)), -1;
    if (max <= min) return Fail("line \"" + line->name + "\" has a volume range of one step"), -1;
    Succeeded();
    return RangeToLevel(value, min, max);
}

bool AlsaMixer::SetVolume(int destination, int source, int value) {
    OpenedCard card;
    if (!card.OpenVolume(ControlName(device_), device_, destination, source)) return Fail(card.why);
    const Line* line = card.line;
    const bool playback = destination == kPlayback;
    const long raw = LevelToRange(value, card.min, card.max);
    const int err = playback ? snd_mixer_selem_set_playback_volume_all(line->volume, raw)
                             : snd_mixer_selem_set_capture_volume_all(line->volume, raw);
    if (err < 0) return Fail(AlsaError(line->name, "cannot set the volume", err));
    Succeeded();
    return true;
}

std::optional<double> AlsaMixer::LevelDb(int destination, int source, int level) {
    const std::string control = ControlName(device_);
    OpenedCard card;
    if (!card.OpenVolume(control, device_, destination, source)) return Fail(card.why), std::nullopt;
    const Line* line = card.line;
    const long min = card.min, max = card.max;
    const bool playback = destination == kPlayback;
    const long raw = LevelToRange(level, min, max);
    constexpr double kSilent = -std::numeric_limits<double>::infinity();
    // The element's own dB scale, as most hardware cards report it.
    long centiDb = 0;
    const int err = playback ? snd_mixer_selem_ask_playback_vol_dB(line->volume, raw, &centiDb)
                             : snd_mixer_selem_ask_capture_vol_dB(line->volume, raw, &centiDb);
    if (err >= 0) {
        Succeeded();
        return centiDb <= SND_CTL_TLV_DB_GAIN_MUTE ? kSilent : static_cast<double>(centiDb) / 100.0;
    }
    // The sound servers' controls (ALSA's plugins for PulseAudio and
    // PipeWire) report no dB scale, but their value is the server's own
    // volume, 0 .. 65536 (100 %), whose amplitude is the cube of its share.
    const std::string id = card.session.CardId(control);
    if ((id == "pulse" || id == "pipewire") && min == 0 && max == 65536) {
        Succeeded();
        return raw <= 0 ? kSilent : 60.0 * std::log10(static_cast<double>(raw) / 65536.0);
    }
    Fail("line \"" + line->name + "\" does not say how its level is scaled");
    return std::nullopt;
}

bool AlsaMixer::GetMute(int destination, int source) {
    OpenedCard card;
    if (!card.OpenLine(ControlName(device_), device_, destination, source)) return !Fail(card.why);
    const Line* line = card.line;
    Succeeded();
    if (!line->mute) return false;  // nothing can mute it
    const bool playback = destination == kPlayback;
    int on = 0;
    const auto channel = FirstChannel(line->mute, playback);
    const int err = playback ? snd_mixer_selem_get_playback_switch(line->mute, channel, &on)
                             : snd_mixer_selem_get_capture_switch(line->mute, channel, &on);
    if (err < 0) return !Fail(AlsaError(line->name, "cannot read the switch", err));
    return on == 0;
}

bool AlsaMixer::SetMute(int destination, int source, bool on) {
    OpenedCard card;
    if (!card.OpenLine(ControlName(device_), device_, destination, source)) return Fail(card.why);
    const Line* line = card.line;
    if (!line->mute) {
        // A line without a switch is always on: unmuting it is done already.
        if (on) return Fail("line \"" + line->name + "\" has no mute switch");
        Succeeded();
        return true;
    }
    const int err = destination == kPlayback ? snd_mixer_selem_set_playback_switch_all(line->mute, on ? 0 : 1)
                                             : snd_mixer_selem_set_capture_switch_all(line->mute, on ? 0 : 1);
    if (err < 0) return Fail(AlsaError(line->name, "cannot set the switch", err));
    Succeeded();
    return true;
}

bool AlsaMixer::SelectInput(std::string_view name) {
    OpenedCard card;
    if (!card.OpenInputs(ControlName(device_), device_)) return Fail(card.why);
    const Inventory& inv = card.inv;
    std::vector<bool> selected(inv.inputNames.size(), false);
    if (inv.inputEnum) {
        unsigned int current = 0;
        if (snd_mixer_selem_get_enum_item(inv.inputEnum, kFirstChannel, &current) >= 0 &&
            current < selected.size())
            selected[current] = true;
    } else {
        for (size_t i = 0; i < inv.inputSwitches.size(); ++i) {
            int on = 0;
            snd_mixer_elem_t* e = inv.inputSwitches[i];
            if (snd_mixer_selem_get_capture_switch(e, FirstChannel(e, false), &on) >= 0)
                selected[i] = on != 0;
        }
    }
    const std::vector<bool> before = selected;
    if (ChooseInputs(inv.inputNames, selected, inv.singleSelect, name) == 0)
        return Fail("no recording input is named like \"" + std::string(name) + "\"");
    if (inv.inputEnum) {
        unsigned int item = 0;
        while (item < selected.size() && !selected[item]) ++item;
        // Every channel of the source records from the chosen input.
        for (int ch = 0; ch <= SND_MIXER_SCHN_LAST; ++ch) {
            const auto id = static_cast<snd_mixer_selem_channel_id_t>(ch);
            unsigned int current = 0;
            if (snd_mixer_selem_get_enum_item(inv.inputEnum, id, &current) < 0) break;
            const int err = snd_mixer_selem_set_enum_item(inv.inputEnum, id, item);
            if (err < 0) return Fail(AlsaError(ElemName(inv.inputEnum), "cannot choose the input", err));
        }
    } else {
        for (size_t i = 0; i < inv.inputSwitches.size(); ++i) {
            if (selected[i] == before[i]) continue;
            const int err = snd_mixer_selem_set_capture_switch_all(inv.inputSwitches[i], selected[i] ? 1 : 0);
            if (err < 0) return Fail(AlsaError(inv.inputNames[i], "cannot set the capture switch", err));
        }
    }
    Succeeded();
    return true;
}

bool AlsaMixer::IsInputSelected(std::string_view name) {
    OpenedCard card;
    if (!card.OpenInputs(ControlName(device_), device_)) return Fail(card.why);
    const Inventory& inv = card.inv;
    const int item = InputNamed(inv.inputNames, name);
    if (item < 0) return Fail("no recording input is named like \"" + std::string(name) + "\"");
    if (inv.inputEnum) {
        unsigned int current = 0;
        const int err = snd_mixer_selem_get_enum_item(inv.inputEnum, kFirstChannel, &current);
        if (err < 0) return Fail(AlsaError(ElemName(inv.inputEnum), "cannot read the chosen input", err));
        Succeeded();
        return static_cast<int>(current) == item;
    }
    snd_mixer_elem_t* e = inv.inputSwitches[static_cast<size_t>(item)];
    int on = 0;
    const int err = snd_mixer_selem_get_capture_switch(e, FirstChannel(e, false), &on);
    if (err < 0)
        return Fail(
            AlsaError(inv.inputNames[static_cast<size_t>(item)], "cannot read the capture switch", err));
    Succeeded();
    return on != 0;
}

}  // namespace miral::audio
