#include "app/headless.h"

#include <iostream>
#include <sstream>

#include "core/instrument.h"
#include "core/operate.h"
#include "core/runner.h"
#include "storage/preferences.h"

namespace miral::app {

namespace {

std::vector<std::string> splitList(const std::string& s) {
    std::vector<std::string> out;
    std::stringstream ss(s);
    std::string item;
    while (std::getline(ss, item, ','))
        if (!item.empty()) out.push_back(item);
    return out;
}

}  // namespace

int runHeadless(const Options& options) {
    core::Instrument in;
    std::string err;
    std::optional<std::filesystem::path> chosen;
    if (options.configDir) chosen = *options.configDir;
    in.setConfigDir(storage::configDirectory(chosen, &err));
    if (!err.empty()) std::cerr << "miral: " << err << "\n";
    in.panel.setRequireShowing(false);

    // The sound card: the simulated bench and WAV files run in simulated
    // time (repeatable), real cards in real time.
    const bool simulated = options.audio == "sim" || options.audio.rfind("wav:", 0) == 0;
    if (!options.dut.empty() && !in.streams().SetDeviceUnderTest(options.dut)) {
        std::cerr << "miral: --dut " << options.dut << ": " << in.streams().LastError() << "\n";
        return 2;
    }
    if (!options.audio.empty() &&
        !in.streams().SelectDriver(options.audio,
                                   simulated ? audio::TimeMode::Simulated : audio::TimeMode::RealTime)) {
        std::cerr << "miral: --audio " << options.audio << ": " << in.streams().LastError() << "\n";
        return options.audio.rfind("wav:", 0) == 0 ? 3 : 2;
    }

    in.FormCreate();
    in.FormActivate();
    core::Runner runner(in, simulated);
    runner.start();

    for (const Step& step : options.steps) {
        std::string error;
        switch (step.kind) {
            case Step::Kind::Set: {
                auto eq = step.arg.find('=');
                if (eq == std::string::npos) {
                    std::cerr << "miral: --set " << step.arg << ": expected NAME=VALUE\n";
                    return 2;
                }
                if (!core::operateSet(in, step.arg.substr(0, eq), step.arg.substr(eq + 1), &error)) {
                    std::cerr << "miral: --set " << step.arg << ": " << error << "\n";
                    return 2;
                }
                break;
            }
            case Step::Kind::Click:
                if (!core::operateClick(in, step.arg, &error)) {
                    std::cerr << "miral: --click " << step.arg << ": " << error << "\n";
                    return 2;
                }
                break;
            case Step::Kind::Print:
                for (const std::string& name : splitList(step.arg)) {
                    std::string line;
                    if (!core::operatePrint(in, name, &line, &error)) {
                        std::cerr << "miral: --print " << name << ": " << error << "\n";
                        return 2;
                    }
                    std::cout << line << "\n";
                }
                break;
            case Step::Kind::Run: {
                auto secs = storage::parseReal(step.arg);
                if (!secs || *secs < 0) {
                    std::cerr << "miral: --run " << step.arg << ": expected a number of seconds\n";
                    return 2;
                }
                runner.runFor(*secs);
                break;
            }
            case Step::Kind::Dump: {
                auto eq = step.arg.find('=');
                if (eq == std::string::npos) {
                    std::cerr << "miral: --dump " << step.arg << ": expected ARRAY=FILE\n";
                    return 2;
                }
                if (!core::dumpArray(in, step.arg.substr(0, eq), step.arg.substr(eq + 1), &error)) {
                    std::cerr << "miral: --dump " << step.arg << ": " << error << "\n";
                    return 2;
                }
                break;
            }
            default:
                std::cerr << "miral: this step is not available yet\n";
                return 2;
        }
        if (in.terminateRequested()) break;
    }
    std::cout.flush();
    return 0;
}

}  // namespace miral::app
