// SPDX-License-Identifier: GPL-3.0-or-later
#include "analysis/transfer.h"

#include <cmath>

#include "analysis/analyzer_stage.h"

namespace miral::analysis {

double FoldPhase(double p, bool inversionFold) {
    if (!std::isfinite(p)) return p;
    if (inversionFold) p += 180.0;
    // One turn is enough for two phases in -90 .. 270; a channel-delay
    // correction can push channel B's phase several turns further.
    if (p > 540.0 || p < -540.0) p = std::fmod(p, 360.0);
    if (p > 180.0) p -= 360.0;
    if (p < -180.0) p += 360.0;
    if (inversionFold) p -= 180.0;
    return p;
}

TransferResult TransferBranch(const TransferInputs& in) {
    TransferResult r;
    const std::size_t h = in.bins;
    double* ga = in.magnitudeA;
    double* pa = in.phaseA;
    double* mb = in.magnitudeB;
    double* pb = in.phaseB;

    if (in.bothInverted && kReferenceBin < h) {
        double d = pa[kReferenceBin] - pb[kReferenceBin];
        if (d > 180.0) d -= 360.0;
        if (d < -180.0) d += 360.0;
        r.inversionFold = (d > 90.0 && d < 270.0) || (d < -90.0 && d > -270.0);
    }

    const double minA = 1e-6 * in.minLevel;
    const double minB = 0.001 * in.minLevel;
    for (std::size_t i = 0; i < h; ++i) {
        const double a = ga[i];
        const double b = mb[i];
        // A quotient too large for a double (a channel B down at the last
        // bits of the transform) is no gain either.
        const bool valid = a > minA && b > minB && std::isfinite(a / b);
        if (valid) {
            const double g = a / b;
            ga[i] = g;
            mb[i] = std::sqrt(g * b);
            pa[i] = FoldPhase(pa[i] - pb[i], r.inversionFold);
        } else {
            ga[i] = 0.0;
            mb[i] = 1.0;
            pa[i] = i > 0 ? pa[i - 1] : 0.0;
        }
    }

    if (in.smooth) {
        MainsRepair(ga, h, in.binWidth);
        MainsRepair(mb, h, in.binWidth);
        MainsRepair(pb, h, in.binWidth);
    }

    double sum = 0.0;
    for (std::size_t i = 5; i + 6 <= h; ++i) sum += pa[i];  // bins 5 .. h - 6
    r.phasePositive = sum > 0.0;

    if (in.smooth) {
        Smooth11(ga, h);
        Smooth11(mb, h);
        Smooth11(pb, h);
        if (in.smoothPhase) Smooth11(pa, h);
    }
    return r;
}

}  // namespace miral::analysis
