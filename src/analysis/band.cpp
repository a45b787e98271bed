// SPDX-License-Identifier: GPL-3.0-or-later
#include "analysis/band.h"

#include <cmath>

namespace miral::analysis {

namespace {

constexpr const char* kNames[13] = {"Off", "La", "La#", "Si",  "Do",  "Do#", "Re",
                                    "Re#", "Mi", "Fa",  "Fa#", "Sol", "Sol#"};

// Semitones above 55/32 Hz (an "La" five octaves below 55 Hz); 440 Hz is 96.
double semitones(double f) {
    return std::log(f * 32.0 / 55.0) / (std::log(2.0) / 12.0);
}

}  // namespace

int NoteIndex(double f) {
    if (!(f >= 10.0)) return 0;
    double s = semitones(f);
    long long n = static_cast<long long>(s + 0.5);
    return static_cast<int>(((n + 12) % 12) + 1);
}

double CentsOffset(double f) {
    if (!(f >= 10.0)) return 0.0;
    double s = semitones(f);
    long long n = static_cast<long long>(s + 0.5);
    return (s - static_cast<double>(n)) * 100.0;
}

const char* NoteName(int index) {
    return index >= 0 && index <= 12 ? kNames[index] : "";
}

double BandHzPerDivision(int position) {
    static constexpr double kWidths[8] = {10, 25, 50, 100, 200, 400, 800, 1600};
    if (position < 0) position = 0;
    if (position > 7) position = 7;
    return kWidths[position];
}

void UpdateBand(Band& b, const BandKnobs& k) {
    if (!k.centerHeld) b.fcenter = k.centerKnob;
    const double half = std::trunc(k.adcRate / 2.0);
    if (k.widthPosition == kFreeBand) {
        b.fmin = k.minKnob;
        b.fmax = k.maxKnob;
        if (b.fmax <= b.fmin) b.fmax = b.fmin + 1;
        if (b.fmin >= b.fcenter) b.fcenter = b.fmin + 1;
        if (b.fmax <= b.fcenter) b.fcenter = b.fmax - 1;
        if (b.fmin < 5) b.fmin = 5;
        if (b.fmax > half) b.fmax = half;
    } else {
        const double w = 5.0 * BandHzPerDivision(k.widthPosition);
        b.fmin = b.fcenter - w;
        b.fmax = b.fcenter + w;
        if (b.fmin >= b.fcenter) b.fmin = b.fcenter - 1;
        if (b.fmax <= b.fcenter) b.fmax = b.fcenter + 1;
        if (b.fmin < 5) {
            b.fmin = 5;
            b.fmax = 2 * w + 5;
        }
        if (b.fmax > half) {
            b.fmax = half;
            b.fmin = b.fmax - 2 * w;
        }
    }
}

KnobSetting KnobFor(double frequency) {
    if (frequency < 100) return {0, static_cast<int>(frequency)};
    if (frequency < 1000) return {1, static_cast<int>(frequency * 0.1)};
    return {2, static_cast<int>(frequency * 0.01)};
}

double DragCenter(double center, const Band& band, int dx, int screenWidth, int adcRate) {
    if (screenWidth > 0) center -= static_cast<double>(dx) * (band.fmax - band.fmin) / screenWidth;
    if (center < 10) center = 10;
    if (center > adcRate / 2.0 - 500) center = adcRate / 2.0 - 500;
    return center;
}

}  // namespace miral::analysis
