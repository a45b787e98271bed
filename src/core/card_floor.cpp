// SPDX-License-Identifier: GPL-3.0-or-later
// The card's own floor: the loopback test, its file in the configuration
// folder, and the "~floor" marks on distortion figures the card itself limits.
//
// The test plays a 1 kHz sine at -1 dBFS, then at -20 dBFS, into the card's
// own inputs (wired from its output) and measures each with the distortion
// analyzer: THD and THD+N at -1 dBFS, the noise at -20 dBFS, per channel.
// The result is stored per card, rate and format in "card-floor.txt", one
// line each, tab-separated:
//   card  rate  format  THD A  THD+N A  noise A  THD B  THD+N B  noise B
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "core/instrument.h"
#include "core/operate.h"
#include "storage/file_io.h"
#include "storage/preferences.h"

namespace miral::core {

namespace {

constexpr const char* kFloorFile = "card-floor.txt";
constexpr const char* kFloorHeader =
    "# Miral card floor: card, rate, format, THD A, THD+N A, noise A, THD B, THD+N B, noise B (dB, dBFS)";
constexpr std::size_t kFloorFileMax = 1 << 20;
constexpr const char* kLoopbackQuestion =
    "Loopback test: wire the output to both inputs (A and B). The card plays 1 kHz at -1 dBFS and at -20 "
    "dBFS. "
    "Start?";
// The test's level steps: the generator's amplitude knob (its 100 is a peak of
// 32000 / 32768 / 1.1, -1.03 dBFS; 11 is -20.2 dBFS).
constexpr const char* kLevelKnob[] = {"100", "11"};
// A tone that comes back more than 20 dB below what was played is no
// loopback (an open input, a muted line): nothing to measure a floor on.
constexpr double kMinLevelDbfs[] = {-1.03 - 20.0, -20.2 - 20.0};
// A figure this close to the floor (or below it) is the card's.
constexpr double kFloorMarginDb = 3.0;
// The test gives up when no 1 kHz tone arrives within this many seconds of
// capture after the level reached the window (counted in samples: a window
// runs far fewer cycles per second than the simulated bench).
constexpr int kFloorGiveUpSeconds = 3;

// The controls the test changes, in the order they are put back.
constexpr const char* kFloorControls[] = {"trasf",     "zeta",      "Tempo",   "hold",    "genon2",
                                          "gensweep1", "genstart1", "gensin1", "gentri1", "gensqr1",
                                          "gennoise1", "genx1",     "genx2",   "genx3",   "genx4",
                                          "genfreq",   "genampl",   "db20",    "db40",    "genon1"};

std::string text2(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.2f", v);
    return buf;
}

std::vector<std::string> splitTabs(std::string_view line) {
    std::vector<std::string> out;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= line.size(); ++i) {
        if (i == line.size() || line[i] == '\t') {
            out.emplace_back(line.substr(start, i - start));
            start = i + 1;
        }
    }
    return out;
}

// The floor stored for key in the file's text.
CardFloor::Figures findFloor(const std::string& text, const std::string& key) {
    CardFloor::Figures f;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string_view line(text.data() + start, end - start);
        start = end + 1;
        if (line.empty() || line[0] == '#') continue;
        const auto fields = splitTabs(line);
        if (fields.size() != 9 || fields[0] + "\t" + fields[1] + "\t" + fields[2] != key) continue;
        CardFloor::Figures g;
        bool ok = true;
        for (int k = 0; k < 6 && ok; ++k) {
            const auto v = storage::parseReal(fields[static_cast<std::size_t>(3 + k)]);
            ok = v && std::isfinite(*v) && *v > -400 && *v < 100;
            if (ok) {
                auto& dst = k % 3 == 0 ? g.thdDb : k % 3 == 1 ? g.thdNDb : g.noiseDbfs;
                dst[static_cast<std::size_t>(k / 3)] = *v;
            }
        }
        if (!ok) continue;  // a damaged line is no floor
        g.valid = true;
        f = g;  // the last line of a key holds
    }
    return f;
}

std::string oneLine(std::string s) {
    for (char& ch : s)
        if (ch == '\t' || ch == '\n' || ch == '\r') ch = ' ';
    return s;
}

}  // namespace

std::string CardFloor::floorKey() const {
    // The card: the driver and the device (its name when the preferences
    // choose one by name).
    std::string card = in_.streams().DriverName();
    const std::string byName = in_.prefs.readText("rx_device_name");
    card += ":" + (byName.empty() ? std::to_string(in_.streams().CaptureDevice()) : byName);
    return oneLine(card) + "\t" + std::to_string(st_.CaptureRate) + "\t" +
           oneLine(audio::SampleFormatName(in_.streams().CaptureFormat()));
}

std::optional<std::string> CardFloor::floorField(std::string_view name) const {
    if (name.substr(0, 5) != "Floor" || name.size() < 7) return std::nullopt;
    const char last = name.back();
    if (last != 'A' && last != 'B') return std::nullopt;
    const std::string_view what = name.substr(5, name.size() - 6);
    const std::size_t ch = last == 'B' ? 1 : 0;
    std::string text;
    std::string why;
    storage::readWholeFile(in_.configDir() / kFloorFile, kFloorFileMax, &text, &why);
    const Figures f = findFloor(text, floorKey());
    double v = 0;
    if (what == "ThdDb") {
        v = f.thdDb[ch];
    } else if (what == "ThdNDb") {
        v = f.thdNDb[ch];
    } else if (what == "NoiseDbfs") {
        v = f.noiseDbfs[ch];
    } else {
        return std::nullopt;
    }
    return f.valid ? text2(v) : std::string("nan");
}

void CardFloor::refreshFloor() {
    const std::string key = floorKey();
    if (key == floorKey_ && !floorKey_.empty()) return;
    floorKey_ = key;
    std::string text, why;
    storage::readWholeFile(in_.configDir() / kFloorFile, kFloorFileMax, &text, &why);
    floor_ = findFloor(text, key);
}

bool CardFloor::figureAtFloor(double db, double floorDb) const {
    return std::isfinite(db) && db <= floorDb + kFloorMarginDb;
}

void CardFloor::loopback_testClick() {
    if (floorStep_ != 0) return;  // already running
    if (bundles().bundle()) {
        in_.showStatusMessage("Loopback test: not on a bundle's capture; choose a card first");
        return;
    }
    if (question() && !question()->ask(kLoopbackQuestion)) return;
    floorSaved_.clear();
    for (const char* name : kFloorControls)
        if (auto v = in_.printControl(name)) floorSaved_.emplace_back(name, *v);
    // The frequency view with the analyzer's own window, the main generator
    // alone: a sine of 1 kHz (range 1k, knob 1000). The generator's controls
    // may be on a page the window does not show.
    Panel::AnyPage reach(panel_);
    std::string why;
    for (const auto& [name, value] : {std::pair<const char*, const char*>{"trasf", "0"},
                                      {"zeta", "0"},
                                      {"Tempo", "0"},
                                      {"hold", "0"},
                                      {"genon2", "0"},
                                      {"gensweep1", "0"},
                                      {"genstart1", "0"},
                                      {"gensin1", "1"},
                                      {"genx4", "1"},
                                      {"genfreq", "1000"},
                                      {"genampl", kLevelKnob[0]},
                                      {"db20", "0"},
                                      {"db40", "0"},
                                      {"genon1", "1"}}) {
        if (in_.printControl(name) != std::optional<std::string>(value) &&
            !operateSet(in_, name, value, &why)) {
            floorFinish("Loopback test failed: " + why, false);
            return;
        }
    }
    floorMeasured_ = Figures{};
    floorStep_ = 1;
    floorArmed_ = false;
    distortion().distortionRestart();
    in_.showStatusMessage("Loopback test: 1 kHz at -1 dBFS ...");
}

// The steps that set controls, write the file or show a message run right
// after the cycle (floorAfterCycle): the cycle only notes them.
void CardFloor::floorStage() {
    if (floorStep_ == 0 || floorDue_ != FloorDue::None) return;
    const analysis::DistFigures& a = distortion().analyzer().figures(0);
    const analysis::DistFigures& b = distortion().analyzer().figures(1);
    if (!floorArmed_) {
        // Samples still under way from the old level (the playback's
        // buffers) pass first: half a second more than a window.
        const int need = std::min(st_.FftSize + std::max(st_.CaptureRate, 0) / 2, audio::CaptureRing::kSize);
        if (distortion().captured() >= need) {
            distortion().analyzer().Reset();
            floorArmed_ = true;
            floorSamples_ = 0;
            floorCountedIndex_ = cycle().acquiredWriteIndex();
        }
        return;
    }
    const int size = audio::CaptureRing::kSize;
    floorSamples_ += ((cycle().acquiredWriteIndex() - floorCountedIndex_) % size + size) % size;
    floorCountedIndex_ = cycle().acquiredWriteIndex();
    if (floorSamples_ > static_cast<long long>(kFloorGiveUpSeconds) * std::max(st_.CaptureRate, 1)) {
        floorDue_ = FloorDue::GiveUp;
        return;
    }
    const double minLevel = kMinLevelDbfs[floorStep_ == 1 ? 0 : 1];
    auto tone = [minLevel](const analysis::DistFigures& f) {
        return f.status == analysis::DistStatus::Ok && std::fabs(f.f0 - 1000.0) < 5.0 &&
               f.levelDbfs > minLevel;
    };
    if (!tone(a) || !tone(b)) return;
    if (floorStep_ == 1) {
        for (std::size_t ch = 0; ch < 2; ++ch) {
            const analysis::DistFigures& f = ch ? b : a;
            floorMeasured_.thdDb[ch] = f.thdDb;
            floorMeasured_.thdNDb[ch] = f.thdNDb;
        }
        floorDue_ = FloorDue::NextLevel;
        return;
    }
    for (std::size_t ch = 0; ch < 2; ++ch) {
        const analysis::DistFigures& f = ch ? b : a;
        // The noise in the band relative to a full-scale sine: the level less
        // the signal-to-noise ratio (harmonics excluded).
        floorMeasured_.noiseDbfs[ch] = f.levelDbfs - f.snrDb;
    }
    floorMeasured_.valid = true;
    floorDue_ = FloorDue::Store;
}

void CardFloor::floorAfterCycle() {
    const FloorDue due = floorDue_;
    floorDue_ = FloorDue::None;
    if (floorStep_ == 0) return;
    const Figures& m = floorMeasured_;
    switch (due) {
        case FloorDue::None:
            break;
        case FloorDue::NextLevel: {
            Panel::AnyPage reach(panel_);
            std::string why;
            if (!operateSet(in_, "genampl", kLevelKnob[1], &why)) {
                floorFinish("Loopback test failed: " + why, false);
                break;
            }
            floorStep_ = 2;
            floorArmed_ = false;
            distortion().distortionRestart();
            in_.showStatusMessage("Loopback test: 1 kHz at -20 dBFS ...");
            break;
        }
        case FloorDue::Store:
            floorFinish("Loopback test: A THD " + text2(m.thdDb[0]) + " dB, THD+N " + text2(m.thdNDb[0]) +
                            " dB, noise " + text2(m.noiseDbfs[0]) + " dBFS; B THD " + text2(m.thdDb[1]) +
                            " dB, THD+N " + text2(m.thdNDb[1]) + " dB, noise " + text2(m.noiseDbfs[1]) +
                            " dBFS",
                        true);
            break;
        case FloorDue::GiveUp:
            floorFinish("Loopback test failed: no 1 kHz tone on the inputs; wire the output to both inputs",
                        false);
            break;
    }
}

void CardFloor::floorFinish(const std::string& message, bool store) {
    floorStep_ = 0;
    const std::string key = floorKey();
    // The panel as it was: the generator first, the view last.
    Panel::AnyPage reach(panel_);
    std::string why;
    for (auto it = floorSaved_.rbegin(); it != floorSaved_.rend(); ++it)
        if (in_.printControl(it->first) != std::optional<std::string>(it->second))
            operateSet(in_, it->first, it->second, &why);
    floorSaved_.clear();
    if (!store) {
        in_.showStatusMessage(message);
        return;
    }
    // The file keeps every other card's line; this card's line is replaced.
    std::string text, error;
    const auto status = storage::readWholeFile(in_.configDir() / kFloorFile, kFloorFileMax, &text, &error);
    if (status != storage::ReadStatus::Ok && status != storage::ReadStatus::Missing) {
        // Something that cannot be read is not written over.
        in_.showStatusMessage(message + "; not stored: " + error);
        return;
    }
    std::string out = std::string(kFloorHeader) + "\n";
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(start, end - start);
        start = end + 1;
        if (line.empty() || line[0] == '#' || line.rfind(key + "\t", 0) == 0) continue;
        out += line + "\n";
    }
    const Figures& m = floorMeasured_;
    out += key;
    for (std::size_t ch = 0; ch < 2; ++ch)
        out += "\t" + text2(m.thdDb[ch]) + "\t" + text2(m.thdNDb[ch]) + "\t" + text2(m.noiseDbfs[ch]);
    out += "\n";
    if (!storage::writeFileAtomically(in_.configDir() / kFloorFile, out, &error)) {
        in_.showStatusMessage(message + "; not stored: " + error);
        return;
    }
    floorKey_.clear();
    refreshFloor();
    in_.showStatusMessage(message + " (stored)");
}

// ---- The instrument's handlers ---------------------------------------------------------

void Instrument::loopback_testClick(const UiEvent&) {
    cardFloor_.loopback_testClick();
}

}  // namespace miral::core
