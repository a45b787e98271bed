// SPDX-License-Identifier: GPL-3.0-or-later
// The markers: their handles on the strip below the screen, their captures
// on trace A and the readout block of the frequency views, with the
// distortion readout inside marker 1's block.
#include <cmath>

#include "analysis/distortion.h"
#include "core/instrument.h"
#include "display/markers.h"
#include "display/number_text.h"

namespace miral::core {

namespace {

constexpr Ctl kHandles[display::kMarkerCount] = {Ctl::mark1x, Ctl::mark2x, Ctl::mark3x, Ctl::mark4x};

// Which marker a handle belongs to (0 .. 3), -1 for any other control.
int markerOf(Ctl c) {
    for (int m = 0; m < display::kMarkerCount; ++m)
        if (kHandles[m] == c) return m;
    return -1;
}

constexpr int kLeftmostHandle = 8;

// The rightmost left edge of a handle: 568 on the normal screen, and the
// same distance from the right edge on the enlarged one.
int rightmostHandle(const Panel& p) {
    return p.state(Ctl::screen).width - 17;
}

}  // namespace

// ---- Handles ------------------------------------------------------------------------

void Instrument::mark1xMouseDown(const UiEvent& e) {
    if (markerOf(e.sender) < 0) return;
    // The left button switches the marker on, the right button off.
    if (e.button == MouseButton::Left) {
        panel.setTag(e.sender, 1);
    } else if (e.button == MouseButton::Right) {
        panel.setTag(e.sender, 0);
    }
}

void Instrument::mark1xMouseMove(const UiEvent& e) {
    if (markerOf(e.sender) < 0 || !e.shift.left) return;
    const ControlState& s = panel.state(e.sender);
    int left = s.left + e.x;
    if (left < kLeftmostHandle) left = kLeftmostHandle;
    // Past the right end of the screen the handle stays at its last place.
    if (left > panel.state(Ctl::screen).width - 15) left = rightmostHandle(panel);
    panel.setBounds(e.sender, left, s.top, s.width, s.height);
}

void Instrument::markerviewClick(const UiEvent&) {
    const bool shown = panel.down(Ctl::markerview);
    for (Ctl h : kHandles) panel.setVisible(h, shown);
}

void Instrument::placeMarkerHandles() {
    const bool xlog = panel.down(Ctl::xlog);
    for (int m = 0; m < display::kMarkerCount; ++m) {
        const Ctl h = kHandles[m];
        // A marker that caught nothing has no frequency to keep: it stays.
        if (panel.tag(h) == 0 || markers_[static_cast<std::size_t>(m)].bin == 0) continue;
        const double x = display::MapAxis(markers_[static_cast<std::size_t>(m)].bin * st.BinWidth,
                                          st.PlotSpan, st.FMin, st.FMax, xlog) +
                         7;
        int left = std::isnan(x) ? kLeftmostHandle
                   : x > 1e6     ? 1000000
                   : x < -1e6    ? -1000000
                                 : static_cast<int>(x);
        if (left < kLeftmostHandle) left = kLeftmostHandle;
        if (left > rightmostHandle(panel)) left = rightmostHandle(panel);
        const ControlState& s = panel.state(h);
        panel.setBounds(h, left, s.top, s.width, s.height);
    }
}

// ---- Captures -------------------------------------------------------------------------

void Instrument::captureMarkers() {
    int left[display::kMarkerCount];
    for (int m = 0; m < display::kMarkerCount; ++m) left[m] = panel.state(kHandles[m]).left;
    display::ResetMarkerCaptures(markers_.data());
    display::CaptureMarkers(markers_.data(), left, traceColumns_.data(), traceColumnCount_,
                            st.DisplayA.data(), st.DisplayPhase.data());
}

// ---- Readouts -------------------------------------------------------------------------

double Instrument::markerPhaseRow(double phase) const {
    // The phase dot goes 8 rows below this, onto the phase curve.
    return phaseCurveRow(phase) - 8;
}

void Instrument::markerReadouts() {
    if (!screenBuffer_) return;
    display::Canvas& c = *screenBuffer_;
    const View view = activeView(panel);
    const bool impedance = view == View::Impedance;
    const bool transfer = view == View::Transfer;

    display::MarkerTextInputs ti;
    ti.view = impedance  ? display::MarkerView::Impedance
              : transfer ? display::MarkerView::Transfer
                         : display::MarkerView::Spectrum;
    ti.ylog = panel.down(Ctl::ylog);
    ti.scaleA = st.ScaleB;  // trace A takes the second input panel's range
    ti.binWidth = st.BinWidth;

    display::MarkerDrawInputs di;
    di.upperTop = st.UpperTop;
    di.upperBottom = st.UpperBottom;
    di.plotHeight = st.PlotHeight;
    di.border = panel.down(Ctl::borderview);
    di.phaseDot = impedance || transfer;

    c.font.name = "Arial";
    c.font.size = 8;
    c.font.color = colors_[display::Slot::Labels];
    c.brush.style = display::BrushStyle::Clear;

    static constexpr display::Slot kDot[display::kMarkerCount] = {
        display::Slot::Marker1, display::Slot::Marker2, display::Slot::Marker3, display::Slot::Marker4};
    int boxLeft = 8;
    bool haveReference = false;
    double reference = 0;
    bool rlcShown = false;
    for (int m = 0; m < display::kMarkerCount; ++m) {
        const Ctl h = kHandles[m];
        if (panel.tag(h) == 0) continue;
        const display::MarkerCapture& mk = markers_[static_cast<std::size_t>(m)];
        const display::MarkerTexts texts =
            display::MarkerReadoutTexts(m, mk, ti, haveReference ? &reference : nullptr);
        if (m == 0) {
            reference = texts.level;
            haveReference = true;
            distortionReadout();
            if (impedance) {
                // The meter reads at marker 1 (at its own test bin while it
                // has the screen).
                rlcReadout(rlcActive_ ? rlcTestBin_ : mk.bin);
                rlcShown = true;
            }
            c.font.name = "Arial";
            c.font.size = 8;
            c.brush.style = display::BrushStyle::Clear;
        }
        di.handleLeft = panel.state(h).left;
        di.phaseRow = markerPhaseRow(mk.phase);
        di.lineColor = colors_[m == 0 ? display::Slot::Mark1Trace : display::Slot::Mark2to4Trace];
        di.markerColor = colors_[kDot[m]];
        display::DrawMarker(c, m, mk, texts, di, boxLeft);
    }
    // The RLC meter's own readout does not depend on marker 1 being on.
    if (rlcActive_ && !rlcShown) rlcReadout(rlcTestBin_);
}

void Instrument::distortionReadout() {
    readoutAtFloor_ = false;
    // The plain spectrum view only, without averaging or peak hold.
    if (activeView(panel) != View::Spectrum || !panel.down(Ctl::markerview) || panel.tag(Ctl::mark1x) == 0)
        return;
    if (panel.down(Ctl::avg) || panel.down(Ctl::maxx)) return;
    if (fundamentalBin_ == 0 || !screenBuffer_) return;

    analysis::DistortionInputs in;
    in.displayA = st.DisplayA.data();
    in.displayB = st.DisplayB.data();
    in.bins = st.FftSize / 2;
    in.fundamentalBin = fundamentalBin_;
    in.scaleA = st.ScaleB;  // trace A: the second input panel's range
    in.scaleB = st.ScaleA;
    in.ylog = panel.down(Ctl::ylog);
    in.bothChannels = channelMode(panel) == ChannelMode::AB;
    const analysis::Distortion d = analysis::MeasureDistortion(in);
    if (!d.valid) return;
    display::LineText text =
        display::DistortionText(in.bothChannels, d.thd, d.overtone,
                                analysis::FundamentalHz(fundamentalBin_, st.BinWidth), d.fundamentalMv);
    // Within 3 dB of the card's own THD: the card's figure, not the device's.
    if (floor_.valid && floorStep_ == 0 && d.thd > 0 &&
        figureAtFloor(20 * std::log10(d.thd), floor_.thdDb[0])) {
        readoutAtFloor_ = true;
        text.append("  ~floor");
    }

    // The line is kept in Edit11 (its storage is reused from cycle to cycle).
    ControlState& edit = panel.mutableState(Ctl::Edit11);
    if (edit.text != text.view()) {
        edit.text.assign(text.view());
        panel.bump(Ctl::Edit11);
    }

    display::Canvas& c = *screenBuffer_;
    const int row = st.UpperBottom - 2;
    if (in.bothChannels) {
        c.textOut(8, row, edit.text);
    } else {
        // Channel A alone: on an opaque strip of the background colour.
        c.brush = display::Brush{colors_[display::Slot::Background], display::BrushStyle::Solid};
        c.textOut(20, row, edit.text);
        c.brush.style = display::BrushStyle::Clear;
    }
}

}  // namespace miral::core
