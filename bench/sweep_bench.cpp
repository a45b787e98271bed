// SPDX-License-Identifier: GPL-3.0-or-later
// The swept measurement's computing time: a 3 s sweep from 20 Hz to 20 kHz,
// played through a device with a little distortion and recorded on both
// channels, then deconvolved and read at 30 points per decade.
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "analysis/log_sweep.h"

namespace {

using miral::analysis::AnalyzeLogSweep;
using miral::analysis::LogSweepPlan;
using miral::analysis::PlanLogSweep;
using miral::analysis::RenderLogSweep;

void BM_LogSweepAnalysis(benchmark::State& state) {
    const double rate = static_cast<double>(state.range(0));
    const LogSweepPlan plan = PlanLogSweep(20, 20000, 3.0, rate);
    std::vector<double> x(plan.samples + static_cast<std::size_t>(rate / 2), 0.0);
    RenderLogSweep(plan, x.data());
    std::vector<double> y(x.size());
    for (std::size_t i = 0; i < x.size(); ++i) {
        const double v = 0.5 * x[i];
        x[i] = v;
        y[i] = v + 0.002 * v * v + 0.0006 * v * v * v;
    }
    std::vector<double> freqs;
    for (int i = 0; i <= 90; ++i) freqs.push_back(20 * std::pow(1000.0, i / 90.0));
    for (auto _ : state) {
        auto r = AnalyzeLogSweep(plan, 0.5, y.data(), x.data(), y.size(), freqs);
        benchmark::DoNotOptimize(r.gainDb.data());
    }
    state.SetLabel(std::to_string(static_cast<int>(rate)) + " Hz, " + std::to_string(plan.samples) +
                   " samples");
}
BENCHMARK(BM_LogSweepAnalysis)->Arg(48000)->Arg(96000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
