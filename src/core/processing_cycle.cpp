// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/processing_cycle.h"

#include <algorithm>
#include <cmath>
#include <optional>

#include "analysis/band.h"
#include "analysis/scope.h"
#include "core/instrument.h"
#include "display/scope_traces.h"
#include "display/screen.h"

namespace miral::core {

void ProcessingCycle::run() {
    // Per-run preference.
    phaseSmooth_ = in_.prefs.readInt("Phase_Smoth");
    // Power-on restore. The restore may open the playback stream (a
    // generator that was on), so the stream formats are read first.
    if (st_.RestoreOnFirstTick) {
        readStreamFormats();
        in_.gostart();
        st_.RestoreOnFirstTick = false;
    }
    // RLC controls follow the impedance view.
    const bool impedanceView = activeView(panel_) == View::Impedance;
    if (impedanceView && panel_.enabled(Ctl::zeta)) {
        panel_.setEnabled(Ctl::rlcmode, true);
        bool rlc = panel_.down(Ctl::rlcmode);
        for (Ctl c : {Ctl::rr, Ctl::ll, Ctl::cc}) panel_.setEnabled(c, rlc);
    } else {
        for (Ctl c : {Ctl::rlcmode, Ctl::rr, Ctl::ll, Ctl::cc}) {
            panel_.setEnabled(c, false);
            panel_.setDown(c, false);
        }
    }
    rlc().setActive(impedanceView && panel_.down(Ctl::rlcmode) && panel_.checked(Ctl::CheckBox8));
    // This run's colours; the housekeeping tick runs from the first cycle on.
    for (int slot = 1; slot <= display::kSlotCount; ++slot) colors_.color[slot] = schemes().slotColor(slot);
    panel_.setEnabled(Ctl::Timer7, true);
    // No trace averaging in the plain frequency view.
    if (activeView(panel_) == View::Spectrum) panel_.setDown(Ctl::avg, false);
    // Geometry.
    updateGeometry();
    // Generator readouts.
    updateGeneratorReadouts();
    // Acquisition. A lost capture stream leaves nothing to acquire: the
    // window and the level bars read silence until it is back.
    const bool inputLost = in_.streams().CaptureLost();
    if (inputLost) {
        noInput();
    } else if (!panel_.down(Ctl::hold)) {
        acquire();
    }
    // Nothing to draw on yet.
    if (!in_.screenBuffer()) return;
    const bool timeView = activeView(panel_) == View::Time;
    // Rate or FFT size readout.
    panel_.setCaption(Ctl::Label168, std::to_string(timeView ? st_.TimeBaseRate : st_.FftSize));
    // Begin frame.
    display::Canvas& c = *in_.screenBuffer();
    display::BeginFrame(c, screenIn_, geo_, colors_);
    // The band.
    updateBand();
    screenIn_.fMin = st_.FMin;
    screenIn_.fMax = st_.FMax;
    screenIn_.minFreqText = panel_.caption(Ctl::Label64);
    screenIn_.maxFreqText = panel_.caption(Ctl::Label65);
    // Pretrigger.
    st_.PretriggerSamples = analysis::PretriggerSamples(panel_.value(Ctl::pretrigger), st_.HorizontalScale);
    screenIn_.pretriggerSamples = st_.PretriggerSamples;
    // Without input the screen shows no stale picture: the grids of the
    // view and a banner that says why, until the stream is back.
    if (inputLost) {
        st_.TriggerFound = false;
        if (auto centre = display::DrawGrids(c, screenIn_, geo_, colors_)) st_.FCenter = *centre;
        display::DrawBanner(c, geo_, noInputBanner());
        display::DrawScaleLabels(c, screenIn_, geo_, colors_);
        present();
        return;
    }
    // Trigger search (every view).
    analysis::TriggerInput ti;
    const bool sourceA = panel_.down(Ctl::sourcea);
    ti.window = sourceA ? st_.TimeWorkA.data() : st_.TimeWorkB.data();
    ti.scale = sourceA ? st_.ScaleA : st_.ScaleB;
    ti.timeWindow = std::min(st_.TimeWindow, kMaxWindow - 1);
    ti.levelKnob = panel_.value(Ctl::triglevel);
    ti.plotHeight = st_.PlotHeight;
    ti.lowPass = panel_.down(Ctl::lowf);
    ti.wideHysteresis = panel_.down(Ctl::Iste1);
    ti.negativeSlope = panel_.down(Ctl::Slope);
    ti.roll = panel_.down(Ctl::roll);
    ti.freshCapture = st_.FreshCapture;
    ti.pretriggerSamples = st_.PretriggerSamples;
    analysis::TriggerResult tr = analysis::SearchTrigger(ti);
    st_.TriggerIndex = tr.index;
    st_.TriggerFound = tr.found;
    // Draw decision of the time view: the screen keeps its last picture.
    if (timeView) {
        spectrum().tunerIdle();
        bool draw = true;
        if (!tr.found && !panel_.down(Ctl::trigauto)) draw = false;
        if (panel_.down(Ctl::trigsingle) && !st_.SingleShotArmed) draw = false;
        st_.SingleShotArmed = false;
        if (!draw) return;
    }
    // Grids and frames.
    if (auto centre = display::DrawGrids(c, screenIn_, geo_, colors_)) st_.FCenter = *centre;
    // Channel A's scope trace (or the pan view over the spectrum).
    const ChannelMode mode = channelMode(panel_);
    if (mode != ChannelMode::B) {
        if (timeView) {
            scopeChannel(false);
        } else if (panel_.down(Ctl::panview)) {
            st_.TriggerIndex = 0;
            display::DrawPanView(c, st_.TimeWorkA.data(), st_.FftSize, st_.PlotSpan, st_.PlotWidth,
                                 st_.ZeroRowA, st_.RowUnit, st_.ScaleA, panel_.down(Ctl::gnd1), colors_,
                                 tracePoints_);
        }
    }
    // The frequency views.
    if (!timeView) spectrum().frequencyStages();
    if (timeView) distortion().distortionIdle();
    // Channel B's scope trace.
    if (timeView && mode != ChannelMode::A && st_.UpperBottom != 0) scopeChannel(true);
    // Scale label line.
    display::DrawScaleLabels(c, screenIn_, geo_, colors_);
    // Present.
    present();
}

void ProcessingCycle::scopeChannel(bool channelB) {
    double* trace = channelB ? st_.SpectrumWorkReB.data() : st_.SpectrumWorkReA.data();
    const double* window = channelB ? st_.TimeWorkB.data() : st_.TimeWorkA.data();
    if (!panel_.down(Ctl::hold)) {
        bool average = panel_.down(Ctl::avg) && st_.TriggerFound && st_.SettleCount == 0;
        analysis::CopyTrace(trace, window, st_.TriggerIndex, st_.TimeWindow, average, kMaxWindow);
    }
    if (st_.SettleCount > 0) --st_.SettleCount;
    display::ScopeTraceInputs in;
    in.trace = trace;
    in.triggerIndex = st_.TriggerIndex;
    in.horizontalScale = st_.HorizontalScale;
    in.plotSpan = st_.PlotSpan;
    in.plotWidth = st_.PlotWidth;
    in.zeroRow = channelB ? st_.ZeroRowB : st_.ZeroRowA;
    in.rowUnit = st_.RowUnit;
    in.scale = channelB ? st_.ScaleB : st_.ScaleA;
    in.ground = panel_.down(channelB ? Ctl::gnd2 : Ctl::gnd1);
    in.channelB = channelB;
    if (!channelB) display::DrawZeroMarker(*in_.screenBuffer(), in.zeroRow, colors_);
    display::DrawScopeTrace(*in_.screenBuffer(), in, colors_, tracePoints_);
}

void ProcessingCycle::updateBand() {
    analysis::BandKnobs k;
    k.widthPosition = panel_.value(Ctl::fftselect);
    k.minKnob = bandKnobHertz(panel_, Ctl::tb1);
    k.maxKnob = bandKnobHertz(panel_, Ctl::tb2);
    k.centerKnob = bandKnobHertz(panel_, Ctl::tb4);
    k.centerHeld = st_.CenterHeld;
    k.adcRate = st_.AdcRate;
    analysis::Band band{st_.FMin, st_.FMax, st_.FCenter};
    analysis::UpdateBand(band, k);
    st_.FMin = band.fmin;
    st_.FMax = band.fmax;
    st_.FCenter = band.fcenter;
    in_.tuneall();
    panel_.setCaption(Ctl::Label64, std::to_string(static_cast<long long>(st_.FMin)));
    panel_.setCaption(Ctl::Label65, std::to_string(static_cast<long long>(st_.FMax)));
    panel_.setCaption(Ctl::Label67, std::to_string(panel_.value(Ctl::tb3)));
    panel_.setCaption(Ctl::Label96, std::to_string(static_cast<long long>(st_.FCenter)));
}

void ProcessingCycle::updateGeometry() {
    display::ScreenInputs& in = screenIn_;
    const ControlState& pb = panel_.state(Ctl::PaintBox1);
    in.paintWidth = pb.width;
    in.paintHeight = pb.height;
    in.view = activeView(panel_);
    in.mode = channelMode(panel_);
    in.xlog = panel_.down(Ctl::xlog);
    in.ylog = panel_.down(Ctl::ylog);
    in.freqGrid = panel_.down(Ctl::freq);
    in.noteGrid = panel_.down(Ctl::croma);
    in.splitFft = panel_.checked(Ctl::split1);
    in.splitXfr = panel_.checked(Ctl::split2);
    in.dbGrid = panel_.checked(Ctl::CheckBox10);
    in.x10A = panel_.down(Ctl::dc1);
    in.x10B = panel_.down(Ctl::dc2);
    in.magScale = st_.MagScale;
    in.pos1 = panel_.value(Ctl::pos1);
    in.pos2 = panel_.value(Ctl::pos2);
    in.range1 = panel_.value(Ctl::range1);
    in.range2 = panel_.value(Ctl::range2);
    in.mainselect = panel_.value(Ctl::mainselect);
    in.rlcReadout = rlc().active();
    in.calibrating = calibration().step() != 0;
    in.calibrationStep = calibration().step();
    in.horizontalScale = st_.HorizontalScale;
    in.transferPhaseOffset = transferImpedance().phaseOffset();
    geo_ = display::ComputeScreenGeometry(in);
    st_.RightMargin = geo_.rightMargin;
    st_.BottomMargin = geo_.bottomMargin;
    st_.PlotWidth = geo_.plotWidth;
    st_.PlotHeight = geo_.plotHeight;
    st_.PlotSpan = geo_.plotSpan;
    st_.UpperTop = geo_.upperTop;
    st_.UpperBottom = geo_.upperBottom;
    st_.LowerTop = geo_.lowerTop;
    st_.LowerBottom = geo_.lowerBottom;
    st_.ZeroRowA = geo_.zeroRowA;
    st_.ZeroRowB = geo_.zeroRowB;
    st_.ScaleA = geo_.scaleA;
    st_.ScaleB = geo_.scaleB;
    st_.RowUnit = geo_.rowUnit;
    st_.ColumnUnit = geo_.columnUnit;
    penWidth_ = panel_.checked(Ctl::tic3) ? 3 : panel_.checked(Ctl::tic2) ? 2 : 1;
}

void ProcessingCycle::updateGeneratorReadouts() {
    bool on1 = panel_.down(Ctl::genon1);
    bool on2 = panel_.down(Ctl::genon2);
    // A generator whose playback stream is lost plays nothing: its readout
    // says so until the stream is back.
    const bool stopped = in_.streams().PlaybackLost();
    panel_.setCaption(Ctl::gendispl, !on1      ? "0"
                                     : stopped ? kGeneratorStopped
                                               : shortestText(st_.MainFrequency));
    panel_.setCaption(Ctl::gendispl2, !(on1 && on2) ? "0"
                                      : stopped     ? kGeneratorStopped
                                                    : shortestText(st_.AuxFrequency));
}

void ProcessingCycle::noInput() {
    if (!panel_.down(Ctl::hold)) {
        const int n = std::clamp(windowLength(panel_, st_), 0, kMaxWindow);
        std::fill_n(st_.TimeWorkA.begin(), n, 0.0);
        std::fill_n(st_.TimeWorkB.begin(), n, 0.0);
    }
    windowPeak_ = 0;
    st_.PeakA = st_.PeakB = 0;
    panel_.setPosition(Ctl::bar1, 0);
    panel_.setPosition(Ctl::bar2, 0);
    // The averages start again from the first window after the return.
    st_.DisplayPrimed = false;
}

const std::string& ProcessingCycle::noInputBanner() {
    const std::string& reason = in_.streams().LossReason(audio::StreamDirection::Capture);
    if (reason != bannerReason_ || banner_.empty()) {
        bannerReason_ = reason;
        banner_ = "No input: " + (reason.empty() ? std::string("the capture stream is lost") : reason) +
                  " - retrying";
    }
    return banner_;
}

void ProcessingCycle::acquire() {
    const int n = std::clamp(windowLength(panel_, st_), 0, kMaxWindow);
    double* a = st_.TimeWorkA.data();
    double* b = st_.TimeWorkB.data();
    // The gain correction and the inversions are applied as the window is
    // taken; the peaks are those of the input as it came.
    double gainA = 1.0, gainB = 1.0;
    if (panel_.checked(Ctl::CheckBox4)) {
        double dA = in_.editNumber(Ctl::Edit5);
        double dC = in_.editNumber(Ctl::Edit16);
        gainB = std::pow(10.0, -dC / 20.0) * inputLevelCorrection();
        gainA = std::pow(10.0, -dA / 20.0) * gainB;
    }
    if (panel_.down(Ctl::Inv1)) gainA = -gainA;
    if (panel_.down(Ctl::Inv2)) gainB = -gainB;
    audio::AcquiredWindow w = windowReader_->Read(in_.ring(), n, gainA, gainB, a, b);
    windowPeak_ = std::max(w.peakA, w.peakB);   // the RLC readout's overload colour
    calibration().notePeaks(w.peakA, w.peakB);  // a calibration refuses a clipped input
    st_.PeakA = 0.9 * st_.PeakA + 0.1 * w.peakA;
    st_.PeakB = 0.9 * st_.PeakB + 0.1 * w.peakB;
    panel_.setPosition(Ctl::bar1, static_cast<int>(st_.PeakA * 0.03125));
    panel_.setPosition(Ctl::bar2, static_cast<int>(st_.PeakB * 0.03125));
    if (st_.TimeWindow / 2 < w.writeIndex) st_.FreshCapture = false;
    acquiredWriteIndex_ = w.writeIndex;
}

double ProcessingCycle::inputLevelCorrection() {
    const ControlState& bar = panel_.state(Ctl::input_bar);
    const int line = panel_.itemIndex(Ctl::input_box);
    if (line == inputLevelGain_.line && bar.position == inputLevelGain_.position)
        return inputLevelGain_.factor;
    // The level as a linear share of full scale, unless the card says better.
    double factor = bar.max / (bar.position + 0.1);
    if (line >= 0) {
        const std::optional<double> at = in_.mixer().LevelDb(audio::Mixer::kRecording, line, bar.position);
        const std::optional<double> full =
            at ? in_.mixer().LevelDb(audio::Mixer::kRecording, line, bar.max) : std::nullopt;
        // A level that silences the line has nothing to undo: the linear rule stays.
        if (at && full && std::isfinite(*at) && std::isfinite(*full))
            factor = std::pow(10.0, (*full - *at) / 20.0);
    }
    inputLevelGain_ = {line, bar.position, factor};
    return factor;
}

void ProcessingCycle::present() {
    display::Canvas* target = panel_.canvas(Ctl::PaintBox1);
    if (!target || !in_.screenBuffer()) return;
    // A picture the screen already shows (a steady trace) is not handed on:
    // the window has nothing to paint again.
    if (in_.screenBuffer()->samePicture(*target, in_.screenBuffer()->clipRect())) return;
    // The new picture changes places with the one shown, where the canvases
    // allow it, instead of being copied: the buffer's next frame starts with
    // BeginFrame, which clears the whole active area, so what the buffer
    // holds meanwhile is never seen.
    if (!in_.screenBuffer()->swapPicture(*target)) display::PresentScreen(*in_.screenBuffer(), *target);
    panel_.bump(Ctl::PaintBox1);
}

void ProcessingCycle::frequencyReadouts() {
    // The RLC meter classifies the device and tunes its test frequency every
    // cycle of the impedance view.
    if (activeView(panel_) == View::Impedance) rlc().rlcSetup();
    if (panel_.down(Ctl::markerview)) {
        // Marker 1's block carries the distortion and, in the impedance view,
        // the RLC readouts at marker 1's bin.
        markers().markerReadouts();
    } else if (rlc().active()) {
        rlc().rlcReadout(rlc().testBin());
    }
}

}  // namespace miral::core
