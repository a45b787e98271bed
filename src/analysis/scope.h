// SPDX-License-Identifier: GPL-3.0-or-later
// The oscilloscope's time base and trigger.
#pragma once

namespace miral::analysis {

// What a time-base position ("SEC/DIV" 0 = 1 s ... 8 = 100 us per division)
// asks of the acquisition.
struct TimeBase {
    int timeBaseRate = 0;        // capture rate, Hz
    int decimation = 1;          // keep one frame in every `decimation`
    double horizontalScale = 1;  // screen units per sample
    double rateMultiplier = 1;   // factor on the base rate of the three fastest positions
    int timeWindow = 0;          // samples analysed: trunc(1024 / horizontalScale)
};

// baseRate: "Base_Freq"; baseScale = 51200 / baseRate; fftDivider 1..32;
// maxAdcFreq: "Max_ADC_Freq". The multiplier never drops below 1, so a
// "Max_ADC_Freq" below "Base_Freq" still leaves a usable rate. oneRate: the
// card runs at baseRate only (a JACK server): the multiplier stays 1.
TimeBase ComputeTimeBase(int position, double baseRate, double baseScale, int fftDivider, int maxAdcFreq,
                         bool oneRate = false);

// The time-base labels "1Sec" .. "100uSec" (positions above 8 are "100uSec").
const char* TimeBaseLabel(int position);

// Samples of pretrigger shift for the knob's percentage of half the window.
int PretriggerSamples(int pretriggerKnob, double horizontalScale);

struct TriggerInput {
    const double* window = nullptr;  // the source channel's time window (count units)
    double scale = 1;                // the source channel's vertical units per count
    int timeWindow = 0;
    int levelKnob = 0;  // triglevel, -100..100
    int plotHeight = 400;
    bool lowPass = false;         // "LF": compare the low-passed signal
    bool wideHysteresis = false;  // "H Hist": 50 units instead of 2
    bool negativeSlope = false;   // "Neg": falling crossings
    bool roll = false;            // "ROLL": never lock
    bool freshCapture = false;    // the ring was just cleared: free-run from the middle
    int pretriggerSamples = 0;
};

struct TriggerResult {
    int index = 0;  // where the displayed window starts
    bool found = false;
    int level = 0;  // the trigger level in vertical units
};

// Searches backwards for the latest crossing of the level in the chosen
// direction, from the window's middle plus the pretrigger shift (so that the
// crossing can sit at the pretrigger column with the picture still inside
// the window; never beyond index timeWindow - 1) down to index 1. Without a
// crossing (or while rolling or freshly cleared) the picture runs free from
// the middle. The pretrigger then shifts the start earlier (not below 0).
TriggerResult SearchTrigger(const TriggerInput& in);

// Copies the displayed window into a trace: trace[k] = window[start + k] for
// k < count, or averaged 0.9/0.1 into what the trace held. Reads at most up
// to windowCapacity.
void CopyTrace(double* trace, const double* window, int start, int count, bool average, int windowCapacity);

}  // namespace miral::analysis
