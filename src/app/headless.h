// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <string>

#include "app/cli.h"
#include "audio/clocked_driver.h"

namespace miral::core {
class Instrument;
}

namespace miral::app {

// Gives the instrument its configuration folder: --config-dir, else the
// user's (made when missing). A folder that cannot be used is said on
// stderr; the instrument then reads nothing and says so when it stores.
void useConfigDirectory(core::Instrument& in, const Options& options);

// Chooses the sound card of --audio and --dut (a bundle:FILE opens the
// bundle) and the mixer that goes with it. Returns 0, or the exit code with
// the message already written to stderr (2 a bad option, 3 an unreadable
// file); *message (when given) receives the message too.
int selectAudio(core::Instrument& in, const Options& options, audio::TimeMode mode,
                std::string* message = nullptr);

// Runs the instrument without a display and carries out the steps in order.
// Returns the process exit code.
int runHeadless(const Options& options);

class PanelCanvases;
// The screen as it was last presented, as PNG bytes.
QByteArray screenPng(core::Instrument& in, PanelCanvases& canvases);

}  // namespace miral::app
