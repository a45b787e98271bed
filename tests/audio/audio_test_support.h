// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Helpers shared by the audio tests: tone tables, a plain DFT at one
// frequency, and reading back the newest samples of the capture ring.

#include <cmath>
#include <complex>
#include <memory>
#include <numbers>
#include <vector>

#include "audio/capture_ring.h"
#include "audio/playback_tables.h"

namespace miral::audio::test {

// Fills both back tables with sines (whole hertz, so the one-second loop is
// continuous) and publishes them.
inline void PublishSines(PlaybackTables& tables, int length, double freqA, double ampA, double freqB,
                         double ampB) {
    float* a = tables.BackA();
    float* b = tables.BackB();
    for (int i = 0; i < length; ++i) {
        a[i] = static_cast<float>(ampA * std::sin(2.0 * std::numbers::pi * freqA * i / length));
        b[i] = static_cast<float>(ampB * std::sin(2.0 * std::numbers::pi * freqB * i / length));
    }
    tables.Publish();
}

// The newest n samples of one channel, oldest first.
inline std::vector<double> Newest(const CaptureRing& ring, int n, bool channelB) {
    std::vector<double> a(static_cast<size_t>(n)), b(static_cast<size_t>(n));
    AcquireWindow(ring, n, a.data(), b.data());
    std::vector<double>& chosen = channelB ? b : a;
    for (double& x : chosen) x /= kCountsPerFullScale;
    return chosen;
}

// Amplitude and phase of the component at frequency f (Hz) of x sampled at
// rate, by a plain DFT with a Hann window (amplitude corrected for the
// window). Use a whole number of periods for exact results.
inline std::complex<double> ToneAt(const std::vector<double>& x, double f, double rate, bool window = true) {
    std::complex<double> sum = 0.0;
    double wsum = 0.0;
    const size_t n = x.size();
    for (size_t i = 0; i < n; ++i) {
        const double w = window ? 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * (i + 0.5) / n) : 1.0;
        sum += w * x[i] * std::polar(1.0, -2.0 * std::numbers::pi * f * static_cast<double>(i) / rate);
        wsum += w;
    }
    return 2.0 * sum / wsum;  // a sine of amplitude A gives |.| = A
}

inline double Db(double ratio) {
    return 20.0 * std::log10(ratio);
}

// Phase difference b - a in degrees, wrapped to (-180, 180].
inline double PhaseDeg(std::complex<double> b, std::complex<double> a) {
    double d = std::arg(b / a) * 180.0 / std::numbers::pi;
    if (d <= -180.0) d += 360.0;
    return d;
}

inline double Rms(const std::vector<double>& x) {
    double s = 0.0;
    for (double v : x) s += v * v;
    return std::sqrt(s / static_cast<double>(x.size()));
}

}  // namespace miral::audio::test
