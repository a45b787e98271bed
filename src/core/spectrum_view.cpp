// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/spectrum_view.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "analysis/band.h"
#include "analysis/impedance.h"
#include "analysis/tone_fit.h"
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

void SpectrumView::Label135Click() {
    st_.FftDivider = std::max(1, st_.FftDivider / 2);  // "+": finer bins
    applyFftDivider(in_);
}

void SpectrumView::Label139Click() {
    st_.FftDivider = std::clamp(st_.FftDivider * 2, 1, 32);  // "-": coarser bins, faster
    applyFftDivider(in_);
}

void SpectrumView::frequencyStages() {
    const int n = st_.FftSize;
    const int h = n / 2;
    double* reA = st_.SpectrumWorkReA.data();
    double* imA = st_.SpectrumWorkImA.data();
    double* reB = st_.SpectrumWorkReB.data();
    double* imB = st_.SpectrumWorkImB.data();

    // The views with a device under test put their results into channel A's arrays.
    const View view = activeView(panel_);
    const bool impedance = view == View::Impedance;
    const bool transfer = view == View::Transfer;

    // FFT of both channels: magnitude in the real arrays, phase in degrees in
    // the imaginary arrays, bins 0 .. n/2 (no stage reads the mirrored bins
    // above). Channel B's phase is read only by the views with a device
    // under test.
    const bool phaseOfB = transfer || impedance;
    spectrumEngine_.AnalyzeHalf(st_.TimeWorkA.data(), st_.TimeWorkB.data(), static_cast<std::size_t>(n),
                                selectedWindow(panel_), reA, imA, reB, imB, phaseOfB);
    for (double* a : {reA, imA, reB, imB}) analysis::SuppressDc(a);
    if (phaseOfB && panel_.checked(Ctl::CheckBox2))
        analysis::CorrectChannelDelay(imB, static_cast<std::size_t>(h) + 1, st_.BinWidth,
                                      in_.editNumber(Ctl::Edit14));

    if (impedance) {
        transferImpedance().impedanceBranch();
    } else if (transfer) {
        transferImpedance().transferBranch();
    }

    // Channel A before the display units, for the peak search; the bin past
    // the last is the last bin's right neighbour.
    std::copy(reA, reA + h, st_.PeakSearchA.data());
    st_.PeakSearchA[static_cast<std::size_t>(h)] = 0.0;
    // Without an impedance to show (an impossible shunt value) the level is
    // unknown: no jump is judged against it.
    const bool noReading = impedance && !transferImpedance().impedanceValid();
    levelJumped_ =
        !noReading && levelJump_.Update(reA, static_cast<std::size_t>(h)) && (transfer || impedance);
    if (levelJumped_ && panel_.down(Ctl::lowf)) st_.LfRestartCount = 7;

    // Display units. The second input panel's range sets trace A, the first's
    // trace B.
    const bool ylog = panel_.down(Ctl::ylog);
    const bool lowf = panel_.down(Ctl::lowf);
    // The plain spectrum's traces without the LF average take this cycle's
    // values as they are: the conversion writes them to the display too.
    const bool taken = !impedance && !transfer && (!st_.DisplayPrimed || !lowf);
    if (impedance) {
        transferImpedance().impedanceDisplayUnits();
    } else {
        using R = analysis::DisplayRow;
        const R row =
            transfer ? (ylog ? R::GainLog : R::GainLinear) : (ylog ? R::SpectrumLog : R::SpectrumLinear);
        analysis::ToDisplayUnits(row, reA, static_cast<std::size_t>(h), st_.ScaleB,
                                 taken ? st_.DisplayA.data() : nullptr);
        analysis::ToDisplayUnits(row, reB, static_cast<std::size_t>(h), st_.ScaleA,
                                 taken ? st_.DisplayB.data() : nullptr);
    }
    if (transfer && lowf && h > 52) analysis::RepairLowGainBins(reA);

    analysis::DisplayUpdate u;
    u.a = reA;
    u.b = reB;
    u.phaseA = imA;
    u.displayA = st_.DisplayA.data();
    u.displayB = st_.DisplayB.data();
    u.displayPhase = st_.DisplayPhase.data();
    u.bins = static_cast<std::size_t>(h);
    u.primed = st_.DisplayPrimed;
    u.lowf = lowf;
    u.hold = panel_.down(Ctl::hold);
    u.transfer = transfer;
    u.phaseUnwrap = cycle().phaseSmooth() != 0;
    u.keepA = noReading;  // the curves keep the last reading
    u.taken = taken;
    st_.DisplayPrimed = analysis::UpdateDisplay(u);

    drawSpectrumTraces(transfer || impedance, impedance && !ylog);
    tuner();
    // The RLC meter's tuning, the RLC and marker readouts and the distortion
    // readout come here, before the labels on the peaks.
    cycle().frequencyReadouts();
    peakLabels();
    distortion().distortionStage();
}

void SpectrumView::drawSpectrumTraces(bool deviceView, bool impedanceLinear) {
    display::Canvas& c = *in_.screenBuffer();
    const bool draw = st_.UpperBottom != 0;
    const int bins = st_.FftSize / 2;
    transferImpedance().phaseCurve();
    spectrumColumns_.Update(bins, st_.BinWidth, st_.PlotSpan, st_.PlotWidth, st_.FMin, st_.FMax,
                            panel_.down(Ctl::xlog));

    display::SpectrumTraceInputs a;
    a.rule = panel_.down(Ctl::avg)    ? display::ColumnRule::Mean
             : panel_.down(Ctl::maxx) ? display::ColumnRule::Highest
                                      : display::ColumnRule::EveryBin;
    a.paintWidth = panel_.state(Ctl::PaintBox1).width;
    a.binWidth = st_.BinWidth;
    a.draw = draw;
    display::SpectrumTraceInputs b = a;

    // Trace A, recording its columns for the markers.
    a.values = st_.DisplayA.data();
    if (impedanceLinear) {
        a.baseRow = st_.UpperBottom;
        a.rowFactor = st_.RowUnit * analysis::kLinearImpedanceRow;  // |Z| on the linear grid
    } else {
        a.baseRow = st_.ZeroRowB;
        a.rowFactor = st_.RowUnit;
    }
    a.areaTop = st_.UpperTop;
    a.areaBottom = st_.UpperBottom;
    a.pen = display::Pen{in_.colors()[deviceView ? display::Slot::XfrGain : display::Slot::FTrace],
                         cycle().penWidth(), display::PenStyle::Solid};
    if (panel_.down(Ctl::color)) a.centsOf = &analysis::CentsOffset;
    a.columns = traceColumns_.data();
    traceColumnCount_ = display::DrawSpectrumTrace(c, a, spectrumColumns_, spectrumPoints_);
    markers().captureMarkers();  // the markers snap to the columns just drawn

    // The peaks among the bins that trace A's walk covered.
    peakList_.Reset();
    fundamentalBin_ = 100;
    peakList_.Scan(st_.PeakSearchA.data(), 1, spectrumColumns_.end(), panel_.value(Ctl::tb3));

    // Trace B in its own area (the lower half when the screen is split).
    if (channelMode(panel_) != ChannelMode::A && activeView(panel_) != View::Impedance) {
        b.values = st_.DisplayB.data();
        b.baseRow = static_cast<double>(st_.ZeroRowA) + st_.LowerTop;
        b.rowFactor = st_.RowUnit;
        b.areaTop = st_.LowerTop;
        b.areaBottom = st_.LowerBottom;
        b.pen =
            display::Pen{in_.colors()[display::Slot::XfrIn], cycle().penWidth(), display::PenStyle::Solid};
        display::DrawSpectrumTrace(c, b, spectrumColumns_, spectrumPoints_);
    }

    // The fundamental: the strongest peak, or with "Solo" the lowest strong one.
    fundamentalBin_ = peakList_.ChooseFundamental(panel_.down(Ctl::monof));
    // Its frequency between bins: the display window's spectrum fitted to the
    // bins around the peak (in the plain spectrum, where channel A's
    // magnitudes are the signal's).
    fundamentalHz_ = fundamentalBin_ * st_.BinWidth;
    if (!deviceView && fundamentalBin_ > 0) {
        const int n = st_.FftSize;
        const double bin =
            analysis::ToneBin(st_.PeakSearchA.data(), static_cast<std::size_t>(n / 2 + 1),
                              static_cast<std::size_t>(fundamentalBin_), static_cast<std::size_t>(n),
                              analysis::CosineWindowOf(selectedWindow(panel_)));
        if (std::isfinite(bin)) fundamentalHz_ = bin * st_.BinWidth;
    }
    const analysis::TunerReading r = analysis::ReadTuner(fundamentalHz_);
    display::NumText hz;
    hz.appendInt(r.roundedHz);
    panel_.setCaption(Ctl::Label62, std::string(hz.view()));
}

void SpectrumView::tuner() {
    if (st_.UpperBottom == 0) return;
    tunerIdle_ = false;
    const analysis::TunerReading r = analysis::ReadTuner(fundamentalHz_);
    st_.MeasuredFrequency = r.measuredHz;
    panel_.setCaption(Ctl::Label61, analysis::NoteName(r.note));
    display::NumText cents("(");
    cents.appendInt(r.shownCents).append("%)");
    panel_.setCaption(Ctl::Label63, std::string(cents.view()));
    const display::Color background = in_.colors()[display::Slot::Background];
    if (display::Canvas* box = panel_.canvas(Ctl::PaintBox2)) {
        const ControlState& s = panel_.state(Ctl::PaintBox2);
        display::DrawTunerTrace(*box, s.width, s.height, tunerTrace_, r.note, r.cents, r.outOfTune,
                                background);
        panel_.bump(Ctl::PaintBox2);
    }
    if (display::Canvas* box = panel_.canvas(Ctl::PaintBox3)) {
        const ControlState& s = panel_.state(Ctl::PaintBox3);
        display::DrawTunerNeedle(*box, s.width, s.height, r.cents, r.outOfTune, background);
        panel_.bump(Ctl::PaintBox3);
    }
}

void SpectrumView::tunerIdle() {
    if (tunerIdle_) return;
    tunerIdle_ = true;
    fundamentalHz_ = 0;
    panel_.setCaption(Ctl::Label62, "---");
    panel_.setCaption(Ctl::Label61, "---");
    panel_.setCaption(Ctl::Label63, "");
    // The trace starts afresh at the next reading.
    tunerTrace_.shownNote = -1;
    const display::Color background = in_.colors()[display::Slot::Background];
    for (Ctl c : {Ctl::PaintBox2, Ctl::PaintBox3}) {
        if (display::Canvas* box = panel_.canvas(c)) {
            const ControlState& s = panel_.state(c);
            display::DrawTunerIdle(*box, s.width, s.height, c == Ctl::PaintBox3, background);
            panel_.bump(c);
        }
    }
}

void SpectrumView::peakLabels() {
    peakList_.SortByBin();
    if (st_.UpperBottom == 0) return;
    const bool notes = panel_.down(Ctl::vedinota);
    const bool freqs = panel_.down(Ctl::vedifreq);
    if (!notes && !freqs) return;
    int count = 0;
    for (int k = 0; k < analysis::PeakList::kKept; ++k) {
        const int bin = peakList_.slot[static_cast<std::size_t>(k)].bin;
        if (bin == 0) continue;
        const double f = bin * st_.BinWidth;
        peakLabels_[static_cast<std::size_t>(count++)] =
            display::PeakLabel{f, analysis::NoteName(analysis::NoteIndex(f)),
                               st_.ZeroRowB - st_.RowUnit * st_.DisplayA[static_cast<std::size_t>(bin)]};
    }
    display::PeakLabelInputs in;
    in.notes = notes;
    in.freqs = freqs;
    in.plotSpan = st_.PlotSpan;
    in.fMin = st_.FMin;
    in.fMax = st_.FMax;
    in.xlog = panel_.down(Ctl::xlog);
    in.plotHeight = st_.PlotHeight;
    in.color = in_.colors()[display::Slot::Labels];
    display::DrawPeakLabels(*in_.screenBuffer(), peakLabels_.data(), count, in);
}

// ---- The instrument's handlers ---------------------------------------------------------

void Instrument::Label135Click(const UiEvent&) {
    spectrum_.Label135Click();
}
void Instrument::Label139Click(const UiEvent&) {
    spectrum_.Label139Click();
}

}  // namespace miral::core
