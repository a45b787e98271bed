// SPDX-License-Identifier: GPL-3.0-or-later
// Side area, enlarged screen, colour schemes, band knobs.
#include <algorithm>

#include "core/instrument.h"
#include "core/twins.h"

namespace miral::core {

void Instrument::setDecimation(int d) {
    st.Decimation = d;
    ring_->SetDecimation(d);
}

// ---- Side area ------------------------------------------------------------------

void Instrument::showSidePanel(int mode) {
    st.SidePanelMode = mode;
    panel.setVisible(Ctl::pan1, mode == 1);
    panel.setVisible(Ctl::pan2a, mode == 2);
    panel.setVisible(Ctl::pan2b, mode == 2);
    panel.setVisible(Ctl::PageControl1, mode == 0);
    panel.setFormSize(848, panel.formHeight());
    // The chosen side panel comes to the front: the distortion analyzer gives way.
    panel.setDown(Ctl::distview, false);
    panel.setVisible(Ctl::pan3, false);
}

void Instrument::funMouseDown(const UiEvent& e) {
    int mode = st.SidePanelMode;
    if (e.button == MouseButton::Left) {
        mode = (mode + 1) % 3;
    } else if (e.button == MouseButton::Right) {
        mode = 0;
    }
    panel.setDown(Ctl::fun, false);
    showSidePanel(mode);
}

void Instrument::Label211MouseDown(const UiEvent& e) {
    funMouseDown(e);
}

// ---- Enlarged screen ------------------------------------------------------------

namespace {

// The screen panel's inner parts follow its size.
void layoutScreen(Panel& panel, int w, int h) {
    panel.setBounds(Ctl::screen, 0, 1, w, h);
    panel.setBounds(Ctl::Panel2, 9, 9, w - 18, h - 18);
    panel.setBounds(Ctl::PaintBox1, 0, 0, w - 18, h - 18);
    panel.setBounds(Ctl::PaintBox4, w - 9, 8, 9, h - 17);
    panel.setBounds(Ctl::PaintBox5, 8, h - 10, w - 16, 9);
}

}  // namespace

void Instrument::PaintBox1DblClick(const UiEvent&) {
    if (!st.EnlargedScreen) {
        const ControlState& scr = panel.state(Ctl::screen);
        st.SavedScreenWidth = scr.width;
        st.SavedScreenHeight = scr.height;
        int formW = panel.formWidth();
        int w = formW - 8;
        int h = scr.width > 0 ? (formW - 6) * scr.height / scr.width : scr.height;
        layoutScreen(panel, w, h);
        // The strip covers the whole window below the screen: nothing of the
        // panels beneath shows around it.
        const ControlState& strip = panel.state(Ctl::Panel1);
        panel.setBounds(Ctl::Panel1, strip.left, 602, std::max(strip.width, formW - strip.left),
                        std::max(strip.height, panel.formHeight() - 602));
        panel.setVisible(Ctl::Panel1, true);
        panel.setVisible(Ctl::SpeedButton22, false);
        panel.setVisible(Ctl::PageControl1, false);
        st.EnlargedScreen = true;
    } else {
        layoutScreen(panel, st.SavedScreenWidth, st.SavedScreenHeight);
        panel.setVisible(Ctl::Panel1, false);
        panel.setVisible(Ctl::SpeedButton22, true);
        panel.setVisible(Ctl::PageControl1, st.SidePanelMode == 0);
        st.EnlargedScreen = false;
    }
    tunemark();
}

// ---- Twins and marker handles ---------------------------------------------------

void Instrument::tunemark(const UiEvent&) {
    int top = panel.state(Ctl::screen).height - 10;
    for (Ctl m : {Ctl::mark1x, Ctl::mark2x, Ctl::mark3x, Ctl::mark4x}) {
        const ControlState& s = panel.state(m);
        panel.setBounds(m, s.left, top, s.width, s.height);
    }
    drawKnob(Ctl::pos1_bis, panel.value(Ctl::pos1));
    drawKnob(Ctl::pos2_bis, panel.value(Ctl::pos2));
    drawKnob(Ctl::triglevel_bis, panel.value(Ctl::triglevel));
    for (const Twin& t : kTwinButtons) panel.setDown(t.copy, panel.down(t.main));
    if (activeView(panel) == View::Time) return;
    st.PlotWidth = panel.state(Ctl::screen).width - st.RightMargin - 18;
    st.PlotSpan = st.PlotWidth - 4;
    markers_.placeMarkerHandles();  // each switched-on marker stays on its frequency
}

// ---- Band knobs -------------------------------------------------------------------

void Instrument::tuneall(const UiEvent&) {
    if (!st.RetuneKnobs) return;
    struct Row {
        double value;
        Ctl knob, x1, x10, x100;
    };
    const Row rows[3] = {{st.FMin, Ctl::tb1, Ctl::tb11, Ctl::tb12, Ctl::tb13},
                         {st.FMax, Ctl::tb2, Ctl::tb21, Ctl::tb22, Ctl::tb23},
                         {st.FCenter, Ctl::tb4, Ctl::tb41, Ctl::tb42, Ctl::tb43}};
    for (const Row& r : rows) {
        if (r.value < 100) {
            panel.setDown(r.x1, true);
            drawKnob(r.knob, static_cast<int>(r.value));
        } else if (r.value < 1000) {
            panel.setDown(r.x10, true);
            drawKnob(r.knob, static_cast<int>(r.value * 0.1));
        } else {
            panel.setDown(r.x100, true);
            drawKnob(r.knob, static_cast<int>(r.value * 0.01));
        }
    }
    st.RetuneKnobs = false;
}

}  // namespace miral::core
