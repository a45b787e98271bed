// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/panel_canvases.h"

namespace miral::app {

using core::Ctl;
using core::Kind;

PanelCanvases::PanelCanvases(core::Instrument& in) : in_(in), byControl_(core::kControlCount) {
    core::Panel& panel = in.panel;
    const display::Color background = in.slotColor(core::SlotBackground);
    // The screen: the ScreenBuffer and the paint box are both made at twice
    // the paint box's designed size, so that the enlarged screen fits too.
    const core::ControlState& screen = panel.state(Ctl::PaintBox1);
    const int w = 2 * screen.width;
    const int h = 2 * screen.height;
    screen_ = std::make_unique<display::QImageCanvas>(w, h, background);
    byControl_[core::idx(Ctl::PaintBox1)] = std::make_unique<display::QImageCanvas>(w, h, background);
    for (Ctl c : {Ctl::PaintBox2, Ctl::PaintBox3, Ctl::PaintBox6}) {
        const core::ControlState& s = panel.state(c);
        byControl_[core::idx(c)] = std::make_unique<display::QImageCanvas>(s.width, s.height, background);
    }
    for (int i = 0; i < core::kControlCount; ++i) {
        const auto c = static_cast<Ctl>(i);
        if (panel.def(c).kind != Kind::Knob) continue;
        const core::ControlState& s = panel.state(c);
        byControl_[i] = std::make_unique<display::QImageCanvas>(s.width, s.height, s.color);
    }
    for (int i = 0; i < core::kControlCount; ++i)
        if (byControl_[i]) panel.setCanvas(static_cast<Ctl>(i), byControl_[i].get());
    screenList_ = std::make_unique<display::FrameList>(*screen_);
    in.setScreenBuffer(screenList_.get());
}

PanelCanvases::~PanelCanvases() {
    for (int i = 0; i < core::kControlCount; ++i)
        if (byControl_[i] && in_.panel.canvas(static_cast<Ctl>(i)) == byControl_[i].get())
            in_.panel.setCanvas(static_cast<Ctl>(i), nullptr);
    if (in_.screenBuffer() == screenList_.get()) in_.setScreenBuffer(nullptr);
}

display::QImageCanvas* PanelCanvases::canvas(Ctl c) const {
    if (c == Ctl::Count || c == Ctl::Form1) return nullptr;
    return byControl_[core::idx(c)].get();
}

}  // namespace miral::app
