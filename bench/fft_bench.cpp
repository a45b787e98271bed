// SPDX-License-Identifier: GPL-3.0-or-later
// The analysis part of one frequency-view cycle for both channels: window,
// transform, magnitude, phase (all n bins) and the logarithmic display
// conversion of the n/2 bins shown. Ours against the same work built on FFTW
// (one r2c plan, FFTW_PATIENT, run once per channel) with plain loops for the
// rest, in two builds of those loops: scalar libm calls, and auto-vectorised
// AVX2 calls into glibc's vector math library.
#include <benchmark/benchmark.h>
#include <fftw3.h>

#include <cmath>
#include <random>
#include <vector>

#include "analysis/fft.h"
#include "analysis/fft_display.h"
#include "analysis/fft_engine.h"
#include "analysis/window.h"

namespace {

using namespace miral::analysis;

constexpr WindowKind kWindow = WindowKind::Hann;
constexpr double kScale = 1.0;

struct Buffers {
    std::vector<double> timeA, timeB;
    std::vector<double> magA, phaseA, magB, phaseB;
    explicit Buffers(std::size_t n)
        : timeA(n), timeB(n), magA(65537), phaseA(65537), magB(65537), phaseB(65537) {
        std::mt19937 rng(3);
        std::normal_distribution<double> noise(0.0, 50.0);
        for (std::size_t i = 0; i < n; ++i) {
            timeA[i] = 20000.0 * std::sin(0.0123 * static_cast<double>(i)) + noise(rng);
            timeB[i] = 9000.0 * std::sin(0.31 * static_cast<double>(i)) + noise(rng);
        }
    }
};

void Ours(benchmark::State& state, FftKernel kernel) {
    const auto n = static_cast<std::size_t>(state.range(0));
    Buffers buf(n);
    SpectrumEngine engine;
    if (!engine.UseKernel(kernel)) {
        state.SkipWithError("kernel not supported on this CPU");
        return;
    }
    engine.Prepare(n, kWindow);
    for (auto _ : state) {
        engine.Analyze(buf.timeA.data(), buf.timeB.data(), n, kWindow, buf.magA.data(), buf.phaseA.data(),
                       buf.magB.data(), buf.phaseB.data());
        ToDisplayLog(buf.magA.data(), buf.magA.data(), n / 2, kScale, kernel);
        ToDisplayLog(buf.magB.data(), buf.magB.data(), n / 2, kScale, kernel);
        benchmark::ClobberMemory();
    }
}
void BM_Miral(benchmark::State& state) {
    Ours(state, BestFftKernel());
}
void BM_MiralPortable(benchmark::State& state) {
    Ours(state, FftKernel::Portable);
}

// ---- FFTW baseline ----

struct FftwCycle {
    std::size_t n;
    double* in;
    fftw_complex* out;
    fftw_plan plan;
    std::vector<double> window;

    explicit FftwCycle(std::size_t size)
        : n(size),
          in(fftw_alloc_real(size)),
          out(fftw_alloc_complex(size / 2 + 1)),
          plan(fftw_plan_dft_r2c_1d(static_cast<int>(size), in, out, FFTW_PATIENT)),
          window(size) {
        for (std::size_t i = 0; i < n; ++i) window[i] = WindowFactor(kWindow, i, n + 1);
    }
    ~FftwCycle() {
        fftw_destroy_plan(plan);
        fftw_free(in);
        fftw_free(out);
    }
    FftwCycle(const FftwCycle&) = delete;
    FftwCycle& operator=(const FftwCycle&) = delete;
};

// The plain loops of one channel: window, transform, magnitude and phase of
// bins 0 .. n/2, the upper half mirrored (conjugate), then the display log.
#define MIRAL_FFTW_CHANNEL_BODY                                              \
    const std::size_t n = c.n;                                               \
    for (std::size_t i = 0; i < n; ++i) c.in[i] = time[i] * c.window[i];     \
    fftw_execute(c.plan);                                                    \
    const double inv = 1.0 / static_cast<double>(n);                         \
    for (std::size_t k = 0; k <= n / 2; ++k) {                               \
        const double re = c.out[k][0] * inv;                                 \
        const double im = c.out[k][1] * inv;                                 \
        const double ax = std::fabs(re);                                     \
        const bool tiny = !(ax >= kPhaseTinyReal);                           \
        const double deg = std::atan(im / ax) * kDegreesPerRadian;           \
        const double p = tiny ? (im >= 0 ? 90.0 : -90.0) : deg;              \
        const double pm = tiny ? (im <= 0 ? 90.0 : -90.0) : -deg;            \
        mag[k] = std::sqrt(re * re + im * im);                               \
        phase[k] = re < 0 ? 180.0 - p : p;                                   \
        mirror[k] = re < 0 ? 180.0 - pm : pm;                                \
    }                                                                        \
    for (std::size_t k = 1; k < n / 2; ++k) {                                \
        mag[n - k] = mag[k];                                                 \
        phase[n - k] = mirror[k];                                            \
    }                                                                        \
    for (std::size_t k = 0; k < n / 2; ++k) {                                \
        const double m = mag[k];                                             \
        mag[k] = m == 0 ? -450.0 : kScale * (2000.0 * std::log(m) - 5160.0); \
    }

__attribute__((noinline, optimize("no-tree-vectorize"))) void FftwChannelScalar(FftwCycle& c,
                                                                                const double* time,
                                                                                double* mag, double* phase,
                                                                                double* mirror) {
    MIRAL_FFTW_CHANNEL_BODY
}

__attribute__((noinline, target("avx2,fma"))) void FftwChannelVector(FftwCycle& c, const double* time,
                                                                     double* mag, double* phase,
                                                                     double* mirror) {
    MIRAL_FFTW_CHANNEL_BODY
}

void Fftw(benchmark::State& state, bool vector) {
    const auto n = static_cast<std::size_t>(state.range(0));
    if (vector && !FftKernelSupported(FftKernel::Avx2)) {
        state.SkipWithError("no AVX2 on this CPU");
        return;
    }
    Buffers buf(n);
    FftwCycle cycle(n);
    std::vector<double> mirror(n / 2 + 1);
    for (auto _ : state) {
        if (vector) {
            FftwChannelVector(cycle, buf.timeA.data(), buf.magA.data(), buf.phaseA.data(), mirror.data());
            FftwChannelVector(cycle, buf.timeB.data(), buf.magB.data(), buf.phaseB.data(), mirror.data());
        } else {
            FftwChannelScalar(cycle, buf.timeA.data(), buf.magA.data(), buf.phaseA.data(), mirror.data());
            FftwChannelScalar(cycle, buf.timeB.data(), buf.magB.data(), buf.phaseB.data(), mirror.data());
        }
        benchmark::ClobberMemory();
    }
}
void BM_FftwScalarLoops(benchmark::State& state) {
    Fftw(state, false);
}
void BM_FftwVectorLoops(benchmark::State& state) {
    Fftw(state, true);
}

// The two transforms alone, for scale.
void BM_FftwTransformsOnly(benchmark::State& state) {
    const auto n = static_cast<std::size_t>(state.range(0));
    FftwCycle cycle(n);
    for (std::size_t i = 0; i < n; ++i) cycle.in[i] = std::sin(0.1 * static_cast<double>(i));
    for (auto _ : state) {
        fftw_execute(cycle.plan);
        fftw_execute(cycle.plan);
        benchmark::ClobberMemory();
    }
}

#define MIRAL_SIZES ->Arg(2048)->Arg(16384)->Arg(65536)->Unit(benchmark::kMicrosecond)
BENCHMARK(BM_Miral) MIRAL_SIZES;
BENCHMARK(BM_FftwVectorLoops) MIRAL_SIZES;
BENCHMARK(BM_FftwScalarLoops) MIRAL_SIZES;
BENCHMARK(BM_FftwTransformsOnly) MIRAL_SIZES;
BENCHMARK(BM_MiralPortable) MIRAL_SIZES;

}  // namespace

BENCHMARK_MAIN();
