// SPDX-License-Identifier: GPL-3.0-or-later
// What the distortion analyzer adds to a processing cycle that has a new
// window. In the cycle the spectrum display has already transformed the
// window, and the analyzer applies its 7-term window to those spectra
// (AnalyzeSpectra): the windowed power spectra, their average, the fit of the
// fundamental and the sums of both channels' figures. Alone (Analyze) it
// transforms the window itself first. Cycles without new samples do not
// measure again and add nothing.
//
// Counters: allocations per measurement (must be 0).
#include <benchmark/benchmark.h>

#include <cmath>
#include <numbers>
#include <random>
#include <vector>

#include "analysis/distortion_analyzer.h"
// GCC sees std::free on memory of the replaced operator new once it inlines
// both into this file; they do belong together.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#include "support/counting_new.h"
#pragma GCC diagnostic pop

namespace {

using namespace miral::analysis;

struct Input {
    std::vector<double> a, b;
    DistSettings s;
};

Input MakeInput(std::size_t n, int averages) {
    const double rate = 48000;
    Input in;
    in.a.resize(n);
    in.b.resize(n);
    std::mt19937 rng(5);
    std::normal_distribution<double> noise(0.0, 1.0);
    for (std::size_t i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) / rate;
        in.a[i] = 30000 * std::sin(2 * std::numbers::pi * 997.3 * t) +
                  3 * std::sin(2 * std::numbers::pi * 2 * 997.3 * t) + noise(rng);
        in.b[i] = 20000 * std::sin(2 * std::numbers::pi * 3001.7 * t) + noise(rng);
    }
    in.s.binWidth = rate / static_cast<double>(n);
    in.s.bandLow = 20;
    in.s.bandHigh = 20000;
    in.s.averages = averages;
    return in;
}

// In the cycle: after the display's transform (Hann) of the same window.
void BM_DistortionInCycle(benchmark::State& state) {
    const auto n = static_cast<std::size_t>(state.range(0));
    const Input in = MakeInput(n, static_cast<int>(state.range(1)));
    SpectrumEngine display;
    std::vector<double> mag[2], phase[2];
    for (int c = 0; c < 2; ++c) {
        mag[c].resize(n + 1);
        phase[c].resize(n + 1);
    }
    display.Analyze(in.a.data(), in.b.data(), n, WindowKind::Hann, mag[0].data(), phase[0].data(),
                    mag[1].data(), phase[1].data());
    DistortionAnalyzer analyzer;
    analyzer.AnalyzeSpectra(display, n, in.s);
    long allocated = 0, runs = 0;
    for (auto _ : state) {
        const long before = miral::testing::allocations.load(std::memory_order_relaxed);
        analyzer.AnalyzeSpectra(display, n, in.s);
        allocated += miral::testing::allocations.load(std::memory_order_relaxed) - before;
        ++runs;
        benchmark::DoNotOptimize(analyzer.figures(0).thdNDb);
    }
    if (analyzer.figures(0).status != DistStatus::Ok) state.SkipWithError("no measurement");
    state.counters["allocs_per_measurement"] =
        benchmark::Counter(static_cast<double>(allocated) / static_cast<double>(runs));
}
BENCHMARK(BM_DistortionInCycle)
    ->Args({16384, 1})
    ->Args({65536, 1})
    ->Args({65536, 100})
    ->Unit(benchmark::kMicrosecond);

// Alone: the analyzer transforms the window itself.
void BM_DistortionAnalyze(benchmark::State& state) {
    const auto n = static_cast<std::size_t>(state.range(0));
    const Input in = MakeInput(n, static_cast<int>(state.range(1)));
    const std::vector<double>& a = in.a;
    const std::vector<double>& b = in.b;
    const DistSettings& s = in.s;
    DistortionAnalyzer analyzer;
    analyzer.Analyze(a.data(), b.data(), n, s);  // tables for this size
    long allocated = 0, runs = 0;
    for (auto _ : state) {
        const long before = miral::testing::allocations.load(std::memory_order_relaxed);
        analyzer.Analyze(a.data(), b.data(), n, s);
        allocated += miral::testing::allocations.load(std::memory_order_relaxed) - before;
        ++runs;
        benchmark::DoNotOptimize(analyzer.figures(0).thdNDb);
    }
    if (analyzer.figures(0).status != DistStatus::Ok) state.SkipWithError("no measurement");
    state.counters["allocs_per_measurement"] =
        benchmark::Counter(static_cast<double>(allocated) / static_cast<double>(runs));
}
BENCHMARK(BM_DistortionAnalyze)
    ->Args({16384, 1})
    ->Args({65536, 1})
    ->Args({65536, 100})
    ->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
