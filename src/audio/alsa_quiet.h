// SPDX-License-Identifier: GPL-3.0-or-later
// libasound prints its own error messages on stderr (e.g. "cannot find card
// '0'" on a machine without sound cards). The instrument reports failures
// itself, in the status line, so those messages are silenced.
#pragma once

namespace miral::audio {

// Installs a silent error handler for libasound, once per process.
void QuietAlsaErrors();

}  // namespace miral::audio
