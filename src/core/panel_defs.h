// SPDX-License-Identifier: GPL-3.0-or-later
// The static description of the front panel: every component of the main
// window with its kind, parent, geometry, caption and initial state. The list
// itself is panel_table.inc; its order is the creation order and fixes the
// component numbers that the stored panel state uses.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "display/canvas.h"

namespace miral::core {

enum class Kind : std::uint8_t {
    Panel,        // container with an optional caption
    Label,        // static or program-written text
    Latch,        // flat button that stays down; grouped buttons act like radio buttons
    Button,       // plain push button
    Knob,         // image drawn as a rotary knob; its value is the image's tag
    PaintBox,     // drawing surface
    Edit,         // one-line edit box
    Combo,        // drop-down list
    Check,        // check box
    Radio,        // radio button (exclusive among the radios of one parent)
    TrackBar,     // slider
    ProgressBar,  // level bar
    PageControl,  // tabbed pages
    TabSheet,     // one page of a PageControl
    GroupBox,     // framed container with a caption
    Timer,        // periodic event source
    ColorDialog,
    SaveDialog,
};

const char* kindName(Kind k);

// Latching groups. Buttons with the same group release each other; a group
// that allows "all up" may also have none down. Single toggles have a group
// of their own with allUp.
enum Group : std::uint8_t {
    G_NONE = 0,
    G_SB7,
    G_SB13,
    G_SB14,
    G_POWER,
    G_TRIG,
    G_TRIGRESET,
    G_CHMODE,
    G_WINDOW,
    G_INV1,
    G_GND1,
    G_DC1,
    G_INV2,
    G_GND2,
    G_DC2,
    G_SOURCE,
    G_SLOPE,
    G_ISTE,
    G_ROLL,
    G_HOLD,
    G_AVG,
    G_LOWF,
    G_XLOG,
    G_YLOG,
    G_RLCMODE,
    G_RLC,
    G_VIEW,
    G_FUN,
    G_SAVE,
    G_TB1,
    G_TB2,
    G_TB4,
    G_FREQNOTA,
    G_COLOR,
    G_MONOF,
    G_VEDIFREQ,
    G_VEDINOTA,
    G_PANVIEW,
    G_MARKERVIEW,
    G_BORDERVIEW,
    G_GENX,
    G_GENON1,
    G_GENSTART1,
    G_WAVE1,
    G_DB20,
    G_DB40,
    G_GENSWEEP1,
    G_GENY,
    G_GENON2,
    G_WAVE2,
    G_SOURCE_BIS,
    G_SLOPE_BIS,
    G_TRIG_BIS,
    G_CHMODE_BIS,
    G_FREQNOTA_BIS,
    G_COLOR_BIS,
    G_VIEW_BIS,
    G_AVG_BIS,
    G_LOWF_BIS,
    G_XLOG_BIS,
    G_YLOG_BIS,
    G_BORDERVIEW_BIS,
    G_VEDINOTA_BIS,
    G_VEDIFREQ_BIS,
    G_DISTVIEW,
    G_COUNT
};

enum class Face : std::uint8_t { None, Continuous, Stepped };

using display::Color;

// Colours of the panel (0x00BBGGRR).
constexpr Color kFormBack = 9344131;   // the instrument's panel colour
constexpr Color kTitleBack = 4194432;  // red 128, green 0, blue 64
constexpr Color kTitleText = display::rgb(255, 255, 0);
constexpr Color kReadoutBack = display::rgb(20, 32, 28);
constexpr Color kReadoutText = display::rgb(255, 255, 0);
constexpr Color kScreenFrame = display::rgb(40, 48, 46);
constexpr Color kPowerGreen = display::rgb(60, 150, 70);
constexpr Color kInherit = 0xFF000000u;  // take the parent's colour

inline constexpr const char* kRateItems =
    "4000\n8000\n16000\n32000\n32768\n44100\n48000\n60000\n65536\n88200\n96000\n176400\n192000";

enum class Ctl : std::uint16_t;

struct ControlDef {
    const char* name = "";
    Kind kind = Kind::Panel;
    Ctl parent{};
    int left = 0, top = 0, width = 0, height = 0;
    const char* caption = "";

    bool down = false;  // latching down, or check box / radio checked
    Group group = G_NONE;
    bool allUp = false;
    int tagValue = 0;
    bool enabled = true;
    bool visible = true;
    const char* text = "";      // edit text
    const char* itemList = "";  // combo items separated by '\n'
    int itemIndex = -1;
    int min = 0, max = 0, position = 0, frequency = 0;  // track and progress bars
    int intervalMs = 0;                                 // timers, ms
    bool isSwatch = false;                              // colour slot edit box
    // Knob face.
    Face face = Face::None;
    int ticks = 0;  // continuous: major ticks; stepped: positions
    int knobMin = 0, knobMax = 0;
    bool endLabels = false;
    const char* stepLabels = "";
    // Style.
    int fontSize = 8;
    bool bold = false;
    bool centered = false;
    Color back = kInherit;
    Color fore = display::colors::Black;

    constexpr ControlDef dn() const {
        auto d = *this;
        d.down = true;
        return d;
    }
    constexpr ControlDef grp(Group g) const {
        auto d = *this;
        d.group = g;
        return d;
    }
    constexpr ControlDef allup() const {
        auto d = *this;
        d.allUp = true;
        return d;
    }
    constexpr ControlDef tag(int t) const {
        auto d = *this;
        d.tagValue = t;
        return d;
    }
    constexpr ControlDef hidden() const {
        auto d = *this;
        d.visible = false;
        return d;
    }
    constexpr ControlDef disabled() const {
        auto d = *this;
        d.enabled = false;
        return d;
    }
    constexpr ControlDef txt(const char* t) const {
        auto d = *this;
        d.text = t;
        return d;
    }
    constexpr ControlDef items(const char* t) const {
        auto d = *this;
        d.itemList = t;
        return d;
    }
    constexpr ControlDef index(int i) const {
        auto d = *this;
        d.itemIndex = i;
        return d;
    }
    constexpr ControlDef range(int lo, int hi, int pos) const {
        auto d = *this;
        d.min = lo;
        d.max = hi;
        d.position = pos;
        return d;
    }
    constexpr ControlDef freq(int f) const {
        auto d = *this;
        d.frequency = f;
        return d;
    }
    constexpr ControlDef interval(int ms) const {
        auto d = *this;
        d.intervalMs = ms;
        return d;
    }
    constexpr ControlDef swatch() const {
        auto d = *this;
        d.isSwatch = true;
        return d;
    }
    constexpr ControlDef cont(int nticks, int lo, int hi, bool labels) const {
        auto d = *this;
        d.face = Face::Continuous;
        d.ticks = nticks;
        d.knobMin = lo;
        d.knobMax = hi;
        d.endLabels = labels;
        return d;
    }
    constexpr ControlDef stepped(int positions, const char* labels) const {
        auto d = *this;
        d.face = Face::Stepped;
        d.ticks = positions;
        d.knobMin = 0;
        d.knobMax = positions - 1;
        d.stepLabels = labels;
        return d;
    }
    constexpr ControlDef font(int size, bool isBold) const {
        auto d = *this;
        d.fontSize = size;
        d.bold = isBold;
        return d;
    }
    constexpr ControlDef center() const {
        auto d = *this;
        d.centered = true;
        return d;
    }
    constexpr ControlDef bg(Color c) const {
        auto d = *this;
        d.back = c;
        return d;
    }
    constexpr ControlDef fg(Color c) const {
        auto d = *this;
        d.fore = c;
        return d;
    }
};

#define X(name, ...) name,
enum class Ctl : std::uint16_t {
#include "core/panel_table.inc"
    Count,
    Form1,  // the main window itself (parent of the top-level components)
};
#undef X

constexpr int kControlCount = static_cast<int>(Ctl::Count);
constexpr int idx(Ctl c) {
    return static_cast<int>(c);
}

// The table, indexed by component number.
const ControlDef& controlDef(Ctl c);
const ControlDef* controlTable();

// Lookup by name (exact, case-sensitive); Ctl::Count when unknown.
Ctl findControl(std::string_view name);
inline const char* controlName(Ctl c) {
    return controlDef(c).name;
}

}  // namespace miral::core
