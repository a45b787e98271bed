// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/alsa_quiet.h"

#include <alsa/asoundlib.h>

#include <mutex>

namespace miral::audio {

namespace {

void silent(const char*, int, const char*, int, const char*, ...) {}

}  // namespace

void QuietAlsaErrors() {
    static std::once_flag once;
    std::call_once(once, [] { snd_lib_error_set_handler(&silent); });
}

}  // namespace miral::audio
