// SPDX-License-Identifier: GPL-3.0-or-later
// The one process-wide record of derived settings and cross-tick state.
// What the user sets directly (button states, knob values, edit texts) is
// read from the panel model; nothing of it is copied here.
//
// Only the window thread writes these fields. The audio layer keeps its own
// atomic copies of what its callbacks read (the decimation).
#pragma once

#include <string>
#include <vector>

namespace miral::core {

constexpr int kMaxWindow = 65536;    // largest acquisition window (samples per channel)
constexpr int kSpectrumLen = 65537;  // FFT work arrays: one spare point for the window routines

struct InstrumentState {
    // ---- Rates and acquisition window ----------------------------------
    int AdcRate = 44100;
    int DacRate = 44100;
    int AnalysisRate = 44100;
    int TimeBaseRate = 32768;
    int CaptureRate = 44100;
    int Decimation = 1;
    int TimeWindow = 512;
    double HorizontalScale = 1.0;
    int FftDivider = 4;
    int FftSize = 32768 / 4;
    double FreqCorr = 1.0;
    double BinWidth = 4.0 * 44100 / 32768;
    double BaseRate = 44100.0;  // "Base_Freq", read at the first time-base change
    double BaseScale = 51200.0 / 44100.0;
    bool BaseRateRead = false;
    double RateMultiplier = 1.0;
    int TimeBaseStep = -100;

    // ---- Flags and counters ---------------------------------------------
    bool RestoreOnFirstTick = true;
    bool InputRestartPending = false;
    bool FreshCapture = true;
    int SettleCount = 4;
    int LfRestartCount = 0;
    int SidePanelMode = 2;
    bool EnlargedScreen = false;
    bool DisplayPrimed = false;

    // ---- Working arrays and levels ----------------------------------------
    std::vector<double> TimeWorkA;  // kMaxWindow entries once the window exists
    std::vector<double> TimeWorkB;
    // FFT work arrays (kSpectrumLen each): after the FFT stage magnitude in the
    // real and phase in degrees in the imaginary array. The scope traces share
    // the real arrays (ScopeTraceA, ScopeTraceB).
    std::vector<double> SpectrumWorkReA, SpectrumWorkImA, SpectrumWorkReB, SpectrumWorkImB;
    // The drawn spectrum values with their LF average, and the phase drawn in
    // the transfer-function and impedance views.
    std::vector<double> DisplayA, DisplayB, DisplayPhase, PeakSearchA;
    double PeakA = 0.0;
    double PeakB = 0.0;

    // ---- Plot geometry (recomputed every cycle) ---------------------------
    int RightMargin = 16;
    int BottomMargin = 16;
    int PlotWidth = 567;
    int PlotHeight = 400;

    // ---- Values read once from the preferences: the stream formats before
    // the first stream opens, the others by the first housekeeping tick ----
    bool HousekeepingStarted = false;
    int MagScale = 10;
    double Ratio1 = 20;
    double Ratio2 = 200;
    bool StreamFormatsRead = false;
    // On a card that runs at one rate only the rate boxes show that rate; the
    // items the user chose (capture, playback) are kept here for the stored
    // panel (-1: the boxes show the user's choice).
    int UserRateItem[2] = {-1, -1};
    int AdcBits = 16;
    int DacBits = 16;
    int Adc24Limit = 88200;
    int Dac24Limit = 88200;
    int FreqVar = 0;  // "Freq_Var": square waves may adapt the output rate

    // ---- Enlarged screen: the screen panel's size before enlarging ----------
    int SavedScreenWidth = 0;
    int SavedScreenHeight = 0;

    // ---- Frequency band -----------------------------------------------------
    double FMin = 10.0;
    double FMax = 22050.0;
    double FCenter = 1000.0;
    bool CenterHeld = false;
    bool RetuneKnobs = false;

    // ---- Oscilloscope -----------------------------------------------------------
    int TriggerIndex = 0;
    int PretriggerSamples = 0;
    bool TriggerFound = false;
    bool SingleShotArmed = false;

    // ---- Screen geometry of the current cycle ----------------------------------
    int PlotSpan = 563;
    int UpperTop = 0, UpperBottom = 400, LowerTop = 0, LowerBottom = 400;
    int ZeroRowA = 200, ZeroRowB = 200;
    double ScaleA = 1, ScaleB = 1, RowUnit = 0, ColumnUnit = 0;
    int DragLastX = 0;  // last pointer x of a band drag on the screen

    // ---- Generators -----------------------------------------------------------
    int ModulationMode = 1;  // 1 ADD, 2 AM, 3 DSB, 4 FM, 5 DUAL
    double MainFrequency = 0.0;
    double AuxFrequency = 0.0;

    // ---- Frequency meter: the last measured fundamental, whole hertz ----------
    double MeasuredFrequency = 0.0;

    // ---- Probe table: per shunt or probe (the ComboBox5 entries) ------------------
    // Kept in prefs.dat; the calibration edit boxes show the selected entry.
    struct ProbeTable {
        double delayNs[10] = {};        // channel delay of B relative to A
        double shuntOhm[10] = {};       // shunt resistance
        double probeMilliOhm[10] = {};  // series resistance of the probe leads
        double probePf[10] = {};        // probe capacitance
        double inputImpedance = 0;      // ohms (all probes)
        double commonGain = 0;          // dB (all probes)
        double diffGainDb[10] = {};     // differential gain of A relative to B
    };
    ProbeTable Probes;

    // ---- Status ---------------------------------------------------------------
    // A one-line message for the window's status line (stream failures and the like).
    std::string StatusText;
    // What is wrong with the streams now ("" when all is well); the window
    // shows it as a banner until the cause is gone.
    std::string StreamStatus;
    // The size of the window's panel in percent as the user chose it (100,
    // 125, 150, 200; 0: as the desktop's scale), kept with the stored panel.
    int PanelScale = 0;
};

}  // namespace miral::core
