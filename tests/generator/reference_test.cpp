// SPDX-License-Identifier: GPL-3.0-or-later
// The builder's sine grid and incremental phase bookkeeping against a plain
// implementation that calls the library sine for every sample.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "generator/generator_test_support.h"
#include "generator/table_builder.h"

namespace miral::generator {
namespace {

struct Case {
    std::string name;
    GeneratorControls controls;
};

std::vector<Case> cases() {
    GeneratorControls base;
    base.genon1 = true;
    base.genfreq = 4400;
    base.mainRange = 100;
    base.genampl = 80;
    base.genfreq2 = 1250;
    base.auxRange = 100;
    base.genampl2 = 60;
    base.dacRate = 44100;

    std::vector<Case> out;
    out.push_back({"sine", base});

    Case add{"add all waveforms", base};
    add.controls.gentri1 = add.controls.gensqr1 = true;
    add.controls.genon2 = add.controls.gentri2 = add.controls.gensqr2 = true;
    add.controls.db20 = true;
    out.push_back(add);

    for (int mode : {kModeAm, kModeDsb, kModeFm, kModeDual}) {
        Case m{"mode " + std::to_string(mode), base};
        m.controls.genon2 = true;
        m.controls.gentri1 = true;
        m.controls.gensqr2 = mode == kModeDual;
        m.controls.modulationMode = mode;
        m.controls.dacRate = 48000;
        m.controls.sweepRange = SweepRange::Ten;
        m.controls.gensweep = 70;
        out.push_back(m);
    }

    Case fmAll{"fm everything", base};
    fmAll.controls.gentri1 = fmAll.controls.gensqr1 = fmAll.controls.gennoise1 = true;
    // Aux SIN and SQR but not TRI: TRI + SQR cancel exactly at the start of each
    // aux period, where the library sine of a whole turn is not exactly 0 and
    // the FM phase index would sit right on a truncation boundary.
    fmAll.controls.genon2 = fmAll.controls.gensqr2 = true;
    fmAll.controls.modulationMode = kModeFm;
    fmAll.controls.mainRange = 10;  // 44 Hz: deep phase swing, t runs below zero
    fmAll.controls.sweepRange = SweepRange::Thousand;
    fmAll.controls.dacRate = 96000;
    out.push_back(fmAll);

    Case sweep{"sweep", base};
    sweep.controls.gensweep1 = true;
    sweep.controls.gensqr1 = true;
    sweep.controls.sweepRange = SweepRange::Hundred;
    sweep.controls.gensweep = 90;
    sweep.controls.genon2 = true;
    sweep.controls.modulationMode = kModeAm;
    out.push_back(sweep);

    Case duty{"duty and noise", base};
    duty.controls.gensin1 = false;
    duty.controls.gensqr1 = duty.controls.gennoise1 = true;
    duty.controls.sweepRange = SweepRange::Thousand;
    duty.controls.gensweep = 37;
    duty.controls.dacRate = 192000;
    out.push_back(duty);

    Case adjusted{"rate adjusted square", base};
    adjusted.controls.gensin1 = false;
    adjusted.controls.gensqr1 = true;
    adjusted.controls.freqVar = true;
    adjusted.controls.genfreq = 3300;
    adjusted.controls.mainRange = 1000;
    adjusted.controls.genon2 = true;
    out.push_back(adjusted);

    // f1 x t far beyond 32 bits; no sine here, the library sine of such large
    // angles is itself off by more than the tolerance.
    Case wide{"wide fast sweep", base};
    wide.controls.gensin1 = false;
    wide.controls.gentri1 = wide.controls.gensqr1 = true;
    wide.controls.genfreq = 9870;
    wide.controls.mainRange = 1000;
    wide.controls.gensweep1 = true;
    wide.controls.sweepRange = SweepRange::Thousand;
    wide.controls.gensweep = 100;
    wide.controls.dacRate = 192000;
    out.push_back(wide);
    return out;
}

TEST(TableBuilderReference, MatchesPlainImplementation) {
    GeneratorState state;
    state.noiseState = 12345;
    std::vector<double> a(kMaxTableLength), b(kMaxTableLength);
    std::uint64_t referenceNoise = state.noiseState;
    for (const Case& c : cases()) {
        const GeneratorResult r = buildTables(c.controls, state, a.data(), b.data());
        const testing::ReferenceTables ref = testing::referenceBuild(c.controls, referenceNoise);
        ASSERT_EQ(r.length, ref.n) << c.name;
        EXPECT_EQ(r.mainFrequency, ref.f1) << c.name;
        EXPECT_EQ(r.auxFrequency, ref.f2) << c.name;
        double worst = 0.0;
        for (int i = 0; i < r.length; ++i) {
            const auto k = static_cast<std::size_t>(i);
            worst = std::max({worst, std::fabs(a[k] - ref.a[k]), std::fabs(b[k] - ref.b[k])});
        }
        EXPECT_LT(worst, 1e-9) << c.name;
        EXPECT_EQ(state.noiseState, referenceNoise) << c.name;
    }
}

TEST(SineGrid, MatchesLibrarySineForEveryLength) {
    SineGrid grid;
    for (int n : {2, 3, 4000, 42000, 44100, 65536, 176400, 192000}) {
        grid.prepare(n);
        ASSERT_EQ(grid.size(), n);
        double worst = 0.0;
        for (int k = 0; k < n; ++k)
            worst = std::max(worst, std::fabs(grid[k] - std::sin(2.0 * testing::kPi * k / n)));
        EXPECT_LT(worst, 1e-13) << n;
        // Exactly odd, exact zeros at a whole and half turn, exact peaks.
        EXPECT_EQ(grid[0], 0.0);
        if (n % 2 == 0) {
            EXPECT_EQ(grid[n / 2], 0.0);
        }
        if (n % 4 == 0) {
            EXPECT_EQ(grid[n / 4], 1.0);
            EXPECT_EQ(grid[3 * n / 4], -1.0);
        }
        for (int k = 1; k < n; ++k) ASSERT_EQ(grid[n - k], -grid[k]) << n << " " << k;
    }
}

}  // namespace
}  // namespace miral::generator
