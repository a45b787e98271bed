// SPDX-License-Identifier: GPL-3.0-or-later
// The whole instrument on the simulated bench in simulated time, started in a
// configuration folder that outlives it, so that a second instrument can
// power on from what the first one stored. Also: pictures of the panel's
// stored controls for comparing two panels.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "core/instrument.h"
#include "core/operate.h"
#include "core/runner.h"
#include "display/recording_canvas.h"

namespace miral::core::testing {

namespace fs = std::filesystem;

// A private configuration folder, removed at the end of the test.
struct ConfigDir {
    fs::path dir;
    ConfigDir() {
        dir = fs::temp_directory_path() /
              ("miral_store_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    ~ConfigDir() { fs::remove_all(dir); }
};

// One power-on of the instrument.
struct Rig {
    display::RecordingCanvas buffer{1134, 800};
    display::RecordingCanvas screen{567, 400};
    display::RecordingCanvas needleBox{142, 15};
    display::RecordingCanvas traceBox{142, 39};
    Instrument in;
    Runner runner{in, true};

    explicit Rig(const fs::path& dir, const std::string& dut = "", const std::string& configProblem = "") {
        in.setConfigDir(dir, configProblem);
        in.panel.setRequireShowing(false);
        in.setScreenBuffer(&buffer);
        in.panel.setCanvas(Ctl::PaintBox1, &screen);
        in.panel.setCanvas(Ctl::PaintBox2, &traceBox);
        in.panel.setCanvas(Ctl::PaintBox3, &needleBox);
        if (!dut.empty()) {
            EXPECT_TRUE(in.streams().SetDeviceUnderTest(dut)) << in.streams().LastError();
        }
        // The simulated bench: these tests must not open the machine's sound card.
        EXPECT_TRUE(in.streams().SelectDriver("sim", audio::TimeMode::Simulated)) << in.streams().LastError();
        in.useMixerOfDriver();
        in.FormCreate();
        in.FormActivate();
        runner.start();  // the first cycle: the power-on restore
    }
    void set(const char* name, const std::string& value) {
        std::string err;
        EXPECT_TRUE(operateSet(in, name, value, &err)) << name << "=" << value << ": " << err;
    }
    void click(const char* name) {
        std::string err;
        EXPECT_TRUE(operateClick(in, name, &err)) << name << ": " << err;
    }
};

// What the stored panel keeps of one control, as text ("" for kinds
// without a record).
inline std::string storedValue(const Panel& p, Ctl c) {
    const ControlState& s = p.state(c);
    switch (p.def(c).kind) {
        case Kind::Latch:
        case Kind::Check:
        case Kind::Radio:
            return s.down ? "1" : "0";
        case Kind::Edit:
            return "'" + s.text + "'";
        case Kind::TrackBar:
            return std::to_string(s.position);
        case Kind::Combo:
            return std::to_string(s.itemIndex);
        case Kind::Knob:
            return std::to_string(s.tag);
        default:
            return "";
    }
}

struct PanelPicture {
    std::vector<std::string> values;  // by component number
};

inline PanelPicture picture(const Panel& p) {
    PanelPicture pic;
    for (int i = 0; i < kControlCount; ++i) pic.values.push_back(storedValue(p, static_cast<Ctl>(i)));
    return pic;
}

// The controls whose stored values differ, "name: before -> after", except
// the ones listed.
inline std::vector<std::string> differences(const PanelPicture& a, const PanelPicture& b,
                                            const std::vector<Ctl>& except = {}) {
    std::vector<std::string> out;
    for (int i = 0; i < kControlCount; ++i) {
        const auto c = static_cast<Ctl>(i);
        bool skip = false;
        for (Ctl e : except) skip = skip || e == c;
        if (skip || a.values[i] == b.values[i]) continue;
        out.push_back(std::string(controlName(c)) + ": " + a.values[i] + " -> " + b.values[i]);
    }
    return out;
}

inline std::string joined(const std::vector<std::string>& v) {
    std::ostringstream s;
    for (const auto& x : v) s << x << "\n";
    return s.str();
}

}  // namespace miral::core::testing
