// SPDX-License-Identifier: GPL-3.0-or-later
#include "display/number_text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace miral::display {
namespace {

TEST(ShortestText, DropsTrailingZerosAndKeepsFifteenDigits) {
    EXPECT_EQ(ShortestText(440), "440");
    EXPECT_EQ(ShortestText(0.5), "0.5");
    EXPECT_EQ(ShortestText(-12.25), "-12.25");
    EXPECT_EQ(ShortestText(0.1 + 0.2), "0.3");
    EXPECT_EQ(ShortestText(2.684940123456789), "2.68494012345679");
    EXPECT_EQ(ShortestText(-0.0), "0");
    EXPECT_EQ(ShortestText(1e20), "1e+20");
    EXPECT_EQ(ShortestText(1e-7), "1e-07");
}

TEST(NumberText, CutsToWidthButKeepsExponentAndIntegerDigits) {
    EXPECT_EQ(NumberText(3.14159, 4), "3.14");
    EXPECT_EQ(NumberText(-2.5, 7), "-2.5");
    EXPECT_EQ(NumberText(1.23456e-7, 7), "1.23e-07");  // 4 mantissa characters + exponent
    EXPECT_EQ(NumberText(9.87654e21, 6), "9.8e+21");
    // Too wide for the field: the integer part stays whole.
    EXPECT_EQ(NumberText(123456.7, 4), "123456");
    EXPECT_EQ(NumberText(-123.4, 2), "-123");
}

TEST(SiText, ChoosesPrefixAndWidth) {
    EXPECT_EQ(SiText(0.002, 3, false), "2 m");
    EXPECT_EQ(SiText(0.0047, 3, false), "4.7 m");
    EXPECT_EQ(SiText(4.7e-6, 3, false), "4.7 u");
    EXPECT_EQ(SiText(3.3e-8, 3, false), "33 n");
    EXPECT_EQ(SiText(4700, 3, false), "4.7 K");
    EXPECT_EQ(SiText(2.2e6, 3, false), "2.2 M");
    // 100 with n = 3: six characters allowed because the leading digit is 1.
    EXPECT_EQ(SiText(100, 3, false), "100 ");
    EXPECT_EQ(SiText(12.34567, 3, false), "12.345 ");
    EXPECT_EQ(SiText(23.4567, 3, false), "23.45 ");
}

TEST(SiText, PicoUnitsKeepOneMoreCharacterForALeadingOne) {
    EXPECT_EQ(SiText(2.34567e-10, 3, false), "234.5 p");
    EXPECT_EQ(SiText(1.23456e-10, 3, false), "123.45 p");
}

TEST(SiText, SmallUnitWritesMicroBelowOneWithoutLosingDigits) {
    EXPECT_EQ(SiText(0.002, 3, true), "2000 u");
    EXPECT_EQ(SiText(0.0022, 3, true), "2200 u");
    EXPECT_EQ(SiText(2.2e-5, 3, true), "22 u");  // below 0.001: the ordinary micro range
    EXPECT_EQ(SiText(1.5, 3, true), "1.5 ");
    EXPECT_EQ(SiText(1234.5, 3, true), "1.23 K");
    // 0.5 is 500000 u: cutting it to four characters would read 5000 u.
    EXPECT_EQ(SiText(0.5, 3, true), "500000 u");
}

TEST(SiText, NonPositiveValuesAreWrittenPlainly) {
    EXPECT_EQ(SiText(0, 3, false), "0 ");
    EXPECT_EQ(SiText(-2.5, 3, false), "-2.5 ");
}

// A negative quantity (a capacitor's ESR after the probe correction, say)
// reads as its magnitude with a minus sign in front: same prefix, same digits.
TEST(SiText, NegativeValuesTakeThePrefixOfTheirMagnitude) {
    EXPECT_EQ(SiText(-2.06e-8, 3, false), "-20.6 n");
    EXPECT_EQ(SiText(-0.002, 3, false), "-2 m");
    EXPECT_EQ(SiText(-4.7e-6, 3, false), "-4.7 u");
    EXPECT_EQ(SiText(-1.23456e-10, 3, false), "-123.45 p");
    EXPECT_EQ(SiText(-4700, 3, false), "-4.7 K");
    EXPECT_EQ(SiText(-2.2e6, 3, false), "-2.2 M");
    EXPECT_EQ(SiText(-0.5, 3, true), "-500000 u");
    EXPECT_EQ(SiText(-0.0022, 3, true), "-2200 u");
    for (double x : {3.3e-13, 2.06e-8, 1e-6, 9.99e-4, 0.001, 0.0315, 0.999, 1.0, 12.34567, 999.9, 1000.0,
                     123456.7, 1e6, 4.4e9})
        for (int n : {1, 2, 3, 5})
            for (bool small : {false, true}) {
                const NumText positive = SiText(x, n, small);
                EXPECT_EQ(SiText(-x, n, small), "-" + positive.str())
                    << x << " n=" << n << " small=" << small;
            }
}

TEST(MapAxis, LinearAndLogarithmic) {
    EXPECT_DOUBLE_EQ(MapAxis(5, 100, 0, 10, false), 50);
    EXPECT_DOUBLE_EQ(MapAxis(-5, 100, 0, 10, false), -50);
    EXPECT_NEAR(MapAxis(100, 300, 10, 1000, true), 150, 1e-9);
    EXPECT_DOUBLE_EQ(MapAxis(0.5, 300, 10, 1000, true), 0);
    // low below 1 counts as 1, high below 2 as 2.
    EXPECT_NEAR(MapAxis(10, 100, 0.5, 100, true), 50, 1e-9);
    EXPECT_NEAR(MapAxis(std::sqrt(2.0), 100, 0, 1.5, true), 50, 1e-9);
    EXPECT_DOUBLE_EQ(MapAxis(7, 100, 3, 3, false), 0);  // degenerate axis
}

TEST(IsRoundTick, LinearLabelsFollowTheBandWidth) {
    for (int f = 0; f < 20000; f += 1000) EXPECT_EQ(IsRoundTick(f, 0, 20000, false), f % 2000 == 0) << f;
    EXPECT_TRUE(IsRoundTick(37, 30, 41, false));  // width 11: everything
    EXPECT_TRUE(IsRoundTick(30, 20, 80, false));
    EXPECT_FALSE(IsRoundTick(35, 20, 80, false));
    EXPECT_TRUE(IsRoundTick(300, 0, 1000, false));
    EXPECT_FALSE(IsRoundTick(350, 0, 1000, false));
    EXPECT_TRUE(IsRoundTick(3000, 0, 10000, false));
}

TEST(IsRoundTick, LogarithmicLabelsFollowTheBandRatio) {
    // 20..20000 (ratio 1000): only 1 x 10^k.
    std::vector<int> labelled;
    for (int k = 1; k <= 10000; k *= 10)
        for (int d = 1; d <= 9; ++d)
            if (IsRoundTick(d * k, 20, 20000, true)) labelled.push_back(d * k);
    EXPECT_EQ(labelled, (std::vector<int>{1, 10, 100, 1000, 10000}));
    // 100..1000 (ratio 10): every d x 10^k, nothing else.
    for (int d = 1; d <= 9; ++d) EXPECT_TRUE(IsRoundTick(d * 100, 100, 1000, true));
    EXPECT_FALSE(IsRoundTick(110, 100, 1000, true));
    EXPECT_FALSE(IsRoundTick(0, 100, 1000, true));
    // 20..1000 (ratio 50): 1, 2 and 5 x 10^k.
    EXPECT_TRUE(IsRoundTick(200, 20, 1000, true));
    EXPECT_TRUE(IsRoundTick(500, 20, 1000, true));
    EXPECT_FALSE(IsRoundTick(300, 20, 1000, true));
    // A band from 0 has no finite ratio: only decades.
    EXPECT_TRUE(IsRoundTick(100, 0, 1000, true));
    EXPECT_FALSE(IsRoundTick(200, 0, 1000, true));
    // The amplitude grid asks with ten-thousandths far beyond 32 bits.
    EXPECT_TRUE(IsRoundTick(10000000000LL, 1, 10000, true));
}

TEST(PrevLogStep, WalksEveryDecadeDownToZero) {
    std::vector<double> expected;
    expected.push_back(1e6);
    for (int k = 5; k >= -5; --k)
        for (int d = 9; d >= 1; --d) expected.push_back(d * std::pow(10.0, k));
    std::vector<double> got;
    for (double x = 1e6; x > 0 && got.size() < 200; x = PrevLogStep(x)) got.push_back(x);
    ASSERT_EQ(got.size(), expected.size());
    for (std::size_t i = 0; i < got.size(); ++i) EXPECT_NEAR(got[i], expected[i], expected[i] * 1e-9) << i;
    EXPECT_EQ(PrevLogStep(0.0000105), 0.0);
    EXPECT_EQ(PrevLogStep(-3), 0.0);
}

TEST(FixedText, AppendsAndTruncates) {
    FixedText<8> t("ab");
    t.appendInt(-1234).append('x').append("overflow");
    EXPECT_EQ(t.view(), "ab-1234x");
    t.truncate(3);
    EXPECT_EQ(t.view(), "ab-");
    NumText big;
    big.appendInt(-9223372036854775807LL - 1);
    EXPECT_EQ(big.view(), "-9223372036854775808");
}

}  // namespace
}  // namespace miral::display
