// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/panel_tips.h"

#include <array>
#include <cmath>

#include "core/panel_readers.h"

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

std::string hertz(double f) {
    if (f >= 1000 && std::fmod(f, 1000) == 0)
        return std::to_string(static_cast<long long>(f / 1000)) + " kHz";
    return std::to_string(static_cast<long long>(f)) + " Hz";
}

// The generators' frequency: the knob times its range's step (as the table builder reads it).
std::string generatorFrequency(const Panel& p, Ctl knob) {
    return hertz(std::trunc(p.value(knob) * 0.001 * generatorRange(p, knob) + 0.1));
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
            return freeBand(p) ? std::string("free band (MIN and MAX FREQ)") : fromList(kSpans, v, " Hz/div");
        case Ctl::tb1:
        case Ctl::tb2:
        case Ctl::tb4:
            return hertz(bandKnobHertz(p, knob));
        case Ctl::tb3:
            return std::to_string(v) + " (weaker peaks get no label)";
        case Ctl::genfreq:
        case Ctl::genfreq2:
            return generatorFrequency(p, knob);
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
