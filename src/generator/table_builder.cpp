// SPDX-License-Identifier: GPL-3.0-or-later
#include "generator/table_builder.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace miral::generator {

namespace {

constexpr double kToFullScale = 3.0517578125e-05;  // 2^-15: 16-bit counts to +-1.0
constexpr double kPerAuxCount = 3.125e-5;          // 1 / 32000: aux amplitude to +-1.0
constexpr double kHeadroom = 1.1;
constexpr double kAmplitudeUnit = 320.0;  // knob 100 -> 32000 counts

// Remainder in 0 .. n-1 also for negative v, so a phase index that runs
// below zero (FM) still lands on the right point of the period.
inline std::int64_t wrap(std::int64_t v, std::int64_t n) {
    const std::int64_t r = v % n;
    return r < 0 ? r + n : r;
}

// Truncation toward zero, saturated far beyond any real phase index so that
// absurd control values cannot make the conversion undefined.
inline std::int64_t truncIndex(double v) {
    constexpr double kLimit = 1.0e15;
    if (!(v > -kLimit)) return v != v ? 0 : -static_cast<std::int64_t>(kLimit);
    if (v > kLimit) return static_cast<std::int64_t>(kLimit);
    return static_cast<std::int64_t>(v);
}

// (f x t) mod n with f already reduced to 0 .. n-1. The product of the
// unreduced values exceeds 32 bits with a wide sweep at high frequencies.
inline std::int64_t phasePoint(std::int64_t fReduced, std::int64_t t, std::int64_t n) {
    return (fReduced * wrap(t, n)) % n;
}

inline double frequencyOf(int knob, int range) {
    // + 0.0 turns a -0 (from a knob stepped below its range) into 0.
    return std::trunc(knob * 0.001 * range + 0.1) + 0.0;
}

template <typename Sample>
GeneratorResult build(const GeneratorControls& c, GeneratorState& state, Sample* outA, Sample* outB) {
    GeneratorResult result;
    const int rate = std::clamp(c.dacRate, kMinDacRate, kMaxTableLength);
    const int mode =
        (c.modulationMode >= kModeAdd && c.modulationMode <= kModeDual) ? c.modulationMode : kModeAdd;

    // Main frequency and table length.
    double f1 = c.genon1 ? frequencyOf(c.genfreq, c.mainRange) : 0.0;
    int n = rate;
    if (c.genon1 && c.freqVar && c.gensqr1 && !c.gensweep1 && f1 >= 1.0) {
        // An even number d of samples per square period, and a playback rate of
        // d x f1. Above half the rate no such d exists: keep the chosen rate.
        const std::int64_t d = truncIndex(rate / f1) & ~std::int64_t{1};
        if (d > 0) {
            n = static_cast<int>(std::trunc(static_cast<double>(d) * f1));
            result.rateAdjusted = true;
        }
    }
    if (result.rateAdjusted)
        std::snprintf(result.rateText, sizeof result.rateText, "DAC %d", n);
    else
        std::snprintf(result.rateText, sizeof result.rateText, " ");

    const double f2 = c.genon2 ? frequencyOf(c.genfreq2, c.auxRange) : 0.0;

    // Amplitudes in 16-bit counts; the aux generator is attenuated only where
    // it is a signal of its own (ADD, DUAL), not a modulator.
    double a1 = c.genampl * kAmplitudeUnit;
    double a2 = c.genampl2 * kAmplitudeUnit;
    const bool auxAttenuated = mode == kModeAdd || mode == kModeDual;
    if (c.db20) {
        a1 *= 0.1;
        if (auxAttenuated) a2 *= 0.1;
    }
    if (c.db40) {
        a1 *= 0.01;
        if (auxAttenuated) a2 *= 0.01;
    }

    const bool mainSin = c.genon1 && c.gensin1;
    const bool mainTri = c.genon1 && c.gentri1;
    const bool mainSqr = c.genon1 && c.gensqr1;
    const bool mainNoise = c.genon1 && c.gennoise1;
    const bool auxSin = c.genon2 && c.gensin2;
    const bool auxTri = c.genon2 && c.gentri2;
    const bool auxSqr = c.genon2 && c.gensqr2;

    const double s = sweepScale(c.sweepRange);
    const bool duty = c.sweepRange != SweepRange::Half && !c.gensweep1;
    const double width = c.gensweep / s;
    const double sweepKnob = static_cast<double>(c.gensweep);
    const bool sweep = c.gensweep1 && mode != kModeFm;
    // With f1 = 0 every main waveform is constant, so there is no phase to shift.
    const bool fm = mode == kModeFm && f1 != 0.0;

    if (mainSin || auxSin) state.sine.prepare(n);
    const double* sine = state.sine.data();

    const std::int64_t len = n;
    const int half = n / 2;
    const double halfLength = n * 0.5;
    const std::int64_t f1Reduced = wrap(truncIndex(f1), len);
    const std::int64_t f2Reduced = wrap(truncIndex(f2), len);
    std::int64_t kMainLinear = 0;  // (f1 x i) mod N
    std::int64_t kAux = 0;         // (f2 x i) mod N
    double peak = 1.0;

    for (int i = 0; i < n; ++i) {
        double m = 0.0;
        double a = 0.0;

        if (auxSin) a += sine[kAux] * a2;
        if (auxTri) {
            const std::int64_t k = kAux >= half ? len - kAux : kAux;
            a += static_cast<double>(2 * k - half) * a2 / half;
        }
        if (auxSqr) a += (kAux < half ? 1.0 : -1.0) * a2;

        // Main phase point (f1 x t) mod N for the phase index t of this sample.
        std::int64_t k = kMainLinear;
        if (sweep) {
            const int fold = i > half ? n - i : i;
            const std::int64_t t = truncIndex((sweepKnob * fold / halfLength / s + 1.0) * i);
            k = phasePoint(f1Reduced, t, len);
        } else if (fm) {
            const std::int64_t t = truncIndex(sweepKnob * a * kPerAuxCount / s * 130.0 / f1 + i);
            k = phasePoint(f1Reduced, t, len);
        }

        if (mainSin) m += sine[k] * a1 + 0.5;  // half a 16-bit step of offset
        if (mainTri) {
            const std::int64_t kt = k >= half ? len - k : k;
            m += static_cast<double>(2 * kt - half) * a1 / half;
        }
        if (mainSqr) {
            if (duty)
                m += (static_cast<double>(k) < width ? 1.0 : -1.0) * a1;
            else
                m += (k < half ? 1.0 : -1.0) * a1;
        }
        if (mainNoise) {
            const std::int64_t r = nextNoise(state.noiseState) % 10000000;
            m += static_cast<double>(r - 5000000) * a1 * 2e-7;
        }

        double x;
        switch (mode) {
            case kModeAm:
                x = (a * kPerAuxCount + 1.0) * m * kToFullScale;
                break;
            case kModeDsb:
                x = m * a * kPerAuxCount * kToFullScale;
                break;
            case kModeFm:
                x = m * kToFullScale;
                break;
            case kModeDual: {
                x = m * kToFullScale;
                const double y = a * kToFullScale;
                if (y > peak) peak = y;
                if (-y > peak) peak = -y;
                outB[i] = static_cast<Sample>(y);
                break;
            }
            default:
                x = (m + a) * kToFullScale;
                break;
        }
        if (x > peak) peak = x;
        if (-x > peak) peak = -x;
        outA[i] = static_cast<Sample>(x);

        kMainLinear += f1Reduced;
        if (kMainLinear >= len) kMainLinear -= len;
        kAux += f2Reduced;
        if (kAux >= len) kAux -= len;
    }

    // Normalise: a signal within +-1 plays at 1/1.1 of its value, a louder one
    // is brought down to a peak of 1/1.1.
    const double divisor = peak * kHeadroom;
    if (mode == kModeDual) {
        for (int i = 0; i < n; ++i) {
            outA[i] = static_cast<Sample>(outA[i] / divisor);
            outB[i] = static_cast<Sample>(outB[i] / divisor);
        }
    } else {
        for (int i = 0; i < n; ++i) {
            const Sample v = static_cast<Sample>(outA[i] / divisor);
            outA[i] = v;
            outB[i] = v;
        }
    }

    state.length = n;
    state.mainFrequency = f1;
    state.auxFrequency = f2;
    result.length = n;
    result.mainFrequency = f1;
    result.auxFrequency = f2;
    if (n != state.lastStartedLength) {
        result.restartPlayback = true;
        state.lastStartedLength = n;
    }
    return result;
}

}  // namespace

SweepRange sweepRangeFromLabel(std::string_view label) {
    if (label == "1") return SweepRange::One;
    if (label == "10") return SweepRange::Ten;
    if (label == "100") return SweepRange::Hundred;
    if (label == "1K") return SweepRange::Thousand;
    return SweepRange::Half;
}

double sweepScale(SweepRange range) {
    switch (range) {
        case SweepRange::One:
            return 100.0;
        case SweepRange::Ten:
            return 10.0;
        case SweepRange::Hundred:
            return 1.0;
        case SweepRange::Thousand:
            return 0.1;
        case SweepRange::Half:
            break;
    }
    return 2.0;
}

std::string_view nextSweepLabel(std::string_view label) {
    if (label == "1") return "10";
    if (label == "10") return "100";
    if (label == "100") return "1K";
    if (label == "1K") return "50%";
    if (label == "50%") return "1";
    return label;
}

int nextModulationMode(int mode) {
    return (mode >= kModeAdd && mode < kModeDual) ? mode + 1 : kModeAdd;
}

std::string_view modulationWord(int mode) {
    switch (mode) {
        case kModeAm:
            return "AM";
        case kModeDsb:
            return "DSB";
        case kModeFm:
            return "FM";
        case kModeDual:
            return "DUAL";
        default:
            return "ADD";
    }
}

int knobUnitsPerHertz(int rangeMultiplier) {
    switch (rangeMultiplier) {
        case 1:
            return 1000;
        case 10:
            return 100;
        case 100:
            return 10;
        default:
            return 1;
    }
}

std::uint32_t nextNoise(std::uint64_t& state) {
    state = state * 22695477u + 1u;
    return static_cast<std::uint32_t>((state >> 32) & 0x7FFFFFFFu);
}

GeneratorResult buildTables(const GeneratorControls& controls, GeneratorState& state, float* a, float* b) {
    return build(controls, state, a, b);
}

GeneratorResult buildTables(const GeneratorControls& controls, GeneratorState& state, double* a, double* b) {
    return build(controls, state, a, b);
}

}  // namespace miral::generator
