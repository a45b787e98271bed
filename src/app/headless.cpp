#include "app/headless.h"

#include <iostream>
#include <sstream>

#include "core/instrument.h"
#include "core/operate.h"
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
    in.FormCreate();
    in.FormActivate();

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
