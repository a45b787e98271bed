// SPDX-License-Identifier: GPL-3.0-or-later
// The base of the tests that run whole processing cycles: an instrument in
// its own configuration folder, on the simulated bench (or a WAV card) in
// simulated time, drawing into recording canvases.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "core/instrument.h"
#include "core/operate.h"
#include "core/runner.h"
#include "display/recording_canvas.h"

namespace miral::core::test {

struct CycleBench {
    std::filesystem::path dir;
    display::RecordingCanvas buffer{1134, 800};
    display::RecordingCanvas screen{567, 400};
    Instrument in;
    Runner runner{in, true};

    // tag names the folder, together with the running test and the process
    // (two builds may run the same test at once).
    explicit CycleBench(const std::string& tag) {
        dir = std::filesystem::temp_directory_path() /
              ("miral_" + tag + "_" + ::testing::UnitTest::GetInstance()->current_test_info()->name() + "_" +
               std::to_string(::getpid()));
        std::filesystem::create_directories(dir);
        in.setConfigDir(dir);
        in.panel.setRequireShowing(false);
        in.setScreenBuffer(&buffer);
        in.panel.setCanvas(Ctl::PaintBox1, &screen);
    }
    ~CycleBench() { std::filesystem::remove_all(dir); }
    CycleBench(const CycleBench&) = delete;
    CycleBench& operator=(const CycleBench&) = delete;

    // Prefs.ini of the folder (before power()).
    void preferences(const std::string& text) { std::ofstream(dir / "Prefs.ini") << text; }
    // Chooses the card (and the simulated bench's device under test), then
    // starts the instrument as at power-on, up to its first cycle (or only
    // up to the activation, before the power-on restore).
    void power(const std::string& audio = "sim", const std::string& dut = "", bool firstCycle = true) {
        if (!dut.empty()) {
            ASSERT_TRUE(in.streams().SetDeviceUnderTest(dut)) << in.streams().LastError();
        }
        ASSERT_TRUE(in.streams().SelectDriver(audio, audio::TimeMode::Simulated)) << in.streams().LastError();
        in.FormCreate();
        in.FormActivate();
        if (firstCycle) runner.start();
    }
    void set(const char* name, const std::string& value) {
        std::string err;
        ASSERT_TRUE(operateSet(in, name, value, &err)) << name << "=" << value << ": " << err;
    }
    // The polylines drawn in a colour slot since the buffer was last cleared.
    std::vector<display::DrawCall> polylines(int slot) const {
        std::vector<display::DrawCall> out;
        for (const auto& c : buffer.callsOf(display::DrawCall::Kind::Polyline))
            if (c.pen.color == in.slotColor(slot)) out.push_back(c);
        return out;
    }
};

}  // namespace miral::core::test
