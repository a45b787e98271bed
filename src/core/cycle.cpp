// The processing cycle (Timer1) and the housekeeping tick (Timer7).
#include <algorithm>
#include <cmath>
#include <exception>
#include <iostream>

#include "core/instrument.h"

namespace miral::core {

void Instrument::Timer1Timer(const UiEvent&) {
    try {
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

void Instrument::Timer7Timer(const UiEvent&) { housekeepingTick(); }

void Instrument::processingCycle() {
    // 1. Per-run preference.
    phaseSmooth_ = prefs.readInt("Phase_Smoth", 0);
    // 2. Power-on restore.
    if (st.RestoreOnFirstTick) {
        gostart();
        st.RestoreOnFirstTick = false;
    }
    // 3. RLC controls follow the impedance view.
    if (panel.down(Ctl::zeta) && panel.enabled(Ctl::zeta)) {
        panel.setEnabled(Ctl::rlcmode, true);
        bool rlc = panel.down(Ctl::rlcmode);
        for (Ctl c : {Ctl::rr, Ctl::ll, Ctl::cc}) panel.setEnabled(c, rlc);
    } else {
        for (Ctl c : {Ctl::rlcmode, Ctl::rr, Ctl::ll, Ctl::cc}) {
            panel.setEnabled(c, false);
            panel.setDown(c, false);
        }
    }
    // 4. The housekeeping tick runs from the first cycle on.
    panel.setEnabled(Ctl::Timer7, true);
    // 5. No trace averaging in the plain frequency view.
    if (panel.down(Ctl::Frequenza)) panel.setDown(Ctl::avg, false);
    // 6. Geometry.
    updateGeometry();
    // 7. Generator readouts.
    updateGeneratorReadouts();
    // 8. Acquisition.
    if (!panel.down(Ctl::hold)) acquire();
    // 9. Nothing to draw on yet.
    if (!screenBuffer_) return;
    // 10. Rate or FFT size readout.
    panel.setCaption(Ctl::Label168, std::to_string(panel.down(Ctl::Tempo) ? st.TimeBaseRate : st.FftSize));
    // 13. Begin frame: clear the buffer.
    display::Canvas& c = *screenBuffer_;
    c.brush.color = slotColor(SlotBackground);
    c.brush.style = display::BrushStyle::Solid;
    const ControlState& pb = panel.state(Ctl::PaintBox1);
    c.fillRect({0, 0, pb.width, pb.height});
    c.brush.color = slotColor(SlotCanvas);
    c.fillRect({3, 3, st.PlotWidth - 5, st.PlotHeight - 5});
    // 23. Present.
    present();
}

void Instrument::updateGeometry() {
    const ControlState& pb = panel.state(Ctl::PaintBox1);
    if (panel.down(Ctl::Tempo)) {
        st.RightMargin = 0;
        st.BottomMargin = 0;
    } else {
        st.RightMargin = (panel.down(Ctl::ylog) || panel.down(Ctl::zeta)) ? 18 : 0;
        st.BottomMargin = 12;
    }
    st.PlotWidth = pb.width - st.RightMargin;
    st.PlotHeight = pb.height - st.BottomMargin;
}

void Instrument::updateGeneratorReadouts() {
    bool on1 = panel.down(Ctl::genon1);
    bool on2 = panel.down(Ctl::genon2);
    panel.setCaption(Ctl::gendispl, on1 ? shortestText(st.MainFrequency) : "0");
    panel.setCaption(Ctl::gendispl2, on1 && on2 ? shortestText(st.AuxFrequency) : "0");
}

void Instrument::acquire() {
    int n = panel.down(Ctl::Tempo) ? st.TimeWindow : st.FftSize;
    n = std::clamp(n, 0, kMaxWindow);
    double* a = st.TimeWorkA.data();
    double* b = st.TimeWorkB.data();
    audio::AcquiredWindow w = audio::AcquireWindow(*ring_, n, a, b);
    st.PeakA = 0.9 * st.PeakA + 0.1 * w.peakA;
    st.PeakB = 0.9 * st.PeakB + 0.1 * w.peakB;
    panel.setPosition(Ctl::bar1, static_cast<int>(st.PeakA * 0.03125));
    panel.setPosition(Ctl::bar2, static_cast<int>(st.PeakB * 0.03125));
    if (st.TimeWindow / 2 < w.writeIndex) st.FreshCapture = false;
    if (panel.checked(Ctl::CheckBox4)) {
        double dA = editNumber(Ctl::Edit5);
        double dC = editNumber(Ctl::Edit16);
        const ControlState& bar = panel.state(Ctl::input_bar);
        double g = std::pow(10.0, -dC / 20.0) * bar.max / (bar.position + 0.1);
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

void Instrument::present() {
    display::Canvas* target = panel.canvas(Ctl::PaintBox1);
    if (!target || !screenBuffer_) return;
    const ControlState& pb = panel.state(Ctl::PaintBox1);
    display::Rect r{0, 0, pb.width, pb.height};
    target->copyRect(r, *screenBuffer_, r);
    panel.bump(Ctl::PaintBox1);
}

audio::StreamSettings Instrument::captureSettings() const {
    audio::StreamSettings s;
    s.bufferFrames = prefs.readInt("rx_buffersize", 512);
    s.bufferCount = prefs.readInt("num_rx_buffers", 64);
    s.priority = prefs.readInt("rx_priority", 15);
    s.bits = st.AdcBits;
    s.maxRate24 = st.Adc24Limit;
    s.deviceName = prefs.readText("rx_device_name", "");
    return s;
}

audio::StreamSettings Instrument::playbackSettings() const {
    audio::StreamSettings s;
    s.bufferFrames = prefs.readInt("tx_buffersize", 512);
    s.bufferCount = prefs.readInt("num_tx_buffers", 32);
    s.priority = prefs.readInt("tx_priority", 15);
    s.bits = st.DacBits;
    s.maxRate24 = st.Dac24Limit;
    s.deviceName = prefs.readText("tx_device_name", "");
    return s;
}

void Instrument::housekeepingTick() {
    // 1. First run: stream formats and the scale constants.
    if (!st.HousekeepingStarted) {
        st.HousekeepingStarted = true;
        st.AdcBits = prefs.readInt("ADC_Bits", 16);
        st.DacBits = prefs.readInt("DAC_Bits", 16);
        st.Adc24Limit = prefs.readInt("ADC_MaxFreq_24Bits", 88200);
        st.Dac24Limit = prefs.readInt("DAC_MaxFreq_24Bits", 88200);
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
        streams_->StartCapture(st.CaptureRate, device, captureSettings());
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
        static constexpr Ctl kTwins[][2] = {
            {Ctl::sourcea_bis, Ctl::sourcea},   {Ctl::sourceb_bis, Ctl::sourceb},
            {Ctl::Slope_bis, Ctl::Slope},       {Ctl::trigauto_bis, Ctl::trigauto},
            {Ctl::trignorm_bis, Ctl::trignorm}, {Ctl::trigsingle_bis, Ctl::trigsingle},
            {Ctl::modea_bis, Ctl::modea},       {Ctl::modeb_bis, Ctl::modeb},
            {Ctl::modeab_bis, Ctl::modeab},     {Ctl::xlog_bis, Ctl::xlog},
            {Ctl::ylog_bis, Ctl::ylog},         {Ctl::borderview_bis, Ctl::borderview},
            {Ctl::vedinota_bis, Ctl::vedinota}, {Ctl::vedifreq_bis, Ctl::vedifreq},
            {Ctl::freq_bis, Ctl::freq},         {Ctl::croma_bis, Ctl::croma},
            {Ctl::color_bis, Ctl::color},       {Ctl::Tempo_bis, Ctl::Tempo},
            {Ctl::Frequenza_bis, Ctl::Frequenza}, {Ctl::trasf_bis, Ctl::trasf},
            {Ctl::zeta_bis, Ctl::zeta},         {Ctl::avg_bis, Ctl::avg},
            {Ctl::maxx_bis, Ctl::maxx},         {Ctl::lowf_bis, Ctl::lowf},
        };
        for (const auto& t : kTwins) panel.setDown(t[1], panel.down(t[0]));
    }
    // The status line tells what is wrong with the streams, if anything.
    st.StatusText = streams_->StatusText();
}

}  // namespace miral::core
