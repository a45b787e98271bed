#pragma once

#include "app/cli.h"

namespace miral::app {

// Runs the instrument without a display and carries out the steps in order.
// Returns the process exit code.
int runHeadless(const Options& options);

}  // namespace miral::app
