// Processing cycles per CPU-second: the instrument runs headless on the
// simulated bench (its generator looped back into the inputs), drawing into a
// QImage screen buffer as in the window. One benchmark iteration is one
// simulated millisecond: the bench's audio for that millisecond and one
// processing cycle (every hundredth also the housekeeping tick).
#include <QGuiApplication>
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "core/instrument.h"
#include "core/operate.h"
#include "core/runner.h"
#include "display/qimage_canvas.h"

namespace {

using namespace miral;

struct Headless {
    display::QImageCanvas buffer{1134, 800};
    display::QImageCanvas screen{567, 400};
    core::Instrument in;
    core::Runner runner{in, true};
    Headless() {
        auto dir = std::filesystem::temp_directory_path() / "miral_cycle_bench";
        std::filesystem::create_directories(dir);
        in.setConfigDir(dir);
        in.panel.setRequireShowing(false);
        in.streams().SelectDriver("sim", audio::TimeMode::Simulated);
        in.setScreenBuffer(&buffer);
        in.panel.setCanvas(core::Ctl::PaintBox1, &screen);
        in.FormCreate();
        in.FormActivate();
        runner.start();
    }
    void set(const char* name, const char* value) {
        std::string err;
        if (!core::operateSet(in, name, value, &err)) std::abort();
    }
};

void BM_TimeViewCycle(benchmark::State& state) {
    Headless h;
    h.set("genon1", "1");
    h.set("Tempo", "1");
    h.set("mainselect", std::to_string(state.range(0)).c_str());
    h.runner.runFor(0.5);
    for (auto _ : state) h.runner.runFor(0.001);
    state.SetItemsProcessed(state.iterations());
    state.counters["cycles_per_cpu_s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
// "100mSec" (the reference), "1mSec" and "1Sec".
BENCHMARK(BM_TimeViewCycle)->Arg(2)->Arg(6)->Arg(0);

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
