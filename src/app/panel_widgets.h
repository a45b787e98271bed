// SPDX-License-Identifier: GPL-3.0-or-later
// The widgets of the front panel, one kind per control kind of the panel
// model. Each shows its control's state (mirror) and hands every user action
// to the window (TForm1), which passes it to the model; none of them changes
// its own state.
#pragma once

#include <QColor>
#include <QFont>
#include <QPoint>
#include <QWidget>

#include "core/panel.h"

class QWidget;

namespace miral::app {

class TForm1;

inline QColor qcolor(display::Color c) {
    return QColor(display::red(c), display::green(c), display::blue(c));
}

class ControlView {
  public:
    ControlView(TForm1& form, core::Ctl ctl) : form_(form), ctl_(ctl) {}
    virtual ~ControlView() = default;
    ControlView(const ControlView&) = delete;
    ControlView& operator=(const ControlView&) = delete;

    core::Ctl ctl() const { return ctl_; }
    virtual QWidget* widget() = 0;
    // Shows the control's current state (texts, items, values, colours; the
    // window itself applies geometry, visibility and the enabled state).
    virtual void mirror(const core::ControlState& s) = 0;
    // Where the children's origin lies inside this widget (a page control's
    // pages sit below its tabs).
    virtual QPoint childOffset() const { return {}; }
    // A caption label over this key is being pressed.
    virtual void setPressedLook(bool) {}
    // A knob's tooltip shows its value, which other controls (range keys,
    // band multipliers) change too: brings it up to date.
    virtual void refreshTip() {}
    // The font the window gives the control at its scale; a control whose
    // caption would not fit its box (a check box, a radio button) takes a
    // smaller one.
    virtual void setScaledFont(const QFont& font) { widget()->setFont(font); }

    // Mouse bookkeeping of the window's routing: a press is under way, and
    // whether its release still makes a click.
    bool pressActive = false;
    bool suppressClick = false;

  protected:
    const core::ControlState& state() const;
    TForm1& form_;
    core::Ctl ctl_;
};

// The widget for a control, created under `parent`; null for controls that
// have none (timers, dialogs).
ControlView* createControlView(TForm1& form, core::Ctl c, QWidget* parent);

}  // namespace miral::app
