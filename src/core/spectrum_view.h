// SPDX-License-Identifier: GPL-3.0-or-later
// The frequency views in the processing cycle: the FFT of both channels, the
// spectrum in display units with its LF average and traces, the peak
// list and the fundamental, the frequency meter and tuner, and the labels on
// peaks; and the "+" / "-" controls of the FFT size (`Label135`, `Label139`).
#pragma once

#include <array>
#include <vector>

#include "analysis/analyzer_stage.h"
#include "analysis/fft_engine.h"
#include "core/instrument_section.h"
#include "display/spectrum_traces.h"
#include "display/tuner.h"

namespace miral::core {

class SpectrumView : public InstrumentSection {
  public:
    using InstrumentSection::InstrumentSection;

    void Label135Click();  // "+": finer bins
    void Label139Click();  // "-": coarser bins, faster

    // What a processing cycle does in the frequency views, after the acquisition.
    void frequencyStages();
    // The time view measures no frequency: the tuner's readouts say so
    // instead of keeping the last reading.
    void tunerIdle();

    // The transform, prepared for each FFT size outside the cycles.
    analysis::SpectrumEngine& engine() { return spectrumEngine_; }
    // The fundamental's bin of this cycle (0: none) and its frequency.
    int fundamentalBin() const { return fundamentalBin_; }
    double fundamentalHz() const { return fundamentalHz_; }
    // Trace A's drawn columns of this cycle (bin, x, row before clamping):
    // what the markers snap to and the RLC readout's line follows.
    const display::TraceColumn* traceColumns() const { return traceColumns_.data(); }
    int traceColumnCount() const { return traceColumnCount_; }
    // The bins' columns of this cycle and the point buffer, shared with the
    // phase curve.
    display::SpectrumColumns& columns() { return spectrumColumns_; }
    std::vector<display::Point>& points() { return spectrumPoints_; }

  private:
    void drawSpectrumTraces(bool deviceView, bool impedanceLinear);
    void tuner();
    void peakLabels();

    analysis::SpectrumEngine spectrumEngine_;
    analysis::LevelJumpDetector levelJump_;
    bool levelJumped_ = false;
    // The strongest peaks of channel A (slot 0 strongest until peakLabels()
    // sorts them by bin) and the fundamental's bin.
    analysis::PeakList peakList_;
    int fundamentalBin_ = 100;
    double fundamentalHz_ = 0;  // the fundamental's frequency, between bins where it can be fitted
    display::SpectrumColumns spectrumColumns_;
    std::vector<display::TraceColumn> traceColumns_ = std::vector<display::TraceColumn>(32768);
    int traceColumnCount_ = 0;
    std::vector<display::Point> spectrumPoints_ = std::vector<display::Point>(32768);
    display::TunerTrace tunerTrace_;
    bool tunerIdle_ = false;
    std::array<display::PeakLabel, analysis::PeakList::kKept> peakLabels_{};
};

}  // namespace miral::core
