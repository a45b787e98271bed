// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/panel_tips.h"

#include <array>
#include <cmath>

namespace miral::core {

namespace {

struct TipEntry {
    Ctl ctl;
    const char* text;
};

#define TIP(name, text) TipEntry{Ctl::name, text},
constexpr TipEntry kTips[] = {
#include "core/panel_tips.inc"
};
#undef TIP

const std::array<const char*, kControlCount>& tipsByControl() {
    static const std::array<const char*, kControlCount> table = [] {
        std::array<const char*, kControlCount> t{};
        t.fill("");
        for (const TipEntry& e : kTips) t[static_cast<std::size_t>(idx(e.ctl))] = e.text;
        return t;
    }();
    return table;
}

std::string signedPercent(int v) {
    return (v > 0 ? "+" : "") + std::to_string(v) + " %";
}

// The multiplier of a knob's range keys (their tags: 1, 10, 100).
int multiplier(const Panel& p, Ctl x1, Ctl x10, Ctl x100) {
    for (Ctl c : {x1, x10, x100})
        if (p.down(c)) return p.tag(c);
    return 1;
}

std::string hertz(double f) {
    if (f >= 1000 && std::fmod(f, 1000) == 0)
        return std::to_string(static_cast<long long>(f / 1000)) + " kHz";
    return std::to_string(static_cast<long long>(f)) + " Hz";
}

// The generators' frequency: the knob times its range's step (as the table builder reads it).
std::string generatorFrequency(const Panel& p, Ctl knob, Ctl r1, Ctl r10, Ctl r100, Ctl r1000) {
    int range = 100;
    if (p.down(r1)) range = 1;
    if (p.down(r10)) range = 10;
    if (p.down(r100)) range = 100;
    if (p.down(r1000)) range = 1000;
    return hertz(std::trunc(p.value(knob) * 0.001 * range + 0.1));
}

template <std::size_t N>
std::string fromList(const std::array<const char*, N>& list, int v, const char* suffix) {
    if (v < 0 || v >= static_cast<int>(N)) return std::to_string(v);
    return std::string(list[static_cast<std::size_t>(v)]) + suffix;
}

}  // namespace

const char* controlTip(Ctl c) {
    if (c == Ctl::Count || c == Ctl::Form1) return "";
    return tipsByControl()[static_cast<std::size_t>(idx(c))];
}

std::string knobValueText(const Panel& p, Ctl knob) {
    static constexpr std::array<const char*, 8> kRanges = {"5 mV",   "10 mV",  "20 mV",  "50 mV",
                                                           "100 mV", "200 mV", "500 mV", "1 V"};
    static constexpr std::array<const char*, 9> kTimes = {
        "1 s", "300 ms", "100 ms", "30 ms", "10 ms", "3 ms", "1 ms", "300 \u00b5s", "100 \u00b5s"};
    static constexpr std::array<const char*, 8> kSpans = {"10",  "25",  "50",  "100",
                                                          "200", "400", "800", "1600"};
    const int v = p.value(knob);
    switch (knob) {
        case Ctl::range1:
        case Ctl::range2:
            return fromList(kRanges, v, "/div");
        case Ctl::mainselect:
            return fromList(kTimes, v, "/div");
        case Ctl::pos1:
        case Ctl::pos2:
        case Ctl::pos1_bis:
        case Ctl::pos2_bis:
        case Ctl::triglevel:
        case Ctl::triglevel_bis:
            return signedPercent(v);
        case Ctl::pretrigger:
        case Ctl::genampl:
        case Ctl::genampl2:
        case Ctl::gensweep:
            return std::to_string(v) + " %";
        case Ctl::fftselect:
            return v == 8 ? std::string("free band (MIN and MAX FREQ)") : fromList(kSpans, v, " Hz/div");
        case Ctl::tb1:
            return hertz(static_cast<double>(v) * multiplier(p, Ctl::tb11, Ctl::tb12, Ctl::tb13));
        case Ctl::tb2:
            return hertz(static_cast<double>(v) * multiplier(p, Ctl::tb21, Ctl::tb22, Ctl::tb23));
        case Ctl::tb4:
            return hertz(static_cast<double>(v) * multiplier(p, Ctl::tb41, Ctl::tb42, Ctl::tb43));
        case Ctl::tb3:
            return std::to_string(v) + " (weaker peaks get no label)";
        case Ctl::genfreq:
            return generatorFrequency(p, knob, Ctl::genx1, Ctl::genx2, Ctl::genx3, Ctl::genx4);
        case Ctl::genfreq2:
            return generatorFrequency(p, knob, Ctl::geny1, Ctl::geny2, Ctl::geny3, Ctl::geny4);
        default:
            break;
    }
    if (p.def(knob).kind == Kind::Knob) return std::to_string(v);
    return "";
}

std::string currentTip(const Panel& p, Ctl c) {
    std::string tip = controlTip(c);
    if (p.def(c).kind != Kind::Knob) return tip;
    tip += ": " + knobValueText(p, c);
    tip += "\nWheel or arrow keys: one step (Shift+wheel, Page Up/Down: ten; Home/End: the ends)";
    return tip;
}

}  // namespace miral::core
