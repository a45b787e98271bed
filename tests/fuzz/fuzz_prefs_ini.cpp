// SPDX-License-Identifier: GPL-3.0-or-later
// Prefs.ini as the program meets it at start: the fuzzer's bytes are the
// file; the instrument powers on with it, draws the spectrum, and the scope
// with x10 on both channels (the keys that scale the traces matter there).
#include <cstdint>

#include "fuzz/fuzz_instrument.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 8192) return 0;
    static miral::fuzz::FuzzInstrument bench;
    bench.putFile("Prefs.ini", reinterpret_cast<const char*>(data), size);
    bench.powerOn();
    bench.set("genon1", "1");
    bench.set("Tempo", "1");
    bench.set("dc1", "1");
    bench.set("dc2", "1");
    bench.set("range1", "0");
    return 0;
}
