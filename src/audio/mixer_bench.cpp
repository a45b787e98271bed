// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/mixer_bench.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "audio/streams.h"

namespace miral::audio {

std::unique_ptr<Mixer> MakeBenchMixer(AudioStreams& streams, std::string cardName, std::string playbackLine,
                                      std::string recordingLine) {
    return std::make_unique<BenchMixer>(streams, std::move(cardName), std::move(playbackLine),
                                        std::move(recordingLine));
}

BenchMixer::BenchMixer(AudioStreams& streams, std::string cardName, std::string playbackLine,
                       std::string recordingLine)
    : streams_(streams),
      card_(std::move(cardName)),
      playbackLine_(std::move(playbackLine)),
      recordingLine_(std::move(recordingLine)) {
    Apply();
}

double BenchMixer::OutputLevel() const {
    if (master_.muted || output_.muted) return 0.0;
    return static_cast<double>(master_.volume) / kFullScale * output_.volume / kFullScale;
}

double BenchMixer::InputLevel() const {
    return input_.muted ? 0.0 : static_cast<double>(input_.volume) / kFullScale;
}

void BenchMixer::Apply() {
    streams_.SetOutputLevel(OutputLevel());
    streams_.SetInputLevel(InputLevel());
}

std::vector<std::string> BenchMixer::ListMixers() {
    Succeeded();
    return {card_};
}

MixerLines BenchMixer::ListLines(int device) {
    device_ = device;
    MixerLines out;
    if (device != 0) {
        Fail("mixer card " + std::to_string(device) + " is not in the card list");
        return out;
    }
    out.playback = MixerDestination{true, "Playback", {playbackLine_}, {false}};  // the card's own playback
    out.recording = MixerDestination{true, "Recording", {recordingLine_}, {}};
    Succeeded();
    return out;
}

BenchMixer::Level* BenchMixer::Find(int destination, int source) {
    if (device_ != 0) {
        Fail("mixer card " + std::to_string(device_) + " is not in the card list");
        return nullptr;
    }
    if (destination == kPlayback && source == kMaster) return &master_;
    if (destination == kPlayback && source == 0) return &output_;
    if (destination == kRecording && (source == 0 || source == kMaster)) return &input_;
    Fail("line " + std::to_string(source) + " of mixer destination " + std::to_string(destination) +
         " does not exist");
    return nullptr;
}

int BenchMixer::GetVolume(int destination, int source) {
    const Level* level = Find(destination, source);
    if (!level) return -1;
    Succeeded();
    return level->volume;
}

bool BenchMixer::SetVolume(int destination, int source, int value) {
    Level* level = Find(destination, source);
    if (!level) return false;
    level->volume = std::clamp(value, 0, kFullScale);
    Apply();
    Succeeded();
    return true;
}

std::optional<double> BenchMixer::LevelDb(int destination, int source, int level) {
    if (!Find(destination, source)) return std::nullopt;
    Succeeded();
    level = std::clamp(level, 0, kFullScale);
    if (level == 0) return -std::numeric_limits<double>::infinity();
    return 20.0 * std::log10(static_cast<double>(level) / kFullScale);
}

bool BenchMixer::GetMute(int destination, int source) {
    const Level* level = Find(destination, source);
    if (!level) return true;
    Succeeded();
    return level->muted;
}

bool BenchMixer::SetMute(int destination, int source, bool on) {
    Level* level = Find(destination, source);
    if (!level) return false;
    level->muted = on;
    Apply();
    Succeeded();
    return true;
}

bool BenchMixer::SelectInput(std::string_view name) {
    if (!Find(kRecording, 0)) return false;
    std::vector<bool> selected{!input_.muted};
    if (ChooseInputs({recordingLine_}, selected, false, name) == 0)
        return Fail("no recording input is named like \"" + std::string(name) + "\"");
    input_.muted = !selected[0];
    Apply();
    Succeeded();
    return true;
}

bool BenchMixer::IsInputSelected(std::string_view name) {
    if (!Find(kRecording, 0)) return false;
    if (InputNamed({recordingLine_}, name) < 0)
        return Fail("no recording input is named like \"" + std::string(name) + "\"");
    Succeeded();
    return !input_.muted;
}

}  // namespace miral::audio
