// SPDX-License-Identifier: GPL-3.0-or-later
// The markers: four handles on the strip below the screen, what each caught
// on trace A in the last cycle, and their readout block in the frequency
// views (marker 1's block carries the distortion and RLC readouts).
#pragma once

#include <array>

#include "core/instrument_section.h"
#include "display/markers.h"

namespace miral::core {

class Markers : public InstrumentSection {
  public:
    using InstrumentSection::InstrumentSection;

    // The handles: the left button switches a marker on, the right one off;
    // a drag with the left button moves it along the strip.
    void mark1xMouseDown(const UiEvent& e);
    void mark1xMouseMove(const UiEvent& e);
    // `markerview` shows or hides the handles.
    void markerviewClick();

    // Each switched-on handle onto its marker's frequency (after the band changed).
    void placeMarkerHandles();
    // Snaps the markers to trace A's drawn columns (right after trace A).
    void captureMarkers();
    // The four markers' block; marker 1's includes the distortion and RLC readouts.
    void markerReadouts();

    // What marker m (0 = marker 1) caught on trace A in the last cycle.
    const display::MarkerCapture& capture(int m) const { return markers_[static_cast<std::size_t>(m)]; }
    // Marker 1's distortion line read within 3 dB of the card's own floor.
    bool readoutAtFloor() const { return readoutAtFloor_; }

  private:
    void distortionReadout();                   // "Noise + THD=" / "True THD=" inside marker 1's block
    double markerPhaseRow(double phase) const;  // row of a phase on the phase curve, less 8

    std::array<display::MarkerCapture, display::kMarkerCount> markers_{};
    bool readoutAtFloor_ = false;
    std::array<int, display::kMarkerCount> grabX_{};  // where each handle was taken, from its left edge
};

}  // namespace miral::core
