// SPDX-License-Identifier: GPL-3.0-or-later
// The "INPUT-OUTPUT" panel: the sound card's mixer, its playback and
// recording lines and the three levels. Mixer failures are quiet: a control
// whose value could not be read keeps what it showed.
#include "audio/mixer.h"
#include "core/instrument.h"

namespace miral::core {

namespace {

constexpr const char* kNothing = "Nothing";

// Replaces a line combo's items by one side of the card. A side that could
// not be read leaves the combo empty rather than showing another card's lines.
void fillLineBox(Panel& panel, Ctl box, const audio::MixerDestination& side) {
    panel.setItems(box, side.present ? side.sources : std::vector<std::string>{});
    panel.setItemIndex(box, -1);
    panel.setText(box, side.present ? side.name : std::string());
}

}  // namespace

void Instrument::useMixerOfDriver() {
    const std::string driver = streams_->DriverName();
    if (driver == "sim") {
        mixer_ = audio::MakeBenchMixer(*streams_, "Simulated bench", "Generator", "Bench input");
    } else if (driver == "wav") {
        mixer_ = audio::MakeBenchMixer(*streams_, "WAV player", "Generator", "File input");
    } else if (driver == "bundle") {
        mixer_ = audio::MakeBenchMixer(*streams_, "Bundle player", "Generator", "Bundle input");
    } else {
        mixer_ = audio::MakeAlsaMixer();
    }
    cycle_.forgetInputLevelGain();
}

void Instrument::setMixer(std::unique_ptr<audio::Mixer> mixer) {
    mixer_ = mixer ? std::move(mixer) : audio::MakeAlsaMixer();
    cycle_.forgetInputLevelGain();
}

void Instrument::mixerstartClick(const UiEvent&) {
    std::vector<std::string> cards = mixer_->ListMixers();
    panel.setItems(Ctl::card_box, cards);
    panel.setItemIndex(Ctl::card_box, cards.empty() ? -1 : 0);
    if (cards.empty()) panel.setText(Ctl::card_box, std::string());
    // Device numbers of the streams follow this list.
    streams_->SetCardNames(std::move(cards));
    card_boxChange();
}

void Instrument::card_boxChange(const UiEvent&) {
    const audio::MixerLines lines = mixer_->ListLines(panel.itemIndex(Ctl::card_box));
    cycle_.forgetInputLevelGain();
    fillLineBox(panel, Ctl::output_box, lines.playback);
    fillLineBox(panel, Ctl::input_box, lines.recording);
    panel.setText(Ctl::output_box, kNothing);
    panel.setText(Ctl::input_box, kNothing);

    const int master = mixer_->GetVolume(audio::Mixer::kPlayback, audio::Mixer::kMaster);
    if (master >= 0) panel.setPosition(Ctl::master_bar, master);
    mixer_->SetMute(audio::Mixer::kPlayback, audio::Mixer::kMaster, false);

    // The playback line that is audible.
    const int outputs = static_cast<int>(panel.state(Ctl::output_box).items.size());
    for (int i = 0; i < outputs; ++i) {
        if (mixer_->GetMute(audio::Mixer::kPlayback, i)) continue;
        panel.setItemIndex(Ctl::output_box, i);
        const int level = mixer_->GetVolume(audio::Mixer::kPlayback, i);
        if (level >= 0) panel.setPosition(Ctl::output_bar, level);
        break;
    }
    // The recording input in use.
    const std::vector<std::string> inputs = panel.state(Ctl::input_box).items;
    for (int i = 0; i < static_cast<int>(inputs.size()); ++i) {
        if (!mixer_->IsInputSelected(inputs[static_cast<size_t>(i)])) continue;
        panel.setItemIndex(Ctl::input_box, i);
        const int level = mixer_->GetVolume(audio::Mixer::kRecording, i);
        if (level >= 0) panel.setPosition(Ctl::input_bar, level);
        break;
    }
    // The capture stream reopens on the card at the next housekeeping tick.
    st.InputRestartPending = true;
}

void Instrument::output_boxChange(const UiEvent&) {
    // The chosen playback line is made audible and the card's other inputs
    // mixed into the output (line-in, microphone, CD ...) are muted, so that
    // only the chosen source adds to what the generators play. The outputs
    // themselves and the card's own playback (Master, Headphone, Speaker,
    // PCM ...) are never muted here: that would silence the card.
    const int chosen = panel.itemIndex(Ctl::output_box);
    const audio::MixerLines lines = mixer_->ListLines(panel.itemIndex(Ctl::card_box));
    const std::vector<bool>& inputs = lines.playback.mixedInputs;
    const int outputs = static_cast<int>(panel.state(Ctl::output_box).items.size());
    for (int i = 0; i < outputs; ++i) {
        if (i == chosen) {
            mixer_->SetMute(audio::Mixer::kPlayback, i, false);
        } else if (i < static_cast<int>(inputs.size()) && inputs[static_cast<size_t>(i)]) {
            mixer_->SetMute(audio::Mixer::kPlayback, i, true);
        }
    }
    card_boxChange();
    // With the outputs left audible the refresh shows the first of them;
    // the chosen line, audible now, stays the one shown.
    if (chosen >= 0 && chosen < static_cast<int>(panel.state(Ctl::output_box).items.size()) &&
        !mixer_->GetMute(audio::Mixer::kPlayback, chosen)) {
        panel.setItemIndex(Ctl::output_box, chosen);
        const int level = mixer_->GetVolume(audio::Mixer::kPlayback, chosen);
        if (level >= 0) panel.setPosition(Ctl::output_bar, level);
    }
}

void Instrument::input_boxChange(const UiEvent&) {
    mixer_->SelectInput(panel.itemText(Ctl::input_box));
    card_boxChange();
}

void Instrument::output_barChange(const UiEvent&) {
    // With no line chosen there is nothing to set (source -1 would be the
    // master line).
    const int line = panel.itemIndex(Ctl::output_box);
    if (line >= 0) mixer_->SetVolume(audio::Mixer::kPlayback, line, panel.position(Ctl::output_bar));
}

void Instrument::input_barChange(const UiEvent&) {
    const int line = panel.itemIndex(Ctl::input_box);
    if (line >= 0) mixer_->SetVolume(audio::Mixer::kRecording, line, panel.position(Ctl::input_bar));
}

void Instrument::master_barChange(const UiEvent&) {
    mixer_->SetVolume(audio::Mixer::kPlayback, audio::Mixer::kMaster, panel.position(Ctl::master_bar));
}

}  // namespace miral::core
