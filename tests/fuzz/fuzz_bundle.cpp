// SPDX-License-Identifier: GPL-3.0-or-later
// Measurement bundles (.miral): the fuzzer's bytes are the file.
#include <cstdint>
#include <string_view>

#include "storage/bundle.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    miral::storage::Bundle b;
    std::string why;
    miral::storage::decodeBundle(std::string_view(reinterpret_cast<const char*>(data), size), b, &why);
    return 0;
}
