// SPDX-License-Identifier: GPL-3.0-or-later
// miral: the window, or with --headless a run without any display.
#include <clocale>
#include <iostream>

#include "app/cli.h"
#include "app/gui.h"
#include "app/headless.h"
#include "app/memory_policy.h"

int main(int argc, char** argv) {
    miral::app::useSteadyMemory();
    // Numbers are read and written with "." whatever the regional settings say.
    std::setlocale(LC_ALL, "");
    std::setlocale(LC_NUMERIC, "C");

    std::string error;
    auto options = miral::app::parseCommandLine(argc, argv, &error);
    if (!options) {
        std::cerr << "miral: " << error << "\n";
        return 2;
    }
    if (options->help) {
        std::cout << miral::app::usageText();
        return 0;
    }
    if (options->version) {
        std::cout << "miral " << MIRAL_VERSION << "\n";
        return 0;
    }
    if (options->headless) return miral::app::runHeadless(*options);
    return miral::app::runWindow(*options, argc, argv);
}
