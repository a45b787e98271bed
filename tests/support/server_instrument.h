// SPDX-License-Identifier: GPL-3.0-or-later
// The whole instrument in real time on a real sound server, in a
// configuration folder of its own with short buffers, its main generator at
// full level into the server and no gain correction: what comes back is
// what the server carried. Used by the tests that play and record through
// the private servers of scripts/test.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "core/instrument.h"
#include "core/operate.h"
#include "core/runner.h"
#include "sound_servers.h"

namespace miral::test {

class ServerInstrument {
  public:
    // The generator table's peak, counts: what a full-level tone reads.
    static constexpr double kPlayed = 32000.0 / 1.1;

    // tag names the folder; morePrefs is added to Prefs.ini.
    ServerInstrument(const std::string& tag, const std::string& driver, const std::string& morePrefs = "") {
        dir_ = std::filesystem::temp_directory_path() / ("miral_" + tag + "_" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir_);
        std::ofstream(dir_ / "Prefs.ini")
            << "rx_buffersize=1024\nnum_rx_buffers=4\ntx_buffersize=1024\nnum_tx_buffers=4\n"
            << morePrefs;
        in.setConfigDir(dir_);
        in.panel.setRequireShowing(false);
        driver_ = driver;
    }
    ~ServerInstrument() { std::filesystem::remove_all(dir_); }
    ServerInstrument(const ServerInstrument&) = delete;
    ServerInstrument& operator=(const ServerInstrument&) = delete;

    // Chooses the server and powers on; then the main generator at full
    // level (and, unless told otherwise, no gain correction). False with the
    // reason in *why.
    bool start(std::string* why, bool gainCorrection = false) {
        if (!in.streams().SelectDriver(driver_)) {
            *why = in.streams().LastError();
            return false;
        }
        in.FormCreate();
        in.FormActivate();
        runner.start();
        if (!core::operateSet(in, "genampl", "100", why) || !core::operateSet(in, "genon1", "1", why))
            return false;
        return gainCorrection || core::operateSet(in, "CheckBox4", "0", why);
    }
    // Runs until `done` holds, at most `seconds`; the time it took, or -1.
    double runUntil(double seconds, const std::function<bool()>& done) {
        using Clock = std::chrono::steady_clock;
        const auto start = Clock::now();
        for (;;) {
            const double t = std::chrono::duration<double>(Clock::now() - start).count();
            if (done()) return t;
            if (t > seconds) return -1.0;
            between();
            runner.runFor(0.05);
        }
    }
    // Channel A's level at f in the present window (counts).
    double level(double f) const {
        return ToneAt(in.st.TimeWorkA.data(), in.st.FftSize, f, in.st.AnalysisRate);
    }

    core::Instrument in;
    core::Runner runner{in, false};  // real time
    // Runs before each slice of runUntil (a test's bookkeeping).
    std::function<void()> between = [] {};

  private:
    std::filesystem::path dir_;
    std::string driver_;
};

// Starts from full volume, whatever other programs left on the server.
inline void FullServerVolumes() {
    for (const char* cmd : {"pactl set-sink-volume @DEFAULT_SINK@ 100% >/dev/null 2>&1",
                            "pactl set-source-volume @DEFAULT_SOURCE@ 100% >/dev/null 2>&1"})
        if (std::system(cmd) != 0) ADD_FAILURE() << cmd;
}

}  // namespace miral::test
