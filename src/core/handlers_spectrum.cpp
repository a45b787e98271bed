// SPDX-License-Identifier: GPL-3.0-or-later
// The frequency views in the processing cycle: the FFT of both channels, the
// spectrum stage with its display units, LF average and traces, the peak
// list and the fundamental, the tuner and the labels on peaks; and the "+" /
// "-" controls of the FFT size.
#include <algorithm>
#include <string>

#include "analysis/band.h"
#include "analysis/impedance.h"
#include "core/instrument.h"
#include "display/number_text.h"

namespace miral::core {

namespace {

// After "+" or "-": the time view uses dividers up to 4 only; then the
// active view is set up again for the new size.
void applyFftDivider(Instrument& in) {
    if (activeView(in.panel) == View::Time) in.st.FftDivider = std::min(in.st.FftDivider, 4);
    // The "Fast mode" combo shows the divider too, so that a later rate change
    // (which re-reads the combo) and the next power-on keep it.
    const auto& items = in.panel.state(Ctl::ComboBox3).items;
    for (std::size_t i = 0; i < items.size(); ++i)
        if (items[i] == std::to_string(in.st.FftDivider))
            in.panel.setItemIndex(Ctl::ComboBox3, static_cast<int>(i));
    in.TempoClick();
    in.FrequenzaClick();
    in.trasfClick();
    in.st.SettleCount = 4;
}

}  // namespace

void Instrument::Label135Click(const UiEvent&) {
    st.FftDivider = std::max(1, st.FftDivider / 2);  // "+": finer bins
    applyFftDivider(*this);
}

void Instrument::Label139Click(const UiEvent&) {
    st.FftDivider = std::clamp(st.FftDivider * 2, 1, 32);  // "-": coarser bins, faster
    applyFftDivider(*this);
}

void Instrument::frequencyStages() {
    const int n = st.FftSize;
    const int h = n / 2;
    double* reA = st.SpectrumWorkReA.data();
    double* imA = st.SpectrumWorkImA.data();
    double* reB = st.SpectrumWorkReB.data();
    double* imB = st.SpectrumWorkImB.data();

    // The views with a device under test put their results into channel A's arrays.
    const View view = activeView(panel);
    const bool impedance = view == View::Impedance;
    const bool transfer = view == View::Transfer;

    // FFT of both channels: magnitude in the real arrays, phase in degrees in
    // the imaginary arrays, bins 0 .. n/2 (no stage reads the mirrored bins
    // above). Channel B's phase is read only by the views with a device
    // under test.
    const bool phaseOfB = transfer || impedance;
    spectrumEngine_.AnalyzeHalf(st.TimeWorkA.data(), st.TimeWorkB.data(), static_cast<std::size_t>(n),
                                selectedWindow(panel), reA, imA, reB, imB, phaseOfB);
    for (double* a : {reA, imA, reB, imB}) analysis::SuppressDc(a);
    if (phaseOfB && panel.checked(Ctl::CheckBox2))
        analysis::CorrectChannelDelay(imB, static_cast<std::size_t>(h) + 1, st.BinWidth,
                                      editNumber(Ctl::Edit14));

    if (impedance) {
        transfer_.impedanceBranch();
    } else if (transfer) {
        transfer_.transferBranch();
    }

    // Channel A before the display units, for the peak search; the bin past
    // the last is the last bin's right neighbour.
    std::copy(reA, reA + h, st.PeakSearchA.data());
    st.PeakSearchA[static_cast<std::size_t>(h)] = 0.0;
    // Without an impedance to show (an impossible shunt value) the level is
    // unknown: no jump is judged against it.
    const bool noReading = impedance && !transfer_.impedanceValid();
    levelJumped_ =
        !noReading && levelJump_.Update(reA, static_cast<std::size_t>(h)) && (transfer || impedance);
    if (levelJumped_ && panel.down(Ctl::lowf)) st.LfRestartCount = 7;

    // Display units. The second input panel's range sets trace A, the first's
    // trace B.
    const bool ylog = panel.down(Ctl::ylog);
    if (impedance) {
        transfer_.impedanceDisplayUnits();
    } else {
        using R = analysis::DisplayRow;
        const R row =
            transfer ? (ylog ? R::GainLog : R::GainLinear) : (ylog ? R::SpectrumLog : R::SpectrumLinear);
        analysis::ToDisplayUnits(row, reA, static_cast<std::size_t>(h), st.ScaleB);
        analysis::ToDisplayUnits(row, reB, static_cast<std::size_t>(h), st.ScaleA);
    }
    const bool lowf = panel.down(Ctl::lowf);
    if (transfer && lowf && h > 52) analysis::RepairLowGainBins(reA);

    analysis::DisplayUpdate u;
    u.a = reA;
    u.b = reB;
    u.phaseA = imA;
    u.displayA = st.DisplayA.data();
    u.displayB = st.DisplayB.data();
    u.displayPhase = st.DisplayPhase.data();
    u.bins = static_cast<std::size_t>(h);
    u.primed = st.DisplayPrimed;
    u.lowf = lowf;
    u.hold = panel.down(Ctl::hold);
    u.transfer = transfer;
    u.phaseUnwrap = phaseSmooth_ != 0;
    u.keepA = noReading;  // the curves keep the last reading
    st.DisplayPrimed = analysis::UpdateDisplay(u);

    drawSpectrumTraces(transfer || impedance, impedance && !ylog);
    tuner();
    // The RLC set-up, the RLC and marker readouts and the distortion
    // readout come here, before the labels on the peaks.
    frequencyReadouts();
    peakLabels();
    distortionStage();
}

void Instrument::drawSpectrumTraces(bool deviceView, bool impedanceLinear) {
    display::Canvas& c = *screenBuffer_;
    const bool draw = st.UpperBottom != 0;
    const int bins = st.FftSize / 2;
    transfer_.phaseCurve();
    spectrumColumns_.Update(bins, st.BinWidth, st.PlotSpan, st.PlotWidth, st.FMin, st.FMax,
                            panel.down(Ctl::xlog));

    display::SpectrumTraceInputs a;
    a.rule = panel.down(Ctl::avg)    ? display::ColumnRule::Mean
             : panel.down(Ctl::maxx) ? display::ColumnRule::Highest
                                     : display::ColumnRule::EveryBin;
    a.paintWidth = panel.state(Ctl::PaintBox1).width;
    a.binWidth = st.BinWidth;
    a.draw = draw;
    display::SpectrumTraceInputs b = a;

    // Trace A, recording its columns for the markers.
    a.values = st.DisplayA.data();
    if (impedanceLinear) {
        a.baseRow = st.UpperBottom;
        a.rowFactor = st.RowUnit * analysis::kLinearImpedanceRow;  // |Z| on the linear grid
    } else {
        a.baseRow = st.ZeroRowB;
        a.rowFactor = st.RowUnit;
    }
    a.areaTop = st.UpperTop;
    a.areaBottom = st.UpperBottom;
    a.pen = display::Pen{colors_[deviceView ? display::Slot::XfrGain : display::Slot::FTrace], penWidth_,
                         display::PenStyle::Solid};
    if (panel.down(Ctl::color)) a.centsOf = &analysis::CentsOffset;
    a.columns = traceColumns_.data();
    traceColumnCount_ = display::DrawSpectrumTrace(c, a, spectrumColumns_, spectrumPoints_);
    markers_.captureMarkers();  // the markers snap to the columns just drawn

    // The peaks among the bins that trace A's walk covered.
    peakList_.Reset();
    fundamentalBin_ = 100;
    peakList_.Scan(st.PeakSearchA.data(), 1, spectrumColumns_.end(), panel.value(Ctl::tb3));

    // Trace B in its own area (the lower half when the screen is split).
    if (channelMode(panel) != ChannelMode::A && activeView(panel) != View::Impedance) {
        b.values = st.DisplayB.data();
        b.baseRow = static_cast<double>(st.ZeroRowA) + st.LowerTop;
        b.rowFactor = st.RowUnit;
        b.areaTop = st.LowerTop;
        b.areaBottom = st.LowerBottom;
        b.pen = display::Pen{colors_[display::Slot::XfrIn], penWidth_, display::PenStyle::Solid};
        display::DrawSpectrumTrace(c, b, spectrumColumns_, spectrumPoints_);
    }

    // The fundamental: the strongest peak, or with "Solo" the lowest strong one.
    fundamentalBin_ = peakList_.ChooseFundamental(panel.down(Ctl::monof));
    const analysis::TunerReading r = analysis::ReadTuner(fundamentalBin_ * st.BinWidth);
    display::NumText hz;
    hz.appendInt(r.roundedHz);
    panel.setCaption(Ctl::Label62, std::string(hz.view()));
}

void Instrument::tuner() {
    if (st.UpperBottom == 0) return;
    const analysis::TunerReading r = analysis::ReadTuner(fundamentalBin_ * st.BinWidth);
    st.MeasuredFrequency = r.measuredHz;
    panel.setCaption(Ctl::Label61, analysis::NoteName(r.note));
    display::NumText cents("(");
    cents.appendInt(r.shownCents).append("%)");
    panel.setCaption(Ctl::Label63, std::string(cents.view()));
    const display::Color background = colors_[display::Slot::Background];
    if (display::Canvas* box = panel.canvas(Ctl::PaintBox2)) {
        const ControlState& s = panel.state(Ctl::PaintBox2);
        display::DrawTunerTrace(*box, s.width, s.height, tunerTrace_, r.note, r.cents, r.outOfTune,
                                background);
        panel.bump(Ctl::PaintBox2);
    }
    if (display::Canvas* box = panel.canvas(Ctl::PaintBox3)) {
        const ControlState& s = panel.state(Ctl::PaintBox3);
        display::DrawTunerNeedle(*box, s.width, s.height, r.cents, r.outOfTune, background);
        panel.bump(Ctl::PaintBox3);
    }
}

void Instrument::peakLabels() {
    peakList_.SortByBin();
    if (st.UpperBottom == 0) return;
    const bool notes = panel.down(Ctl::vedinota);
    const bool freqs = panel.down(Ctl::vedifreq);
    if (!notes && !freqs) return;
    int count = 0;
    for (int k = 0; k < analysis::PeakList::kKept; ++k) {
        const int bin = peakList_.slot[static_cast<std::size_t>(k)].bin;
        if (bin == 0) continue;
        const double f = bin * st.BinWidth;
        peakLabels_[static_cast<std::size_t>(count++)] =
            display::PeakLabel{f, analysis::NoteName(analysis::NoteIndex(f)),
                               st.ZeroRowB - st.RowUnit * st.DisplayA[static_cast<std::size_t>(bin)]};
    }
    display::PeakLabelInputs in;
    in.notes = notes;
    in.freqs = freqs;
    in.plotSpan = st.PlotSpan;
    in.fMin = st.FMin;
    in.fMax = st.FMax;
    in.xlog = panel.down(Ctl::xlog);
    in.plotHeight = st.PlotHeight;
    in.color = colors_[display::Slot::Labels];
    display::DrawPeakLabels(*screenBuffer_, peakLabels_.data(), count, in);
}

}  // namespace miral::core
