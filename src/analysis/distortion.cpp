// SPDX-License-Identifier: GPL-3.0-or-later
#include "analysis/distortion.h"

#include <algorithm>
#include <cmath>

namespace miral::analysis {

namespace {

// 2000 ln 10: display units per decade of level on the logarithmic axis.
constexpr double kUnitsPerDecade = 4605.17;

// The square of a display value's linear level (the power of a harmonic).
double DisplayPower(double v, double s, bool ylog) {
    if (ylog) return std::pow(10.0, 2.0 * v / s / kUnitsPerDecade);
    return v * v;
}

}  // namespace

double DisplayLevel(double v, double s, bool ylog) {
    return ylog ? std::pow(10.0, v / s / kUnitsPerDecade) : v;
}

bool IsOctave(int r) {
    switch (r) {
        case 2:
        case 4:
        case 8:
        case 16:
        case 32:
        case 64:
        case 128:
            return true;
        default:
            return false;
    }
}

Distortion MeasureDistortion(const DistortionInputs& in) {
    Distortion d;
    const int f0 = in.fundamentalBin;
    const int bins = in.bins;
    if (f0 <= 0 || f0 >= bins || !in.displayA || !in.displayB) return d;
    d.valid = true;
    const double* a = in.displayA;
    const double* b = in.displayB;
    const double fA = DisplayLevel(a[f0], in.scaleA, in.ylog);
    const double fB = DisplayLevel(b[f0], in.scaleB, in.ylog);

    double pA = 0, pB = 0, oA = 0, oB = 0;
    for (int h = 2 * f0; h < bins; h += f0) {
        const int r = h / f0;
        // The harmonic's peak: the highest point of channel A within a window
        // that widens with the harmonic number (a drifting fundamental moves
        // the higher harmonics further).
        const int w = 3 * std::min(r, 10);
        const int from = std::max(h - w, 0);
        const int to = std::min(h + w - 1, bins - 1);
        int k = h;
        double best = -1e20;
        for (int j = from; j <= to; ++j) {
            if (a[j] > best) {
                best = a[j];
                k = j;
            }
        }
        const double powerA = DisplayPower(a[k], in.scaleA, in.ylog);
        const double powerB = DisplayPower(b[k], in.scaleB, in.ylog);  // channel B at channel A's peak
        pA += powerA;
        pB += powerB;
        if (!IsOctave(r)) {
            oA += powerA;
            oB += powerB;
        }
    }
    d.thdA = std::sqrt(pA) / fA;
    d.thdB = std::sqrt(pB) / fB;
    d.overtoneA = std::sqrt(oA) / fA;
    d.overtoneB = std::sqrt(oB) / fB;
    d.fundamentalMv = in.ylog ? fA : fA / in.scaleA * 0.0525;

    double t = in.bothChannels ? d.thdA - d.thdB : d.thdA;
    double v = in.bothChannels ? d.overtoneA - d.overtoneB : d.overtoneA;
    // Figures below one part in a million (and negative differences) read 0.
    if (t < 1e-6) t = 0;
    if (v < 1e-6) v = 0;
    d.thd = t;
    d.overtone = v;
    return d;
}

long long FundamentalHz(int bin, double binWidth) {
    const double tenths = std::trunc(bin * binWidth * 10 + 0.5);
    if (!(std::fabs(tenths) < 1e18)) return 0;
    return static_cast<long long>(tenths) / 10;
}

}  // namespace miral::analysis
