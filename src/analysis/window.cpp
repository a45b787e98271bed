// SPDX-License-Identifier: GPL-3.0-or-later
#include "analysis/window.h"

#include <cmath>
#include <initializer_list>

namespace miral::analysis {
namespace {

const double kPi = 4.0 * std::atan(1.0);

double Theta(std::size_t i, std::size_t count) {
    if (count < 2) return 0.0;
    return 2.0 * kPi * static_cast<double>(i) / static_cast<double>(count - 1);
}

// w(theta) for each window, before the gain.
double HannW(double t) {
    return 0.5 - 0.5 * std::cos(t);
}
double HammingW(double t) {
    return 0.54 - 0.46 * std::cos(t);
}
double BlackmanW(double t) {
    return 0.42 - 0.5 * std::cos(t) + 0.08 * std::cos(2.0 * t);
}
double NuttallW(double t) {
    return 0.3635819 - 0.4891775 * std::cos(t) + 0.1365995 * std::cos(2.0 * t) -
           0.0106411 * std::cos(3.0 * t);
}
double FlatTopW(double t) {
    return 1.0 - 1.93 * std::cos(t) + 1.29 * std::cos(2.0 * t) - 0.388 * std::cos(3.0 * t) +
           0.0322 * std::cos(4.0 * t);
}

template <double (*W)(double)>
void Apply(double* re, std::size_t count, double gain) {
    for (std::size_t i = 0; i < count; ++i) {
        const double w = W(Theta(i, count));
        re[i] = w * gain * re[i];
    }
}

}  // namespace

double WindowFactor(WindowKind kind, std::size_t i, std::size_t count) {
    const double t = Theta(i, count);
    switch (kind) {
        case WindowKind::Rectangular:
            return 1.0;
        case WindowKind::Hann:
            return HannW(t) * kHannGain;
        case WindowKind::Hamming:
            return HammingW(t) * kHammingGain;
        case WindowKind::Blackman:
            return BlackmanW(t) * kBlackmanGain;
        case WindowKind::Nuttall:
            return NuttallW(t) * kNuttallGain;
        case WindowKind::FlatTop:
            return FlatTopW(t) * kFlatTopGain;
    }
    return 1.0;
}

void ApplyHann(double* re, [[maybe_unused]] double* im, std::size_t count) {
    Apply<HannW>(re, count, kHannGain);
}
void ApplyHamming(double* re, [[maybe_unused]] double* im, std::size_t count) {
    Apply<HammingW>(re, count, kHammingGain);
}
void ApplyBlackman(double* re, [[maybe_unused]] double* im, std::size_t count) {
    Apply<BlackmanW>(re, count, kBlackmanGain);
}
void ApplyNuttall(double* re, [[maybe_unused]] double* im, std::size_t count) {
    Apply<NuttallW>(re, count, kNuttallGain);
}
void ApplyFlatTop(double* re, [[maybe_unused]] double* im, std::size_t count) {
    Apply<FlatTopW>(re, count, kFlatTopGain);
}

void ApplyWindow(WindowKind kind, double* re, double* im, std::size_t count) {
    switch (kind) {
        case WindowKind::Rectangular:
            return;
        case WindowKind::Hann:
            ApplyHann(re, im, count);
            return;
        case WindowKind::Hamming:
            ApplyHamming(re, im, count);
            return;
        case WindowKind::Blackman:
            ApplyBlackman(re, im, count);
            return;
        case WindowKind::Nuttall:
            ApplyNuttall(re, im, count);
            return;
        case WindowKind::FlatTop:
            ApplyFlatTop(re, im, count);
            return;
    }
}

CosineWindow CosineWindowOf(WindowKind kind) {
    CosineWindow w;
    auto set = [&w](double gain, std::initializer_list<double> b) {
        w.terms = 0;
        for (double v : b) w.b[static_cast<std::size_t>(w.terms++)] = gain * v;
    };
    switch (kind) {
        case WindowKind::Rectangular:
            set(1.0, {1.0});
            break;
        case WindowKind::Hann:
            set(kHannGain, {0.5, -0.5});
            break;
        case WindowKind::Hamming:
            set(kHammingGain, {0.54, -0.46});
            break;
        case WindowKind::Blackman:
            set(kBlackmanGain, {0.42, -0.5, 0.08});
            break;
        case WindowKind::Nuttall:
            set(kNuttallGain, {0.3635819, -0.4891775, 0.1365995, -0.0106411});
            break;
        case WindowKind::FlatTop:
            set(kFlatTopGain, {1.0, -1.93, 1.29, -0.388, 0.0322});
            break;
    }
    return w;
}

}  // namespace miral::analysis
