// SPDX-License-Identifier: GPL-3.0-or-later
// An empty folder of its own for one test: under the system's temporary
// folder, named by the test binary's process and a running count, so that
// tests running side by side never share one.
#pragma once

#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <string>

namespace miral::testing {

inline std::filesystem::path freshDir(const std::string& prefix, const char* tag) {
    static std::atomic<int> counter{0};
    std::filesystem::path dir =
        std::filesystem::temp_directory_path() /
        (prefix + tag + "_" + std::to_string(::getpid()) + "_" + std::to_string(counter++));
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir;
}

}  // namespace miral::testing
