// SPDX-License-Identifier: GPL-3.0-or-later
// The miral command line.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace miral::app {

struct Step {
    enum class Kind { Set, Click, Print, Run, Dump, Screenshot, WindowShot, SaveDialog, Answer, SaveBundle };
    Kind kind;
    std::string arg;  // NAME=VALUE, NAME, NAME,NAME..., SECONDS, ARRAY=FILE, FILE
};

struct Options {
    bool help = false;
    bool version = false;
    bool headless = false;
    std::optional<std::string> configDir;
    std::string audio;                  // "" (default), pulse, alsa, jack, sim, wav:FILE, bundle:FILE
    std::string dut;                    // device under test of the simulated bench
    std::optional<std::uint64_t> seed;  // of the generators' noise
    std::vector<Step> steps;
    // The local automation API: the port to serve on 127.0.0.1 and ::1
    // (0: not served).
    int remotePort = 0;
};

inline constexpr int kDefaultRemotePort = 4780;

// Parses argv; on a malformed command line returns nothing with the reason in *error.
std::optional<Options> parseCommandLine(int argc, char** argv, std::string* error);

std::string usageText();

}  // namespace miral::app
