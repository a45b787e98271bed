// SPDX-License-Identifier: GPL-3.0-or-later
// The headless command line and its steps: the fuzzer's bytes are split into
// arguments at NUL bytes and parsed as miral's command line; the steps that
// operate the instrument (--set, --click, --print, and --run for at most a
// few simulated cycles) then run on one instrument on the simulated
// bench. Steps that write files are parsed only.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/cli.h"
#include "fuzz/fuzz_instrument.h"
#include "storage/preferences.h"

using namespace miral;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 4096) return 0;
    static fuzz::FuzzInstrument bench;
    static bool on = false;
    if (!on) {
        bench.powerOn();
        on = true;
    }
    std::vector<std::string> args{"miral"};
    std::string current;
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            args.push_back(current);
            current.clear();
        } else {
            current.push_back(static_cast<char>(data[i]));
        }
    }
    if (!current.empty()) args.push_back(current);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    std::string error;
    auto options = app::parseCommandLine(static_cast<int>(args.size()), argv.data(), &error);
    if (!options) {
        if (error.empty()) std::abort();  // a refusal always says why
        return 0;
    }
    core::Instrument& in = bench.instrument();
    for (const app::Step& step : options->steps) {
        std::string why, line;
        switch (step.kind) {
            case app::Step::Kind::Set: {
                const auto eq = step.arg.find('=');
                if (eq == std::string::npos) break;
                if (!core::operateSet(in, step.arg.substr(0, eq), step.arg.substr(eq + 1), &why) &&
                    why.empty())
                    std::abort();
                break;
            }
            case app::Step::Kind::Click:
                if (!core::operateClick(in, step.arg, &why) && why.empty()) std::abort();
                break;
            case app::Step::Kind::Print:
                if (!core::operatePrint(in, step.arg, &line, &why) && why.empty()) std::abort();
                break;
            case app::Step::Kind::Run: {
                auto secs = storage::parseReal(step.arg);
                for (double t = 0; secs && t < std::fmin(*secs, 0.03); t += 0.01) bench.tick();
                break;
            }
            default:
                break;  // steps that write files: parsed only
        }
        if (in.terminateRequested()) {
            // The power key (or a failed cycle) switched it off: start again.
            bench.powerOn();
            return 0;
        }
    }
    return 0;
}
