// SPDX-License-Identifier: GPL-3.0-or-later
// Drawing speed of the screen: frames of the main views on the default
// 567 x 400 screen drawn in a 1134 x 800 buffer, a scope trace, a knob.
#include <benchmark/benchmark.h>

#include <QGuiApplication>
#include <cmath>
#include <string>
#include <vector>

#include "display/knob.h"
#include "display/qimage_canvas.h"
#include "display/screen.h"

namespace {

using namespace miral::display;

// Argument 0: the frame is copied onto a screen canvas of the screen's size;
// 1: as the window does it, the buffer and the screen canvas (both of the
// buffer's size) swap their pictures.
void drawFrame(benchmark::State& state, const ScreenInputs& in) {
    const ColorSlots colors = designedColors();
    const bool swap = state.range(0) != 0;
    QImageCanvas buffer(1134, 800);
    QImageCanvas screen(swap ? 1134 : 567, swap ? 800 : 400);
    for (auto _ : state) {
        const ScreenGeometry g = ComputeScreenGeometry(in);
        BeginFrame(buffer, in, g, colors);
        benchmark::DoNotOptimize(DrawGrids(buffer, in, g, colors));
        DrawScaleLabels(buffer, in, g, colors);
        if (!swap || !buffer.swapPicture(screen)) PresentScreen(buffer, screen);
    }
}

void BM_TimeViewFrame(benchmark::State& state) {
    ScreenInputs in;
    in.view = ScreenView::Time;
    in.mainselect = 6;
    in.pretriggerSamples = 100;
    drawFrame(state, in);
}
BENCHMARK(BM_TimeViewFrame)->Arg(0)->Arg(1);

void BM_SpectrumFrameLogDb(benchmark::State& state) {
    ScreenInputs in;
    in.fMin = 20;
    in.fMax = 20000;
    in.range1 = in.range2 = 7;
    in.minFreqText = "20";
    in.maxFreqText = "20000";
    drawFrame(state, in);
}
BENCHMARK(BM_SpectrumFrameLogDb)->Arg(0)->Arg(1);

void BM_SpectrumFrameLinearAmplitude(benchmark::State& state) {
    ScreenInputs in;
    in.xlog = false;
    in.dbGrid = false;
    in.fMin = 20;
    in.fMax = 80;
    in.range2 = 7;
    drawFrame(state, in);
}
BENCHMARK(BM_SpectrumFrameLinearAmplitude)->Arg(0)->Arg(1);

// A scope trace as the time view draws it: 3-pixel pen under a 1-pixel pen.
void BM_ScopeTrace(benchmark::State& state) {
    QImageCanvas buffer(1134, 800);
    std::vector<Point> pts(563);
    for (int x = 0; x < 563; ++x)
        pts[static_cast<std::size_t>(x)] = {x, 200 + static_cast<int>(150 * std::sin(x * 0.07))};
    for (auto _ : state) {
        for (int w : {3, 1}) {
            buffer.pen = Pen{w == 3 ? rgb(197, 160, 16) : rgb(255, 255, 0), w, PenStyle::Solid};
            buffer.moveTo(pts[0].x, pts[0].y);
            buffer.polyline(pts.data() + 1, static_cast<int>(pts.size()) - 1);
        }
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_ScopeTrace);

void BM_KnobPointer(benchmark::State& state) {
    QImageCanvas canvas(80, 80);
    int value = 0;
    std::string range;
    KnobView knob{value, range, 80, 80, rgb(131, 148, 142), &canvas};
    DrawContinuousScale(knob, 11, -100, 100);
    int v = -100;
    for (auto _ : state) {
        DrawKnob(knob, v);
        v = v >= 100 ? -100 : v + 1;
    }
}
BENCHMARK(BM_KnobPointer);

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
