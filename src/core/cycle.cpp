// SPDX-License-Identifier: GPL-3.0-or-later
// The entries of the processing cycle (Timer1; its stages are in
// processing_cycle.cpp) and the housekeeping tick (Timer7).
#include <exception>
#include <iostream>

#include "core/instrument.h"
#include "core/twins.h"

namespace miral::core {

namespace {

// Runs a step of the processing cycle; true when it failed (and was told on
// stderr). A failed cycle ends the program; the panel is not saved.
template <class Step>
bool cycleFailed(Step&& step) {
    try {
        step();
        return false;
    } catch (const std::exception& ex) {
        std::cerr << "miral: processing cycle failed: " << ex.what() << "\n";
    } catch (...) {
        std::cerr << "miral: processing cycle failed\n";
    }
    return true;
}

}  // namespace

void Instrument::Timer1Timer(const UiEvent&) {
    // What the last cycle left due, if its tick came without the step after it.
    if (cycleFailed([this] {
            afterCycleSteps();
            processingCycle();
        }))
        requestTerminate();
}

void Instrument::afterCycle() {
    if (cycleFailed([this] { afterCycleSteps(); })) requestTerminate();
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
    cycle_.run();
}

// What the preferences say for the capture (or playback) stream.
audio::StreamSettings Instrument::streamSettings(bool capture) const {
    const std::string dir = capture ? "rx" : "tx";
    audio::StreamSettings s;
    s.bufferFrames = prefs.readInt(dir + "_buffersize");
    s.bufferCount = prefs.readInt("num_" + dir + "_buffers");
    s.priority = prefs.readInt(dir + "_priority");
    s.bits = capture ? st.AdcBits : st.DacBits;
    s.maxRate24 = capture ? st.Adc24Limit : st.Dac24Limit;
    s.deviceName = prefs.readText(dir + "_device_name");
    return s;
}

// Reads "ADC_Bits", "DAC_Bits" and their 24-bit rate limits, once: before
// the power-on restore, which may open the playback stream, so that the
// first open of either stream has the configured format.
void Instrument::readStreamFormats() {
    if (st.StreamFormatsRead) return;
    st.StreamFormatsRead = true;
    st.AdcBits = prefs.readInt("ADC_Bits");
    st.DacBits = prefs.readInt("DAC_Bits");
    st.Adc24Limit = prefs.readInt("ADC_MaxFreq_24Bits");
    st.Dac24Limit = prefs.readInt("DAC_MaxFreq_24Bits");
}

void Instrument::housekeepingTick() {
    // The stored floor of the card, rate and format now in use.
    cardFloor_.refreshFloor();
    // First run: the stream formats (unless the power-on restore read
    // them already) and the scale constants.
    if (!st.HousekeepingStarted) {
        st.HousekeepingStarted = true;
        readStreamFormats();
        st.MagScale = prefs.readInt("Mag_Scale");
        st.Ratio1 = prefs.readInt("Ratio_1");
        st.Ratio2 = prefs.readInt("Ratio_2");
        std::string x = "x" + std::to_string(st.MagScale);
        panel.setCaption(Ctl::Label205, x);
        panel.setCaption(Ctl::Label206, x);
    }
    // Reopen the capture stream after a rate or time-base change.
    if (st.InputRestartPending) {
        st.InputRestartPending = false;
        int device = prefs.readInt("num_rx_device", panel.itemIndex(Ctl::card_box) + 1) + 1;
        // A bundle's capture comes again with every start (the ring was
        // cleared for the new rate or window), so its stream starts anew.
        if (bundles_.bundle()) streams_->StopCapture();
        streams_->StartCapture(st.CaptureRate, device, streamSettings(true));
        distortion_.distortionRestart();
    }
    // LF restart: "LF" up for six ticks, down again on the seventh.
    if (st.LfRestartCount > 1) panel.setDown(Ctl::lowf, false);
    if (st.LfRestartCount == 1) panel.setDown(Ctl::lowf, true);
    if (st.LfRestartCount > 0) --st.LfRestartCount;
    // The enlarged screen's compact controls drive the main ones.
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
