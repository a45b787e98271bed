// SPDX-License-Identifier: GPL-3.0-or-later
// The instrument as the fuzz targets power it on: its own configuration
// folder (into which a target writes the file under test), the simulated
// bench in simulated time, and the screen drawn with the real canvas. Each
// power-on makes a new instrument, as a new start of the program does.
#pragma once

#include <unistd.h>

#include <QGuiApplication>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <string_view>

#include "core/instrument.h"
#include "core/operate.h"
#include "display/qimage_canvas.h"

namespace miral::fuzz {

class FuzzInstrument {
  public:
    FuzzInstrument() {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "miral-fuzz";
        static char* argv[] = {name, nullptr};
        static QGuiApplication app(argc, argv);
        dir_ = std::filesystem::temp_directory_path() / ("miral_fuzz_" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir_);
    }
    ~FuzzInstrument() {
        in_.reset();
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }

    const std::filesystem::path& dir() const { return dir_; }

    // Writes (or removes, for nullptr) a file of the configuration folder.
    void putFile(const char* name, const char* data, std::size_t size) {
        const auto file = dir_ / name;
        std::error_code ec;
        std::filesystem::remove(file, ec);
        std::filesystem::remove(dir_ / (std::string(name) + ".bad"), ec);
        if (!data) return;
        std::ofstream(file, std::ios::binary).write(data, static_cast<std::streamsize>(size));
    }

    // A new start of the program: activation, the power-on restore, a few
    // cycles and housekeeping ticks in simulated time.
    core::Instrument& powerOn() {
        in_.reset();
        in_ = std::make_unique<core::Instrument>();
        core::Instrument& in = *in_;
        in.setConfigDir(dir_);
        in.panel.setRequireShowing(false);
        in.setScreenBuffer(&buffer_);
        in.panel.setCanvas(core::Ctl::PaintBox1, &screen_);
        if (!in.streams().SelectDriver("sim", audio::TimeMode::Simulated)) std::abort();
        in.useMixerOfDriver();
        in.FormCreate();
        in.FormActivate();
        t_ = 0;
        tick();
        for (int i = 0; i < 3; ++i) {
            in.panel.timerTick(core::Ctl::Timer7);
            tick();
        }
        return in;
    }

    // The power-on restore again on the running instrument (much cheaper
    // than a new start, and the same reading of the stored files), then a
    // cycle and a housekeeping tick.
    core::Instrument& restore() {
        if (!in_) return powerOn();
        in_->gostart();
        tick();
        in_->panel.timerTick(core::Ctl::Timer7);
        tick();
        return *in_;
    }

    // One more processing cycle, 10 simulated milliseconds later.
    void tick() {
        t_ += 0.01;
        in_->streams().AdvanceTo(t_);
        if (in_->panel.enabled(core::Ctl::Timer1)) in_->panel.timerTick(core::Ctl::Timer1);
        checkFinite();
    }

    // Operates a control; a refusal is fine (disabled now, or not there).
    void set(const char* name, const char* value) {
        std::string why;
        (void)core::operateSet(*in_, name, value, &why);
        tick();
    }

    core::Instrument& instrument() { return *in_; }

  private:
    void checkFinite() const {
        const auto& st = in_->st;
        const int bins = std::max(st.FftSize / 2, 0);
        for (int i = 0; i < bins && i < static_cast<int>(st.DisplayA.size()); i += 7)
            if (!std::isfinite(st.DisplayA[i]) || !std::isfinite(st.DisplayB[i]) ||
                !std::isfinite(st.DisplayPhase[i]))
                std::abort();
    }

    std::filesystem::path dir_;
    display::QImageCanvas buffer_{1134, 800};
    display::QImageCanvas screen_{567, 400};
    std::unique_ptr<core::Instrument> in_;
    double t_ = 0;
};

}  // namespace miral::fuzz
