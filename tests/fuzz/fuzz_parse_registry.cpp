// SPDX-License-Identifier: GPL-3.0-or-later
// The parsing of registry.txt alone, at full speed: a text that parses is
// written back as a text that parses to the same registry.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "storage/panel_store.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    miral::storage::Registry first("/nonexistent/registry.txt");
    std::string why;
    if (!first.parse(text, &why)) {
        if (why.empty()) std::abort();  // a refusal always says why
        return 0;
    }
    const std::string written = first.serialize();
    miral::storage::Registry second("/nonexistent/registry.txt");
    if (!second.parse(written, &why)) std::abort();
    if (second.serialize() != written) std::abort();
    return 0;
}
