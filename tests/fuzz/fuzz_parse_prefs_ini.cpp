// SPDX-License-Identifier: GPL-3.0-or-later
// The reading of Prefs.ini alone, at full speed: the fuzzer's bytes are the
// file's text; every numeric key is read as the program reads it, and what
// comes back lies in the key's range (or is the caller's default).
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "storage/preferences.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    miral::storage::Preferences prefs;
    prefs.loadFromText(text);
    constexpr int kIntDefault = -424242;
    constexpr double kRealDefault = -4.25e300;
    for (const miral::storage::PreferenceKey& k : miral::storage::preferenceKeys()) {
        if (k.type == miral::storage::PrefType::Integer) {
            const int v = prefs.readInt(k.key, kIntDefault);
            if (v != kIntDefault && (v < k.min || v > k.max)) std::abort();
        } else if (k.type == miral::storage::PrefType::Real) {
            const double v = prefs.readReal(k.key, kRealDefault);
            if (v != kRealDefault && !(v >= k.min && v <= k.max)) std::abort();
        } else {
            (void)prefs.readText(k.key);
        }
    }
    (void)prefs.readText("Color", "");
    return 0;
}
