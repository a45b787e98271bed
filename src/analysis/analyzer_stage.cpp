// SPDX-License-Identifier: GPL-3.0-or-later
#include "analysis/analyzer_stage.h"

#include <cmath>
#include <utility>

#include "analysis/band.h"
#include "analysis/fft_display.h"
#include "analysis/fft_kernels.h"

namespace miral::analysis {

void SuppressDc(double* values) {
    values[0] = values[2];
    values[1] = values[2];
}

void CorrectChannelDelay(double* phase, std::size_t count, double binWidth, double delayNs) {
    if (delayNs == 0.0 || !std::isfinite(delayNs)) return;
    const double perBin = 360.0 * binWidth * delayNs * 1e-9;
    for (std::size_t i = 0; i < count; ++i) phase[i] -= static_cast<double>(i) * perBin;
}

bool LevelJumpDetector::Update(const double* magnitude, std::size_t bins) {
    double sum = 0.0;
    for (std::size_t i = bins / 4 + 1; i < bins / 3; ++i)
        if (std::isfinite(magnitude[i])) sum += magnitude[i];
    const double now = std::fabs(std::trunc(sum));
    const double before = std::fabs(std::trunc(previous_));
    double r = (now + 1e-10) / (before + 1e-10);
    if (r > 1.0) r = 1.0 / r;
    previous_ = sum;
    return r < 0.1;
}

void ToDisplayUnits(DisplayRow row, double* values, std::size_t count, double scale, double* shown) {
    if (row == DisplayRow::SpectrumLog && shown != nullptr) {
        // The take-over in the conversion's own pass; bin 0 is never taken.
        if (count == 0) return;
        const double first = shown[0];
        ToDisplayLog(values, values, count, scale, BestFftKernel(), shown);
        shown[0] = first;
        return;
    }
    switch (row) {
        case DisplayRow::SpectrumLinear:
            ToDisplayLinear(values, values, count, scale);
            break;
        case DisplayRow::SpectrumLog:
            ToDisplayLog(values, values, count, scale);
            break;
        case DisplayRow::GainLinear:
            for (std::size_t i = 0; i < count; ++i) values[i] = values[i] * scale * 1904.8;
            break;
        case DisplayRow::GainLog:
            for (std::size_t i = 0; i < count; ++i)
                values[i] = values[i] == 0.0 ? -450.0 : scale * 2000.0 * std::log(values[i]);
            break;
    }
    if (shown != nullptr)
        for (std::size_t i = 1; i < count; ++i)
            if (std::isfinite(values[i])) shown[i] = values[i];
}

void RepairLowGainBins(double* values) {
    values[50] = (values[48] + values[52]) / 2.0;
    values[49] = (values[48] + values[50]) / 2.0;
    values[51] = (values[52] + values[50]) / 2.0;
}

double LfAverage(double average, double fresh) {
    if (!std::isfinite(fresh)) return average;
    if (!std::isfinite(average)) return fresh;
    return 0.9 * average + 0.1 * fresh;
}

namespace {

void Take(double& shown, double fresh) {
    if (std::isfinite(fresh)) shown = fresh;
}

// LfAverage over bins 1 .. h - 1, with the vector kernel where the CPU has it.
void Average(double* shown, const double* fresh, std::size_t h) {
    if (h < 2) return;
    if (detail::CpuHasAvx2Fma()) {
        detail::LfAverageAvx2(shown + 1, fresh + 1, h - 1);
        return;
    }
    for (std::size_t i = 1; i < h; ++i) shown[i] = LfAverage(shown[i], fresh[i]);
}

}  // namespace

bool UpdateDisplay(const DisplayUpdate& u) {
    const std::size_t h = u.bins;
    if ((!u.primed || !u.lowf) && !u.transfer && !u.keepA && h >= 2 && detail::CpuHasAvx2Fma()) {
        if (!u.taken) {
            detail::TakeFiniteAvx2(u.displayB + 1, u.b + 1, h - 1);
            detail::TakeFiniteAvx2(u.displayA + 1, u.a + 1, h - 1);
        }
        detail::TakeFiniteAvx2(u.displayPhase + 1, u.phaseA + 1, h - 1);
        return true;
    }
    if (!u.primed || !u.lowf) {
        for (std::size_t i = 1; i < h; ++i) {
            if (u.transfer && u.a[i] < -4200.0) continue;
            if (!u.taken) Take(u.displayB[i], u.b[i]);
            if (u.keepA) continue;
            if (!u.taken) Take(u.displayA[i], u.a[i]);
            Take(u.displayPhase[i], u.phaseA[i]);
        }
        return u.keepA ? u.primed : true;  // no reading: A is still to be primed
    }
    if (u.hold) return true;  // the frozen average stays on the screen
    // Which way the phase runs this cycle decides how a wrapped value is
    // brought back next to its average.
    bool rising = false;
    if (u.phaseUnwrap) {
        double sum = 0.0;
        for (std::size_t i = 5; i + 6 <= h; ++i)  // bins 5 .. h - 6
            if (std::isfinite(u.phaseA[i])) sum += u.phaseA[i];
        rising = sum > 0.0;
    }
    if (!u.transfer && !u.keepA && !u.phaseUnwrap) {
        // The plain spectrum: every bin the same three averages, in a loop of
        // selections without branches, which the compiler makes vector code of.
        Average(u.displayA, u.a, h);
        Average(u.displayB, u.b, h);
        Average(u.displayPhase, u.phaseA, h);
        return true;
    }
    for (std::size_t i = 1; i < h; ++i) {
        if (u.transfer && u.a[i] < -4200.0) continue;
        u.displayB[i] = LfAverage(u.displayB[i], u.b[i]);
        if (u.keepA) continue;
        u.displayA[i] = LfAverage(u.displayA[i], u.a[i]);
        double p = u.phaseA[i];
        const double q = u.displayPhase[i];
        if (u.phaseUnwrap) {
            if (rising && q - p > 270.0) p += 360.0;
            if (!rising && q - p < -270.0) p -= 360.0;
        }
        u.displayPhase[i] = LfAverage(q, p);
    }
    return true;
}

void MainsRepair(double* values, std::size_t count, double binWidth) {
    if (!(binWidth > 0.0)) return;
    for (double f : {50.0, 100.0, 150.0}) {
        const double b = std::trunc(f / binWidth);
        if (b - 3 < 0 || b + 3 >= static_cast<double>(count)) continue;
        const auto i = static_cast<std::size_t>(b);
        values[i] = (values[i - 3] + values[i + 3]) / 2.0;
    }
}

void Smooth11(double* values, std::size_t bins) {
    if (bins < 11) return;
    // The original values i - 5 .. i + 5, original j kept at ring[j % 11]:
    // the bins left of i are already smoothed in place.
    double ring[11];
    for (std::size_t j = 0; j < 11; ++j) ring[j] = values[j];
    for (std::size_t i = 5; i + 6 <= bins; ++i) {
        double sum = 0.0;
        for (std::size_t j = i - 5; j <= i + 5; ++j) sum += ring[j % 11];
        values[i] = sum / 11.0;
        if (i + 6 < bins) ring[(i + 6) % 11] = values[i + 6];
    }
}

void PeakList::Insert(double value, int bin) {
    for (int k = 0; k < kKept; ++k) {
        if (value > slot[static_cast<std::size_t>(k)].value) {
            for (int j = kKept; j > k; --j)
                slot[static_cast<std::size_t>(j)] = slot[static_cast<std::size_t>(j - 1)];
            slot[static_cast<std::size_t>(k)] = Peak{value, bin};
            return;
        }
    }
}

void PeakList::Scan(const double* values, int first, int end, double minLevel) {
    for (int i = first < 1 ? 1 : first; i < end; ++i) {
        const double v = values[i];
        if (v > minLevel && v >= values[i - 1] && v >= values[i + 1]) Insert(v, i);
    }
}

int PeakList::ChooseFundamental(bool solo) {
    for (int k = 1; k < kKept; ++k)
        if (slot[static_cast<std::size_t>(k)].value < 0.1 * slot[0].value)
            slot[static_cast<std::size_t>(k)] = Peak{};
    if (solo) {
        for (int k = 1; k < kKept; ++k) {
            Peak& p = slot[static_cast<std::size_t>(k)];
            if (p.bin < slot[0].bin && p.value > 0.33 * slot[0].value) std::swap(p, slot[0]);
        }
    }
    return slot[0].bin;
}

void PeakList::SortByBin() {
    for (int i = 0; i < kKept - 1; ++i)
        for (int j = i + 1; j < kKept; ++j)
            if (slot[static_cast<std::size_t>(j)].bin < slot[static_cast<std::size_t>(i)].bin)
                std::swap(slot[static_cast<std::size_t>(i)], slot[static_cast<std::size_t>(j)]);
}

TunerReading ReadTuner(double f) {
    TunerReading r;
    if (!std::isfinite(f) || f < 0.0) f = 0.0;
    if (f > 1e9) f = 1e9;  // far beyond any band: keeps the whole-hertz texts in range
    r.roundedHz = static_cast<long long>(f + 0.5);
    r.measuredHz = std::trunc(f);
    r.note = NoteIndex(f);
    r.cents = CentsOffset(f);
    r.shownCents = static_cast<int>(r.cents);
    r.outOfTune = r.shownCents > 9 || r.shownCents < -9;
    return r;
}

}  // namespace miral::analysis
