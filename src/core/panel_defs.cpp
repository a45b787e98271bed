// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/panel_defs.h"

#include <unordered_map>

namespace miral::core {

namespace {

#define X(name, kind, parent, l, t, w, h, cap, ...) \
    ControlDef{#name, Kind::kind, Ctl::parent, l, t, w, h, cap} __VA_ARGS__,
constexpr ControlDef kTable[] = {
#include "core/panel_table.inc"
};
#undef X

static_assert(sizeof(kTable) / sizeof(kTable[0]) == kControlCount, "table and enum disagree");

}  // namespace

const char* kindName(Kind k) {
    switch (k) {
        case Kind::Panel:
            return "panel";
        case Kind::Label:
            return "label";
        case Kind::Latch:
            return "latching button";
        case Kind::Button:
            return "button";
        case Kind::Knob:
            return "knob";
        case Kind::PaintBox:
            return "paint box";
        case Kind::Edit:
            return "edit";
        case Kind::Combo:
            return "combo";
        case Kind::Check:
            return "check box";
        case Kind::Radio:
            return "radio button";
        case Kind::TrackBar:
            return "track bar";
        case Kind::ProgressBar:
            return "progress bar";
        case Kind::PageControl:
            return "page control";
        case Kind::TabSheet:
            return "tab sheet";
        case Kind::GroupBox:
            return "group box";
        case Kind::Timer:
            return "timer";
        case Kind::ColorDialog:
            return "colour dialog";
        case Kind::SaveDialog:
            return "save dialog";
    }
    return "?";
}

const ControlDef& controlDef(Ctl c) {
    return kTable[idx(c)];
}
const ControlDef* controlTable() {
    return kTable;
}

Ctl findControl(std::string_view name) {
    static const std::unordered_map<std::string_view, Ctl> byName = [] {
        std::unordered_map<std::string_view, Ctl> m;
        for (int i = 0; i < kControlCount; ++i) m.emplace(kTable[i].name, static_cast<Ctl>(i));
        return m;
    }();
    auto it = byName.find(name);
    return it == byName.end() ? Ctl::Count : it->second;
}

}  // namespace miral::core
