// SPDX-License-Identifier: GPL-3.0-or-later
// Processing cycles per CPU-second: the instrument runs headless on the
// simulated bench (its generator looped back into the inputs), drawing into a
// QImage screen buffer as in the window. One benchmark iteration is one
// simulated millisecond: the bench's audio for that millisecond and one
// processing cycle (every hundredth also the housekeeping tick).
#include "bench_instrument.h"

namespace {

using miral::bench::BenchInstrument;

void BM_TimeViewCycle(benchmark::State& state) {
    BenchInstrument h("cycle", "");
    h.set("genon1", "1");
    h.set("Tempo", "1");
    h.set("mainselect", std::to_string(state.range(0)));
    h.runner.runFor(0.5);
    const long before = miral::testing::allocations.load(std::memory_order_relaxed);
    for (auto _ : state) h.runner.runFor(0.001);
    const long allocated = miral::testing::allocations.load(std::memory_order_relaxed) - before;
    state.SetItemsProcessed(state.iterations());
    state.counters["allocs_per_cycle"] =
        benchmark::Counter(static_cast<double>(allocated) / static_cast<double>(state.iterations()));
    state.counters["cycles_per_cpu_s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
// "100mSec" (the slowest of the cheap positions), "1mSec" and "1Sec".
BENCHMARK(BM_TimeViewCycle)->Arg(2)->Arg(6)->Arg(0);

// A full-scale 440 Hz sine at "1mSec" on both channels: at 1 V/div it fits
// the screen; at 5 mV/div with x10 (state.range(0) == 0) it runs about 400
// screens above and below it, and the cycle must cost about the same.
void BM_TimeViewRange(benchmark::State& state) {
    BenchInstrument h("cycle_range", "");
    h.set("genampl", "100");
    h.set("genon1", "1");
    h.set("Tempo", "1");
    h.set("mainselect", "6");
    const bool fine = state.range(0) == 0;
    for (const char* range : {"range1", "range2"}) h.set(range, fine ? "0" : "7");
    for (const char* x10 : {"dc1", "dc2"}) h.set(x10, fine ? "1" : "0");
    h.runner.runFor(0.5);
    for (auto _ : state) h.runner.runFor(0.001);
    state.SetItemsProcessed(state.iterations());
    state.counters["cycles_per_cpu_s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.SetLabel(fine ? "5mV/div x10" : "1V/div");
}
BENCHMARK(BM_TimeViewRange)->Arg(7)->Arg(0);

}  // namespace

int main(int argc, char** argv) {
    return miral::bench::RunBenchmarks(argc, argv);
}
