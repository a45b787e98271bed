// SPDX-License-Identifier: GPL-3.0-or-later
// The markers: their handles on the strip below the screen, their captures
// on trace A and the readout block of the frequency views, with the
// distortion readout inside marker 1's block.
#include "core/markers.h"

#include <cmath>

#include "analysis/distortion.h"
#include "core/instrument.h"
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

void Markers::mark1xMouseDown(const UiEvent& e) {
    if (markerOf(e.sender) < 0) return;
    // The left button switches the marker on, the right button off.
    if (e.button == MouseButton::Left) {
        panel_.setTag(e.sender, 1);
        // Where in the handle it was taken: a drag keeps that point under the pointer.
        grabX_[static_cast<std::size_t>(markerOf(e.sender))] = e.x;
    } else if (e.button == MouseButton::Right) {
        panel_.setTag(e.sender, 0);
    }
}

void Markers::mark1xMouseMove(const UiEvent& e) {
    if (markerOf(e.sender) < 0 || !e.shift.left) return;
    const ControlState& s = panel_.state(e.sender);
    // The handle moves by exactly the pointer's movement.
    int left = s.left + e.x - grabX_[static_cast<std::size_t>(markerOf(e.sender))];
    if (left < kLeftmostHandle) left = kLeftmostHandle;
    // Past the right end of the screen the handle stays at its last place.
    if (left > panel_.state(Ctl::screen).width - 15) left = rightmostHandle(panel_);
    panel_.setBounds(e.sender, left, s.top, s.width, s.height);
}

void Markers::markerviewClick() {
    const bool shown = panel_.down(Ctl::markerview);
    for (Ctl h : kHandles) panel_.setVisible(h, shown);
}

void Markers::placeMarkerHandles() {
    const bool xlog = panel_.down(Ctl::xlog);
    for (int m = 0; m < display::kMarkerCount; ++m) {
        const Ctl h = kHandles[m];
        // A marker that caught nothing has no frequency to keep: it stays.
        if (panel_.tag(h) == 0 || markers_[static_cast<std::size_t>(m)].bin == 0) continue;
        const double x = display::MapAxis(markers_[static_cast<std::size_t>(m)].bin * st_.BinWidth,
                                          st_.PlotSpan, st_.FMin, st_.FMax, xlog) +
                         7;
        int left = std::isnan(x) ? kLeftmostHandle
                   : x > 1e6     ? 1000000
                   : x < -1e6    ? -1000000
                                 : static_cast<int>(x);
        if (left < kLeftmostHandle) left = kLeftmostHandle;
        if (left > rightmostHandle(panel_)) left = rightmostHandle(panel_);
        const ControlState& s = panel_.state(h);
        panel_.setBounds(h, left, s.top, s.width, s.height);
    }
}

// ---- Captures -------------------------------------------------------------------------

void Markers::captureMarkers() {
    int left[display::kMarkerCount];
    for (int m = 0; m < display::kMarkerCount; ++m) left[m] = panel_.state(kHandles[m]).left;
    display::ResetMarkerCaptures(markers_.data());
    display::CaptureMarkers(markers_.data(), left, spectrum().traceColumns(), spectrum().traceColumnCount(),
                            st_.DisplayA.data(), st_.DisplayPhase.data());
}

// ---- Readouts -------------------------------------------------------------------------

double Markers::markerPhaseRow(double phase) const {
    // The phase dot goes 8 rows below this, onto the phase curve.
    return in_.phaseCurveRow(phase) - 8;
}

void Markers::markerReadouts() {
    if (!in_.screenBuffer()) return;
    display::Canvas& c = *in_.screenBuffer();
    const View view = activeView(panel_);
    const bool impedance = view == View::Impedance;
    const bool transfer = view == View::Transfer;

    display::MarkerTextInputs ti;
    ti.view = impedance  ? display::MarkerView::Impedance
              : transfer ? display::MarkerView::Transfer
                         : display::MarkerView::Spectrum;
    ti.ylog = panel_.down(Ctl::ylog);
    ti.scaleA = st_.ScaleB;  // trace A takes the second input panel's range
    ti.binWidth = st_.BinWidth;

    display::MarkerDrawInputs di;
    di.upperTop = st_.UpperTop;
    di.upperBottom = st_.UpperBottom;
    di.plotHeight = st_.PlotHeight;
    di.border = panel_.down(Ctl::borderview);
    di.phaseDot = impedance || transfer;

    c.font.name = "Arial";
    c.font.size = 8;
    c.font.color = in_.colors()[display::Slot::Labels];
    c.brush.style = display::BrushStyle::Clear;

    static constexpr display::Slot kDot[display::kMarkerCount] = {
        display::Slot::Marker1, display::Slot::Marker2, display::Slot::Marker3, display::Slot::Marker4};
    int boxLeft = 8;
    bool haveReference = false;
    double reference = 0;
    bool rlcShown = false;
    for (int m = 0; m < display::kMarkerCount; ++m) {
        const Ctl h = kHandles[m];
        if (panel_.tag(h) == 0) continue;
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
                rlc().rlcReadout(rlc().active() ? rlc().testBin() : mk.bin);
                rlcShown = true;
            }
            c.font.name = "Arial";
            c.font.size = 8;
            c.brush.style = display::BrushStyle::Clear;
        }
        di.handleLeft = panel_.state(h).left;
        di.phaseRow = markerPhaseRow(mk.phase);
        di.lineColor = in_.colors()[m == 0 ? display::Slot::Mark1Trace : display::Slot::Mark2to4Trace];
        di.markerColor = in_.colors()[kDot[m]];
        display::DrawMarker(c, m, mk, texts, di, boxLeft);
    }
    // The RLC meter's own readout does not depend on marker 1 being on.
    if (rlc().active() && !rlcShown) rlc().rlcReadout(rlc().testBin());
}

void Markers::distortionReadout() {
    readoutAtFloor_ = false;
    // The plain spectrum view only, without averaging or peak hold.
    if (activeView(panel_) != View::Spectrum || !panel_.down(Ctl::markerview) || panel_.tag(Ctl::mark1x) == 0)
        return;
    if (panel_.down(Ctl::avg) || panel_.down(Ctl::maxx)) return;
    if (spectrum().fundamentalBin() == 0 || !in_.screenBuffer()) return;

    analysis::DistortionInputs in;
    in.displayA = st_.DisplayA.data();
    in.displayB = st_.DisplayB.data();
    in.bins = st_.FftSize / 2;
    in.fundamentalBin = spectrum().fundamentalBin();
    in.scaleA = st_.ScaleB;  // trace A: the second input panel's range
    in.scaleB = st_.ScaleA;
    in.ylog = panel_.down(Ctl::ylog);
    in.bothChannels = channelMode(panel_) == ChannelMode::AB;
    const analysis::Distortion d = analysis::MeasureDistortion(in);
    if (!d.valid) return;
    display::LineText text = display::DistortionText(
        in.bothChannels, d.thd, d.overtone,
        analysis::FundamentalHz(spectrum().fundamentalBin(), st_.BinWidth), d.fundamentalMv);
    // Within 3 dB of the card's own THD: the card's figure, not the device's.
    const CardFloor& floor = cardFloor();
    if (floor.floor().valid && !floor.loopbackRunning() && d.thd > 0 &&
        floor.figureAtFloor(20 * std::log10(d.thd), floor.floor().thdDb[0])) {
        readoutAtFloor_ = true;
        text.append("  ~floor");
    }

    // The line is kept in Edit11 (its storage is reused from cycle to cycle).
    ControlState& edit = panel_.mutableState(Ctl::Edit11);
    if (edit.text != text.view()) {
        edit.text.assign(text.view());
        panel_.bump(Ctl::Edit11);
    }

    display::Canvas& c = *in_.screenBuffer();
    const int row = st_.UpperBottom - 2;
    if (in.bothChannels) {
        c.textOut(8, row, edit.text);
    } else {
        // Channel A alone: on an opaque strip of the background colour.
        c.brush = display::Brush{in_.colors()[display::Slot::Background], display::BrushStyle::Solid};
        c.textOut(20, row, edit.text);
        c.brush.style = display::BrushStyle::Clear;
    }
}

// ---- The instrument's handlers ---------------------------------------------------------

void Instrument::mark1xMouseDown(const UiEvent& e) {
    markers_.mark1xMouseDown(e);
}
void Instrument::mark1xMouseMove(const UiEvent& e) {
    markers_.mark1xMouseMove(e);
}
void Instrument::markerviewClick(const UiEvent&) {
    markers_.markerviewClick();
}

}  // namespace miral::core
