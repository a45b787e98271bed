// SPDX-License-Identifier: GPL-3.0-or-later
// One table rebuild, as run once per knob movement step.

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "generator/table_builder.h"

namespace {

using namespace miral::generator;

enum Setup {
    kSine,
    kTriangle,
    kSquareDuty,
    kNoise,
    kSineSweep,
    kSquareSweepWide,
    kAdd,
    kAm,
    kDsb,
    kFm,
    kDual,
    kEverythingSweep,
    kEverythingFm,
};

GeneratorControls controlsFor(int setup, int rate) {
    GeneratorControls c;
    c.genon1 = true;
    c.genampl = 80;
    c.dacRate = rate;
    c.genfreq2 = 1230;
    c.auxRange = 100;
    auto allWaveforms = [&] {
        c.gensin1 = c.gentri1 = c.gensqr1 = c.gennoise1 = true;
        c.genon2 = c.gensin2 = c.gentri2 = c.gensqr2 = true;
    };
    switch (setup) {
        case kTriangle:
            c.gensin1 = false;
            c.gentri1 = true;
            break;
        case kSquareDuty:
            c.gensin1 = false;
            c.gensqr1 = true;
            c.sweepRange = SweepRange::Thousand;
            break;
        case kNoise:
            c.gensin1 = false;
            c.gennoise1 = true;
            break;
        case kSineSweep:
            c.gensweep1 = true;
            c.sweepRange = SweepRange::Hundred;
            break;
        case kSquareSweepWide:
            c.gensin1 = false;
            c.gensqr1 = true;
            c.gensweep1 = true;
            c.sweepRange = SweepRange::Thousand;
            c.genfreq = 10000;
            c.mainRange = 1000;
            break;
        case kAdd:
            c.genon2 = true;
            break;
        case kAm:
            c.genon2 = true;
            c.modulationMode = kModeAm;
            break;
        case kDsb:
            c.genon2 = true;
            c.modulationMode = kModeDsb;
            break;
        case kFm:
            c.genon2 = true;
            c.modulationMode = kModeFm;
            break;
        case kDual:
            c.genon2 = true;
            c.gentri2 = true;
            c.modulationMode = kModeDual;
            break;
        case kEverythingSweep:
            allWaveforms();
            c.gensweep1 = true;
            c.modulationMode = kModeAm;
            break;
        case kEverythingFm:
            allWaveforms();
            c.modulationMode = kModeFm;
            break;
        default:
            break;
    }
    return c;
}

void BM_Rebuild(benchmark::State& bench, int setup, int rate) {
    const GeneratorControls c = controlsFor(setup, rate);
    GeneratorState state;
    std::vector<float> a(kMaxTableLength), b(kMaxTableLength);
    buildTables(c, state, a.data(), b.data());  // sine grid for this length
    for (auto _ : bench) {
        buildTables(c, state, a.data(), b.data());
        benchmark::DoNotOptimize(a.data());
        benchmark::ClobberMemory();
    }
}

// Square with the rate adjustment and an aux sine, stepping the frequency by
// 1 Hz each rebuild: the length changes every time, so the sine grid is
// rebuilt too.
void BM_RateAdjustedStepping(benchmark::State& bench) {
    GeneratorControls c = controlsFor(kAdd, 192000);
    c.gensin1 = false;
    c.gensqr1 = true;
    c.freqVar = true;
    c.genfreq = 1000;
    c.mainRange = 1;
    GeneratorState state;
    std::vector<float> a(kMaxTableLength), b(kMaxTableLength);
    int hz = 1;
    for (auto _ : bench) {
        hz = hz % 9 + 1;  // 1 .. 9 Hz: every length near 192000
        c.genfreq = hz * 1000;
        buildTables(c, state, a.data(), b.data());
        benchmark::DoNotOptimize(a.data());
        benchmark::ClobberMemory();
    }
}

const int registered = [] {
    struct Named {
        const char* name;
        int setup;
    };
    const Named setups[] = {
        {"Sine", kSine},
        {"Triangle", kTriangle},
        {"SquareDuty", kSquareDuty},
        {"Noise", kNoise},
        {"SineSweep", kSineSweep},
        {"SquareSweep1K", kSquareSweepWide},
        {"Add", kAdd},
        {"Am", kAm},
        {"Dsb", kDsb},
        {"Fm", kFm},
        {"Dual", kDual},
        {"EverythingSweepAm", kEverythingSweep},
        {"EverythingFm", kEverythingFm},
    };
    benchmark::RegisterBenchmark("Rebuild/44100/Sine", BM_Rebuild, kSine, 44100)
        ->Unit(benchmark::kMillisecond);
    for (const Named& s : setups)
        benchmark::RegisterBenchmark((std::string("Rebuild/192000/") + s.name).c_str(), BM_Rebuild, s.setup,
                                     192000)
            ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("Rebuild/RateAdjustedStepping", BM_RateAdjustedStepping)
        ->Unit(benchmark::kMillisecond);
    return 0;
}();

}  // namespace

BENCHMARK_MAIN();
