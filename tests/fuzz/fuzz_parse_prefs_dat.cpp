// SPDX-License-Identifier: GPL-3.0-or-later
// The decoding of prefs.dat alone, at full speed: what decodes writes back to
// bytes that decode to the same values and are written the same again.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "storage/panel_store.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    miral::storage::PrefsDat first;
    std::string why, outside;
    if (!miral::storage::decodePrefsDat(bytes, first, &why, &outside)) {
        if (why.empty()) std::abort();  // a refusal always says why
        return 0;
    }
    const std::string written = miral::storage::encodePrefsDat(first);
    miral::storage::PrefsDat second;
    if (!miral::storage::decodePrefsDat(written, second, &why, &outside)) std::abort();
    if (!outside.empty()) std::abort();  // what we write lies in every range
    if (miral::storage::encodePrefsDat(second) != written) std::abort();
    return 0;
}
