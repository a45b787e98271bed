// SPDX-License-Identifier: GPL-3.0-or-later
// The spectrum stage's kernels: delay correction, level jump, display units,
// LF average, smoothing, the peak list with the fundamental, the tuner reading.
#include "analysis/analyzer_stage.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "analysis/band.h"
#include "analysis/fft.h"
#include "analysis/tone_fit.h"
#include "analysis/window.h"

namespace miral::analysis {
namespace {

const double kPi = std::acos(-1.0);

// Magnitude and phase of a real record by the plain transform.
void Spectrum(const std::vector<double>& x, std::vector<double>& mag, std::vector<double>& phase) {
    const std::size_t n = x.size();
    mag = x;
    phase.assign(n, 0.0);
    Fft(mag.data(), phase.data(), n, 1);
    ToMagnitudePhase(mag.data(), phase.data(), mag.data(), phase.data(), n);
}

TEST(SpectrumStage, ChannelDelayCorrectionAlignsADelayedCopy) {
    // Channel B runs 3 samples ahead of channel A: after the correction by
    // that time in nanoseconds both phases agree at every tone.
    const std::size_t n = 1024;
    const double rate = 48000;
    const int delay = 3;
    const int tones[] = {17, 40, 101, 250};
    std::vector<double> a(n), b(n);
    for (std::size_t i = 0; i < n; ++i) {
        for (int k : tones) {
            a[i] += std::cos(2 * kPi * k * static_cast<double>(i) / n + k);
            b[i] += std::cos(2 * kPi * k * (static_cast<double>(i) + delay) / n + k);
        }
    }
    std::vector<double> magA, phA, magB, phB;
    Spectrum(a, magA, phA);
    Spectrum(b, magB, phB);
    CorrectChannelDelay(phB.data(), n, rate / n, delay / rate * 1e9);
    for (int k : tones) {
        double d = std::remainder(phB[static_cast<std::size_t>(k)] - phA[static_cast<std::size_t>(k)], 360.0);
        EXPECT_NEAR(d, 0.0, 1e-6) << "bin " << k;
    }
    // A delay of 0 leaves the phase as it is.
    std::vector<double> before = phB;
    CorrectChannelDelay(phB.data(), n, rate / n, 0.0);
    EXPECT_EQ(phB, before);
}

TEST(SpectrumStage, LevelJumpIsAFactorOfTenEitherWay) {
    const std::size_t bins = 120;  // the band sum covers bins 31 .. 39
    std::vector<double> m(bins, 100.0);
    LevelJumpDetector d;
    EXPECT_TRUE(d.Update(m.data(), bins));  // nothing before: a jump
    EXPECT_FALSE(d.Update(m.data(), bins));
    for (double& v : m) v *= 9;
    EXPECT_FALSE(d.Update(m.data(), bins));
    for (double& v : m) v *= 11;
    EXPECT_TRUE(d.Update(m.data(), bins));
    for (double& v : m) v /= 11;
    EXPECT_TRUE(d.Update(m.data(), bins));
    // Outside the band nothing counts.
    m[10] = 1e9;
    m[50] = 1e9;
    EXPECT_FALSE(d.Update(m.data(), bins));
    // Two silent cycles are no jump (both sums are 0).
    std::vector<double> zero(bins, 0.0);
    d.Update(zero.data(), bins);
    EXPECT_FALSE(d.Update(zero.data(), bins));
}

TEST(SpectrumStage, DisplayUnitsOfEachRow) {
    // A full-scale sine on a bin under the Hann window: 16384 x 0.5 x 2.0071.
    const double m = 16384 * 0.5 * 2.0071;
    double v[3] = {m, 0.0, 1000.0};
    ToDisplayUnits(DisplayRow::SpectrumLog, v, 3, 0.5);
    EXPECT_NEAR(v[0] / 0.5 / 230, 61.98, 0.01);  // dB on the dB grid
    EXPECT_NEAR(v[0] / 0.5 / 230, 20 * std::log10(m) - 22.4, 0.1);
    EXPECT_EQ(v[1], -450.0);
    double g[3] = {1.0, 0.0, 10.0};
    ToDisplayUnits(DisplayRow::GainLog, g, 3, 2.0);
    EXPECT_EQ(g[0], 0.0);
    EXPECT_EQ(g[1], -450.0);
    EXPECT_NEAR(g[2], 2.0 * 2000 * std::log(10.0), 1e-9);
    double lin[2] = {2.0, 1.0};
    ToDisplayUnits(DisplayRow::SpectrumLinear, lin, 1, 3.0);
    ToDisplayUnits(DisplayRow::GainLinear, lin + 1, 1, 0.5);
    EXPECT_NEAR(lin[0], 2.0 * 3.0 * 1.44, 1e-12);
    EXPECT_NEAR(lin[1], 0.5 * 1904.8, 1e-12);
}

struct Display {
    static constexpr std::size_t kBins = 64;
    std::vector<double> a = std::vector<double>(kBins), b = std::vector<double>(kBins),
                        ph = std::vector<double>(kBins);
    std::vector<double> da = std::vector<double>(kBins, -1), db = std::vector<double>(kBins, -1),
                        dp = std::vector<double>(kBins, -1);
    DisplayUpdate u() {
        DisplayUpdate x;
        x.a = a.data();
        x.b = b.data();
        x.phaseA = ph.data();
        x.displayA = da.data();
        x.displayB = db.data();
        x.displayPhase = dp.data();
        x.bins = kBins;
        return x;
    }
};

TEST(SpectrumStage, LfAverageHoldAndFreshStart) {
    Display d;
    for (std::size_t i = 0; i < Display::kBins; ++i) {
        d.a[i] = 100;
        d.b[i] = 200;
        d.ph[i] = 10;
    }
    DisplayUpdate u = d.u();
    u.lowf = true;
    EXPECT_TRUE(UpdateDisplay(u));  // unprimed: a fresh copy even with LF down
    EXPECT_EQ(d.da[0], -1);         // bin 0 is never updated
    EXPECT_EQ(d.da[1], 100);
    EXPECT_EQ(d.db[63], 200);
    EXPECT_EQ(d.dp[5], 10);
    u.primed = true;
    for (double& v : d.a) v = 200;
    UpdateDisplay(u);
    EXPECT_DOUBLE_EQ(d.da[1], 110);  // a tenth of the way
    u.hold = true;
    for (double& v : d.a) v = 1000;
    UpdateDisplay(u);
    EXPECT_DOUBLE_EQ(d.da[1], 110);  // frozen
    u.lowf = false;                  // LF up: HOLD has no effect on the spectrum
    UpdateDisplay(u);
    EXPECT_EQ(d.da[1], 1000);
    // The transfer view keeps the display of bins whose gain is below -4200.
    d.a[7] = -5000;
    d.a[8] = -4100;
    u.transfer = true;
    UpdateDisplay(u);
    EXPECT_EQ(d.da[7], 1000);
    EXPECT_EQ(d.da[8], -4100);
}

// No NaN or infinity enters the display: a value that is no number leaves
// its bin as it was, and a bin that holds none (from elsewhere) starts again
// from the next number; a cycle without a reading on A keeps A and the phase.
TEST(SpectrumStage, ValuesThatAreNoNumbersNeverEnterTheDisplay) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    Display d;
    for (std::size_t i = 0; i < Display::kBins; ++i) {
        d.a[i] = 100;
        d.b[i] = 200;
        d.ph[i] = 10;
    }
    DisplayUpdate u = d.u();
    u.lowf = true;
    d.a[3] = nan;
    d.b[4] = -inf;
    d.ph[5] = inf;
    EXPECT_TRUE(UpdateDisplay(u));  // a fresh copy
    EXPECT_EQ(d.da[3], -1);         // kept
    EXPECT_EQ(d.db[4], -1);
    EXPECT_EQ(d.dp[5], -1);
    EXPECT_EQ(d.da[4], 100);
    u.primed = true;
    d.da[6] = nan;  // an average that is no number (put there by anything)
    d.dp[7] = -inf;
    for (int cycle = 0; cycle < 3; ++cycle) UpdateDisplay(u);  // LF: 0.9 / 0.1
    EXPECT_EQ(d.da[3], -1);                                    // NaN again each cycle: the average stays
    EXPECT_NEAR(d.da[4], 100, 1e-12);
    EXPECT_EQ(d.da[6], 100);  // started again from the first number
    EXPECT_EQ(d.dp[7], 10);
    for (std::size_t i = 1; i < Display::kBins; ++i) {
        ASSERT_TRUE(std::isfinite(d.da[i])) << i;
        ASSERT_TRUE(std::isfinite(d.db[i])) << i;
        ASSERT_TRUE(std::isfinite(d.dp[i])) << i;
    }
    EXPECT_DOUBLE_EQ(LfAverage(50, 100), 55);
    EXPECT_EQ(LfAverage(50, nan), 50);
    EXPECT_EQ(LfAverage(inf, 100), 100);
    // No reading on A: A and the phase keep their values, B goes on; an
    // unprimed display stays unprimed.
    for (std::size_t i = 0; i < Display::kBins; ++i) {
        d.a[i] = 0;
        d.b[i] = 300;
        d.ph[i] = 0;
    }
    u.keepA = true;
    u.lowf = false;
    EXPECT_TRUE(UpdateDisplay(u));
    EXPECT_EQ(d.da[10], 100);
    EXPECT_EQ(d.dp[10], 10);
    EXPECT_EQ(d.db[10], 300);
    u.primed = false;
    EXPECT_FALSE(UpdateDisplay(u));
}

TEST(SpectrumStage, PhaseUnwrapFollowsTheDirectionOfTheWholeCurve) {
    Display d;
    DisplayUpdate u = d.u();
    u.lowf = true;
    u.primed = true;
    u.phaseUnwrap = true;
    // Average near 260, new value wrapped to -80 while the curve is mostly
    // positive: taken as 280.
    for (double& v : d.ph) v = 100;
    d.ph[3] = -80;
    d.dp[3] = 260;
    UpdateDisplay(u);
    EXPECT_NEAR(d.dp[3], 0.9 * 260 + 0.1 * 280, 1e-12);
    // A mostly negative curve: an average near -80 with a new value of 260 is -100.
    for (double& v : d.ph) v = -100;
    d.ph[3] = 260;
    d.dp[3] = -80;
    UpdateDisplay(u);
    EXPECT_NEAR(d.dp[3], 0.9 * -80 + 0.1 * -100, 1e-12);
    // Without "Phase_Smoth" the values are averaged as they come.
    u.phaseUnwrap = false;
    d.dp[3] = -80;
    UpdateDisplay(u);
    EXPECT_NEAR(d.dp[3], 0.9 * -80 + 0.1 * 260, 1e-12);
}

TEST(SpectrumStage, SmoothingAndMainsRepairAgainstPlainLoops) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> dist(-100, 100);
    std::vector<double> v(300);
    for (double& x : v) x = dist(rng);
    std::vector<double> want = v;
    for (std::size_t i = 5; i + 6 <= v.size(); ++i) {
        double s = 0;
        for (std::size_t j = i - 5; j <= i + 5; ++j) s += v[j];
        want[i] = s / 11;
    }
    std::vector<double> got = v;
    Smooth11(got.data(), got.size());
    for (std::size_t i = 0; i < v.size(); ++i) EXPECT_NEAR(got[i], want[i], 1e-12) << i;
    std::vector<double> tiny = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    Smooth11(tiny.data(), tiny.size());
    EXPECT_EQ(tiny[5], 6);

    // 2.5 Hz bins: 50, 100, 150 Hz are bins 20, 40, 60.
    std::vector<double> m(100);
    for (std::size_t i = 0; i < m.size(); ++i) m[i] = static_cast<double>(i * i);
    MainsRepair(m.data(), m.size(), 2.5);
    EXPECT_EQ(m[20], (17.0 * 17 + 23 * 23) / 2);
    EXPECT_EQ(m[40], (37.0 * 37 + 43 * 43) / 2);
    EXPECT_EQ(m[60], (57.0 * 57 + 63 * 63) / 2);
    EXPECT_EQ(m[21], 21 * 21);
    // 20 Hz bins: the 50 Hz bin (2) has no bin three below; 100 Hz (5) and
    // 150 Hz (7) are repaired.
    for (std::size_t i = 0; i < m.size(); ++i) m[i] = static_cast<double>(i);
    MainsRepair(m.data(), 8, 20.0);
    EXPECT_EQ(m[2], 2);
    EXPECT_EQ(m[5], 5);
    EXPECT_EQ(m[7], 7);  // bin 10 is outside the 8 bins: left alone
}

TEST(PeakListTest, KeepsTheThirtyStrongestInDescendingOrder) {
    PeakList p;
    for (int i = 1; i <= 40; ++i) p.Insert(i * 10.0, i);
    EXPECT_EQ(p.slot[0].bin, 40);
    EXPECT_EQ(p.slot[29].bin, 11);
    EXPECT_EQ(p.slot[30].bin, 10);  // the one that fell off the end
    p.Insert(400.0, 99);            // equal to the strongest: goes after it
    EXPECT_EQ(p.slot[0].bin, 40);
    EXPECT_EQ(p.slot[1].bin, 99);
    p.Reset();
    EXPECT_EQ(p.slot[0].bin, 0);
    EXPECT_EQ(p.slot[0].value, 0);
}

TEST(PeakListTest, ScanTakesLocalMaximaAboveTheMinimumLevel) {
    //                     0  1  2   3  4  5   6   7  8  9
    std::vector<double> v{0, 5, 3, 20, 9, 9, 50, 50, 1, 30, 0};
    PeakList p;
    p.Scan(v.data(), 1, 10, 4.0);
    // bin 1 (5 > 4), 3, both halves of the plateau 6/7, 9; not 4/5 (below bin 3 / bin 6).
    EXPECT_EQ(p.slot[0].value, 50);
    EXPECT_EQ(p.slot[1].value, 50);
    EXPECT_EQ(p.slot[2].bin, 9);
    EXPECT_EQ(p.slot[3].bin, 3);
    EXPECT_EQ(p.slot[4].bin, 1);
    EXPECT_EQ(p.slot[5].bin, 0);
    p.Reset();
    p.Scan(v.data(), 1, 10, 50.0);  // "Min Lev." above every peak: empty
    EXPECT_EQ(p.ChooseFundamental(false), 0);
    EXPECT_EQ(p.ChooseFundamental(true), 0);
}

TEST(PeakListTest, SoloChoosesAFundamentalAboveAThirdOfTheStrongest) {
    // A harmonic series whose strongest partial is the third harmonic.
    auto series = [](double fundamental) {
        PeakList p;
        p.Insert(1000, 300);         // 3rd harmonic, the strongest
        p.Insert(fundamental, 100);  // fundamental
        p.Insert(200, 200);          // 2nd
        p.Insert(50, 400);           // below a tenth: cleared
        return p;
    };
    PeakList p = series(400);
    EXPECT_EQ(p.ChooseFundamental(false), 300);
    EXPECT_EQ(p.slot[3].bin, 0);  // the weak one is gone
    p = series(400);
    EXPECT_EQ(p.ChooseFundamental(true), 100);  // 40 %: the fundamental
    p = series(300);
    EXPECT_EQ(p.ChooseFundamental(true), 300);  // 30 %: the strongest stays
}

TEST(PeakListTest, SortByBinCarriesTheValues) {
    PeakList p;
    p.Insert(30, 500);
    p.Insert(20, 100);
    p.Insert(10, 300);
    p.SortByBin();
    // The 27 empty slots (bin 0) come first.
    EXPECT_EQ(p.slot[26].bin, 0);
    EXPECT_EQ(p.slot[27].bin, 100);
    EXPECT_EQ(p.slot[27].value, 20);
    EXPECT_EQ(p.slot[28].bin, 300);
    EXPECT_EQ(p.slot[29].bin, 500);
    EXPECT_EQ(p.slot[29].value, 30);
}

TEST(Tuner, ReadingsOfTheNoteScale) {
    TunerReading r = ReadTuner(440);
    EXPECT_STREQ(NoteName(r.note), "La");
    EXPECT_EQ(r.shownCents, 0);
    EXPECT_EQ(r.roundedHz, 440);
    r = ReadTuner(445);
    EXPECT_STREQ(NoteName(r.note), "La");
    EXPECT_EQ(r.shownCents, 19);
    EXPECT_TRUE(r.outOfTune);
    r = ReadTuner(453);
    EXPECT_STREQ(NoteName(r.note), "La#");
    EXPECT_EQ(r.shownCents, -49);
    r = ReadTuner(440.6);
    EXPECT_EQ(r.roundedHz, 441);
    EXPECT_EQ(r.measuredHz, 440);
    // 9.x cents is in tune, 10 is not.
    r = ReadTuner(440 * std::pow(2.0, 9.9 / 1200));
    EXPECT_EQ(r.shownCents, 9);
    EXPECT_FALSE(r.outOfTune);
    r = ReadTuner(440 * std::pow(2.0, 10.1 / 1200));
    EXPECT_EQ(r.shownCents, 10);
    EXPECT_TRUE(r.outOfTune);
    r = ReadTuner(440 * std::pow(2.0, -10.1 / 1200));
    EXPECT_TRUE(r.outOfTune);
    // Below 10 Hz, and no fundamental at all: "Off", centred.
    for (double f : {9.9, 0.0}) {
        r = ReadTuner(f);
        EXPECT_STREQ(NoteName(r.note), "Off");
        EXPECT_EQ(r.cents, 0);
        EXPECT_FALSE(r.outOfTune);
    }
}

TEST(Tuner, ToneBetweenBinsIsFittedInEveryWindow) {
    // A tone anywhere between bins, low in the spectrum as the lowest string of
    // a bass (14 bins: 41 Hz at 48 kHz and 16384 points) and higher, with any
    // phase: the fit finds it to a small fraction of a bin (0.5 cent at 14
    // bins is 0.004 bin). The rectangular window's slow sidelobes carry the
    // tone's mirror image at -f into the fit: it is held to less there.
    const std::size_t n = 4096;
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> phase(0, 2 * kPi);
    for (WindowKind kind : {WindowKind::Rectangular, WindowKind::Hann, WindowKind::Hamming,
                            WindowKind::Blackman, WindowKind::Nuttall, WindowKind::FlatTop}) {
        for (double bin : {14.03, 14.5, 20.77, 101.25, 333.5, 1000.0, 1500.91}) {
            std::vector<double> x(n + 1), im(n + 1, 0.0), mag(n), ph(n);
            const double p0 = phase(rng);
            for (std::size_t i = 0; i <= n; ++i) x[i] = 0.3 * std::sin(2 * kPi * bin * i / n + p0);
            ApplyWindow(kind, x.data(), im.data(), n + 1);
            x.resize(n);
            Spectrum(x, mag, ph);
            const std::size_t peak = static_cast<std::size_t>(std::lround(bin));
            const double got = ToneBin(mag.data(), n / 2 + 1, peak, n, CosineWindowOf(kind));
            // Hamming's far sidelobes stay at -43 dB: its mirror image moves
            // a low tone by up to 1e-3 bin (0.1 cent at 14 bins).
            const double tol = kind == WindowKind::Rectangular ? (bin < 100 ? 0.02 : 2e-3)
                               : kind == WindowKind::Hamming   ? 2e-3
                                                               : 2e-4;
            EXPECT_NEAR(got, bin, tol) << static_cast<int>(kind) << " at " << bin;
        }
    }
    // No peak near the bin asked for, or too close to the ends: no figure.
    std::vector<double> flat(64, 1.0);
    flat[30] = 2.0;
    EXPECT_TRUE(std::isnan(ToneBin(flat.data(), 64, 10, 126, CosineWindowOf(WindowKind::Hann))));
    EXPECT_TRUE(std::isnan(ToneBin(flat.data(), 64, 1, 126, CosineWindowOf(WindowKind::Hann))));
    EXPECT_NEAR(ToneBin(flat.data(), 64, 31, 126, CosineWindowOf(WindowKind::Hann)), 30.0, 0.7);
}

}  // namespace
}  // namespace miral::analysis
