// SPDX-License-Identifier: GPL-3.0-or-later
// The drawing surfaces of the front panel: one QImage canvas per knob image,
// the screen's paint box and its off-screen ScreenBuffer, and the tuner's two
// paint boxes. They are attached to the instrument before FormActivate (which
// paints the knob faces into them) and live as long as the instrument uses
// them; the window and the headless runner show them.
#pragma once

#include <memory>
#include <vector>

#include "core/instrument.h"
#include "display/frame_list.h"
#include "display/qimage_canvas.h"

namespace miral::app {

class PanelCanvases {
  public:
    // Creates every canvas and attaches it to `in` (panel.setCanvas for the
    // knobs and paint boxes, setScreenBuffer for the ScreenBuffer, which
    // keeps each frame's drawing calls and paints them only for a frame that
    // differs from the one shown).
    explicit PanelCanvases(core::Instrument& in);
    // Detaches them again.
    ~PanelCanvases();
    PanelCanvases(const PanelCanvases&) = delete;
    PanelCanvases& operator=(const PanelCanvases&) = delete;

    // The canvas of a control; null for controls without one.
    display::QImageCanvas* canvas(core::Ctl c) const;
    display::QImageCanvas& screenBuffer() { return *screen_; }

  private:
    core::Instrument& in_;
    std::vector<std::unique_ptr<display::QImageCanvas>> byControl_;
    std::unique_ptr<display::QImageCanvas> screen_;
    std::unique_ptr<display::FrameList> screenList_;
};

}  // namespace miral::app
