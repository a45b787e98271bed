// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/operate.h"

#include <cmath>

#include "storage/preferences.h"

namespace miral::core {

namespace {

bool parseRange(const std::string& hint, int& lo, int& hi) {
    auto hash = hint.find('#');
    if (hash == std::string::npos) return false;
    auto a = storage::parseInteger(hint.substr(0, hash));
    auto b = storage::parseInteger(hint.substr(hash + 1, 100));
    if (!a || !b) return false;
    lo = static_cast<int>(*a);
    hi = static_cast<int>(*b);
    return true;
}

std::string quoted(std::string_view s) {
    return "'" + std::string(s) + "'";
}

}  // namespace

void knobPointFor(const Instrument& in, Ctl knob, int v, int* x, int* y) {
    const ControlState& s = in.panel.state(knob);
    int cx = s.width / 2, cy = s.height / 2;
    int lo = 0, hi = 0;
    parseRange(s.hint, lo, hi);
    const double r = 100000.0;
    const double d2r = 3.14159265358979323846 / 180.0;
    if (v <= lo || hi == lo) {  // the dead zone's left side
        *x = cx - 10;
        *y = cy + 1000;
        return;
    }
    if (v >= hi) {
        *x = cx + 10;
        *y = cy + 1000;
        return;
    }
    // Values are rounded by truncating u + 0.5 toward zero, so a negative
    // value is reached from half a step further down.
    double u = v >= 0 ? v : v - 0.75;
    double a = 225.0 - (u - lo) * 270.0 / (hi - lo);
    *x = cx + static_cast<int>(std::lround(r * std::cos(a * d2r)));
    *y = cy - static_cast<int>(std::lround(r * std::sin(a * d2r)));
}

bool operateSet(Instrument& in, std::string_view name, std::string_view value, std::string* error) {
    Ctl c = findControl(name);
    if (c == Ctl::Count) {
        *error = "unknown control " + quoted(name);
        return false;
    }
    const ControlDef& d = in.panel.def(c);
    if (!in.panel.enabled(c)) {
        *error = std::string(name) + " is disabled now";
        return false;
    }
    // A window takes user actions only on what it shows: an edit, a list or
    // a track bar on a hidden page would otherwise report a change that
    // nothing received.
    if (!in.panel.acceptsUser(c)) {
        *error = std::string(name) + " is not on the panel now (its page is not shown)";
        return false;
    }
    switch (d.kind) {
        case Kind::Latch:
        case Kind::Check:
        case Kind::Radio: {
            if (value != "1" && value != "0") {
                *error = std::string(name) + " is a " + kindName(d.kind) + ": it takes 1 or 0, not " +
                         quoted(value);
                return false;
            }
            bool want = value == "1";
            if (in.panel.down(c) != want) in.panel.userPress(c);
            if (in.panel.down(c) != want) {
                *error = std::string(name) + ": a click does not " + (want ? "press" : "release") +
                         " it (press another button of its group instead)";
                return false;
            }
            return true;
        }
        case Kind::Knob: {
            auto v = storage::parseInteger(value);
            if (!v) {
                *error = std::string(name) + " is a knob: it takes an integer, not " + quoted(value);
                return false;
            }
            int lo = 0, hi = 0;
            if (!parseRange(in.panel.hint(c), lo, hi)) {
                *error = std::string(name) + " has no scale yet";
                return false;
            }
            if (*v < lo || *v > hi) {
                *error = std::string(name) + " turns from " + std::to_string(lo) + " to " +
                         std::to_string(hi) + ", not to " + std::string(value);
                return false;
            }
            int x = 0, y = 0;
            knobPointFor(in, c, static_cast<int>(*v), &x, &y);
            ShiftState held;
            held.left = true;
            in.panel.userMouseMove(c, held, x, y);
            if (in.panel.value(c) != *v) {
                *error = std::string(name) + " did not turn to " + std::string(value);
                return false;
            }
            return true;
        }
        case Kind::Edit:
            in.panel.userEditText(c, std::string(value));
            return true;
        case Kind::Combo: {
            const auto& items = in.panel.state(c).items;
            for (std::size_t i = 0; i < items.size(); ++i) {
                if (items[i] == value) {
                    in.panel.userSelectItem(c, static_cast<int>(i));
                    return true;
                }
            }
            std::string list;
            for (const auto& it : items) list += (list.empty() ? "" : ", ") + it;
            *error = std::string(name) + " has no item " + quoted(value) + " (items: " + list + ")";
            return false;
        }
        case Kind::TrackBar: {
            auto v = storage::parseInteger(value);
            if (!v) {
                *error = std::string(name) + " is a track bar: it takes an integer, not " + quoted(value);
                return false;
            }
            in.panel.userTrackPosition(c, static_cast<int>(*v));
            return true;
        }
        default:
            *error = std::string(name) + " is a " + kindName(d.kind) + " and cannot be set";
            return false;
    }
}

bool operateClick(Instrument& in, std::string_view name, std::string* error) {
    Ctl c = findControl(name);
    if (c == Ctl::Count) {
        *error = "unknown control " + quoted(name);
        return false;
    }
    if (!in.panel.enabled(c)) {
        *error = std::string(name) + " is disabled now";
        return false;
    }
    // A window takes clicks only on what it shows: say so rather than report
    // a click that nothing received.
    if (!in.panel.acceptsUser(c)) {
        *error = std::string(name) + " is not on the panel now (its page is not shown)";
        return false;
    }
    in.panel.userPress(c);
    return true;
}

bool operatePrint(const Instrument& in, std::string_view name, std::string* line, std::string* error) {
    if (auto v = in.printControl(name)) {
        *line = std::string(name) + "=" + *v;
        return true;
    }
    if (auto v = in.printField(name)) {
        *line = std::string(name) + "=" + *v;
        return true;
    }
    *error = "unknown control or field " + quoted(name);
    return false;
}

}  // namespace miral::core
