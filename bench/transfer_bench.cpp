// SPDX-License-Identifier: GPL-3.0-or-later
// The device views: whole processing cycles in the transfer-function view,
// the impedance view and with the RLC meter on the screen, on the simulated
// bench with a device under test, drawing into QImage canvases; and the
// transfer and impedance stages alone over the largest spectrum.
//
// Counters: cycles (or stages) per CPU second and heap allocations per
// cycle (must be 0).
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "analysis/impedance.h"
#include "analysis/transfer.h"
#include "bench_instrument.h"

using miral::bench::BenchInstrument;

namespace {

using namespace miral;

enum class View { Transfer, Impedance, RlcMeter };

// Cycles at 16384 points (divider 4) or 65536 (divider 1).
void runCycles(benchmark::State& state, View view, int divider) {
    BenchInstrument b("transfer",
                      view == View::Transfer ? "rc-lowpass:R=1000,C=1e-7" : "shunt:R=10,C=1u,ESR=0.1");
    b.set("ComboBox3", std::to_string(divider));
    b.set(view == View::Transfer ? "trasf" : "zeta", "1");
    b.runner.runFor(0.05);
    if (view == View::RlcMeter) b.set("rlcmode", "1");
    // The LF average is on again after 0.7 s; the meter has tuned its tone.
    b.runner.runFor(65536.0 / 44100 + 1.0);
    if (b.in.st.FftSize != 65536 / divider) throw std::runtime_error("FFT size not applied");
    b.timeCycles(state);
}

void BM_TransferCycle16384(benchmark::State& state) {
    runCycles(state, View::Transfer, 4);
}
void BM_TransferCycle65536(benchmark::State& state) {
    runCycles(state, View::Transfer, 1);
}
void BM_ImpedanceCycle16384(benchmark::State& state) {
    runCycles(state, View::Impedance, 4);
}
void BM_RlcMeterCycle16384(benchmark::State& state) {
    runCycles(state, View::RlcMeter, 4);
}
BENCHMARK(BM_TransferCycle16384)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_TransferCycle65536)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ImpedanceCycle16384)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RlcMeterCycle16384)->Unit(benchmark::kMicrosecond);

// The stages alone on 32768 bins, smoothing on ("Avg"); the inputs are
// restored before each run (not timed).
struct Arrays {
    std::vector<double> ma, pa, mb, pb, ma0, pa0, mb0, pb0;
    Arrays() {
        const std::size_t h = 32768;
        for (auto* v : {&ma0, &pa0, &mb0, &pb0}) v->resize(h);
        for (std::size_t i = 0; i < h; ++i) {
            mb0[i] = 1000 + 100 * std::sin(0.1 * static_cast<double>(i));
            ma0[i] = mb0[i] / (1 + static_cast<double>(i) / 3000);
            pb0[i] = std::fmod(37.0 * static_cast<double>(i), 360.0) - 90;
            pa0[i] = pb0[i] - 30;
        }
        reset();
    }
    void reset() {
        ma = ma0;
        pa = pa0;
        mb = mb0;
        pb = pb0;
    }
};

void BM_TransferStage(benchmark::State& state) {
    Arrays a;
    for (auto _ : state) {
        state.PauseTiming();
        a.reset();
        state.ResumeTiming();
        analysis::TransferInputs in;
        in.magnitudeA = a.ma.data();
        in.phaseA = a.pa.data();
        in.magnitudeB = a.mb.data();
        in.phaseB = a.pb.data();
        in.bins = a.ma.size();
        in.minLevel = 10;
        in.smooth = true;
        in.binWidth = 0.67;
        benchmark::DoNotOptimize(analysis::TransferBranch(in));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_TransferStage)->Unit(benchmark::kMicrosecond);

void BM_ImpedanceStage(benchmark::State& state) {
    Arrays a;
    for (auto _ : state) {
        state.PauseTiming();
        a.reset();
        state.ResumeTiming();
        analysis::ImpedanceInputs in;
        in.magnitudeA = a.ma.data();
        in.phaseA = a.pa.data();
        in.magnitudeB = a.mb.data();
        in.phaseB = a.pb.data();
        in.bins = a.ma.size();
        in.smooth = true;
        in.binWidth = 0.67;
        benchmark::DoNotOptimize(analysis::ImpedanceBranch(in));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ImpedanceStage)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    return miral::bench::RunBenchmarks(argc, argv);
}
