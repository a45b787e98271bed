// SPDX-License-Identifier: GPL-3.0-or-later
// The impedance fixtures of the simulated bench: a shunt and a resistor,
// capacitor or inductor, with channel A's input impedance across what A sees.

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <numbers>
#include <vector>

#include "audio/sim_dut.h"

namespace miral::audio {
namespace {

using cd = std::complex<double>;

DutSetup Parse(const char* text) {
    DutSetup s;
    std::string error;
    EXPECT_TRUE(ParseDut(text, s, error)) << text << ": " << error;
    return s;
}

TEST(ShuntFixture, ParsesDevicesAndReadsBack) {
    DutSetup s = Parse("shunt:R=10,C=1u,ESR=0.2");
    EXPECT_EQ(s.network, NetworkKind::Shunt);
    EXPECT_DOUBLE_EQ(s.shunt, 10.0);
    EXPECT_EQ(s.device, DeviceKind::Capacitor);
    EXPECT_DOUBLE_EQ(s.deviceValue, 1e-6);
    EXPECT_DOUBLE_EQ(s.deviceSeries, 0.2);
    EXPECT_DOUBLE_EQ(s.inputImpedance, 10000.0);  // the instrument's default "Input Impedance"
    s = Parse("shunt-serial:r=1k,l=10m,rin=1M+noise:dbfs=-100");
    EXPECT_EQ(s.network, NetworkKind::ShuntSerial);
    EXPECT_EQ(s.device, DeviceKind::Inductor);
    EXPECT_DOUBLE_EQ(s.inputImpedance, 1e6);
    EXPECT_TRUE(s.noise);
    for (const char* text : {"shunt:R=10,Z=100", "shunt-serial:R=4.7,C=22n,ESR=0.5,Rin=20k"}) {
        const DutSetup a = Parse(text);
        const DutSetup b = Parse(DutText(a).c_str());
        EXPECT_EQ(DutText(a), DutText(b)) << text;
        EXPECT_EQ(b.device, a.device);
        EXPECT_DOUBLE_EQ(b.deviceValue, a.deviceValue);
    }

    struct Case {
        const char* text;
        const char* mentions;
    };
    const Case cases[] = {
        {"shunt:C=1u", "needs the shunt R and one device"},
        {"shunt:R=10", "needs the shunt R and one device"},
        {"shunt:R=10,C=1u,L=1m", "needs the shunt R and one device"},
        {"shunt:R=0,Z=100", "the shunt R must be above 0"},
        {"shunt:R=10,Z=100,ESR=1", "ESR is the series resistance"},
        {"shunt:R=10,C=-1u", "must be above 0"},
        {"shunt:R=10,Z=1,Rin=0", "Rin must be above 0"},
        {"shunt:R=10,Z=1,X=3", "no parameter \"x\""},
        {"wire+shunt:R=10,Z=1", "only one network"},
    };
    for (const Case& c : cases) {
        std::string error;
        EXPECT_FALSE(ParseDut(c.text, s, error)) << c.text;
        EXPECT_NE(error.find(c.mentions), std::string::npos) << c.text << " -> " << error;
    }
}

// The instrument's formulas get the device back from the analog response:
// plain shunt Z = U (1/H - 1), serial Z = U / (h/H - 1).
TEST(ShuntFixture, AnalogResponseIsTheWiringTheMeterAssumes) {
    for (const char* text : {"shunt:R=10,C=1u,ESR=0.3,Rin=10k", "shunt:R=47,L=22m,ESR=2,Rin=10k",
                             "shunt-serial:R=1k,C=10n,Rin=10k", "shunt-serial:R=100,Z=330,Rin=20k"}) {
        const DutSetup s = Parse(text);
        const double u = s.shunt * s.inputImpedance / (s.shunt + s.inputImpedance);
        const double h = s.inputImpedance / (s.inputImpedance + s.shunt);
        for (double f : {50.0, 1000.0, 15000.0}) {
            const cd resp = DutProcessor::ShuntResponse(s, f);  // A / B
            const cd z = s.network == NetworkKind::Shunt ? u * (1.0 / resp - 1.0) : u / (h / resp - 1.0);
            const cd want = DutProcessor::DeviceImpedance(s, f);
            EXPECT_NEAR(std::abs(z - want) / std::abs(want), 0.0, 1e-12) << text << " at " << f;
        }
    }
    // A 1 uF capacitor: -j159.15 ohms at 1 kHz.
    const cd zc = DutProcessor::DeviceImpedance(Parse("shunt:R=10,C=1u"), 1000.0);
    EXPECT_NEAR(zc.real(), 0.0, 1e-12);
    EXPECT_NEAR(zc.imag(), -159.1549, 1e-4);
}

// What the sample-by-sample realisation does to a sine, as amplitude and
// phase of A relative to B after settling.
cd MeasuredResponse(const DutSetup& s, double f, double rate) {
    DutProcessor p(s, rate, rate);
    const int settle = static_cast<int>(rate / 10);  // many time constants of this fixture
    const int n = static_cast<int>(rate / 10);
    cd a = 0.0, b = 0.0;
    for (int i = 0; i < settle + n; ++i) {
        const double x = 0.5 * std::sin(2 * std::numbers::pi * f * i / rate);
        float oa = 0, ob = 0;
        p.Network(static_cast<float>(x), 0.0f, oa, ob);
        if (i < settle) continue;
        const cd e = std::polar(1.0, -2 * std::numbers::pi * f * i / rate);
        a += static_cast<double>(oa) * e;
        b += static_cast<double>(ob) * e;
    }
    return a / b;
}

TEST(ShuntFixture, RealisationFollowsTheAnalogNetworkAcrossTheBand) {
    const char* fixtures[] = {"shunt:R=10,C=1u,ESR=0.1",  "shunt:R=10,L=10m",         "shunt:R=10,Z=100",
                              "shunt-serial:R=1k,C=100n", "shunt-serial:R=10k,C=10u",  // a slow pole
                              "shunt:R=10,C=10n"};                                     // a fast one
    for (double rate : {44100.0, 96000.0}) {
        for (const char* text : fixtures) {
            const DutSetup s = Parse(text);
            for (double f = 20; f < 0.4 * rate; f *= 2.3) {
                const cd want = DutProcessor::ShuntResponse(s, f);
                const cd got = DutProcessor::NetworkResponse(s, f, rate);
                EXPECT_NEAR(std::abs(got) / std::abs(want), 1.0, 5e-4)
                    << text << " " << f << " Hz at " << rate;
                EXPECT_NEAR(std::arg(got / want) * 180 / std::numbers::pi, 0.0, 0.02) << text << " " << f;
            }
        }
    }
    // The samples themselves: a few tones through the running network.
    const DutSetup s = Parse("shunt:R=10,C=1u,ESR=0.1");
    for (double f : {120.0, 1200.0, 11020.0}) {  // whole periods in the tenth of a second
        const cd want = DutProcessor::ShuntResponse(s, f);
        const cd got = MeasuredResponse(s, f, 44100.0);
        EXPECT_NEAR(std::abs(got) / std::abs(want), 1.0, 1e-3) << f;
        EXPECT_NEAR(std::arg(got / want) * 180 / std::numbers::pi, 0.0, 0.05) << f;
    }
}

}  // namespace
}  // namespace miral::audio
