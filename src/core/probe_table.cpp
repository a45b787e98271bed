// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/probe_table.h"

#include <algorithm>
#include <string>

#include "core/instrument.h"

namespace miral::core {

void ProbeTable::fillProbeEdits() {
    int p = panel_.itemIndex(Ctl::ComboBox5);
    if (p < 0 || p >= 10) p = 0;
    const auto& t = st_.Probes;
    panel_.setText(Ctl::Edit5, shortestText(t.diffGainDb[p]));
    panel_.setText(Ctl::Edit9, shortestText(t.shuntOhm[p]));
    panel_.setText(Ctl::Edit1, shortestText(t.probePf[p]));
    panel_.setText(Ctl::Edit17, shortestText(t.probeMilliOhm[p]));
    panel_.setText(Ctl::Edit14, shortestText(t.delayNs[p]));
    panel_.setText(Ctl::Edit10, shortestText(t.inputImpedance));
    panel_.setText(Ctl::Edit16, shortestText(t.commonGain));
}

int ProbeTable::probeIndex() const {
    return std::clamp(panel_.itemIndex(Ctl::ComboBox5), 0, 9);
}

// A typed correction outside its range is a slip (a sign, a point, a digit
// too many): it is refused rather than clamped, which would put in force a
// value nobody typed. The box goes back to the value in force.
void ProbeTable::takeProbeEntry(Ctl box, const storage::ProbeRange& range, double& entry) {
    const double v = in_.editNumber(box);
    if (range.contains(v)) {
        entry = v;
        return;
    }
    panel_.setText(box, shortestText(entry));
    std::string name(range.name);
    if (!name.empty()) name[0] = static_cast<char>(name[0] - 'a' + 'A');
    const std::string unit(range.unit);
    in_.showStatusMessage(name + " " + shortestText(v) + " " + unit + " refused (the range is " +
                          shortestText(range.min) + ".." + shortestText(range.max) + " " + unit +
                          "); it stays " + shortestText(entry) + " " + unit);
}

void ProbeTable::Edit14Change() {
    takeProbeEntry(Ctl::Edit14, storage::kProbeDelayRange, st_.Probes.delayNs[probeIndex()]);
}
void ProbeTable::Edit9Change() {
    st_.Probes.shuntOhm[probeIndex()] = in_.editNumber(Ctl::Edit9);
}
void ProbeTable::Edit17Change() {
    st_.Probes.probeMilliOhm[probeIndex()] = in_.editNumber(Ctl::Edit17);
}
void ProbeTable::Edit1Change() {
    st_.Probes.probePf[probeIndex()] = in_.editNumber(Ctl::Edit1);
}
void ProbeTable::Edit5Change() {
    takeProbeEntry(Ctl::Edit5, storage::kDiffGainRange, st_.Probes.diffGainDb[probeIndex()]);
}
void ProbeTable::Edit10Change() {
    st_.Probes.inputImpedance = in_.editNumber(Ctl::Edit10);
}
void ProbeTable::Edit16Change() {
    takeProbeEntry(Ctl::Edit16, storage::kCommonGainRange, st_.Probes.commonGain);
}

void ProbeTable::ComboBox5Change() {
    const int i = probeIndex();
    panel_.setText(Ctl::Edit14, shortestText(st_.Probes.delayNs[i]));
    panel_.setText(Ctl::Edit9, shortestText(st_.Probes.shuntOhm[i]));
    panel_.setText(Ctl::Edit5, shortestText(st_.Probes.diffGainDb[i]));
    panel_.setText(Ctl::Edit17, shortestText(st_.Probes.probeMilliOhm[i]));
    panel_.setText(Ctl::Edit1, shortestText(st_.Probes.probePf[i]));
    panel_.setCaption(Ctl::Label213, "Autocalibration");
    if (panel_.down(Ctl::avg)) st_.LfRestartCount = 7;
}

// ---- The instrument's handlers ---------------------------------------------------------

void Instrument::Edit14Change(const UiEvent&) {
    probes_.Edit14Change();
}
void Instrument::Edit9Change(const UiEvent&) {
    probes_.Edit9Change();
}
void Instrument::Edit17Change(const UiEvent&) {
    probes_.Edit17Change();
}
void Instrument::Edit1Change(const UiEvent&) {
    probes_.Edit1Change();
}
void Instrument::Edit5Change(const UiEvent&) {
    probes_.Edit5Change();
}
void Instrument::Edit10Change(const UiEvent&) {
    probes_.Edit10Change();
}
void Instrument::Edit16Change(const UiEvent&) {
    probes_.Edit16Change();
}
void Instrument::ComboBox5Change(const UiEvent&) {
    probes_.ComboBox5Change();
}

}  // namespace miral::core
