// SPDX-License-Identifier: GPL-3.0-or-later
// The whole instrument for a benchmark program: headless on the simulated
// bench in simulated time, drawing into QImage canvases as in the window.
// Include this header in exactly one file of a benchmark program (it counts
// the program's allocations, see tests/support/counting_new.h); the program must create a
// QGuiApplication before the instrument draws text.
#pragma once

#include <benchmark/benchmark.h>

#include <QGuiApplication>
#include <filesystem>
#include <stdexcept>
#include <string>

#include "core/instrument.h"
#include "core/operate.h"
#include "core/runner.h"
#include "display/qimage_canvas.h"
#include "support/counting_new.h"

namespace miral::bench {

struct BenchInstrument {
    std::filesystem::path dir;
    display::QImageCanvas buffer{1134, 800};
    display::QImageCanvas screen{567, 400};
    display::QImageCanvas traceBox{142, 39};
    display::QImageCanvas needleBox{142, 15};
    core::Instrument in;
    core::Runner runner{in, true};

    // tag names the configuration folder; dut is the simulated bench's device
    // under test ("" for a plain wire).
    BenchInstrument(const std::string& tag, const std::string& dut) {
        dir = std::filesystem::temp_directory_path() / ("miral_" + tag + "_bench");
        std::filesystem::create_directories(dir);
        in.setConfigDir(dir);
        in.panel.setRequireShowing(false);
        if (!dut.empty() && !in.streams().SetDeviceUnderTest(dut))
            throw std::runtime_error(in.streams().LastError());
        if (!in.streams().SelectDriver("sim", audio::TimeMode::Simulated))
            throw std::runtime_error(in.streams().LastError());
        in.setScreenBuffer(&buffer);
        in.panel.setCanvas(core::Ctl::PaintBox1, &screen);
        in.panel.setCanvas(core::Ctl::PaintBox2, &traceBox);
        in.panel.setCanvas(core::Ctl::PaintBox3, &needleBox);
        in.FormCreate();
        in.FormActivate();
        runner.start();
    }
    ~BenchInstrument() { std::filesystem::remove_all(dir); }
    BenchInstrument(const BenchInstrument&) = delete;
    BenchInstrument& operator=(const BenchInstrument&) = delete;

    void set(const char* name, const std::string& value) {
        std::string err;
        if (!core::operateSet(in, name, value, &err))
            throw std::runtime_error(std::string(name) + ": " + err);
    }

    // Times one processing cycle per iteration (on the window the ring holds)
    // and reports cycles per CPU-second and heap allocations per cycle.
    void timeCycles(benchmark::State& state) {
        long cycles = 0;
        long allocated = 0;
        for (auto _ : state) {
            const long before = miral::testing::allocations.load(std::memory_order_relaxed);
            in.processingCycle();
            allocated += miral::testing::allocations.load(std::memory_order_relaxed) - before;
            ++cycles;
        }
        state.SetItemsProcessed(cycles);
        state.counters["allocs_per_cycle"] =
            benchmark::Counter(static_cast<double>(allocated) / static_cast<double>(cycles));
    }
};

// main() of an instrument benchmark program: Qt on its offscreen platform.
inline int RunBenchmarks(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    int qtArgc = 1;
    QGuiApplication app(qtArgc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

}  // namespace miral::bench
