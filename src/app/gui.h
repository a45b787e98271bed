// SPDX-License-Identifier: GPL-3.0-or-later
// The desktop program: the window on the screen.
#pragma once

#include "app/cli.h"

namespace miral::app {

// Application-wide look: the style, the default font (Arial 8), the palette
// and the names the desktop shows. Call once after creating the QApplication.
void setupApplication();

// Runs the instrument in its window until it is switched off or the window is
// closed. Returns the process exit code.
int runWindow(const Options& options, int& argc, char** argv);

}  // namespace miral::app
