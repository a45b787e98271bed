// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/panel.h"

#include <algorithm>

namespace miral::core {

namespace {

// Characters every caption and text holds without growing: more than the
// longest line the cycles write (the distortion and RLC readouts).
constexpr std::size_t kTextRoom = 128;

std::vector<std::string> splitItems(const char* items) {
    std::vector<std::string> out;
    std::string_view s(items);
    if (s.empty()) return out;
    std::size_t start = 0;
    while (true) {
        std::size_t nl = s.find('\n', start);
        out.emplace_back(s.substr(start, nl == std::string_view::npos ? std::string_view::npos : nl - start));
        if (nl == std::string_view::npos) break;
        start = nl + 1;
    }
    return out;
}

#define H(name) #name,
constexpr const char* kHandlerNames[] = {
    "",
#include "core/handlers.inc"
};
#undef H

// Puts v into a text without giving up the text's storage when v fits in it.
void keepRoom(std::string& text, std::string&& v) {
    if (v.size() <= text.capacity())
        text.assign(v);
    else
        text = std::move(v);
}

}  // namespace

const char* handlerName(Handler h) {
    return kHandlerNames[static_cast<int>(h)];
}

Panel::Panel() {
    reset();
}

void Panel::reset() {
    states_.assign(kControlCount, ControlState{});
    for (int i = 0; i < kControlCount; ++i) {
        const ControlDef& d = controlTable()[i];
        ControlState& s = states_[i];
        s.down = d.down;
        s.enabled = d.enabled;
        s.visible = d.visible;
        s.left = d.left;
        s.top = d.top;
        s.width = d.width;
        s.height = d.height;
        // Room for the longest readout a cycle writes, so that changing texts
        // in the cycles never allocates (the setters below keep the room).
        s.caption.reserve(kTextRoom);
        s.text.reserve(kTextRoom);
        s.caption = d.caption;
        s.text = d.text;
        s.items = splitItems(d.itemList);
        s.itemIndex = d.itemIndex;
        if (d.kind == Kind::Combo && s.itemIndex >= 0 && s.itemIndex < static_cast<int>(s.items.size()))
            s.text = s.items[s.itemIndex];
        s.min = d.min;
        s.max = d.max;
        s.position = d.position;
        s.tag = d.tagValue;
        s.interval = d.intervalMs;
        // Colours: a control without its own colour takes its parent's; the
        // table lists parents before children.
        if (d.back != kInherit) {
            s.color = d.back;
        } else if (d.parent == Ctl::Form1) {
            s.color = kFormBack;
        } else {
            s.color = states_[idx(d.parent)].color;
        }
        s.revision = ++revision_;
    }
    formWidth_ = 848;
    formHeight_ = 722;
    ++formRevision_;
}

void Panel::touch(ControlState& s) {
    s.revision = ++revision_;
}

void Panel::bump(Ctl c) {
    touch(states_[idx(c)]);
}

bool Panel::showing(Ctl c) const {
    Ctl cur = c;
    while (cur != Ctl::Form1) {
        const ControlState& s = state(cur);
        if (!s.visible) return false;
        const ControlDef& d = def(cur);
        if (d.kind == Kind::TabSheet) {
            // Only the active page of its page control shows.
            int page = 0;
            for (int i = 0; i < idx(cur); ++i)
                if (controlTable()[i].kind == Kind::TabSheet && controlTable()[i].parent == d.parent) ++page;
            if (state(d.parent).position != page) return false;
        }
        cur = d.parent;
    }
    return true;
}

std::string Panel::itemText(Ctl c) const {
    const ControlState& s = state(c);
    if (s.itemIndex < 0 || s.itemIndex >= static_cast<int>(s.items.size())) return {};
    return s.items[s.itemIndex];
}

void Panel::setDown(Ctl c, bool v) {
    ControlState& s = states_[idx(c)];
    const ControlDef& d = def(c);
    if (d.kind == Kind::Check || d.kind == Kind::Radio) {
        setChecked(c, v);
        return;
    }
    if (d.kind != Kind::Latch) return;  // plain buttons never stay down
    if (s.down == v) return;
    if (s.down && !v && !d.allUp) return;  // a group without "all up" keeps one button down
    s.down = v;
    touch(s);
    if (v && d.group != G_NONE) {
        for (int i = 0; i < kControlCount; ++i) {
            if (i == idx(c)) continue;
            const ControlDef& o = controlTable()[i];
            if (o.kind == Kind::Latch && o.group == d.group && states_[i].down) {
                states_[i].down = false;
                touch(states_[i]);
            }
        }
    }
}

void Panel::setChecked(Ctl c, bool v) {
    ControlState& s = states_[idx(c)];
    const ControlDef& d = def(c);
    if (d.kind == Kind::Latch) {
        setDown(c, v);
        return;
    }
    if (s.down == v) return;
    s.down = v;
    touch(s);
    if (v && d.kind == Kind::Radio) {
        for (int i = 0; i < kControlCount; ++i) {
            if (i == idx(c)) continue;
            const ControlDef& o = controlTable()[i];
            if (o.kind == Kind::Radio && o.parent == d.parent && states_[i].down) {
                states_[i].down = false;
                touch(states_[i]);
            }
        }
    }
}

void Panel::setValue(Ctl c, int v) {
    setTag(c, v);
}

void Panel::setTag(Ctl c, int v) {
    ControlState& s = states_[idx(c)];
    if (s.tag == v) return;
    s.tag = v;
    touch(s);
}

void Panel::setHint(Ctl c, std::string v) {
    ControlState& s = states_[idx(c)];
    if (s.hint == v) return;
    s.hint = std::move(v);
    touch(s);
}

void Panel::setText(Ctl c, std::string v) {
    ControlState& s = states_[idx(c)];
    if (s.text == v) return;
    keepRoom(s.text, std::move(v));
    touch(s);
}

void Panel::setCaption(Ctl c, std::string v) {
    ControlState& s = states_[idx(c)];
    if (s.caption == v) return;
    keepRoom(s.caption, std::move(v));
    touch(s);
}

void Panel::setItems(Ctl c, std::vector<std::string> items) {
    ControlState& s = states_[idx(c)];
    s.items = std::move(items);
    if (s.itemIndex >= static_cast<int>(s.items.size())) s.itemIndex = -1;
    touch(s);
}

void Panel::addItem(Ctl c, std::string item) {
    ControlState& s = states_[idx(c)];
    s.items.push_back(std::move(item));
    touch(s);
}

void Panel::setItemIndex(Ctl c, int i) {
    ControlState& s = states_[idx(c)];
    if (i < -1 || i >= static_cast<int>(s.items.size())) i = -1;
    s.itemIndex = i;
    if (i >= 0) s.text = s.items[i];
    touch(s);
}

void Panel::setPosition(Ctl c, int p) {
    ControlState& s = states_[idx(c)];
    const Kind k = def(c).kind;
    if (k == Kind::TrackBar || k == Kind::ProgressBar) p = std::clamp(p, s.min, std::max(s.min, s.max));
    if (s.position == p) return;
    s.position = p;
    touch(s);
}

void Panel::setEnabled(Ctl c, bool v) {
    ControlState& s = states_[idx(c)];
    if (s.enabled == v) return;
    s.enabled = v;
    touch(s);
}

void Panel::setVisible(Ctl c, bool v) {
    ControlState& s = states_[idx(c)];
    if (s.visible == v) return;
    s.visible = v;
    touch(s);
}

void Panel::setBounds(Ctl c, int left, int top, int width, int height) {
    ControlState& s = states_[idx(c)];
    if (s.left == left && s.top == top && s.width == width && s.height == height) return;
    s.left = left;
    s.top = top;
    s.width = width;
    s.height = height;
    touch(s);
}

void Panel::setColor(Ctl c, display::Color col) {
    ControlState& s = states_[idx(c)];
    if (s.color == col) return;
    s.color = col;
    touch(s);
}

void Panel::setCanvas(Ctl c, display::Canvas* canvas) {
    ControlState& s = states_[idx(c)];
    s.canvas = canvas;
    touch(s);
}

void Panel::setFormSize(int w, int h) {
    if (w == formWidth_ && h == formHeight_) return;
    formWidth_ = w;
    formHeight_ = h;
    ++formRevision_;
    ++revision_;
}

void Panel::setFormPos(int left, int top) {
    if (left == formLeft_ && top == formTop_) return;
    formLeft_ = left;
    formTop_ = top;
    ++formRevision_;
    ++revision_;
}

bool Panel::acceptsUser(Ctl c) const {
    if (c == Ctl::Count || c == Ctl::Form1) return false;
    return enabled(c) && (!requireShowing_ || showing(c));
}

void Panel::fire(Ctl c, Event e, const UiEvent& ev) {
    Handler h = binding(c, e);
    if (h == Handler::None || !sink_) return;
    sink_->handle(h, ev);
}

void Panel::run(Handler h, Ctl sender) {
    if (h == Handler::None || !sink_) return;
    UiEvent ev;
    ev.type = Event::Click;
    ev.sender = sender;
    sink_->handle(h, ev);
}

void Panel::userPress(Ctl c, MouseButton b, int x, int y) {
    ShiftState held;
    held.left = b == MouseButton::Left;
    held.right = b == MouseButton::Right;
    held.middle = b == MouseButton::Middle;
    userMouseDown(c, b, x, y, held);
    userMouseUp(c, b, x, y, ShiftState{});
    if (b == MouseButton::Left) userClick(c);
}

void Panel::userMouseDown(Ctl c, MouseButton b, int x, int y, ShiftState s) {
    if (!acceptsUser(c)) return;
    if (b == MouseButton::Left) {
        // The toolkit changes a latching button, check box or radio button as
        // it is pressed; the handlers then see the new state.
        switch (def(c).kind) {
            case Kind::Latch:
                if (!down(c)) {
                    setDown(c, true);
                } else if (def(c).allUp) {
                    setDown(c, false);
                }
                break;
            case Kind::Check:
                setChecked(c, !checked(c));
                break;
            case Kind::Radio:
                setChecked(c, true);
                break;
            default:
                break;
        }
    }
    UiEvent ev{Event::MouseDown, c, b, s, x, y};
    fire(c, Event::MouseDown, ev);
}

void Panel::userMouseMove(Ctl c, ShiftState s, int x, int y) {
    if (!acceptsUser(c)) return;
    UiEvent ev{Event::MouseMove, c, MouseButton::Left, s, x, y};
    fire(c, Event::MouseMove, ev);
}

void Panel::userMouseUp(Ctl c, MouseButton b, int x, int y, ShiftState s) {
    if (!acceptsUser(c)) return;
    UiEvent ev{Event::MouseUp, c, b, s, x, y};
    fire(c, Event::MouseUp, ev);
}

void Panel::userClick(Ctl c) {
    if (!acceptsUser(c)) return;
    UiEvent ev{Event::Click, c, MouseButton::Left, {}, 0, 0};
    fire(c, Event::Click, ev);
}

void Panel::userDoubleClick(Ctl c, int x, int y) {
    if (!acceptsUser(c)) return;
    UiEvent ev{Event::DblClick, c, MouseButton::Left, {}, x, y};
    fire(c, Event::DblClick, ev);
}

void Panel::userEditText(Ctl c, std::string text) {
    if (!acceptsUser(c)) return;
    if (state(c).text == text) return;
    setText(c, std::move(text));
    UiEvent ev{Event::Change, c, MouseButton::Left, {}, 0, 0};
    fire(c, Event::Change, ev);
}

void Panel::userSelectItem(Ctl c, int index) {
    if (!acceptsUser(c)) return;
    setItemIndex(c, index);
    UiEvent ev{Event::Change, c, MouseButton::Left, {}, 0, 0};
    fire(c, Event::Change, ev);
}

void Panel::userTrackPosition(Ctl c, int pos) {
    if (!acceptsUser(c)) return;
    int before = position(c);
    setPosition(c, pos);
    if (position(c) == before) return;
    UiEvent ev{Event::Change, c, MouseButton::Left, {}, 0, 0};
    fire(c, Event::Change, ev);
}

void Panel::userTurnKnob(Ctl knob, int steps) {
    if (!acceptsUser(knob) || def(knob).kind != Kind::Knob || steps == 0) return;
    UiEvent ev{Event::MouseMove, knob, MouseButton::Left, {}, 0, 0, steps};
    fire(knob, Event::MouseMove, ev);
}

void Panel::userSelectPage(Ctl pageControl, int page) {
    if (!acceptsUser(pageControl)) return;
    setPosition(pageControl, page);
}

void Panel::timerTick(Ctl timer) {
    if (!enabled(timer)) return;
    UiEvent ev{Event::Timer, timer, MouseButton::Left, {}, 0, 0};
    fire(timer, Event::Timer, ev);
}

}  // namespace miral::core
