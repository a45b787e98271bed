// SPDX-License-Identifier: GPL-3.0-or-later
#include "generator/table_builder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "generator/generator_test_support.h"

namespace miral::generator {
namespace {

using testing::lineAmplitude;

// Full-scale counts of one generator at amplitude 100, as a table value
// before the 1.1 headroom.
constexpr double kFull = 32000.0 / 32768.0;

class TableBuilderTest : public ::testing::Test {
  protected:
    GeneratorResult build(const GeneratorControls& c) { return buildTables(c, state, a.data(), b.data()); }
    double maxAbs(const std::vector<float>& x, int n) const {
        double m = 0.0;
        for (int i = 0; i < n; ++i) m = std::max(m, std::fabs(static_cast<double>(x[i])));
        return m;
    }
    bool tablesEqual(int n) const { return std::equal(a.begin(), a.begin() + n, b.begin()); }

    GeneratorState state;
    std::vector<float> a = std::vector<float>(kMaxTableLength, 0.0f);
    std::vector<float> b = std::vector<float>(kMaxTableLength, 0.0f);
};

// 440 Hz sine at full amplitude on the main generator alone.
GeneratorControls sine440() {
    GeneratorControls c;
    c.genon1 = true;
    c.genfreq = 4400;
    c.mainRange = 100;
    c.genampl = 100;
    c.dacRate = 44100;
    return c;
}

TEST_F(TableBuilderTest, Sine440HoldsWholePeriodsWithHeadroom) {
    const GeneratorResult r = build(sine440());
    EXPECT_EQ(r.length, 44100);
    EXPECT_EQ(r.mainFrequency, 440.0);
    EXPECT_EQ(r.auxFrequency, 0.0);
    EXPECT_EQ(r.rateLabel(), " ");
    EXPECT_FALSE(r.rateAdjusted);
    EXPECT_TRUE(r.restartPlayback);
    EXPECT_EQ(state.lastStartedLength, 44100);
    EXPECT_EQ(state.mainFrequency, 440.0);

    const double limit = 32000.5 / 32768.0 / 1.1;  // ~0.8878
    const double peak = maxAbs(a, r.length);
    EXPECT_LE(peak, limit + 1e-7);
    EXPECT_GT(peak, limit - 1e-4);
    EXPECT_TRUE(tablesEqual(r.length));

    // A whole number of periods loops without a seam: one clean line, no leakage.
    EXPECT_NEAR(lineAmplitude(a.data(), r.length, 440), kFull / 1.1, 1e-5);
    for (int bin : {439, 441, 220, 880, 1320}) EXPECT_LT(lineAmplitude(a.data(), r.length, bin), 1e-6);
}

TEST_F(TableBuilderTest, AddOfTwoFullSinesIsScaledToHeadroomPeak) {
    GeneratorControls c = sine440();
    c.genon2 = true;
    c.genfreq2 = 1000;
    c.auxRange = 100;  // 100 Hz
    c.genampl2 = 100;
    const GeneratorResult r = build(c);
    EXPECT_EQ(r.auxFrequency, 100.0);
    EXPECT_NEAR(maxAbs(a, r.length), 1.0 / 1.1, 1e-6);
    EXPECT_TRUE(tablesEqual(r.length));
    const double l440 = lineAmplitude(a.data(), r.length, 440);
    const double l100 = lineAmplitude(a.data(), r.length, 100);
    EXPECT_NEAR(l100 / l440, 1.0, 1e-5);
}

TEST_F(TableBuilderTest, DualKeepsChannelsApartAndAttenuatesBoth) {
    GeneratorControls c = sine440();
    c.modulationMode = kModeDual;
    c.genon2 = true;
    c.gentri2 = true;
    c.gensin2 = false;
    c.genfreq2 = 1000;
    c.auxRange = 1000;  // 1 kHz triangle
    const GeneratorResult r = build(c);
    const int n = r.length;
    EXPECT_NEAR(lineAmplitude(a.data(), n, 440), kFull / 1.1, 1e-5);
    EXPECT_LT(lineAmplitude(a.data(), n, 1000), 1e-6);
    EXPECT_LT(lineAmplitude(a.data(), n, 3000), 1e-6);
    // Triangle of peak P: fundamental 8P/pi^2, odd harmonics falling as 1/k^2.
    const double tri = lineAmplitude(b.data(), n, 1000);
    EXPECT_NEAR(tri, 8.0 / (M_PI * M_PI) * kFull / 1.1, 1e-4);
    EXPECT_NEAR(lineAmplitude(b.data(), n, 3000) / tri, 1.0 / 9.0, 1e-3);
    EXPECT_LT(lineAmplitude(b.data(), n, 440), 1e-6);

    // -20 dB acts on both outputs in DUAL.
    c.db20 = true;
    build(c);
    EXPECT_NEAR(lineAmplitude(a.data(), n, 440), 0.1 * kFull / 1.1, 1e-5);
    EXPECT_NEAR(lineAmplitude(b.data(), n, 1000), 0.1 * tri, 1e-5);
}

TEST_F(TableBuilderTest, SquareRateAdjustmentBendsThePlaybackRate) {
    GeneratorControls c;
    c.genon1 = true;
    c.gensin1 = false;
    c.gensqr1 = true;
    c.genfreq = 7000;
    c.mainRange = 1000;
    c.genampl = 100;
    c.dacRate = 48000;
    c.freqVar = true;
    GeneratorResult r = build(c);
    EXPECT_TRUE(r.rateAdjusted);
    EXPECT_EQ(r.length, 42000);
    EXPECT_EQ(r.rateLabel(), "DAC 42000");
    EXPECT_TRUE(r.restartPlayback);
    EXPECT_EQ(state.lastStartedLength, 42000);
    // Six samples a period, three up and three down.
    const float hi = a[0];
    EXPECT_NEAR(hi, kFull / 1.1, 1e-6);
    for (int i = 0; i < r.length; ++i) ASSERT_EQ(a[i], (i % 6) < 3 ? hi : -hi) << i;

    // Rebuilding with the same settings keeps the stream running.
    EXPECT_FALSE(build(c).restartPlayback);

    // The adjustment needs the square without sweep.
    c.gensweep1 = true;
    r = build(c);
    EXPECT_FALSE(r.rateAdjusted);
    EXPECT_EQ(r.length, 48000);
    EXPECT_EQ(r.rateLabel(), " ");
    EXPECT_TRUE(r.restartPlayback);
}

TEST_F(TableBuilderTest, RateAdjustmentAboveHalfTheRateKeepsTheChosenRate) {
    GeneratorControls c;
    c.genon1 = true;
    c.gensin1 = false;
    c.gensqr1 = true;
    c.genfreq = 5000;
    c.mainRange = 1000;  // 5 kHz at 8 kHz: fewer than two samples a period
    c.dacRate = 8000;
    c.freqVar = true;
    const GeneratorResult r = build(c);
    EXPECT_FALSE(r.rateAdjusted);
    EXPECT_EQ(r.length, 8000);
    EXPECT_EQ(r.rateLabel(), " ");
    EXPECT_TRUE(r.restartPlayback);
    EXPECT_EQ(state.lastStartedLength, 8000);
    EXPECT_LE(maxAbs(a, r.length), 1.0 / 1.1 + 1e-6);
}

TEST_F(TableBuilderTest, NarrowDutyIsHighOnlyAtThePeriodStart) {
    GeneratorControls c = sine440();
    c.gensin1 = false;
    c.gensqr1 = true;
    c.sweepRange = sweepRangeFromLabel("1");
    c.gensweep = 50;  // W = 0.5
    const GeneratorResult r = build(c);
    int high = 0;
    for (int i = 0; i < r.length; ++i) {
        const bool atStart = (440LL * i) % r.length == 0;
        ASSERT_EQ(a[i] > 0, atStart) << i;
        ASSERT_NEAR(std::fabs(a[i]), kFull / 1.1, 1e-6);
        high += atStart;
    }
    EXPECT_EQ(high, 20);  // 440 x i is a multiple of 44100 every 2205 samples

    // With "50%" the knob does not set the duty: plain half-and-half square.
    c.sweepRange = sweepRangeFromLabel("50%");
    build(c);
    double mean = 0.0;
    for (int i = 0; i < r.length; ++i) mean += a[i];
    EXPECT_NEAR(mean / r.length, 0.0, 1e-3);
}

TEST_F(TableBuilderTest, PlaybackRestartsOnlyWhenTheLengthChanges) {
    GeneratorControls c = sine440();
    EXPECT_TRUE(build(c).restartPlayback);
    c.gensin1 = false;
    c.gentri1 = true;
    EXPECT_FALSE(build(c).restartPlayback);
    c.genfreq = 5000;
    c.db40 = true;
    EXPECT_FALSE(build(c).restartPlayback);
    c.dacRate = 96000;
    GeneratorResult r = build(c);
    EXPECT_TRUE(r.restartPlayback);
    EXPECT_EQ(r.length, 96000);
    // After the stream was stopped, the same length starts it again.
    markStopped(state);
    EXPECT_TRUE(build(c).restartPlayback);
    EXPECT_EQ(state.lastStartedLength, 96000);
}

TEST_F(TableBuilderTest, MainOffSilencesTheMainSignal) {
    GeneratorControls c = sine440();
    c.genon1 = false;
    c.dacRate = 32000;
    std::fill(a.begin(), a.end(), 0.7f);
    GeneratorResult r = build(c);
    EXPECT_EQ(r.length, 32000);
    EXPECT_EQ(r.mainFrequency, 0.0);
    EXPECT_EQ(state.mainFrequency, 0.0);
    EXPECT_EQ(r.rateLabel(), " ");
    EXPECT_TRUE(r.restartPlayback);
    EXPECT_EQ(maxAbs(a, r.length), 0.0);
    EXPECT_TRUE(tablesEqual(r.length));

    // The aux generator alone still plays in ADD.
    c.genon2 = true;
    c.genfreq2 = 2000;
    c.auxRange = 1000;
    r = build(c);
    EXPECT_EQ(r.auxFrequency, 2000.0);
    EXPECT_NEAR(lineAmplitude(a.data(), r.length, 2000), kFull / 1.1, 1e-5);
    EXPECT_LT(lineAmplitude(a.data(), r.length, 440), 1e-6);
}

// Carrier 1 kHz from the main generator, 100 Hz from the aux generator.
GeneratorControls modulated(int mode) {
    GeneratorControls c = sine440();
    c.genfreq = 1000;
    c.mainRange = 1000;
    c.genon2 = true;
    c.genfreq2 = 1000;
    c.auxRange = 100;
    c.modulationMode = mode;
    return c;
}

TEST_F(TableBuilderTest, AmGivesCarrierAndTwoSidebands) {
    GeneratorControls c = modulated(kModeAm);
    c.genampl2 = 50;  // modulation depth 0.5: each sideband a quarter of the carrier
    c.db20 = true;    // attenuates the carrier, not the modulation depth
    const GeneratorResult r = build(c);
    const int n = r.length;
    const double carrier = lineAmplitude(a.data(), n, 1000);
    EXPECT_NEAR(carrier, 0.1 * kFull / 1.1, 1e-5);
    EXPECT_NEAR(lineAmplitude(a.data(), n, 900) / carrier, 0.25, 1e-4);
    EXPECT_NEAR(lineAmplitude(a.data(), n, 1100) / carrier, 0.25, 1e-4);
    EXPECT_LT(lineAmplitude(a.data(), n, 800) / carrier, 1e-4);
    EXPECT_LT(lineAmplitude(a.data(), n, 1200) / carrier, 1e-4);
    EXPECT_TRUE(tablesEqual(n));
}

TEST_F(TableBuilderTest, DsbSuppressesTheCarrier) {
    const GeneratorResult r = build(modulated(kModeDsb));
    const int n = r.length;
    const double lower = lineAmplitude(a.data(), n, 900);
    const double upper = lineAmplitude(a.data(), n, 1100);
    EXPECT_NEAR(lower / upper, 1.0, 1e-4);
    EXPECT_GT(lower, 0.3);
    EXPECT_LT(lineAmplitude(a.data(), n, 1000) / lower, 1e-4);
    // The product of two full-scale sines stays within full scale.
    EXPECT_LE(maxAbs(a, n), kFull / 1.1 + 1e-6);
}

TEST_F(TableBuilderTest, FmSidebandsAreSpacedByTheAuxFrequency) {
    GeneratorControls c = modulated(kModeFm);
    c.mainRange = 100;   // 100 Hz carrier: fine phase steps
    c.auxRange = 10;     // 10 Hz modulation
    c.gensweep = 100;    // with "50%" the peak phase deviation is 2 pi 6500 / N
    c.gensweep1 = true;  // a sweep has no effect in FM
    const GeneratorResult r = build(c);
    const int n = r.length;
    const double beta = 2.0 * M_PI * 100.0 * 130.0 / (2.0 * n);
    const double j0 = std::cyl_bessel_j(0.0, beta);
    const double carrier = lineAmplitude(a.data(), n, 100);
    EXPECT_NEAR(carrier, j0 * kFull / 1.1, 0.01);
    for (int order = 1; order <= 3; ++order) {
        const double expected = std::cyl_bessel_j(static_cast<double>(order), beta) / j0;
        for (int side : {-1, 1}) {
            const double line = lineAmplitude(a.data(), n, 100 + side * 10 * order);
            EXPECT_NEAR(line / carrier, expected, 0.02 + 0.05 * expected) << order << " " << side;
        }
    }
    // Nothing between the sidebands.
    for (int bin : {95, 105, 113, 127}) EXPECT_LT(lineAmplitude(a.data(), n, bin) / carrier, 1e-4);
}

TEST_F(TableBuilderTest, SweepCoversTheSpanAndStopsAboveTwiceIt) {
    GeneratorControls c = sine440();
    c.genfreq = 1000;
    c.mainRange = 100;  // f1 = 100 Hz
    c.gensweep1 = true;
    c.sweepRange = sweepRangeFromLabel("100");
    c.gensweep = 10;  // span factor 1 + 10 / 1 = 11
    c.dacRate = 8000;
    const GeneratorResult r = build(c);
    const int n = r.length;
    // The phase index grows as (1 + 10 fold / (N/2)) i, so the frequency runs
    // from 100 Hz up to 2100 Hz in the first half second; in the second half it
    // starts again at 100 Hz and falls through zero to -1900 Hz. The two halves
    // interfere, so single bins can be weak: look at 50 Hz bands.
    auto bandRms = [&](int from) {
        double sum = 0.0;
        for (int bin = from; bin < from + 50; ++bin) sum += std::pow(lineAmplitude(a.data(), n, bin), 2);
        return std::sqrt(sum / 50);
    };
    double weakest = 1.0;
    for (int from = 100; from < 1100; from += 50) weakest = std::min(weakest, bandRms(from));
    EXPECT_GT(weakest, 0.01);
    double strongestAbove = 0.0;
    for (int from = 2400; from < 4000; from += 100) strongestAbove = std::max(strongestAbove, bandRms(from));
    EXPECT_LT(strongestAbove, 0.1 * weakest);
}

TEST_F(TableBuilderTest, NoiseIsUniformAndNewOnEveryRebuild) {
    GeneratorControls c = sine440();
    c.gensin1 = false;
    c.gennoise1 = true;
    const GeneratorResult r = build(c);
    const int n = r.length;
    const std::vector<float> first(a.begin(), a.begin() + n);
    double sum = 0.0;
    double sumSq = 0.0;
    for (int i = 0; i < n; ++i) {
        sum += a[i];
        sumSq += static_cast<double>(a[i]) * a[i];
    }
    const double full = kFull / 1.1;
    EXPECT_LE(maxAbs(a, n), full + 1e-6);
    EXPECT_GT(maxAbs(a, n), 0.999 * full);
    EXPECT_NEAR(sum / n, 0.0, 0.01);
    EXPECT_NEAR(sumSq / n, full * full / 3.0, 0.01);  // variance of a uniform
    build(c);
    EXPECT_FALSE(std::equal(first.begin(), first.end(), a.begin()));
}

TEST_F(TableBuilderTest, WideFastSweepKeepsSquareAndTriangleInShape) {
    // 10 kHz swept by "1K" at knob 100: f1 x t runs far beyond 32 bits.
    GeneratorControls c = sine440();
    c.genfreq = 10000;
    c.mainRange = 1000;
    c.gensin1 = false;
    c.gensqr1 = true;
    c.gensweep1 = true;
    c.sweepRange = sweepRangeFromLabel("1K");
    c.gensweep = 100;
    c.dacRate = 192000;
    GeneratorResult r = build(c);
    const double full = kFull / 1.1;
    int high = 0;
    for (int i = 0; i < r.length; ++i) {
        ASSERT_NEAR(std::fabs(a[i]), full, 1e-6) << i;
        high += a[i] > 0;
    }
    EXPECT_NEAR(static_cast<double>(high) / r.length, 0.5, 0.01);

    c.gensqr1 = false;
    c.gentri1 = true;
    r = build(c);
    EXPECT_LE(maxAbs(a, r.length), full * (1.0 + 1e-5));
}

TEST_F(TableBuilderTest, OutOfRangeSettingsStayInsideTheTables) {
    GeneratorControls c = sine440();
    c.gensqr1 = c.gentri1 = c.gennoise1 = true;
    c.genon2 = c.gentri2 = c.gensqr2 = true;

    c.dacRate = 500000;
    EXPECT_EQ(build(c).length, kMaxTableLength);
    c.dacRate = 0;
    EXPECT_EQ(build(c).length, kMinDacRate);

    // Knobs stepped below their range: zero and negative frequencies, FM.
    c.dacRate = 44100;
    for (int mode : {kModeAdd, kModeFm, 0, 9}) {
        for (int knob : {0, -500, -3000}) {
            c.modulationMode = mode;
            c.genfreq = knob;
            c.mainRange = 1;
            c.freqVar = true;
            const GeneratorResult r = build(c);
            EXPECT_EQ(r.length, 44100);
            EXPECT_EQ(r.mainFrequency, std::trunc(knob * 0.001 + 0.1));
            if (r.mainFrequency == 0.0) {
                EXPECT_FALSE(std::signbit(r.mainFrequency));  // no "-0" readout
            }
            for (int i = 0; i < r.length; ++i) {
                ASSERT_TRUE(std::isfinite(a[i]));
                ASSERT_LT(std::fabs(a[i]), 1.0f);
                ASSERT_LT(std::fabs(b[i]), 1.0f);
            }
        }
    }
}

TEST(GeneratorLabels, CyclesAndSteps) {
    EXPECT_EQ(nextSweepLabel("1"), "10");
    EXPECT_EQ(nextSweepLabel("10"), "100");
    EXPECT_EQ(nextSweepLabel("100"), "1K");
    EXPECT_EQ(nextSweepLabel("1K"), "50%");
    EXPECT_EQ(nextSweepLabel("50%"), "1");
    EXPECT_EQ(nextSweepLabel("xyz"), "xyz");
    EXPECT_EQ(sweepScale(sweepRangeFromLabel("1K")), 0.1);
    EXPECT_EQ(sweepScale(sweepRangeFromLabel("1")), 100.0);
    EXPECT_EQ(sweepScale(sweepRangeFromLabel("xyz")), 2.0);

    int mode = kModeAdd;
    std::string words;
    for (int step = 0; step < 5; ++step) {
        mode = nextModulationMode(mode);
        words += std::string(modulationWord(mode)) + " ";
    }
    EXPECT_EQ(words, "AM DSB FM DUAL ADD ");
    EXPECT_EQ(nextModulationMode(0), kModeAdd);

    // One step of the - / + buttons is exactly 1 Hz in every range.
    for (int range : {1, 10, 100, 1000}) {
        GeneratorControls c;
        c.genon1 = true;
        c.mainRange = range;
        c.genfreq = 4400;
        GeneratorState s;
        std::vector<float> x(kMaxTableLength), y(kMaxTableLength);
        const double before = buildTables(c, s, x.data(), y.data()).mainFrequency;
        c.genfreq += knobUnitsPerHertz(range);
        EXPECT_EQ(buildTables(c, s, x.data(), y.data()).mainFrequency, before + 1.0) << range;
    }
}

}  // namespace
}  // namespace miral::generator
