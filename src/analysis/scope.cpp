// SPDX-License-Identifier: GPL-3.0-or-later
#include "analysis/scope.h"

#include <algorithm>
#include <cmath>

namespace miral::analysis {

TimeBase ComputeTimeBase(int position, double baseRate, double baseScale, int fftDivider, int maxAdcFreq,
                         bool oneRate) {
    TimeBase t;
    const double d = fftDivider > 0 ? fftDivider : 4;
    const double maxRatio = baseRate > 0 ? std::trunc(maxAdcFreq / baseRate) : 1;
    auto limited = [&](double m, double upper) {
        if (oneRate) return 1.0;
        if (m < 1) m = 1;
        if (upper < m) m = upper;
        // A "Max_ADC_Freq" below "Base_Freq" would leave no usable rate.
        if (m < 1) m = 1;
        return m;
    };
    const int base = static_cast<int>(baseRate);
    switch (position <= 0 ? 0 : std::min(position, 8)) {
        case 0:
            t = {base, 200, 0.2 * baseScale, 1, 0};
            break;
        case 1:
            t = {base, 60, 0.2 * baseScale, 1, 0};
            break;
        case 2:
            t = {base, 20, 0.2 * baseScale, 1, 0};
            break;
        case 3:
            t = {base, 30, baseScale, 1, 0};
            break;
        case 4:
            t = {base, 10, baseScale, 1, 0};
            break;
        case 5:
            t = {base, 3, baseScale, 1, 0};
            break;
        case 6: {
            double m = limited(1.0 / d, maxRatio);
            t = {static_cast<int>(baseRate * m), 1, baseScale / m, m, 0};
            break;
        }
        case 7: {
            double m = limited(4.0 / d, 2.0);
            t = {static_cast<int>(baseRate * m), 1, 3.333333 * baseScale / m, m, 0};
            break;
        }
        default: {
            double m = limited(4.0 / d, maxRatio);
            t = {static_cast<int>(baseRate * m), 1, 10 * baseScale / m, m, 0};
            break;
        }
    }
    // The quotient in extended precision, as the window size was always formed.
    long double q = 1024.0L / static_cast<long double>(t.horizontalScale);
    t.timeWindow = static_cast<int>(q);
    return t;
}

const char* TimeBaseLabel(int position) {
    static constexpr const char* kLabels[9] = {"1Sec",  "300mSec", "100mSec", "30mSec", "10mSec",
                                               "3mSec", "1mSec",   "300uSec", "100uSec"};
    return kLabels[std::clamp(position, 0, 8)];
}

int PretriggerSamples(int pretriggerKnob, double horizontalScale) {
    return static_cast<int>(pretriggerKnob * 512 / horizontalScale * 0.01);
}

TriggerResult SearchTrigger(const TriggerInput& in) {
    TriggerResult r;
    const int hysteresis = in.wideHysteresis ? 50 : 2;
    const int slopeSign = in.negativeSlope ? 1 : -1;
    const int h = in.timeWindow / 2;
    r.level = in.levelKnob * in.plotHeight / 100;
    int index = h;
    // The picture shows half a window from `pretrigger` samples before the
    // crossing, so the latest crossing that leaves it whole lies that much
    // beyond the middle: searching from there puts a crossing at the
    // pretrigger column whenever one lies within half a window before it.
    // With no pretrigger this is the middle; never past the window's end.
    const int top = std::min(h + std::max(in.pretriggerSamples, 0), in.timeWindow - 1);
    if (h >= 1 && in.window) {
        const double s = in.scale;
        double f = s * in.window[top] * 16.0;
        int state = 0;
        for (int i = top; i >= 1; --i) {
            f = f - f / 16.0 + s * in.window[i];
            const double v = in.lowPass ? f / 16.0 : s * in.window[i];
            if (state == 0 && r.level * slopeSign - hysteresis > slopeSign * v) {
                state = 1;
                continue;
            }
            if (state == 1 && r.level * slopeSign + 1 < slopeSign * v) {
                index = i;
                r.found = true;
                break;
            }
        }
    }
    // Without a crossing the picture runs free from the middle, whichever
    // channel triggers.
    if (!r.found) index = h;
    if (in.roll || in.freshCapture) {
        r.found = false;
        index = h;
    }
    index -= in.pretriggerSamples;
    r.index = index < 0 ? 0 : index;
    return r;
}

void CopyTrace(double* trace, const double* window, int start, int count, bool average, int windowCapacity) {
    if (start < 0) start = 0;
    const int n = std::max(0, std::min(count, windowCapacity - start));
    const double* w = window + start;
    if (average) {
        for (int k = 0; k < n; ++k) trace[k] = 0.9 * trace[k] + 0.1 * w[k];
    } else {
        std::copy(w, w + n, trace);
    }
}

}  // namespace miral::analysis
