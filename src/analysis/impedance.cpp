// SPDX-License-Identifier: GPL-3.0-or-later
#include "analysis/impedance.h"

#include <algorithm>
#include <cmath>

#include "analysis/analyzer_stage.h"
#include "analysis/fft.h"

namespace miral::analysis {

namespace {

constexpr double kDegToRad = 3.1415926539 / 180.0;

// A phase of ToMagnitudePhaseOne (-90 .. 270) brought into (-180, 180]: the
// third quadrant is read as the negative angle it is, so that a capacitor
// whose real part dips just below zero still reads near -90 and not +90.
double Wrap(double p) {
    if (p > 180.0) p -= 360.0;
    if (p < -180.0) p += 360.0;
    return p;
}

}  // namespace

double ImpedanceToDisplay(double ohms, double scale, bool ylog) {
    if (ylog) return ohms == 0.0 ? -450.0 : scale * 2000.0 * std::log(ohms);
    return ohms * scale / kOhmsPerLinearUnit;
}

double ImpedanceFromDisplay(double v, double scale, bool ylog) {
    if (ylog) return std::pow(10.0, v / scale * 0.00021714724972);
    return v * kOhmsPerLinearUnit / scale;
}

double ShuntWithInput(double shunt, double inputImpedance) {
    const double sum = shunt + inputImpedance;
    return sum == 0.0 ? 0.0 : shunt * inputImpedance / sum;
}

ImpedanceResult ImpedanceBranch(const ImpedanceInputs& in) {
    ImpedanceResult result;
    const std::size_t h = in.bins;
    if (h < 3) return result;
    double* za = in.magnitudeA;
    double* pa = in.phaseA;
    double* mb = in.magnitudeB;
    double* pb = in.phaseB;

    // A shunt or input impedance that is no positive number (a minus typed
    // by mistake, an empty box) gives no impedance, rather than a negative
    // or infinite one whose logarithm is no number.
    const bool positive =
        in.shunt > 0 && in.inputImpedance > 0 && std::isfinite(in.shunt) && std::isfinite(in.inputImpedance);
    if (!positive) {
        std::fill(za, za + h, 0.0);
        std::fill(pa, pa + h, 0.0);
        return result;
    }
    result.valid = true;

    za[0] = za[1] = 1e16;
    pa[0] = pa[1] = 0.0;
    const double u = ShuntWithInput(in.shunt, in.inputImpedance);
    const double divider =
        in.serial ? (in.inputImpedance + 1e-14) / (in.inputImpedance + in.shunt + 1e-14) : 1.0;

    for (std::size_t k = 2; k < h; ++k) {
        if (std::fabs(za[k]) < 1e-30) {
            za[k] = za[k - 1];
            pa[k] = pa[k - 1];
            continue;
        }
        double r = mb[k] / za[k] * divider;
        const double phi = pb[k] - pa[k];
        const double x = r * std::cos(phi * kDegToRad) - 1.0;
        const double y = r * std::sin(phi * kDegToRad);
        MagnitudePhase z = ToMagnitudePhaseOne(x, y);
        r = z.magnitude;
        const double measured = z.phase;
        double p = measured;
        if (in.highImpedanceCorrection && in.shunt > 0) {
            const double q = r / in.shunt;
            p = ToMagnitudePhaseOne(x + 100.0 * q * q, y * (36.0 * q * q + 1.0)).phase;
        }
        // The phase as the display shows it: the sign of the serial
        // wiring, the resistor's squeeze, -90 .. 90.
        auto shown = [&](double phase) {
            if (in.serial) phase = -phase;
            phase = Wrap(phase);
            if (in.squeezePhase) phase *= 0.02;
            return std::clamp(phase, -90.0, 90.0);
        };
        if (in.serial) {
            r = std::max(r, 0.001);
            r = u / r;
        } else {
            r *= u;
        }
        if (!std::isfinite(r) || !std::isfinite(p)) {
            za[k] = za[k - 1];
            pa[k] = pa[k - 1];
            continue;
        }
        za[k] = r;
        pa[k] = shown(p);
        if (static_cast<int>(k) == in.readingBin) {
            result.readingValid = true;
            result.readingPhase = shown(measured);
        }
    }
    za[0] = za[1] = za[2];
    pa[0] = pa[1] = pa[2];

    if (in.smooth) {
        for (double* a : {za, pa, mb, pb}) MainsRepair(a, h, in.binWidth);
    }
    double sum = 0.0;
    for (std::size_t i = 5; i + 6 <= h; ++i) sum += pa[i];  // bins 5 .. h - 6
    result.phasePositive = sum > 0.0;
    if (in.smooth) {
        Smooth11(za, h);
        Smooth11(mb, h);
        Smooth11(pb, h);
        if (in.smoothPhase) Smooth11(pa, h);
    }
    return result;
}

RlcClass ClassifyDevice(const double* display, int fftSize, double scale, bool ylog) {
    const int n = fftSize;
    double m1 = 0.0, m2 = 0.0;
    for (int j = 0; j < 200; ++j) {
        // A zero low-frequency |Z| (linear view, silence) would give 0 / 0.
        const double p = std::max(ImpedanceFromDisplay(display[n / 30 + j], scale, ylog), 1e-300);
        m1 += ImpedanceFromDisplay(display[n / 10 + j], scale, ylog) / p;
        m2 += ImpedanceFromDisplay(display[3 * n / 10 + j], scale, ylog) / p;
    }
    m1 *= 0.005;
    m2 *= 0.005;
    if (m1 > 0.9 && m1 < 1.1 && m2 > 0.9 && m2 < 1.1) return RlcClass::Resistive;
    return m1 < 1.0 ? RlcClass::Capacitive : RlcClass::Inductive;
}

TestPoint ChooseTestPoint(const TestPointInputs& in) {
    TestPoint t;
    const int n = in.fftSize;
    const double z0 = in.z0;
    double factor = 0.0;  // 0: the default bin n / 4
    switch (in.cls) {
        case RlcClass::Capacitive:
            if (z0 < 4) {
                factor = 31;
            } else if (z0 < 13) {
                factor = 121;
            } else if (z0 < 130) {
                factor = 1201;
            }
            t.setsCorrection = true;
            t.highImpedanceCorrection = in.smoothChecked && z0 > 1000;
            break;
        case RlcClass::Inductive:
            if (z0 > 10000) {
                factor = 31;
            } else if (z0 > 3000) {
                factor = 121;
            } else if (z0 > 1000) {
                factor = 1201;
            }
            break;
        case RlcClass::Resistive:
            factor = 1025;
            break;
    }
    double bin = factor == 0.0 ? std::trunc(n * 0.25) : std::trunc(factor / 44100.0 * n);
    if (in.overrideHz != 0.0 && in.adcRate > 0) bin = std::trunc(n * in.overrideHz / in.adcRate);
    // An override beyond the band (or below it) reads at its edge.
    const double last = n / 2 - 1;
    if (!(bin >= 1.0)) bin = 1.0;
    if (bin > last) bin = last;
    t.bin = static_cast<int>(bin);

    t.precision = 1;
    if (in.zLimits) {
        const double v = in.shunt / (z0 + 1e-9);
        if (v > in.ratio1 || 1.0 / v > in.ratio1) t.precision = 0;
        if (v > in.ratio2 || 1.0 / v > in.ratio2) t.precision = -1;
    }
    return t;
}

namespace {

RlcReading Average(const ReadingInputs& in, int b, int lo, int hi, double degToRad) {
    RlcReading r;
    const int last = in.bins - 1;
    b = std::clamp(b, 0, std::max(last, 0));
    lo = std::max(lo, 0);
    hi = std::min(hi, last);
    if (lo > hi) lo = hi = b;
    double phase = 0, ohms = 0, c = 0, s = 0, t = 0;
    for (int i = lo; i <= hi; ++i) {
        const double p = in.phase[i];
        const double theta = p * degToRad;
        phase += p;
        ohms += ImpedanceFromDisplay(in.display[i], in.scale, in.ylog);
        c += std::cos(theta);
        s += std::sin(theta);
        t += std::tan(theta);
    }
    const double count = hi - lo + 1;
    r.phase = phase / count;
    r.ohms = ohms / count;
    r.cos = c / count;
    r.sin = std::fabs(s / count);
    r.tan = std::fabs(t / count);
    r.frequency = b * in.binWidth;
    return r;
}

}  // namespace

RlcReading ReactiveReading(const ReadingInputs& in, int b, int w) {
    return Average(in, b, b - w + 1, b + w - 1, kDegToRad);
}

RlcReading ResistiveReading(const ReadingInputs& in, int b, int w) {
    return Average(in, b, b - w, b + w - 1, 3.141592 / 180.0);
}

}  // namespace miral::analysis
