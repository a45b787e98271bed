// SPDX-License-Identifier: GPL-3.0-or-later
// The screen's canvas prepares its fonts before the first cycle, so that no
// cycle sets one up (which would allocate): every text that any view writes
// must use one of the prepared sizes.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <set>
#include <string>

#include "core/cycle_bench.h"

namespace miral::core {
namespace {

TEST(ScreenFonts, EveryViewWritesOnlyInThePreparedFonts) {
    test::CycleBench b("fonts");
    b.power("sim", "shunt:R=10,C=1u");
    std::set<int> used;
    auto collect = [&] {
        for (const auto& call : b.buffer.callsOf(display::DrawCall::Kind::Text)) {
            EXPECT_EQ(call.font.name, "Arial") << call.text;
            EXPECT_FALSE(call.font.bold) << call.text;
            used.insert(call.font.size);
        }
        b.buffer.clear();
    };
    auto run = [&](double s) {
        b.runner.runFor(s);
        collect();
    };
    b.set("genon1", "1");
    run(0.05);                 // spectrum with the generator
    b.set("markerview", "1");  // markers and their readout block
    run(0.05);
    b.set("Tempo", "1");  // scope
    run(0.05);
    b.set("trasf", "1");  // transfer function
    run(0.05);
    b.set("zeta", "1");  // impedance
    run(0.05);
    b.set("rlcmode", "1");  // RLC meter's large readout
    run(0.3);
    ASSERT_FALSE(used.empty());
    for (int size : used)
        EXPECT_TRUE(std::find(std::begin(display::kScreenFontSizes), std::end(display::kScreenFontSizes),
                              size) != std::end(display::kScreenFontSizes))
            << "the screen writes in " << size << " points, which is not prepared";
}

}  // namespace
}  // namespace miral::core
