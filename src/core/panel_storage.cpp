// SPDX-License-Identifier: GPL-3.0-or-later
// The stored panel: the States key written at power-off and read at power-on,
// the TempStates copy around the calibration, prefs.dat with the colour
// schemes and the probe table, and the power and reset buttons.
//
// Every component of the main window is numbered by its place in the panel
// table; component i keeps at most one value: "CmpB" + i for latching
// buttons, check boxes and radio buttons (0/1), edit boxes (text), track bars
// (position) and combo boxes (item index), "CmpI" + i for knobs (value).
#include "core/panel_storage.h"

#include <algorithm>
#include <cmath>
#include <iostream>

#include "core/instrument.h"
#include "display/knob.h"
#include "storage/bundle.h"
#include "storage/panel_store.h"

namespace miral::core {

namespace {

// The probe table between the instrument and prefs.dat (the same fields on
// both sides, ten rows).
template <typename To, typename From>
void CopyProbeTable(To& to, const From& from) {
    for (std::size_t i = 0; i < 10; ++i) {
        to.delayNs[i] = from.delayNs[i];
        to.shuntOhm[i] = from.shuntOhm[i];
        to.probeMilliOhm[i] = from.probeMilliOhm[i];
        to.probePf[i] = from.probePf[i];
        to.diffGainDb[i] = from.diffGainDb[i];
    }
    to.inputImpedance = from.inputImpedance;
    to.commonGain = from.commonGain;
}

constexpr const char* kStatesKey = "Software\\Zorvane\\V1_005\\States";
constexpr const char* kTempStatesKey = "Software\\Zorvane\\TempStates";
// Edit and combo boxes with this tag are written but never read back: their
// values come from prefs.dat.
constexpr int kNotRestoredTag = 777;
// The component count of the first stored panel layout; every later layout
// only added controls at the end (the CSV box, the distortion analyzer).
constexpr int kFirstStoredLayout = 334;

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

std::filesystem::path PanelStorage::registryFile() const {
    return in_.configDir() / storage::kRegistryFileName;
}
std::filesystem::path PanelStorage::prefsDatFile() const {
    return in_.configDir() / storage::kPrefsDatFileName;
}

// ---- Panel state ------------------------------------------------------------------

void PanelStorage::redrawStoredKnobs() {
    for (Ctl k : kStoredKnobs) in_.drawKnob(k, panel_.value(k));
}

bool PanelStorage::configFolderReady(std::string* error) {
    if (configProblem().empty()) return true;
    // The folder may have been made possible since (a disk mounted, a
    // permission given): it is tried again before anything is stored.
    if (!storage::makeConfigDirectory(in_.configDir(), error)) return false;
    configProblem().clear();
    return true;
}

bool PanelStorage::loadPanelState() {
    // Without its folder there is nothing to read (a bundle brings its
    // own); the status line has already said why.
    if (!configProblem().empty() && !bundles().bundle()) return false;
    storage::Registry reg(registryFile());
    if (bundles().bundle()) {
        // An open bundle brings its own panel (checked when it was opened).
        std::string why;
        reg.parse(bundles().bundle()->panelState, &why);
    } else {
        reg.load();
    }
    if (!reg.message().empty()) in_.showStatusMessage(reg.message());
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
    if (l || t) panel_.setFormPos(l.value_or(panel_.formLeft()), t.value_or(panel_.formTop()));
    for (int m = 0; m < 4; ++m) {
        const Ctl h = kMarkerHandles[m];
        const std::string n = "mk" + std::to_string(m + 1);
        if (auto left = key->readInt(n); left && bad.check(n, *left, kHandleLeftMin, kHandleLeftMax)) {
            const ControlState& s = panel_.state(h);
            panel_.setBounds(h, *left, s.top, s.width, s.height);
        }
        if (auto tag = key->readInt(n + "T"); tag && bad.check(n + "T", *tag, 0, 1)) panel_.setTag(h, *tag);
    }
    if (auto v = key->readInt("SPS"))
        st_.CaptureRate = bad.check("SPS", *v, kCaptureRateMin, kCaptureRateMax) ? *v : 32768;
    if (auto v = key->readInt("Status"); v && bad.check("Status", *v, 0, 2)) st_.SidePanelMode = *v;
    if (auto v = key->readInt("Status2"); v && bad.check("Status2", *v, 1, 5)) st_.ModulationMode = *v;
    if (auto v = key->readInt("Scale")) {
        if (*v == 0 || *v == 100 || *v == 125 || *v == 150 || *v == 200) {
            st_.PanelScale = *v;
        } else {
            bad.note("Scale", *v, "is not 0, 100, 125, 150 or 200");
        }
    }
    if (auto v = key->readText("modul")) panel_.setCaption(Ctl::Label129, *v);
    if (auto v = key->readText("duty")) panel_.setCaption(Ctl::Label131, *v);
    readControlRecords(panel_, *key, *stored, bad);
    if (!bad.empty()) in_.showStatusMessage(bad.message(registryFile()));
    // The power button was released by the click that stored the panel; the
    // instrument that comes up is on.
    panel_.setDown(Ctl::Panel29, true);
    redrawStoredKnobs();
    return true;
}

bool PanelStorage::savePanelState(std::string* error) {
    if (!configFolderReady(error)) return false;
    storage::Registry reg(registryFile());
    reg.load();
    if (!reg.message().empty()) std::cerr << "miral: " << reg.message() << "\n";
    writeStatesKey(*reg.openKey(kStatesKey, true));
    return reg.save(error);
}

void PanelStorage::writeStatesKey(storage::RegistryKey& key) const {
    key.setInt("check_all", kControlCount);
    key.setInt("f1l", panel_.formLeft());
    key.setInt("f1t", panel_.formTop());
    for (int m = 0; m < 4; ++m)
        key.setInt("mk" + std::to_string(m + 1), panel_.state(kMarkerHandles[m]).left);
    for (int m = 0; m < 4; ++m) key.setInt("mk" + std::to_string(m + 1) + "T", panel_.tag(kMarkerHandles[m]));
    key.setInt("SPS", st_.CaptureRate);
    key.setInt("Status", st_.SidePanelMode == 0 ? 1 : st_.SidePanelMode);
    key.setInt("Status2", st_.ModulationMode);
    key.setText("modul", panel_.caption(Ctl::Label129));
    key.setText("duty", panel_.caption(Ctl::Label131));
    // The size of the window's panel (percent; 0 follows the desktop).
    key.setInt("Scale", st_.PanelScale);
    writeControlRecords(panel_, key);
    // A card of one rate showed its rate in the rate boxes: the user's own
    // choice is what the next start (on any card) comes back with.
    const Ctl rateBoxes[2] = {Ctl::ComboBox2, Ctl::ComboBox4};
    for (int k = 0; k < 2; ++k)
        if (st_.UserRateItem[k] >= 0) key.setInt(recordName("CmpB", idx(rateBoxes[k])), st_.UserRateItem[k]);
}

// ---- prefs.dat ----------------------------------------------------------------------

void PanelStorage::loadPrefsDat() {
    storage::PrefsDat p;
    std::string message;
    // An open bundle brings its own probe table and colours (checked when it was opened).
    bool loaded = false;
    if (bundles().bundle()) {
        loaded = storage::decodePrefsDat(bundles().bundle()->probeTable, p, &message);
    } else {
        const storage::LoadStatus status = configProblem().empty()
                                               ? storage::loadPrefsDat(prefsDatFile(), p, &message)
                                               : storage::LoadStatus::Missing;
        if (!message.empty()) in_.showStatusMessage(message);
        loaded = status == storage::LoadStatus::Loaded;
    }
    if (loaded) {
        for (int k = 0; k < kSchemeCount; ++k)
            for (int t = 0; t < kSchemeSlots; ++t)
                schemes().setSchemeColor(
                    k, t,
                    static_cast<display::Color>(
                        p.colors[static_cast<std::size_t>(k)][static_cast<std::size_t>(t)]));
        schemes().setSelectedScheme(p.selectedScheme());
        CopyProbeTable(st_.Probes, p);
    } else {
        schemes().setDefaultSchemes();
        // No table yet: every probe starts from the values the boxes are
        // designed with (a 10 ohm shunt, 10 kilohm input), so that what the
        // boxes show and what power-off stores agree.
        auto& t = st_.Probes;
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
    probes().fillProbeEdits();
}

bool PanelStorage::savePrefsDat(std::string* error) {
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

void PanelStorage::fillPrefsDat(storage::PrefsDat& p) const {
    for (int k = 0; k < kSchemeCount; ++k)
        for (int t = 0; t < kSchemeSlots; ++t)
            p.colors[static_cast<std::size_t>(k)][static_cast<std::size_t>(t)] =
                static_cast<std::int32_t>(schemes().schemeColor(k, t));
    p.colors[0][0] = schemes().selectedScheme();
    CopyProbeTable(p, st_.Probes);
}

std::string PanelStorage::prefsDatBytes() const {
    storage::PrefsDat p;
    fillPrefsDat(p);
    return storage::encodePrefsDat(p);
}

// ---- Power and reset buttons ----------------------------------------------------------

void PanelStorage::Panel29Click() {
    // The next start shows the tuner panel rather than the settings pages.
    // A bundle's panel is someone's measurement, not this instrument's own:
    // the stored panel and probe table stay as they were.
    if (bundles().bundle()) {
        requestTerminate();
        return;
    }
    const int mode = st_.SidePanelMode;
    if (st_.SidePanelMode == 0) st_.SidePanelMode = 1;
    std::string error;
    if (!savePanelState(&error) || !savePrefsDat(&error)) {
        // Nothing is lost by staying on: the user can free the folder and
        // press the button again, or close the window to end without storing.
        st_.SidePanelMode = mode;
        panel_.setDown(Ctl::Panel29, true);
        in_.showStatusMessage("The panel was not stored (" + error + "); the instrument stays on");
        std::cerr << "miral: the panel was not stored: " << error << "\n";
        return;
    }
    requestTerminate();
}

void PanelStorage::SpeedButton22Click() {
    // One click must not lose the stored panel by accident.
    if (question() && !question()->ask(kForgetPanelQuestion)) return;
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
        in_.showStatusMessage("The stored panel could not be discarded (" + error +
                              "); the instrument stays on");
        std::cerr << "miral: the stored panel could not be discarded: " << error << "\n";
        return;
    }
    requestTerminate();
}

// ---- The temporary copy around the calibration -------------------------------------

void PanelStorage::salvaClick() {
    // The copy in memory is the one that the restore puts back, so a store
    // that cannot be written never brings back an older panel.
    tempPanel_.emplace();
    writeControlRecords(panel_, *tempPanel_);
    // A store that cannot be read is set aside by the load, or (not a plain
    // file, or not movable) refused by the save: it is never written over.
    std::string error;
    if (!configFolderReady(&error)) {
        in_.showStatusMessage("The panel for the calibration is kept in memory only (" + error + ")");
        return;
    }
    storage::Registry reg(registryFile());
    reg.load();
    if (!reg.message().empty()) in_.showStatusMessage(reg.message());
    *reg.openKey(kTempStatesKey, true) = *tempPanel_;
    if (!reg.save(&error))
        in_.showStatusMessage("The panel for the calibration is kept in memory only (" + error + ")");
}

void PanelStorage::ripristinaClick() {
    if (tempPanel_) {
        restoreTempPanel(*tempPanel_);
        return;
    }
    // Nothing taken in this run of the program: the copy in the store.
    if (!configProblem().empty()) return;
    storage::Registry reg(registryFile());
    reg.load();
    if (!reg.message().empty()) in_.showStatusMessage(reg.message());
    const storage::RegistryKey* key = reg.findKey(kTempStatesKey);
    if (!key) return;
    restoreTempPanel(*key);
}

void PanelStorage::restoreTempPanel(const storage::RegistryKey& key) {
    OutOfRange bad;
    readControlRecords(panel_, key, kControlCount, bad);
    if (!bad.empty()) in_.showStatusMessage(bad.message(registryFile()));
    redrawStoredKnobs();
    in_.TempoClick();
    in_.FrequenzaClick();
    in_.trasfClick();
    in_.generator1_onClick();
    in_.rlcmodeClick();
}

// ---- The instrument's handlers ---------------------------------------------------------

void Instrument::Panel29Click(const UiEvent&) {
    storage_.Panel29Click();
}
void Instrument::SpeedButton22Click(const UiEvent&) {
    storage_.SpeedButton22Click();
}
void Instrument::salvaClick(const UiEvent&) {
    storage_.salvaClick();
}
void Instrument::ripristinaClick(const UiEvent&) {
    storage_.ripristinaClick();
}

}  // namespace miral::core
