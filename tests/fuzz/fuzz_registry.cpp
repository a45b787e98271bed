// SPDX-License-Identifier: GPL-3.0-or-later
// registry.txt, the panel kept at power-off: the fuzzer's bytes are the file;
// the instrument restores from it as at power-on and runs.
#include <cstdint>

#include "fuzz/fuzz_instrument.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 65536) return 0;
    static miral::fuzz::FuzzInstrument bench;
    bench.putFile("registry.txt", reinterpret_cast<const char*>(data), size);
    bench.restore();
    bench.tick();
    return 0;
}
