// SPDX-License-Identifier: GPL-3.0-or-later
// prefs.dat, the colour schemes and the probe table: the fuzzer's bytes are
// the file; the instrument restores from it as at power-on, then measures in the
// impedance view with the RLC meter (where the probe table's values divide).
#include <cstdint>

#include "fuzz/fuzz_instrument.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 4096) return 0;
    static miral::fuzz::FuzzInstrument bench;
    bench.putFile("prefs.dat", reinterpret_cast<const char*>(data), size);
    bench.restore();
    bench.set("Tempo", "1");
    bench.set("zeta", "1");
    bench.set("rlcmode", "1");
    bench.tick();
    return 0;
}
