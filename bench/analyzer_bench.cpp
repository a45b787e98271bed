// SPDX-License-Identifier: GPL-3.0-or-later
// Speed of the spectrum view: one processing cycle of the instrument driven
// headless on the simulated bench (a 1 kHz sine with harmonics and noise),
// drawing into a QImage screen buffer of twice the default screen and
// presenting onto a QImage of the screen, with the note and frequency
// labels, the tuner boxes and the default "Max" column rule. The simulated
// card's own rendering is done before the timing starts: the cycle analyses
// the newest window the ring holds, whether or not new samples arrived.
//
// Counters: cycles per CPU second (items_per_second) and heap allocations
// per cycle (must be 0).
#include "bench_instrument.h"

namespace {

using miral::bench::BenchInstrument;

// divider: the FFT divider (4: 16384 points, 1: 65536). options: 1 colour
// by deviation, 2 every bin drawn (neither "Avg" nor "Max").
void runCycles(benchmark::State& state, int divider, int options) {
    BenchInstrument b("analyzer", "harmonics:h2=-40,h3=-50+noise:dbfs=-90");
    b.set("ComboBox3", std::to_string(divider));
    b.set("genfreq", "1000");
    b.set("genx4", "1");
    b.set("genampl", "80");
    b.set("genon1", "1");
    b.set("vedifreq", "1");
    b.set("vedinota", "1");
    if (options == 1) b.set("color", "1");
    if (options == 2) b.set("maxx", "0");
    b.runner.runFor(65536.0 / 44100 + 0.3);
    if (b.in.st.FftSize != 65536 / divider) throw std::runtime_error("FFT size not applied");
    b.timeCycles(state);
    state.counters["fft_size"] = b.in.st.FftSize;
}

void BM_SpectrumCycle16384(benchmark::State& state) {
    runCycles(state, 4, 0);
}
void BM_SpectrumCycle65536(benchmark::State& state) {
    runCycles(state, 1, 0);
}
void BM_SpectrumCycle16384Color(benchmark::State& state) {
    runCycles(state, 4, 1);
}
void BM_SpectrumCycle16384EveryBin(benchmark::State& state) {
    runCycles(state, 4, 2);
}
BENCHMARK(BM_SpectrumCycle16384)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SpectrumCycle65536)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SpectrumCycle16384Color)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SpectrumCycle16384EveryBin)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    return miral::bench::RunBenchmarks(argc, argv);
}
