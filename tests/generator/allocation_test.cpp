// SPDX-License-Identifier: GPL-3.0-or-later
// A rebuild runs inside a knob's mouse handler: once the sine grid is set up
// for the table length, it must not allocate.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <new>
#include <vector>

#include "generator/table_builder.h"
#include "support/counting_new.h"

using miral::testing::allocations;

namespace miral::generator {
namespace {

TEST(TableBuilderAllocation, SteadyRebuildsAllocateNothing) {
    GeneratorControls c;
    c.genon1 = c.gensin1 = c.gentri1 = c.gensqr1 = c.gennoise1 = true;
    c.genon2 = c.gensin2 = c.gentri2 = c.gensqr2 = true;
    c.dacRate = 192000;
    GeneratorState state;
    std::vector<float> a(kMaxTableLength), b(kMaxTableLength);
    buildTables(c, state, a.data(), b.data());

    const long before = allocations.load();
    for (int mode = kModeAdd; mode <= kModeDual; ++mode) {
        c.modulationMode = mode;
        c.gensweep1 = mode == kModeAdd;
        c.genfreq += 7;
        const GeneratorResult r = buildTables(c, state, a.data(), b.data());
        EXPECT_EQ(r.rateLabel(), " ");
    }
    // A new length refills the grid in place.
    c.dacRate = 44100;
    buildTables(c, state, a.data(), b.data());
    EXPECT_EQ(allocations.load() - before, 0);

    // The counter does see allocations.
    auto probe = std::make_unique<int>(1);
    EXPECT_EQ(allocations.load() - before, 1);
}

}  // namespace
}  // namespace miral::generator
