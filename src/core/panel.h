// SPDX-License-Identifier: GPL-3.0-or-later
// The front panel model: the live state of every control of the main window
// and the one way user actions reach it. No toolkit here: the Qt window and
// the headless runner both mirror this model and feed user actions into it.
//
// Two kinds of change:
//  - programmatic (set...): changes state the way the toolkit does when a
//    handler assigns a property, and runs no handler;
//  - user actions (user...): change the control as the toolkit would for a
//    mouse or keyboard action, then run the handler bound to that control
//    and event.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/panel_defs.h"
#include "display/canvas.h"

namespace miral::core {

#define H(name) name,
enum class Handler : std::uint8_t {
    None,
#include "core/handlers.inc"
    Count
};
#undef H

const char* handlerName(Handler h);

enum class Event : std::uint8_t { Click, DblClick, MouseDown, MouseMove, MouseUp, Change, Timer, Count };

enum class MouseButton : std::uint8_t { Left, Right, Middle };

// Buttons and modifier keys held during a mouse event.
struct ShiftState {
    bool left = false;
    bool right = false;
    bool middle = false;
    bool shift = false;
    bool ctrl = false;
    bool alt = false;
};

struct UiEvent {
    Event type = Event::Click;
    Ctl sender{};
    MouseButton button = MouseButton::Left;
    ShiftState shift;
    int x = 0;
    int y = 0;
    // A knob turned by the wheel or the keys: this many steps (0: the mouse
    // position x, y turns it while the left button is held).
    int steps = 0;
};

class HandlerSink {
  public:
    virtual ~HandlerSink() = default;
    virtual void handle(Handler h, const UiEvent& e) = 0;
};

struct ControlState {
    bool down = false;  // latching button down; check box or radio checked
    bool enabled = true;
    bool visible = true;
    int left = 0, top = 0, width = 0, height = 0;
    std::string caption;
    std::string text;  // edit and combo text
    std::vector<std::string> items;
    int itemIndex = -1;
    int min = 0, max = 0, position = 0;  // track and progress bars; active page of a page control
    int tag = 0;                         // a knob's value lives here
    std::string hint;                    // a knob's range text "min#max"
    display::Color color = 0;            // background (swatches: the slot colour)
    int interval = 0;
    std::uint64_t revision = 0;
    // Drawing surface of a knob image or paint box, supplied by the front end
    // (null: values still change, nothing is painted).
    display::Canvas* canvas = nullptr;
};

class Panel {
  public:
    Panel();

    // Back to the designed initial state of every control.
    void reset();

    void setSink(HandlerSink* sink) { sink_ = sink; }

    const ControlDef& def(Ctl c) const { return controlDef(c); }
    const ControlState& state(Ctl c) const { return states_[idx(c)]; }
    // Direct access for front ends that attach canvases; bump() after edits.
    ControlState& mutableState(Ctl c) { return states_[idx(c)]; }
    void bump(Ctl c);

    // ---- Readers -------------------------------------------------------
    bool down(Ctl c) const { return state(c).down; }
    bool checked(Ctl c) const { return state(c).down; }
    bool enabled(Ctl c) const { return state(c).enabled; }
    bool visible(Ctl c) const { return state(c).visible; }
    // Visible with every ancestor visible (and on the active page).
    bool showing(Ctl c) const;
    int value(Ctl c) const { return state(c).tag; }  // knob value
    int tag(Ctl c) const { return state(c).tag; }
    const std::string& text(Ctl c) const { return state(c).text; }
    const std::string& caption(Ctl c) const { return state(c).caption; }
    const std::string& hint(Ctl c) const { return state(c).hint; }
    int itemIndex(Ctl c) const { return state(c).itemIndex; }
    std::string itemText(Ctl c) const;  // selected item's text ("" when none)
    int position(Ctl c) const { return state(c).position; }
    display::Color color(Ctl c) const { return state(c).color; }
    display::Canvas* canvas(Ctl c) const { return state(c).canvas; }

    // ---- Programmatic changes (no handler runs) ------------------------
    // A latching button follows its group: pressing releases the others of
    // the group; releasing a down button of a group that does not allow all
    // up is refused, as the toolkit does.
    void setDown(Ctl c, bool v);
    void setChecked(Ctl c, bool v);  // radios uncheck their siblings
    void setValue(Ctl c, int v);     // knob value (the tag); no redraw
    void setTag(Ctl c, int v);
    void setHint(Ctl c, std::string v);
    void setText(Ctl c, std::string v);
    void setCaption(Ctl c, std::string v);
    void setItems(Ctl c, std::vector<std::string> items);
    void addItem(Ctl c, std::string item);
    void setItemIndex(Ctl c, int i);  // also sets the combo's text
    void setPosition(Ctl c, int p);   // clamped to min..max for bars
    void setEnabled(Ctl c, bool v);
    void setVisible(Ctl c, bool v);
    void setBounds(Ctl c, int left, int top, int width, int height);
    void setColor(Ctl c, display::Color col);
    void setCanvas(Ctl c, display::Canvas* canvas);

    // The main window itself.
    int formWidth() const { return formWidth_; }
    int formHeight() const { return formHeight_; }
    int formLeft() const { return formLeft_; }
    int formTop() const { return formTop_; }
    void setFormSize(int w, int h);
    void setFormPos(int left, int top);

    // ---- User actions --------------------------------------------------
    // Controls that are disabled or not showing ignore user actions.
    // A full press: mouse down, mouse up and (left button) click.
    void userPress(Ctl c, MouseButton b = MouseButton::Left, int x = 0, int y = 0);
    void userMouseDown(Ctl c, MouseButton b, int x, int y, ShiftState s);
    void userMouseMove(Ctl c, ShiftState s, int x, int y);
    void userMouseUp(Ctl c, MouseButton b, int x, int y, ShiftState s);
    // The click that follows a left-button press and release on the control.
    void userClick(Ctl c);
    void userDoubleClick(Ctl c, int x = 0, int y = 0);
    void userEditText(Ctl c, std::string text);
    void userSelectItem(Ctl c, int index);
    void userTrackPosition(Ctl c, int pos);
    void userSelectPage(Ctl pageControl, int page);
    // A knob turned by the mouse wheel or the keyboard: `steps` steps up
    // (negative: down), through the knob's mouse-move handler.
    void userTurnKnob(Ctl knob, int steps);
    // Remote operation (the headless runner) reaches controls that are not
    // on screen, e.g. on the page of the settings that is not shown; disabled
    // controls still refuse.
    void setRequireShowing(bool v) { requireShowing_ = v; }
    // Whether a user action on the control would reach it now.
    bool acceptsUser(Ctl c) const;
    // While one lives, user actions reach every enabled control, shown or
    // not: for the instrument's own sequences that set up the panel and put
    // it back (the loopback test), whatever page the window shows.
    class AnyPage {
      public:
        explicit AnyPage(Panel& p) : panel_(p), was_(p.requireShowing_) { p.requireShowing_ = false; }
        ~AnyPage() { panel_.requireShowing_ = was_; }
        AnyPage(const AnyPage&) = delete;
        AnyPage& operator=(const AnyPage&) = delete;

      private:
        Panel& panel_;
        bool was_;
    };

    // A timer firing (front ends call this for enabled timers).
    void timerTick(Ctl timer);

    Handler binding(Ctl c, Event e) const;
    // Runs the handler bound to (c, e), if any.
    void fire(Ctl c, Event e, const UiEvent& ev);
    // Runs a handler directly, as the program does for its programmatic
    // operations (e.g. "run generator1_onClick").
    void run(Handler h, Ctl sender);

    // Increases with every change of any control.
    std::uint64_t revision() const { return revision_; }
    // Increases with every change of the form's size or position.
    std::uint64_t formRevision() const { return formRevision_; }

  private:
    void touch(ControlState& s);

    std::vector<ControlState> states_;
    HandlerSink* sink_ = nullptr;
    bool requireShowing_ = true;
    std::uint64_t revision_ = 0;
    std::uint64_t formRevision_ = 0;
    int formWidth_ = 848, formHeight_ = 722, formLeft_ = 0, formTop_ = 0;
};

}  // namespace miral::core
