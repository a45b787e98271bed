// SPDX-License-Identifier: GPL-3.0-or-later
// The stored panel: the States key written at power-off and read at power-on,
// the TempStates copy around the calibration, prefs.dat with the colour
// schemes and the probe table, and the power and reset buttons.
//
// Every component of the main window is numbered by its place in the panel
// table; component i keeps at most one value: "CmpB" + i for latching
// buttons, check boxes and radio buttons (0/1), edit boxes (text), track bars
// (position) and combo boxes (item index), "CmpI" + i for knobs (value).
#include <algorithm>
#include <cmath>
#include <iostream>

#include "core/instrument.h"
#include "display/knob.h"
#include "storage/bundle.h"
#include "storage/panel_store.h"

namespace miral::core {

namespace {

constexpr const char* kStatesKey = "Software\\Zorvane\\V1_005\\States";
constexpr const char* kTempStatesKey = "Software\\Zorvane\\TempStates";
// Edit and combo boxes with this tag are written but never read back: their
// values come from prefs.dat.
constexpr int kNotRestoredTag = 777;
// The component count of the first stored panel layout; every later layout
// only added controls at the end (the CSV box, the distortion analyzer).
constexpr int kFirstStoredLayout = 334;
// How long a message stays in the status line (housekeeping ticks).
constexpr int kMessageTicks = 300;

constexpr Ctl kStoredKnobs[] = {
    Ctl::genampl2,   Ctl::pos1,      Ctl::range1,    Ctl::pos2,     Ctl::range2,  Ctl::mainselect,
    Ctl::pretrigger, Ctl::triglevel, Ctl::fftselect, Ctl::tb1,      Ctl::tb2,     Ctl::tb3,
    Ctl::tb4,        Ctl::genfreq,   Ctl::genampl,   Ctl::gensweep, Ctl::genfreq2};
constexpr Ctl kMarkerHandles[] = {Ctl::mark1x, Ctl::mark2x, Ctl::mark3x, Ctl::mark4x};

std::string recordName(const char* prefix, int i) {
    return prefix + std::to_string(i);
}

void writeControlRecords(const Panel& panel, storage::RegistryKey& key) {
    for (int i = 0; i < kControlCount; ++i) {
        const auto c = static_cast<Ctl>(i);
        const ControlState& s = panel.state(c);
        switch (panel.def(c).kind) {
            case Kind::Latch:
            case Kind::Check:
            case Kind::Radio:
                key.setInt(recordName("CmpB", i), s.down ? 1 : 0);
                break;
            case Kind::Edit:
                key.setText(recordName("CmpB", i), s.text);
                break;
            case Kind::TrackBar:
                key.setInt(recordName("CmpB", i), s.position);
                break;
            case Kind::Combo:
                key.setInt(recordName("CmpB", i), s.itemIndex);
                break;
            case Kind::Knob:
                key.setInt(recordName("CmpI", i), s.tag);
                break;
            default:
                break;
        }
    }
}

// The values of a stored panel that lie outside what their control or field
// can hold, for one message about the file.
class OutOfRange {
  public:
    // Whether v lies within lo..hi; a value outside is noted under its name.
    bool check(std::string_view name, long long v, long long lo, long long hi) {
        if (v >= lo && v <= hi) return true;
        note(name, v, "is outside " + std::to_string(lo) + ".." + std::to_string(hi));
        return false;
    }
    // Notes a value that is not used, and why.
    void note(std::string_view name, long long v, const std::string& why) {
        if (++count_ > kListed) return;
        if (!list_.empty()) list_ += ", ";
        list_ += std::string(name) + " " + std::to_string(v) + " " + why;
    }
    bool empty() const { return count_ == 0; }
    std::string message(const std::filesystem::path& file) const {
        std::string m = file.string() + ": " + list_;
        if (count_ > kListed) m += " and " + std::to_string(count_ - kListed) + " more";
        return m + "; the defaults are used instead";
    }

  private:
    static constexpr int kListed = 4;
    std::string list_;
    int count_ = 0;
};

// A handle's left edge lies on the strip under the screen, inside the window.
constexpr int kHandleLeftMin = 8, kHandleLeftMax = 848;
// Capture rates of the time base: from the slowest rate a card runs at to
// twice the fastest (the time base doubles its base rate).
constexpr int kCaptureRateMin = 4000, kCaptureRateMax = 384000;

// The values a stored knob may hold: its scale, widened for the knobs that
// the program itself turns beyond it.
std::pair<int, int> storedKnobRange(const Panel& panel, Ctl c) {
    switch (c) {
        // The band knobs show the band in hertz, tens or hundreds of hertz:
        // up to 960 for the 96 kHz of the fastest rate.
        case Ctl::tb1:
        case Ctl::tb2:
        case Ctl::tb4:
            return {0, 1000};
        // The generators' frequencies: the -/+ buttons step past the scale,
        // the calibration, the RLC meter and the transfer-function preset
        // set their own frequencies.
        case Ctl::genfreq:
        case Ctl::genfreq2:
            return {0, 1000000};
        default:
            break;
    }
    if (const auto r = display::ParseKnobRange(panel.hint(c))) return {r->min, r->max};
    return {panel.def(c).knobMin, panel.def(c).knobMax};
}

// The item lists of these combos are the machine's sound cards and lines: a
// stored index the list no longer has is no fault of the file.
bool listsTheMachine(Ctl c) {
    return c == Ctl::card_box || c == Ctl::input_box || c == Ctl::output_box;
}

// A value missing from the key (or of the wrong type) leaves its control as
// it is, except a knob, which takes its default; so does a value outside the
// control's range (noted in `bad`). Only the first `count` components are
// read: a state of an earlier layout has no records for the later ones.
void readControlRecords(Panel& panel, const storage::RegistryKey& key, int count, OutOfRange& bad) {
    for (int i = 0; i < std::min(count, kControlCount); ++i) {
        const auto c = static_cast<Ctl>(i);
        const std::string name = recordName(panel.def(c).kind == Kind::Knob ? "CmpI" : "CmpB", i) + " (" +
                                 std::string(controlName(c)) + ")";
        switch (panel.def(c).kind) {
            case Kind::Latch:
            case Kind::Check:
            case Kind::Radio:
                // Buttons of a group restored later release earlier ones.
                if (auto v = key.readInt(recordName("CmpB", i)); v && bad.check(name, *v, 0, 1))
                    panel.setDown(c, *v != 0);
                break;
            case Kind::Edit:
                if (panel.tag(c) == kNotRestoredTag) break;
                if (auto v = key.readText(recordName("CmpB", i))) panel.setText(c, *v);
                break;
            case Kind::TrackBar:
                if (auto v = key.readInt(recordName("CmpB", i));
                    v && bad.check(name, *v, panel.state(c).min, panel.state(c).max))
                    panel.setPosition(c, *v);
                break;
            case Kind::Combo: {
                if (panel.tag(c) == kNotRestoredTag) break;
                const auto v = key.readInt(recordName("CmpB", i));
                if (!v) break;
                const int last = static_cast<int>(panel.state(c).items.size()) - 1;
                if (listsTheMachine(c) ? *v >= -1 && *v <= last : bad.check(name, *v, -1, last))
                    panel.setItemIndex(c, *v);
                break;
            }
            case Kind::Knob: {
                const auto v = key.readInt(recordName("CmpI", i));
                const auto [lo, hi] = storedKnobRange(panel, c);
                if (v && bad.check(name, *v, lo, hi)) {
                    panel.setValue(c, *v);
                } else if (const auto d = defaultKnobValue(c)) {
                    panel.setValue(c, *d);
                }
                break;
            }
            default:
                break;
        }
    }
}

}  // namespace

std::filesystem::path Instrument::registryFile() const {
    return configDir_ / storage::kRegistryFileName;
}
std::filesystem::path Instrument::prefsDatFile() const {
    return configDir_ / storage::kPrefsDatFileName;
}

// ---- Status line ------------------------------------------------------------------

void Instrument::showStatusMessage(std::string message) {
    // The messages of the power-on (a damaged store and a damaged prefs.dat)
    // are shown together; later an older message gives way to a newer one.
    if (st.RestoreOnFirstTick && statusMessageTicks_ > 0 && !statusMessage_.empty()) {
        statusMessage_ += "  " + message;
    } else {
        statusMessage_ = std::move(message);
    }
    statusMessageTicks_ = kMessageTicks;
    st.StatusText = streams_->StatusText();
    st.StreamStatus = st.StatusText;
    keepStatusMessage();
}

void Instrument::keepStatusMessage() {
    if (statusMessage_.empty()) return;
    if (statusMessageTicks_ <= 0) {
        statusMessage_.clear();
        return;
    }
    --statusMessageTicks_;
    if (!st.StatusText.empty()) st.StatusText += "  ";
    st.StatusText += statusMessage_;
}

// ---- Panel state ------------------------------------------------------------------

void Instrument::redrawStoredKnobs() {
    for (Ctl k : kStoredKnobs) drawKnob(k, panel.value(k));
}

bool Instrument::configFolderReady(std::string* error) {
    if (configProblem_.empty()) return true;
    // The folder may have been made possible since (a disk mounted, a
    // permission given): it is tried again before anything is stored.
    if (!storage::makeConfigDirectory(configDir_, error)) return false;
    configProblem_.clear();
    return true;
}

bool Instrument::loadPanelState() {
    // Without its folder there is nothing to read (a bundle brings its
    // own); the status line has already said why.
    if (!configProblem_.empty() && !bundle_) return false;
    storage::Registry reg(registryFile());
    if (bundle_) {
        // An open bundle brings its own panel (checked when it was opened).
        std::string why;
        reg.parse(bundle_->panelState, &why);
    } else {
        reg.load();
    }
    if (!reg.message().empty()) showStatusMessage(reg.message());
    const storage::RegistryKey* key = reg.findKey(kStatesKey);
    if (!key) return false;
    // A state stored by another panel layout, or marked void, is ignored whole.
    // Controls are only ever added at the end of the panel, so a state stored
    // by an earlier layout (the CSV box or the distortion analyzer not there
    // yet) is still this panel: its controls come back and the newer ones
    // keep their designed state.
    const std::optional<int> stored = key->readInt("check_all");
    if (!stored || *stored < kFirstStoredLayout || *stored > kControlCount) return false;
    OutOfRange bad;
    // Window positions: X11's screen coordinates are 16-bit.
    auto l = key->readInt("f1l");
    auto t = key->readInt("f1t");
    if (l && !bad.check("f1l", *l, -32768, 32767)) l.reset();
    if (t && !bad.check("f1t", *t, -32768, 32767)) t.reset();
    if (l || t) panel.setFormPos(l.value_or(panel.formLeft()), t.value_or(panel.formTop()));
    for (int m = 0; m < 4; ++m) {
        const Ctl h = kMarkerHandles[m];
        const std::string n = "mk" + std::to_string(m + 1);
        if (auto left = key->readInt(n); left && bad.check(n, *left, kHandleLeftMin, kHandleLeftMax)) {
            const ControlState& s = panel.state(h);
            panel.setBounds(h, *left, s.top, s.width, s.height);
        }
        if (auto tag = key->readInt(n + "T"); tag && bad.check(n + "T", *tag, 0, 1)) panel.setTag(h, *tag);
    }
    if (auto v = key->readInt("SPS"))
        st.CaptureRate = bad.check("SPS", *v, kCaptureRateMin, kCaptureRateMax) ? *v : 32768;
    if (auto v = key->readInt("Status"); v && bad.check("Status", *v, 0, 2)) st.SidePanelMode = *v;
    if (auto v = key->readInt("Status2"); v && bad.check("Status2", *v, 1, 5)) st.ModulationMode = *v;
    if (auto v = key->readInt("Scale")) {
        if (*v == 0 || *v == 100 || *v == 125 || *v == 150 || *v == 200) {
            st.PanelScale = *v;
        } else {
            bad.note("Scale", *v, "is not 0, 100, 125, 150 or 200");
        }
    }
    if (auto v = key->readText("modul")) panel.setCaption(Ctl::Label129, *v);
    if (auto v = key->readText("duty")) panel.setCaption(Ctl::Label131, *v);
    readControlRecords(panel, *key, *stored, bad);
    if (!bad.empty()) showStatusMessage(bad.message(registryFile()));
    // The power button was released by the click that stored the panel; the
    // instrument that comes up is on.
    panel.setDown(Ctl::Panel29, true);
    redrawStoredKnobs();
    return true;
}

bool Instrument::savePanelState(std::string* error) {
    if (!configFolderReady(error)) return false;
    storage::Registry reg(registryFile());
    reg.load();
    if (!reg.message().empty()) std::cerr << "miral: " << reg.message() << "\n";
    writeStatesKey(*reg.openKey(kStatesKey, true));
    return reg.save(error);
}

void Instrument::writeStatesKey(storage::RegistryKey& key) const {
    key.setInt("check_all", kControlCount);
    key.setInt("f1l", panel.formLeft());
    key.setInt("f1t", panel.formTop());
    for (int m = 0; m < 4; ++m) key.setInt("mk" + std::to_string(m + 1), panel.state(kMarkerHandles[m]).left);
    for (int m = 0; m < 4; ++m) key.setInt("mk" + std::to_string(m + 1) + "T", panel.tag(kMarkerHandles[m]));
    key.setInt("SPS", st.CaptureRate);
    key.setInt("Status", st.SidePanelMode == 0 ? 1 : st.SidePanelMode);
    key.setInt("Status2", st.ModulationMode);
    key.setText("modul", panel.caption(Ctl::Label129));
    key.setText("duty", panel.caption(Ctl::Label131));
    // The size of the window's panel (percent; 0 follows the desktop).
    key.setInt("Scale", st.PanelScale);
    writeControlRecords(panel, key);
}

// ---- prefs.dat ----------------------------------------------------------------------

void Instrument::fillProbeEdits() {
    int p = panel.itemIndex(Ctl::ComboBox5);
    if (p < 0 || p >= 10) p = 0;
    const auto& t = st.Probes;
    panel.setText(Ctl::Edit5, shortestText(t.diffGainDb[p]));
    panel.setText(Ctl::Edit9, shortestText(t.shuntOhm[p]));
    panel.setText(Ctl::Edit1, shortestText(t.probePf[p]));
    panel.setText(Ctl::Edit17, shortestText(t.probeMilliOhm[p]));
    panel.setText(Ctl::Edit14, shortestText(t.delayNs[p]));
    panel.setText(Ctl::Edit10, shortestText(t.inputImpedance));
    panel.setText(Ctl::Edit16, shortestText(t.commonGain));
}

void Instrument::loadPrefsDat() {
    storage::PrefsDat p;
    std::string message;
    // An open bundle brings its own probe table and colours (checked when it was opened).
    bool loaded = false;
    if (bundle_) {
        loaded = storage::decodePrefsDat(bundle_->probeTable, p, &message);
    } else {
        const storage::LoadStatus status = configProblem_.empty()
                                               ? storage::loadPrefsDat(prefsDatFile(), p, &message)
                                               : storage::LoadStatus::Missing;
        if (!message.empty()) showStatusMessage(message);
        loaded = status == storage::LoadStatus::Loaded;
    }
    if (loaded) {
        for (int k = 0; k < kSchemeCount; ++k)
            for (int t = 0; t < kSchemeSlots; ++t)
                schemes_[k][t] = static_cast<display::Color>(
                    p.colors[static_cast<std::size_t>(k)][static_cast<std::size_t>(t)]);
        selectedScheme_ = p.selectedScheme();
        auto& t = st.Probes;
        for (std::size_t i = 0; i < 10; ++i) {
            t.delayNs[i] = p.delayNs[i];
            t.shuntOhm[i] = p.shuntOhm[i];
            t.probeMilliOhm[i] = p.probeMilliOhm[i];
            t.probePf[i] = p.probePf[i];
            t.diffGainDb[i] = p.diffGainDb[i];
        }
        t.inputImpedance = p.inputImpedance;
        t.commonGain = p.commonGain;
    } else {
        setDefaultSchemes();
        // No table yet: every probe starts from the values the boxes are
        // designed with (a 10 ohm shunt, 10 kilohm input), so that what the
        // boxes show and what power-off stores agree.
        auto& t = st.Probes;
        t = InstrumentState::ProbeTable{};
        for (int i = 0; i < 10; ++i) {
            t.delayNs[i] = storage::kProbeDelayRange.fallback;
            t.shuntOhm[i] = storage::kProbeShuntRange.fallback;
            t.probeMilliOhm[i] = storage::kProbeResistanceRange.fallback;
            t.probePf[i] = storage::kProbeCapacitanceRange.fallback;
            t.diffGainDb[i] = storage::kDiffGainRange.fallback;
        }
        t.inputImpedance = storage::kInputImpedanceRange.fallback;
        t.commonGain = storage::kCommonGainRange.fallback;
    }
    fillProbeEdits();
}

bool Instrument::savePrefsDat(std::string* error) {
    // What is there is read first, as the registry is: a damaged or
    // unreadable file is set aside, and one that can be neither read nor
    // moved is not written over.
    if (!configFolderReady(error)) return false;
    storage::PrefsDat p;
    std::string message, blocked;
    if (storage::loadPrefsDat(prefsDatFile(), p, &message, &blocked) != storage::LoadStatus::Loaded &&
        !message.empty())
        std::cerr << "miral: " << message << "\n";
    if (!blocked.empty()) {
        *error = "cannot write " + prefsDatFile().string() + ": " + blocked;
        return false;
    }
    fillPrefsDat(p);
    return storage::savePrefsDat(prefsDatFile(), p, error);
}

void Instrument::fillPrefsDat(storage::PrefsDat& p) const {
    for (int k = 0; k < kSchemeCount; ++k)
        for (int t = 0; t < kSchemeSlots; ++t)
            p.colors[static_cast<std::size_t>(k)][static_cast<std::size_t>(t)] =
                static_cast<std::int32_t>(schemes_[k][t]);
    p.colors[0][0] = selectedScheme_;
    const auto& t = st.Probes;
    for (std::size_t i = 0; i < 10; ++i) {
        p.delayNs[i] = t.delayNs[i];
        p.shuntOhm[i] = t.shuntOhm[i];
        p.probeMilliOhm[i] = t.probeMilliOhm[i];
        p.probePf[i] = t.probePf[i];
        p.diffGainDb[i] = t.diffGainDb[i];
    }
    p.inputImpedance = t.inputImpedance;
    p.commonGain = t.commonGain;
}

std::string Instrument::prefsDatBytes() const {
    storage::PrefsDat p;
    fillPrefsDat(p);
    return storage::encodePrefsDat(p);
}

// ---- Power and reset buttons ----------------------------------------------------------

void Instrument::Panel29Click(const UiEvent&) {
    // The next start shows the tuner panel rather than the settings pages.
    // A bundle's panel is someone's measurement, not this instrument's own:
    // the stored panel and probe table stay as they were.
    if (bundle_) {
        requestTerminate();
        return;
    }
    const int mode = st.SidePanelMode;
    if (st.SidePanelMode == 0) st.SidePanelMode = 1;
    std::string error;
    if (!savePanelState(&error) || !savePrefsDat(&error)) {
        // Nothing is lost by staying on: the user can free the folder and
        // press the button again, or close the window to end without storing.
        st.SidePanelMode = mode;
        panel.setDown(Ctl::Panel29, true);
        showStatusMessage("The panel was not stored (" + error + "); the instrument stays on");
        std::cerr << "miral: the panel was not stored: " << error << "\n";
        return;
    }
    requestTerminate();
}

void Instrument::SpeedButton22Click(const UiEvent&) {
    // One click must not lose the stored panel by accident.
    if (question_ && !question_->ask(kForgetPanelQuestion)) return;
    std::string error;
    // Without the configuration folder no panel was read or stored in this
    // run; one stored there before may be read once the folder is back.
    const bool ready = configFolderReady(&error);
    storage::Registry reg(registryFile());
    if (ready) {
        reg.load();
        if (!reg.message().empty()) std::cerr << "miral: " << reg.message() << "\n";
        reg.openKey(kStatesKey, true)->setInt("check_all", 0);
    }
    if (!ready || !reg.save(&error)) {
        // Ending now would bring the old panel back at the next start.
        showStatusMessage("The stored panel could not be discarded (" + error + "); the instrument stays on");
        std::cerr << "miral: the stored panel could not be discarded: " << error << "\n";
        return;
    }
    requestTerminate();
}

// ---- The temporary copy around the calibration -------------------------------------

void Instrument::salvaClick(const UiEvent&) {
    // The copy in memory is the one that the restore puts back, so a store
    // that cannot be written never brings back an older panel.
    tempPanel_.emplace();
    writeControlRecords(panel, *tempPanel_);
    // A store that cannot be read is set aside by the load, or (not a plain
    // file, or not movable) refused by the save: it is never written over.
    std::string error;
    if (!configFolderReady(&error)) {
        showStatusMessage("The panel for the calibration is kept in memory only (" + error + ")");
        return;
    }
    storage::Registry reg(registryFile());
    reg.load();
    if (!reg.message().empty()) showStatusMessage(reg.message());
    *reg.openKey(kTempStatesKey, true) = *tempPanel_;
    if (!reg.save(&error))
        showStatusMessage("The panel for the calibration is kept in memory only (" + error + ")");
}

void Instrument::ripristinaClick(const UiEvent&) {
    if (tempPanel_) {
        restoreTempPanel(*tempPanel_);
        return;
    }
    // Nothing taken in this run of the program: the copy in the store.
    if (!configProblem_.empty()) return;
    storage::Registry reg(registryFile());
    reg.load();
    if (!reg.message().empty()) showStatusMessage(reg.message());
    const storage::RegistryKey* key = reg.findKey(kTempStatesKey);
    if (!key) return;
    restoreTempPanel(*key);
}

void Instrument::restoreTempPanel(const storage::RegistryKey& key) {
    OutOfRange bad;
    readControlRecords(panel, key, kControlCount, bad);
    if (!bad.empty()) showStatusMessage(bad.message(registryFile()));
    redrawStoredKnobs();
    TempoClick();
    FrequenzaClick();
    trasfClick();
    generator1_onClick();
    rlcmodeClick();
}

}  // namespace miral::core
