// SPDX-License-Identifier: GPL-3.0-or-later
// The processing cycle (Timer1) and the housekeeping tick (Timer7).
#include <algorithm>
#include <cmath>
#include <exception>
#include <iostream>
#include <optional>

#include "analysis/band.h"
#include "analysis/scope.h"
#include "core/instrument.h"
#include "core/twins.h"
#include "display/scope_traces.h"
#include "display/screen.h"

namespace miral::core {

void Instrument::Timer1Timer(const UiEvent&) {
    try {
        // What the last cycle left due, if its tick came without the step
        // after it.
        afterCycleSteps();
        processingCycle();
    } catch (const std::exception& ex) {
        // A failed cycle ends the program; the panel is not saved.
        std::cerr << "miral: processing cycle failed: " << ex.what() << "\n";
        requestTerminate();
    } catch (...) {
        std::cerr << "miral: processing cycle failed\n";
        requestTerminate();
    }
}

void Instrument::afterCycle() {
    try {
        afterCycleSteps();
    } catch (const std::exception& ex) {
        std::cerr << "miral: processing cycle failed: " << ex.what() << "\n";
        requestTerminate();
    } catch (...) {
        std::cerr << "miral: processing cycle failed\n";
        requestTerminate();
    }
}

void Instrument::afterCycleSteps() {
    rlc_.rlcTune();
    cardFloor_.floorAfterCycle();
}

void Instrument::Timer7Timer(const UiEvent&) {
    housekeepingTick();
}

void Instrument::processingCycle() {
    ++cycles_;
    // 1. Per-run preference.
    phaseSmooth_ = prefs.readInt("Phase_Smoth", 0);
    // 2. Power-on restore. The restore may open the playback stream (a
    //    generator that was on), so the stream formats are read first.
    if (st.RestoreOnFirstTick) {
        readStreamFormats();
        gostart();
        st.RestoreOnFirstTick = false;
    }
    // 3. RLC controls follow the impedance view.
    const bool impedanceView = activeView(panel) == View::Impedance;
    if (impedanceView && panel.enabled(Ctl::zeta)) {
        panel.setEnabled(Ctl::rlcmode, true);
        bool rlc = panel.down(Ctl::rlcmode);
        for (Ctl c : {Ctl::rr, Ctl::ll, Ctl::cc}) panel.setEnabled(c, rlc);
    } else {
        for (Ctl c : {Ctl::rlcmode, Ctl::rr, Ctl::ll, Ctl::cc}) {
            panel.setEnabled(c, false);
            panel.setDown(c, false);
        }
    }
    rlc_.setActive(impedanceView && panel.down(Ctl::rlcmode) && panel.checked(Ctl::CheckBox8));
    // 4. This run's colours; the housekeeping tick runs from the first cycle on.
    for (int slot = 1; slot <= display::kSlotCount; ++slot) colors_.color[slot] = slotColor(slot);
    panel.setEnabled(Ctl::Timer7, true);
    // 5. No trace averaging in the plain frequency view.
    if (activeView(panel) == View::Spectrum) panel.setDown(Ctl::avg, false);
    // 6. Geometry.
    updateGeometry();
    // 7. Generator readouts.
    updateGeneratorReadouts();
    // 8. Acquisition. A lost capture stream leaves nothing to acquire: the
    //    window and the level bars read silence until it is back.
    const bool inputLost = streams_->CaptureLost();
    if (inputLost) {
        noInput();
    } else if (!panel.down(Ctl::hold)) {
        acquire();
    }
    // 9. Nothing to draw on yet.
    if (!screenBuffer_) return;
    const bool timeView = activeView(panel) == View::Time;
    // 10. Rate or FFT size readout.
    panel.setCaption(Ctl::Label168, std::to_string(timeView ? st.TimeBaseRate : st.FftSize));
    // 13. Begin frame.
    display::Canvas& c = *screenBuffer_;
    display::BeginFrame(c, screenIn_, geo_, colors_);
    // 14. The band.
    updateBand();
    screenIn_.fMin = st.FMin;
    screenIn_.fMax = st.FMax;
    screenIn_.minFreqText = panel.caption(Ctl::Label64);
    screenIn_.maxFreqText = panel.caption(Ctl::Label65);
    // 15. Pretrigger.
    st.PretriggerSamples = analysis::PretriggerSamples(panel.value(Ctl::pretrigger), st.HorizontalScale);
    screenIn_.pretriggerSamples = st.PretriggerSamples;
    // Without input the screen shows no stale picture: the grids of the
    // view and a banner that says why, until the stream is back.
    if (inputLost) {
        st.TriggerFound = false;
        if (auto centre = display::DrawGrids(c, screenIn_, geo_, colors_)) st.FCenter = *centre;
        display::DrawBanner(c, geo_, noInputBanner());
        display::DrawScaleLabels(c, screenIn_, geo_, colors_);
        present();
        return;
    }
    // 16. Trigger search (every view).
    analysis::TriggerInput ti;
    const bool sourceA = panel.down(Ctl::sourcea);
    ti.window = sourceA ? st.TimeWorkA.data() : st.TimeWorkB.data();
    ti.scale = sourceA ? st.ScaleA : st.ScaleB;
    ti.timeWindow = std::min(st.TimeWindow, kMaxWindow - 1);
    ti.levelKnob = panel.value(Ctl::triglevel);
    ti.plotHeight = st.PlotHeight;
    ti.lowPass = panel.down(Ctl::lowf);
    ti.wideHysteresis = panel.down(Ctl::Iste1);
    ti.negativeSlope = panel.down(Ctl::Slope);
    ti.roll = panel.down(Ctl::roll);
    ti.freshCapture = st.FreshCapture;
    ti.pretriggerSamples = st.PretriggerSamples;
    analysis::TriggerResult tr = analysis::SearchTrigger(ti);
    st.TriggerIndex = tr.index;
    st.TriggerFound = tr.found;
    // 17. Draw decision of the time view: the screen keeps its last picture.
    if (timeView) {
        bool draw = true;
        if (!tr.found && !panel.down(Ctl::trigauto)) draw = false;
        if (panel.down(Ctl::trigsingle) && !st.SingleShotArmed) draw = false;
        st.SingleShotArmed = false;
        if (!draw) return;
    }
    // 18. Grids and frames.
    if (auto centre = display::DrawGrids(c, screenIn_, geo_, colors_)) st.FCenter = *centre;
    // 19. Channel A's scope trace (or the pan view over the spectrum).
    const ChannelMode mode = channelMode(panel);
    if (mode != ChannelMode::B) {
        if (timeView) {
            scopeChannel(false);
        } else if (panel.down(Ctl::panview)) {
            st.TriggerIndex = 0;
            display::DrawPanView(c, st.TimeWorkA.data(), st.FftSize, st.PlotSpan, st.PlotWidth, st.ZeroRowA,
                                 st.RowUnit, st.ScaleA, panel.down(Ctl::gnd1), colors_, tracePoints_);
        }
    }
    // 20. The frequency views.
    if (!timeView) spectrum_.frequencyStages();
    if (timeView) distortion_.distortionIdle();
    // 21. Channel B's scope trace.
    if (timeView && mode != ChannelMode::A && st.UpperBottom != 0) scopeChannel(true);
    // 22. Scale label line.
    display::DrawScaleLabels(c, screenIn_, geo_, colors_);
    // 23. Present.
    present();
}

void Instrument::scopeChannel(bool channelB) {
    double* trace = channelB ? st.SpectrumWorkReB.data() : st.SpectrumWorkReA.data();
    const double* window = channelB ? st.TimeWorkB.data() : st.TimeWorkA.data();
    if (!panel.down(Ctl::hold)) {
        bool average = panel.down(Ctl::avg) && st.TriggerFound && st.SettleCount == 0;
        analysis::CopyTrace(trace, window, st.TriggerIndex, st.TimeWindow, average, kMaxWindow);
    }
    if (st.SettleCount > 0) --st.SettleCount;
    display::ScopeTraceInputs in;
    in.trace = trace;
    in.triggerIndex = st.TriggerIndex;
    in.horizontalScale = st.HorizontalScale;
    in.plotSpan = st.PlotSpan;
    in.plotWidth = st.PlotWidth;
    in.zeroRow = channelB ? st.ZeroRowB : st.ZeroRowA;
    in.rowUnit = st.RowUnit;
    in.scale = channelB ? st.ScaleB : st.ScaleA;
    in.ground = panel.down(channelB ? Ctl::gnd2 : Ctl::gnd1);
    in.channelB = channelB;
    if (!channelB) display::DrawZeroMarker(*screenBuffer_, in.zeroRow, colors_);
    display::DrawScopeTrace(*screenBuffer_, in, colors_, tracePoints_);
}

void Instrument::updateBand() {
    analysis::BandKnobs k;
    k.widthPosition = panel.value(Ctl::fftselect);
    k.minKnob = bandKnobHertz(panel, Ctl::tb1);
    k.maxKnob = bandKnobHertz(panel, Ctl::tb2);
    k.centerKnob = bandKnobHertz(panel, Ctl::tb4);
    k.centerHeld = st.CenterHeld;
    k.adcRate = st.AdcRate;
    analysis::Band band{st.FMin, st.FMax, st.FCenter};
    analysis::UpdateBand(band, k);
    st.FMin = band.fmin;
    st.FMax = band.fmax;
    st.FCenter = band.fcenter;
    tuneall();
    panel.setCaption(Ctl::Label64, std::to_string(static_cast<long long>(st.FMin)));
    panel.setCaption(Ctl::Label65, std::to_string(static_cast<long long>(st.FMax)));
    panel.setCaption(Ctl::Label67, std::to_string(panel.value(Ctl::tb3)));
    panel.setCaption(Ctl::Label96, std::to_string(static_cast<long long>(st.FCenter)));
}

void Instrument::updateGeometry() {
    display::ScreenInputs& in = screenIn_;
    const ControlState& pb = panel.state(Ctl::PaintBox1);
    in.paintWidth = pb.width;
    in.paintHeight = pb.height;
    in.view = activeView(panel);
    in.mode = channelMode(panel);
    in.xlog = panel.down(Ctl::xlog);
    in.ylog = panel.down(Ctl::ylog);
    in.freqGrid = panel.down(Ctl::freq);
    in.noteGrid = panel.down(Ctl::croma);
    in.splitFft = panel.checked(Ctl::split1);
    in.splitXfr = panel.checked(Ctl::split2);
    in.dbGrid = panel.checked(Ctl::CheckBox10);
    in.x10A = panel.down(Ctl::dc1);
    in.x10B = panel.down(Ctl::dc2);
    in.magScale = st.MagScale;
    in.pos1 = panel.value(Ctl::pos1);
    in.pos2 = panel.value(Ctl::pos2);
    in.range1 = panel.value(Ctl::range1);
    in.range2 = panel.value(Ctl::range2);
    in.mainselect = panel.value(Ctl::mainselect);
    in.rlcReadout = rlc_.active();
    in.calibrating = calibration_.step() != 0;
    in.calibrationStep = calibration_.step();
    in.horizontalScale = st.HorizontalScale;
    in.transferPhaseOffset = transfer_.phaseOffset();
    geo_ = display::ComputeScreenGeometry(in);
    st.RightMargin = geo_.rightMargin;
    st.BottomMargin = geo_.bottomMargin;
    st.PlotWidth = geo_.plotWidth;
    st.PlotHeight = geo_.plotHeight;
    st.PlotSpan = geo_.plotSpan;
    st.UpperTop = geo_.upperTop;
    st.UpperBottom = geo_.upperBottom;
    st.LowerTop = geo_.lowerTop;
    st.LowerBottom = geo_.lowerBottom;
    st.ZeroRowA = geo_.zeroRowA;
    st.ZeroRowB = geo_.zeroRowB;
    st.ScaleA = geo_.scaleA;
    st.ScaleB = geo_.scaleB;
    st.RowUnit = geo_.rowUnit;
    st.ColumnUnit = geo_.columnUnit;
    penWidth_ = panel.checked(Ctl::tic3) ? 3 : panel.checked(Ctl::tic2) ? 2 : 1;
}

void Instrument::updateGeneratorReadouts() {
    bool on1 = panel.down(Ctl::genon1);
    bool on2 = panel.down(Ctl::genon2);
    // A generator whose playback stream is lost plays nothing: its readout
    // says so until the stream is back.
    const bool stopped = streams_->PlaybackLost();
    panel.setCaption(Ctl::gendispl, !on1      ? "0"
                                    : stopped ? kGeneratorStopped
                                              : shortestText(st.MainFrequency));
    panel.setCaption(Ctl::gendispl2, !(on1 && on2) ? "0"
                                     : stopped     ? kGeneratorStopped
                                                   : shortestText(st.AuxFrequency));
}

void Instrument::noInput() {
    if (!panel.down(Ctl::hold)) {
        const int n = std::clamp(windowLength(panel, st), 0, kMaxWindow);
        std::fill_n(st.TimeWorkA.begin(), n, 0.0);
        std::fill_n(st.TimeWorkB.begin(), n, 0.0);
    }
    windowPeak_ = 0;
    st.PeakA = st.PeakB = 0;
    panel.setPosition(Ctl::bar1, 0);
    panel.setPosition(Ctl::bar2, 0);
    // The averages start again from the first window after the return.
    st.DisplayPrimed = false;
}

const std::string& Instrument::noInputBanner() {
    const std::string& reason = streams_->LossReason(audio::StreamDirection::Capture);
    if (reason != bannerReason_ || banner_.empty()) {
        bannerReason_ = reason;
        banner_ = "No input: " + (reason.empty() ? std::string("the capture stream is lost") : reason) +
                  " - retrying";
    }
    return banner_;
}

void Instrument::acquire() {
    const int n = std::clamp(windowLength(panel, st), 0, kMaxWindow);
    double* a = st.TimeWorkA.data();
    double* b = st.TimeWorkB.data();
    audio::AcquiredWindow w = audio::AcquireWindow(*ring_, n, a, b);
    windowPeak_ = std::max(w.peakA, w.peakB);  // the RLC readout's overload colour
    calibration_.notePeaks(w.peakA, w.peakB);  // a calibration refuses a clipped input
    st.PeakA = 0.9 * st.PeakA + 0.1 * w.peakA;
    st.PeakB = 0.9 * st.PeakB + 0.1 * w.peakB;
    panel.setPosition(Ctl::bar1, static_cast<int>(st.PeakA * 0.03125));
    panel.setPosition(Ctl::bar2, static_cast<int>(st.PeakB * 0.03125));
    if (st.TimeWindow / 2 < w.writeIndex) st.FreshCapture = false;
    acquiredWriteIndex_ = w.writeIndex;
    if (panel.checked(Ctl::CheckBox4)) {
        double dA = editNumber(Ctl::Edit5);
        double dC = editNumber(Ctl::Edit16);
        double g = std::pow(10.0, -dC / 20.0) * inputLevelCorrection();
        double gA = std::pow(10.0, -dA / 20.0) * g;
        for (int i = 0; i < n; ++i) {
            a[i] *= gA;
            b[i] *= g;
        }
    }
    if (panel.down(Ctl::Inv1))
        for (int i = 0; i < n; ++i) a[i] = -a[i];
    if (panel.down(Ctl::Inv2))
        for (int i = 0; i < n; ++i) b[i] = -b[i];
}

double Instrument::inputLevelCorrection() {
    const ControlState& bar = panel.state(Ctl::input_bar);
    const int line = panel.itemIndex(Ctl::input_box);
    if (line == inputLevelGain_.line && bar.position == inputLevelGain_.position)
        return inputLevelGain_.factor;
    // The level as a linear share of full scale, unless the card says better.
    double factor = bar.max / (bar.position + 0.1);
    if (line >= 0) {
        const std::optional<double> at = mixer_->LevelDb(audio::Mixer::kRecording, line, bar.position);
        const std::optional<double> full =
            at ? mixer_->LevelDb(audio::Mixer::kRecording, line, bar.max) : std::nullopt;
        // A level that silences the line has nothing to undo: the linear rule stays.
        if (at && full && std::isfinite(*at) && std::isfinite(*full))
            factor = std::pow(10.0, (*full - *at) / 20.0);
    }
    inputLevelGain_ = {line, bar.position, factor};
    return factor;
}

void Instrument::present() {
    display::Canvas* target = panel.canvas(Ctl::PaintBox1);
    if (!target || !screenBuffer_) return;
    // The new picture changes places with the one shown, where the canvases
    // allow it, instead of being copied: the buffer's next frame starts with
    // BeginFrame, which clears the whole active area, so what the buffer
    // holds meanwhile is never seen.
    if (!screenBuffer_->swapPicture(*target)) display::PresentScreen(*screenBuffer_, *target);
    panel.bump(Ctl::PaintBox1);
}

audio::StreamSettings Instrument::streamSettings(bool capture) const {
    const std::string dir = capture ? "rx" : "tx";
    audio::StreamSettings s;
    s.bufferFrames = prefs.readInt(dir + "_buffersize", 512);
    s.bufferCount = prefs.readInt("num_" + dir + "_buffers", capture ? 64 : 32);
    s.priority = prefs.readInt(dir + "_priority", 15);
    s.bits = capture ? st.AdcBits : st.DacBits;
    s.maxRate24 = capture ? st.Adc24Limit : st.Dac24Limit;
    s.deviceName = prefs.readText(dir + "_device_name", "");
    return s;
}

void Instrument::readStreamFormats() {
    if (st.StreamFormatsRead) return;
    st.StreamFormatsRead = true;
    st.AdcBits = prefs.readInt("ADC_Bits", 16);
    st.DacBits = prefs.readInt("DAC_Bits", 16);
    st.Adc24Limit = prefs.readInt("ADC_MaxFreq_24Bits", 88200);
    st.Dac24Limit = prefs.readInt("DAC_MaxFreq_24Bits", 88200);
}

void Instrument::housekeepingTick() {
    // The stored floor of the card, rate and format now in use.
    cardFloor_.refreshFloor();
    // 1. First run: the stream formats (unless the power-on restore read
    //    them already) and the scale constants.
    if (!st.HousekeepingStarted) {
        st.HousekeepingStarted = true;
        readStreamFormats();
        st.MagScale = prefs.readInt("Mag_Scale", 10);
        st.Ratio1 = prefs.readInt("Ratio_1", 20);
        st.Ratio2 = prefs.readInt("Ratio_2", 200);
        std::string x = "x" + std::to_string(st.MagScale);
        panel.setCaption(Ctl::Label205, x);
        panel.setCaption(Ctl::Label206, x);
    }
    // 2. Reopen the capture stream after a rate or time-base change.
    if (st.InputRestartPending) {
        st.InputRestartPending = false;
        int device = prefs.readInt("num_rx_device", panel.itemIndex(Ctl::card_box) + 1) + 1;
        // A bundle's capture comes again with every start (the ring was
        // cleared for the new rate or window), so its stream starts anew.
        if (bundles_.bundle()) streams_->StopCapture();
        streams_->StartCapture(st.CaptureRate, device, streamSettings(true));
        distortion_.distortionRestart();
    }
    // 3. LF restart: "LF" up for six ticks, down again on the seventh.
    if (st.LfRestartCount > 1) panel.setDown(Ctl::lowf, false);
    if (st.LfRestartCount == 1) panel.setDown(Ctl::lowf, true);
    if (st.LfRestartCount > 0) --st.LfRestartCount;
    // 4. The enlarged screen's compact controls drive the main ones.
    if (st.EnlargedScreen) {
        drawKnob(Ctl::pos1, panel.value(Ctl::pos1_bis));
        drawKnob(Ctl::pos2, panel.value(Ctl::pos2_bis));
        drawKnob(Ctl::triglevel, panel.value(Ctl::triglevel_bis));
        for (const Twin& t : kTwinButtons) panel.setDown(t.main, panel.down(t.copy));
    }
    // Streams on a real card are watched: a lost one is reopened every
    // second with the same settings.
    streams_->Supervise();
    // The status line tells what is wrong with the streams, if anything, and
    // keeps a message of the panel store or the export for a while.
    st.StatusText = streams_->StatusText();
    st.StreamStatus = st.StatusText;
    keepStatusMessage();
}

}  // namespace miral::core
