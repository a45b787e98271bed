// SPDX-License-Identifier: GPL-3.0-or-later
// The device-under-test text of the simulated bench.

#include "audio/sim_dut.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

namespace miral::audio {
namespace {

TEST(DutSetup, ParsesEveryStageAndCombinations) {
    DutSetup s;
    std::string error;
    ASSERT_TRUE(ParseDut("", s, error));
    EXPECT_EQ(s.network, NetworkKind::Wire);
    ASSERT_TRUE(ParseDut("rc-lowpass:R=4.7k,C=22n + delay-b:ns=20000+gain-b:db=-6+noise:dbfs=-90", s, error))
        << error;
    EXPECT_EQ(s.network, NetworkKind::RcLowpass);
    EXPECT_DOUBLE_EQ(s.resistance, 4700.0);
    EXPECT_DOUBLE_EQ(s.capacitance, 22e-9);
    EXPECT_DOUBLE_EQ(s.delayBNs, 20000.0);
    EXPECT_DOUBLE_EQ(s.gainBDb, -6.0);
    EXPECT_TRUE(s.noise);
    EXPECT_DOUBLE_EQ(s.noiseDbfs, -90.0);
    ASSERT_TRUE(ParseDut("RC-HIGHPASS:r=1M,c=1e-9+harmonics:h2=-60,h3=-70", s, error)) << error;
    EXPECT_EQ(s.network, NetworkKind::RcHighpass);
    EXPECT_DOUBLE_EQ(s.resistance, 1e6);
    EXPECT_TRUE(s.harmonics);
    EXPECT_DOUBLE_EQ(s.h2Db, -60.0);
    EXPECT_DOUBLE_EQ(s.h3Db, -70.0);
    ASSERT_TRUE(ParseDut("harmonics:h3=-80", s, error));
    EXPECT_LT(s.h2Db, -500.0);
    // The canonical text reads back to the same device.
    ASSERT_TRUE(ParseDut("rc-lowpass:R=1k,C=100n+delay-b:ns=-5000", s, error));
    DutSetup again;
    ASSERT_TRUE(ParseDut(DutText(s), again, error)) << DutText(s);
    EXPECT_EQ(DutText(again), DutText(s));
}

TEST(DutSetup, SiNumbers) {
    double v = 0;
    EXPECT_TRUE(ParseSiNumber("100n", v));
    EXPECT_DOUBLE_EQ(v, 100e-9);
    EXPECT_TRUE(ParseSiNumber("2.2u", v));
    EXPECT_DOUBLE_EQ(v, 2.2e-6);
    EXPECT_TRUE(ParseSiNumber("1\xC2\xB5", v));
    EXPECT_DOUBLE_EQ(v, 1e-6);
    EXPECT_TRUE(ParseSiNumber("10m", v));
    EXPECT_DOUBLE_EQ(v, 0.01);
    EXPECT_TRUE(ParseSiNumber("3M", v));
    EXPECT_DOUBLE_EQ(v, 3e6);
    EXPECT_TRUE(ParseSiNumber("-6", v));
    EXPECT_FALSE(ParseSiNumber("1kk", v));
    EXPECT_FALSE(ParseSiNumber("ohm", v));
    EXPECT_FALSE(ParseSiNumber("inf", v));
    EXPECT_FALSE(ParseSiNumber("", v));
}

TEST(DutSetup, MistakesGiveMessagesThatNameThem) {
    DutSetup s;
    std::string error;
    struct Case {
        const char* text;
        const char* mentions;
    };
    const Case cases[] = {
        {"rc-bandpass:R=1k", "unknown stage \"rc-bandpass\""},
        {"rc-lowpass:R=1k", "needs both R and C"},
        {"rc-lowpass:R=1k,C=0", "C must be above 0"},
        {"rc-lowpass:R=1k,C=1n,L=3", "no parameter \"l\""},
        {"rc-lowpass:R=1x,C=1n", "\"1x\" is not a number"},
        {"wire+rc-lowpass:R=1k,C=1n", "only one network"},
        {"noise:dbfs=-90+noise:dbfs=-80", "given twice"},
        {"delay-b:ns=2e9", "delay-b must lie within"},
        {"delay-b", "needs parameters"},
        {"gain-b:db", "is not key=value"},
        {"wire++noise:dbfs=-80", "empty stage"},
        {"harmonics:h2=3", "0 or less"},
    };
    for (const Case& c : cases) {
        error.clear();
        EXPECT_FALSE(ParseDut(c.text, s, error)) << c.text;
        EXPECT_NE(error.find(c.mentions), std::string::npos) << c.text << " -> " << error;
        EXPECT_NE(error.find(c.text), std::string::npos) << error;  // the whole text is quoted
        EXPECT_EQ(error.find('\n'), std::string::npos);
    }
}

TEST(DutProcessor, RcNetworkMatchesTheAnalogNetworkAtItsCorner) {
    DutSetup s;
    std::string error;
    ASSERT_TRUE(ParseDut("rc-lowpass:R=1k,C=100n", s, error));
    const double fc = 1.0 / (2.0 * std::numbers::pi * 1e3 * 100e-9);
    // At the corner: 3.01 dB down and 45 degrees behind, to a few
    // thousandths of a dB and of a degree (the realisation follows the analog
    // network across the band rather than being exact at one frequency).
    const auto h = DutProcessor::NetworkResponse(s, fc, 44100.0);
    EXPECT_NEAR(std::abs(h), std::sqrt(0.5), 2e-4);
    EXPECT_NEAR(std::arg(h), -std::numbers::pi / 4, 1e-4);
    // Well below the Nyquist frequency it follows the analog 1 / (1 + jwRC).
    for (double f : {100.0, 1000.0, 3000.0}) {
        const std::complex<double> analog = 1.0 / std::complex<double>(1.0, f / fc);
        const auto d = DutProcessor::NetworkResponse(s, f, 96000.0);
        EXPECT_NEAR(std::abs(d) / std::abs(analog), 1.0, 2e-3) << f;
        EXPECT_NEAR(std::arg(d), std::arg(analog), 2e-3) << f;
    }
    ASSERT_TRUE(ParseDut("rc-highpass:R=1k,C=100n", s, error));
    EXPECT_NEAR(std::abs(DutProcessor::NetworkResponse(s, fc, 48000.0)), std::sqrt(0.5), 2e-4);
    EXPECT_NEAR(std::abs(DutProcessor::NetworkResponse(s, 0.0, 48000.0)), 0.0, 1e-12);
}

}  // namespace
}  // namespace miral::audio
