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
#include <QGuiApplication>
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <string>

#include "core/instrument.h"
#include "core/operate.h"
#include "core/runner.h"
#include "display/qimage_canvas.h"

#include "counting_new.h"

using miral::bench::allocations;

namespace {

using namespace miral;
namespace fs = std::filesystem;

void set(core::Instrument& in, const char* name, const char* value) {
    std::string err;
    if (!core::operateSet(in, name, value, &err)) throw std::runtime_error(std::string(name) + ": " + err);
}

// divider: the FFT divider (4: 16384 points, 1: 65536). options: 1 colour
// by deviation, 2 every bin drawn (neither "Avg" nor "Max").
void runCycles(benchmark::State& state, int divider, int options) {
    const fs::path dir = fs::temp_directory_path() / "miral_spectrum_bench";
    fs::create_directories(dir);
    display::QImageCanvas buffer(1134, 800);
    display::QImageCanvas screen(567, 400);
    display::QImageCanvas traceBox(142, 39);
    display::QImageCanvas needleBox(142, 15);
    core::Instrument in;
    in.setConfigDir(dir);
    in.panel.setRequireShowing(false);
    in.streams().SetDeviceUnderTest("harmonics:h2=-40,h3=-50+noise:dbfs=-90");
    in.streams().SelectDriver("sim", audio::TimeMode::Simulated);
    in.setScreenBuffer(&buffer);
    in.panel.setCanvas(core::Ctl::PaintBox1, &screen);
    in.panel.setCanvas(core::Ctl::PaintBox2, &traceBox);
    in.panel.setCanvas(core::Ctl::PaintBox3, &needleBox);
    in.FormCreate();
    in.FormActivate();
    core::Runner runner(in, true);
    runner.start();
    set(in, "ComboBox3", std::to_string(divider).c_str());
    set(in, "genfreq", "1000");
    set(in, "genx4", "1");
    set(in, "genampl", "80");
    set(in, "genon1", "1");
    set(in, "vedifreq", "1");
    set(in, "vedinota", "1");
    if (options == 1) set(in, "color", "1");
    if (options == 2) set(in, "maxx", "0");
    runner.runFor(65536.0 / 44100 + 0.3);
    if (in.st.FftSize != 65536 / divider) throw std::runtime_error("FFT size not applied");

    long cycles = 0;
    long allocated = 0;
    for (auto _ : state) {
        const long before = allocations.load(std::memory_order_relaxed);
        in.processingCycle();
        allocated += allocations.load(std::memory_order_relaxed) - before;
        ++cycles;
    }
    state.SetItemsProcessed(cycles);
    state.counters["allocs_per_cycle"] =
        benchmark::Counter(static_cast<double>(allocated) / static_cast<double>(cycles));
    state.counters["fft_size"] = in.st.FftSize;
    fs::remove_all(dir);
}

void BM_SpectrumCycle16384(benchmark::State& state) { runCycles(state, 4, 0); }
void BM_SpectrumCycle65536(benchmark::State& state) { runCycles(state, 1, 0); }
void BM_SpectrumCycle16384Color(benchmark::State& state) { runCycles(state, 4, 1); }
void BM_SpectrumCycle16384EveryBin(benchmark::State& state) { runCycles(state, 4, 2); }
BENCHMARK(BM_SpectrumCycle16384)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SpectrumCycle65536)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SpectrumCycle16384Color)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SpectrumCycle16384EveryBin)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    int qtArgc = 1;
    QGuiApplication app(qtArgc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
