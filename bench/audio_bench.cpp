// SPDX-License-Identifier: GPL-3.0-or-later
// Costs of the audio spine: one acquisition of the largest window, the
// capture and playback callbacks per frame, and the simulated bench.

#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <vector>

#include "audio/callbacks.h"
#include "audio/capture_ring.h"
#include "audio/playback_tables.h"
#include "audio/streams.h"

namespace {

using namespace miral::audio;

// One acquisition of 65536 samples per channel (target: under 0.3 ms).
void BM_AcquireWindow65536(benchmark::State& state) {
    auto ring = std::make_unique<CaptureRing>();
    for (int i = 0; i < CaptureRing::kSize; ++i) {
        ring->CaptureA[i].store(static_cast<float>(std::sin(i * 0.01)));
        ring->CaptureB[i].store(static_cast<float>(std::cos(i * 0.01)));
    }
    ring->WriteIndex.store(1000);  // the window wraps
    std::vector<double> a(65536), b(65536);
    for (auto _ : state) {
        const AcquiredWindow w = AcquireWindow(*ring, 65536, a.data(), b.data());
        benchmark::DoNotOptimize(w);
        benchmark::DoNotOptimize(a.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * 65536);
}
BENCHMARK(BM_AcquireWindow65536)->Unit(benchmark::kMicrosecond);

// The cycle's reader of the same window while a capture callback keeps
// adding 735 frames (a 60th of a second at 44100 Hz) between reads.
void BM_WindowReader65536(benchmark::State& state) {
    auto ring = std::make_unique<CaptureRing>();
    CaptureContext ctx;
    ctx.ring = ring.get();
    std::vector<float> frames(2 * 735);
    for (std::size_t i = 0; i < frames.size(); ++i) frames[i] = static_cast<float>(std::sin(i * 0.01));
    for (int k = 0; k < 100; ++k) CaptureFloat(nullptr, frames.data(), 735, 0.0, 0, &ctx);
    WindowReader reader;
    std::vector<double> a(65536), b(65536);
    for (auto _ : state) {
        CaptureFloat(nullptr, frames.data(), 735, 0.0, 0, &ctx);
        const AcquiredWindow w = reader.Read(*ring, 65536, 1.0, 1.0, a.data(), b.data());
        benchmark::DoNotOptimize(w);
        benchmark::DoNotOptimize(a.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * 65536);
}
BENCHMARK(BM_WindowReader65536)->Unit(benchmark::kMicrosecond);

// Capture callbacks, 512-frame buffers; the items are frames, so the time
// per item times 192000 is the share of a core at 192 kHz.
template <bool kInt24>
void BM_Capture(benchmark::State& state) {
    auto ring = std::make_unique<CaptureRing>();
    CaptureContext ctx;
    ctx.ring = ring.get();
    ring->SetDecimation(static_cast<int>(state.range(0)));
    std::vector<float> f(2 * 512);
    std::vector<std::uint8_t> b(6 * 512);
    for (int i = 0; i < 1024; ++i) {
        f[i] = static_cast<float>(std::sin(i * 0.1));
        EncodeInt24(f[i], b.data() + 3 * i);
    }
    for (auto _ : state) {
        if constexpr (kInt24) {
            CaptureInt24(nullptr, b.data(), 512, 0.0, 0, &ctx);
        } else {
            CaptureFloat(nullptr, f.data(), 512, 0.0, 0, &ctx);
        }
    }
    state.SetItemsProcessed(state.iterations() * 512);
    state.counters["core_share_at_192k_pct"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * 512 / 192000 / 100,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_Capture<false>)->Name("BM_CaptureFloat")->Arg(1)->Arg(4);
BENCHMARK(BM_Capture<true>)->Name("BM_CaptureInt24")->Arg(1);

template <bool kInt24>
void BM_Play(benchmark::State& state) {
    auto tables = std::make_unique<PlaybackTables>();
    for (int i = 0; i < 192000; ++i)
        tables->BackA()[i] = tables->BackB()[i] = static_cast<float>(std::sin(i * 0.01));
    tables->Publish();
    tables->PlaybackLength.store(192000);
    PlaybackContext ctx;
    ctx.tables = tables.get();
    std::vector<std::uint8_t> out(8 * 512);
    for (auto _ : state) {
        if constexpr (kInt24) {
            PlayInt24(out.data(), nullptr, 512, 0.0, 0, &ctx);
        } else {
            PlayFloat(out.data(), nullptr, 512, 0.0, 0, &ctx);
        }
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations() * 512);
    state.counters["core_share_at_192k_pct"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * 512 / 192000 / 100,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_Play<false>)->Name("BM_PlayFloat");
BENCHMARK(BM_Play<true>)->Name("BM_PlayInt24");

// One second of the simulated bench in simulated time: playback and capture
// at the same rate through a wire (exact path), and through a fractional
// delay (the interpolating path), at 48 kHz.
void BM_SimSecond(benchmark::State& state) {
    auto ring = std::make_unique<CaptureRing>();
    auto tables = std::make_unique<PlaybackTables>();
    for (int i = 0; i < 48000; ++i)
        tables->BackA()[i] = tables->BackB()[i] = static_cast<float>(0.5 * std::sin(i * 0.1309));
    tables->Publish();
    double t = 0.0;
    AudioStreams audio(*ring, *tables);
    audio.SetDeviceUnderTest(state.range(0) ? "delay-b:ns=5000" : "wire");
    audio.SelectDriver("sim", TimeMode::Simulated);
    audio.StartPlayback(48000, 1, DefaultPlaybackSettings());
    audio.StartCapture(48000, 1, DefaultCaptureSettings());
    for (auto _ : state) {
        t += 1.0;
        audio.AdvanceTo(t);
    }
    state.SetItemsProcessed(state.iterations() * 48000);
}
BENCHMARK(BM_SimSecond)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
