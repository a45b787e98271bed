// SPDX-License-Identifier: GPL-3.0-or-later
// The swept measurement of a device's response and its harmonic responses
// in one sweep: an exponential sine sweep, synchronized so that its n-th
// harmonic is the same sweep, earlier by L ln n, with its phase. Played
// through the device and deconvolved with the sweep's analytic inverse
// filter, the recording becomes one impulse response per harmonic order,
// laid out in time: the linear one at the loop's latency, the n-th L ln n
// before it. Each is cut out with a window and transformed at the
// frequencies asked for.
//
// The linear response is the output's linear part over the reference's (the
// recorded input of the device, or the played sweep when only one channel is
// wired), both deconvolved and cut alike, so that what the finite sweep and
// its inverse filter leave (ripple near the band's edges) cancels. The
// harmonic responses are given relative to the fundamental: the n-th
// harmonic's level at the output, in dB below the fundamental's, when the
// device is driven at the fundamental frequency.
//
// Plain kernel: arrays and explicit parameters in, figures out. It allocates
// (a measurement is computed once, not per processing cycle).
#pragma once

#include <array>
#include <cstddef>
#include <vector>

namespace miral::analysis {

inline constexpr int kSweepHighestHarmonic = 5;

struct LogSweepPlan {
    double bandLow = 20, bandHigh = 20000;  // the band the results cover, Hz
    double f1 = 0, f2 = 0;                  // the band swept, Hz: wider, so that its edges lie outside
    double rate = 48000;                    // Hz
    double L = 0;                           // s: the sweep's rate; f1 L is a whole number
    std::size_t samples = 0;                // the sweep's length
    // Raised-cosine fades over the stretches outside the band: an abrupt
    // start or end is a click whose spectrum the deconvolution spreads over
    // the harmonics' places.
    std::size_t fadeIn = 0, fadeOut = 0;
};

// A sweep of about `seconds` for the band from..to at `rate` (the band
// clipped to 1 Hz .. 0.45 x the rate). The sweep runs from about half of
// `from` (a little below, so that f1 L is whole) to 1.15 x to (at most 0.47 x
// the rate).
LogSweepPlan PlanLogSweep(double from, double to, double seconds, double rate);

// The sweep's samples, amplitude 1: sin(2 pi f1 L (e^(t/L) - 1)), faded in
// and out (plan.samples values into out).
void RenderLogSweep(const LogSweepPlan& plan, double* out);

struct LogSweepResult {
    std::vector<double> freq;      // the frequencies asked for, Hz
    std::vector<double> gainDb;    // the linear response's gain, dB
    std::vector<double> phaseDeg;  // and phase, degrees (-180 .. 180)
    // harmonicDbc[n][i]: the n-th harmonic (n = 2 .. 5) relative to the
    // fundamental at freq[i], dB; NaN where n x freq[i] lies above the band
    // (1.05 x its end).
    std::array<std::vector<double>, kSweepHighestHarmonic + 1> harmonicDbc;
    std::vector<double> impulse;  // the device's linear impulse response (output over reference)
    long latency = 0;             // samples from the sweep's start to its linear response in the recording
};

// output, reference: the recordings (count samples each, from the moment the
// sweep started to play, at the plan's rate); reference null: the played
// sweep (amplitude `amplitude`) is the reference. freqs: where the responses
// are read (within the plan's band).
LogSweepResult AnalyzeLogSweep(const LogSweepPlan& plan, double amplitude, const double* output,
                               const double* reference, std::size_t count, const std::vector<double>& freqs);

}  // namespace miral::analysis
