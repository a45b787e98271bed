// SPDX-License-Identifier: GPL-3.0-or-later
// The impedance stage and the RLC meter's arithmetic, on spectra of known
// devices seen through a shunt (built with complex arithmetic here).
#include "analysis/impedance.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <functional>
#include <limits>
#include <vector>

#include "analysis/fft.h"

namespace miral::analysis {
namespace {

using cd = std::complex<double>;
constexpr std::size_t kH = 1024;
constexpr double kBin = 10.0;  // Hz per bin
const double kPi = std::acos(-1.0);

struct Spectra {
    std::vector<double> magA = std::vector<double>(kH), phaseA = std::vector<double>(kH);
    std::vector<double> magB = std::vector<double>(kH), phaseB = std::vector<double>(kH);
};

// Channel B sees the generator (unit level, phase turning with the bin),
// channel A what the wiring gives it for a device of impedance z(f).
template <typename Z>
Spectra Fixture(Z z, double rs, double rin, bool serial) {
    Spectra s;
    for (std::size_t k = 0; k < kH; ++k) {
        const double f = static_cast<double>(k) * kBin;
        const cd b = std::polar(1000.0, 0.37 * static_cast<double>(k));
        const cd zk = z(f);
        cd h;
        if (serial) {
            const cd zp = zk * rin / (zk + rin);
            h = zp / (zp + rs);
        } else {
            const double u = rs * rin / (rs + rin);
            h = u / (u + zk);
        }
        const cd a = b * h;
        const MagnitudePhase pa = ToMagnitudePhaseOne(a.real(), a.imag());
        const MagnitudePhase pb = ToMagnitudePhaseOne(b.real(), b.imag());
        s.magA[k] = pa.magnitude;
        s.phaseA[k] = pa.phase;
        s.magB[k] = pb.magnitude;
        s.phaseB[k] = pb.phase;
    }
    return s;
}

ImpedanceInputs Inputs(Spectra& s, double rs, double rin, bool serial) {
    ImpedanceInputs in;
    in.magnitudeA = s.magA.data();
    in.phaseA = s.phaseA.data();
    in.magnitudeB = s.magB.data();
    in.phaseB = s.phaseB.data();
    in.bins = kH;
    in.shunt = rs;
    in.inputImpedance = rin;
    in.serial = serial;
    in.binWidth = kBin;
    return in;
}

TEST(ImpedanceStage, HundredOhmsThroughTenOhmShuntLoadedByTheInput) {
    EXPECT_NEAR(ShuntWithInput(10, 10000), 9.99001, 1e-5);
    Spectra s = Fixture([](double) { return cd(100.0, 0.0); }, 10, 10000, false);
    ImpedanceBranch(Inputs(s, 10, 10000, false));
    for (std::size_t k = 0; k < kH; ++k) {
        EXPECT_NEAR(s.magA[k], 100.0, 1e-9) << k;
        EXPECT_NEAR(s.phaseA[k], 0.0, 1e-9) << k;
    }
    // Resistive with "RLC" down: the phase is squeezed to 2 %.
    Spectra t = Fixture([](double) { return cd(100.0, 10.0); }, 10, 10000, false);
    ImpedanceInputs in = Inputs(t, 10, 10000, false);
    in.squeezePhase = true;
    ImpedanceBranch(in);
    EXPECT_NEAR(t.phaseA[300], 0.02 * std::atan2(10.0, 100.0) * 180 / kPi, 1e-9);
    EXPECT_NEAR(t.magA[300], std::hypot(100.0, 10.0), 1e-9);
}

TEST(ImpedanceStage, CapacitorsAndInductorsInBothWirings) {
    auto cap = [](double f) { return cd(0.5, -1.0 / (2 * kPi * f * 1e-6)); };  // 1 uF, ESR 0.5
    auto ind = [](double f) { return cd(3.0, 2 * kPi * f * 10e-3); };          // 10 mH, 3 ohms
    auto smallCap = [](double f) { return cd(0.0, -1.0 / (2 * kPi * f * 100e-9)); };
    struct Case {
        std::function<cd(double)> z;
        double rs, rin;
        bool serial;
    };
    const Case cases[] = {{cap, 10, 10000, false},
                          {ind, 47, 20000, false},
                          {smallCap, 1000, 10000, true},
                          {ind, 100, 10000, true}};
    for (const Case& c : cases) {
        Spectra s = Fixture(c.z, c.rs, c.rin, c.serial);
        ImpedanceBranch(Inputs(s, c.rs, c.rin, c.serial));
        for (std::size_t k : {3u, 40u, 333u, 1000u}) {
            const cd want = c.z(static_cast<double>(k) * kBin);
            EXPECT_NEAR(s.magA[k] / std::abs(want), 1.0, 1e-9) << k;
            EXPECT_NEAR(s.phaseA[k], std::arg(want) * 180 / kPi, 1e-6) << k;
        }
        // Channel B keeps its own spectrum.
        EXPECT_DOUBLE_EQ(s.magB[100], 1000.0);
    }
}

// The high-impedance correction bends the drawn phase of a capacitor far
// above the shunt; the reading bin reports the phase as measured, in both
// wirings, smoothed or not.
TEST(ImpedanceStage, ReadingBinKeepsTheMeasuredPhase) {
    auto cap = [](double f) { return cd(2.0, -1.0 / (2 * kPi * f * 10e-9)); };  // 10 nF, ESR 2
    for (bool serial : {false, true}) {
        Spectra s = Fixture(cap, 10, 10000, serial);
        ImpedanceInputs in = Inputs(s, 10, 10000, serial);
        in.highImpedanceCorrection = true;
        in.smooth = true;
        in.readingBin = 500;
        const ImpedanceResult r = ImpedanceBranch(in);
        const cd want = cap(500 * kBin);
        ASSERT_TRUE(r.readingValid);
        EXPECT_NEAR(r.readingPhase, std::arg(want) * 180 / kPi, 1e-6) << serial;
        EXPECT_GT(std::fabs(s.phaseA[500] - r.readingPhase), 0.1) << serial;  // the curve stays corrected
    }
    Spectra s = Fixture(cap, 10, 10000, false);
    EXPECT_FALSE(ImpedanceBranch(Inputs(s, 10, 10000, false)).readingValid);  // no reading bin
}

// A shunt or input impedance that is no positive number gives no reading:
// channel A holds zeros (numbers, not NaN) and the result says so.
TEST(ImpedanceStage, ImpossibleShuntOrInputGivesNoReading) {
    auto res = [](double) { return cd(100.0, 0.0); };
    const double cases[][2] = {{-10, 10000},
                               {0, 10000},
                               {10, 0},
                               {10, -10},
                               {-10000, 10000},
                               {std::numeric_limits<double>::infinity(), 10000},
                               {10, std::numeric_limits<double>::quiet_NaN()}};
    for (const auto& c : cases) {
        for (bool serial : {false, true}) {
            Spectra s = Fixture(res, 10, 10000, serial);
            ImpedanceInputs in = Inputs(s, c[0], c[1], serial);
            in.smooth = true;
            in.readingBin = 100;
            const ImpedanceResult r = ImpedanceBranch(in);
            EXPECT_FALSE(r.valid) << c[0] << " " << c[1];
            EXPECT_FALSE(r.readingValid);
            for (std::size_t k = 0; k < kH; ++k) {
                ASSERT_EQ(s.magA[k], 0.0) << k;
                ASSERT_EQ(s.phaseA[k], 0.0) << k;
            }
        }
    }
    Spectra s = Fixture(res, 10, 10000, false);
    EXPECT_TRUE(ImpedanceBranch(Inputs(s, 10, 10000, false)).valid);
}

TEST(ImpedanceStage, PhaseJustPastMinus90ReadsAsACapacitor) {
    // A capacitor whose real part comes out a hair negative (noise) has a
    // phase just below -90: it is clamped to -90, not read as +90.
    Spectra s = Fixture([](double) { return cd(-0.01, -50.0); }, 10, 10000, false);
    ImpedanceBranch(Inputs(s, 10, 10000, false));
    EXPECT_DOUBLE_EQ(s.phaseA[200], -90.0);
    EXPECT_NEAR(s.magA[200], std::hypot(0.01, 50.0), 1e-9);
    // Serial wiring: the same.
    Spectra t = Fixture([](double) { return cd(-0.01, -50.0); }, 10, 10000, true);
    ImpedanceBranch(Inputs(t, 10, 10000, true));
    EXPECT_DOUBLE_EQ(t.phaseA[200], -90.0);
}

TEST(ImpedanceStage, SilentBinsRepeatThePreviousAndSerialShuntHasAFloor) {
    Spectra s = Fixture([](double) { return cd(22.0, -7.0); }, 10, 10000, false);
    s.magA[500] = 0.0;
    s.magA[501] = 1e-31;
    s.magA[2] = 0.0;  // the first computed bin repeats bin 1's placeholder
    ImpedanceBranch(Inputs(s, 10, 10000, false));
    EXPECT_EQ(s.magA[500], s.magA[499]);
    EXPECT_EQ(s.magA[501], s.magA[499]);
    EXPECT_EQ(s.phaseA[501], s.phaseA[499]);
    EXPECT_DOUBLE_EQ(s.magA[2], 1e16);
    EXPECT_DOUBLE_EQ(s.magA[0], 1e16);  // bins 0 and 1 take bin 2's values
    EXPECT_DOUBLE_EQ(s.phaseA[2], 0.0);

    // "Shunt (Serial)" with h x B = A: the measured r is 0, read as 0.001.
    Spectra t;
    const double h = 10000 / 10010.0;
    for (std::size_t k = 0; k < kH; ++k) {
        t.magB[k] = 1000;
        t.magA[k] = 1000 * h;
        t.phaseA[k] = t.phaseB[k] = 45;
    }
    ImpedanceBranch(Inputs(t, 10, 10000, true));
    EXPECT_NEAR(t.magA[100], ShuntWithInput(10, 10000) / 0.001, 1e-6);
}

TEST(ImpedanceUnits, DisplayUnitsReadBack) {
    for (bool ylog : {true, false}) {
        for (double z : {0.05, 1.0, 159.15, 2.2e6}) {
            const double v = ImpedanceToDisplay(z, 0.065, ylog);
            EXPECT_NEAR(ImpedanceFromDisplay(v, 0.065, ylog) / z, 1.0, 1e-6);  // 10^(v/s x 0.00021714724972)
        }
    }
    EXPECT_DOUBLE_EQ(ImpedanceToDisplay(0.0, 0.065, true), -450.0);
    EXPECT_NEAR(ImpedanceToDisplay(100.0, 0.2 / 9.2, true), 0.2 / 9.2 * 2000 * std::log(100.0), 1e-9);
    // Linear: 0.0525 ohms per unit and range factor, and the trace's rows put
    // |Z| = V on the grid's line V (V x RowUnit x scale x 230).
    EXPECT_NEAR(ImpedanceFromDisplay(1000.0, 1.0, false), 52.5, 1e-12);
    EXPECT_NEAR(ImpedanceToDisplay(100.0, 0.3, false) * kLinearImpedanceRow, 100.0 * 0.3 * 230, 1e-9);
}

// A drawn trace of |Z| (display units) following z(f) at 44100 / n per bin.
std::vector<double> Trace(int n, double scale, bool ylog, double (*z)(double)) {
    std::vector<double> v(static_cast<std::size_t>(n / 2));
    for (int i = 0; i < n / 2; ++i)
        v[static_cast<std::size_t>(i)] = ImpedanceToDisplay(z(i * 44100.0 / n), scale, ylog);
    return v;
}

double resistor(double) {
    return 100.0;
}
double capacitor(double f) {
    return 1.0 / (2 * kPi * (f + 1) * 1e-6);
}
double inductor(double f) {
    return std::hypot(0.2, 2 * kPi * f * 1e-3);
}

TEST(RlcMeter, ClassifiesByTheSlopeOfTheTrace) {
    for (bool ylog : {true, false}) {
        for (int n : {2048, 16384, 65536}) {
            EXPECT_EQ(ClassifyDevice(Trace(n, 0.07, ylog, resistor).data(), n, 0.07, ylog),
                      RlcClass::Resistive);
            EXPECT_EQ(ClassifyDevice(Trace(n, 0.07, ylog, capacitor).data(), n, 0.07, ylog),
                      RlcClass::Capacitive);
            EXPECT_EQ(ClassifyDevice(Trace(n, 0.07, ylog, inductor).data(), n, 0.07, ylog),
                      RlcClass::Inductive);
        }
    }
    // A silent linear trace (all 0) is not a division by zero.
    std::vector<double> zero(8192, 0.0);
    const RlcClass c = ClassifyDevice(zero.data(), 16384, 0.07, false);
    EXPECT_TRUE(c == RlcClass::Capacitive || c == RlcClass::Inductive || c == RlcClass::Resistive);
}

TEST(RlcMeter, TestFrequencyCorrectionAndPrecision) {
    TestPointInputs t;
    t.fftSize = 16384;
    t.cls = RlcClass::Resistive;
    t.z0 = 10;
    EXPECT_EQ(ChooseTestPoint(t).bin, 380);  // trunc(1025 / 44100 x 16384)
    t.cls = RlcClass::Capacitive;
    const std::pair<double, int> caps[] = {{3.9, 11}, {4, 44},    {12.9, 44},
                                           {13, 446}, {129, 446}, {130, 4096}};
    for (auto [z0, bin] : caps) {
        t.z0 = z0;
        EXPECT_EQ(ChooseTestPoint(t).bin, bin) << z0;
    }
    t.cls = RlcClass::Inductive;
    const std::pair<double, int> inds[] = {{10001, 11}, {3001, 44}, {1001, 446}, {1000, 4096}};
    for (auto [z0, bin] : inds) {
        t.z0 = z0;
        EXPECT_EQ(ChooseTestPoint(t).bin, bin) << z0;
    }
    // "RLC_Freq_C" = 1000 at 48000 and 16384 points: bin 341.
    t.cls = RlcClass::Capacitive;
    t.adcRate = 48000;
    t.overrideHz = 1000;
    EXPECT_EQ(ChooseTestPoint(t).bin, 341);
    t.overrideHz = 1e6;  // beyond the band: its last bin
    EXPECT_EQ(ChooseTestPoint(t).bin, 8191);
    t.overrideHz = 0;

    // The correction for capacitors above 1 kohm with "smoth", and only they set it.
    t.z0 = 5000;
    t.smoothChecked = true;
    TestPoint p = ChooseTestPoint(t);
    EXPECT_TRUE(p.setsCorrection);
    EXPECT_TRUE(p.highImpedanceCorrection);
    t.smoothChecked = false;
    EXPECT_FALSE(ChooseTestPoint(t).highImpedanceCorrection);
    t.cls = RlcClass::Inductive;
    EXPECT_FALSE(ChooseTestPoint(t).setsCorrection);

    // Precision: 1 near the shunt, 0 beyond 20 times, -1 beyond 200 times away.
    t.shunt = 10;
    const std::pair<double, int> limits[] = {{100, 1}, {0.6, 1}, {300, 0}, {0.4, 0}, {3000, -1}, {0.04, -1}};
    for (auto [z0, precision] : limits) {
        t.z0 = z0;
        EXPECT_EQ(ChooseTestPoint(t).precision, precision) << z0;
    }
    t.zLimits = false;
    EXPECT_EQ(ChooseTestPoint(t).precision, 1);
}

TEST(RlcMeter, ReadingsAverageAroundTheBin) {
    std::vector<double> display(1000), phase(1000);
    for (int i = 0; i < 1000; ++i) {
        display[static_cast<std::size_t>(i)] = ImpedanceToDisplay(100.0 + i, 0.1, true);
        phase[static_cast<std::size_t>(i)] = i % 2 ? -80.0 : -60.0;
    }
    ReadingInputs in{display.data(), phase.data(), 1000, 0.1, true, 5.0};
    RlcReading r = ReactiveReading(in, 100, 1);  // the bin alone
    EXPECT_NEAR(r.ohms, 200.0, 1e-3);
    EXPECT_DOUBLE_EQ(r.phase, -60.0);
    EXPECT_NEAR(r.sin, std::sin(60 * kPi / 180), 1e-9);
    EXPECT_NEAR(r.tan, std::tan(60 * kPi / 180), 1e-9);
    EXPECT_DOUBLE_EQ(r.frequency, 500.0);
    r = ReactiveReading(in, 100, 10);  // bins 91 .. 109
    EXPECT_NEAR(r.ohms, 200.0, 1e-3);
    EXPECT_NEAR(r.phase, (10 * -80.0 + 9 * -60.0) / 19, 1e-9);
    r = ResistiveReading(in, 100, 2);  // bins 98 .. 101
    EXPECT_NEAR(r.ohms, 199.5, 1e-3);
    EXPECT_NEAR(r.cos, (std::cos(60 * 3.141592 / 180) + std::cos(80 * 3.141592 / 180)) / 2, 1e-12);
    // A window past the band's edges keeps to it; an empty one reads the bin.
    r = ReactiveReading(in, 999, 10);
    EXPECT_NEAR(r.ohms, (1090.0 + 1099.0) / 2, 1e-3);
    r = ResistiveReading(in, 5, 0);
    EXPECT_NEAR(r.ohms, 105.0, 1e-3);
}

}  // namespace
}  // namespace miral::analysis
