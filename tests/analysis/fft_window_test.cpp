#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "analysis/window.h"

namespace miral::analysis {
namespace {

const double kPi = 4.0 * std::atan(1.0);

struct Case {
  WindowKind kind;
  void (*apply)(double*, double*, std::size_t);
  double gain;
  // w(theta) written out independently
  double (*w)(double);
};

const Case kCases[] = {
    {WindowKind::Hann, ApplyHann, 2.0071, [](double t) { return 0.5 - 0.5 * std::cos(t); }},
    {WindowKind::Hamming, ApplyHamming, 1.8601, [](double t) { return 0.54 - 0.46 * std::cos(t); }},
    {WindowKind::Blackman, ApplyBlackman, 2.3874,
     [](double t) { return 0.42 - 0.5 * std::cos(t) + 0.08 * std::cos(2 * t); }},
    {WindowKind::Nuttall, ApplyNuttall, 2.7561,
     [](double t) {
       return 0.3635819 - 0.4891775 * std::cos(t) + 0.1365995 * std::cos(2 * t) -
              0.0106411 * std::cos(3 * t);
     }},
    {WindowKind::FlatTop, ApplyFlatTop, 1.0,
     [](double t) {
       return 1 - 1.93 * std::cos(t) + 1.29 * std::cos(2 * t) - 0.388 * std::cos(3 * t) +
              0.0322 * std::cos(4 * t);
     }},
};

TEST(Windows, MultiplyByWindowTimesGainAndLeaveTheSecondArrayAlone) {
  const std::size_t n = 1024, count = n + 1;
  for (const Case& c : kCases) {
    std::vector<double> re(count), im(count, 42.0);
    for (std::size_t i = 0; i < count; ++i) re[i] = 1.0 + 0.001 * static_cast<double>(i);
    const auto x = re;
    c.apply(re.data(), im.data(), count);
    for (std::size_t i = 0; i < count; ++i) {
      const double want = c.w(2 * kPi * static_cast<double>(i) / n) * c.gain * x[i];
      ASSERT_NEAR(re[i], want, 1e-13 * std::fabs(x[i]) * 5) << static_cast<int>(c.kind) << " " << i;
      ASSERT_EQ(im[i], 42.0);
      // The engine's table holds exactly the same factors.
      ASSERT_EQ(re[i], WindowFactor(c.kind, i, count) * x[i]);
    }
  }
}

TEST(Windows, HannOfCountNPlusOneIsZeroAtTheEndsAndFullAtTheMiddle) {
  const std::size_t n = 16384;
  std::vector<double> re(n + 1, 1.0), im(n + 1, 0.0);
  ApplyHann(re.data(), im.data(), n + 1);
  EXPECT_NEAR(re[0], 0.0, 1e-15);
  EXPECT_NEAR(re[n], 0.0, 1e-15);
  EXPECT_DOUBLE_EQ(re[n / 2], 2.0071);
  // Periodic over the n transformed points: symmetric about n/2.
  for (std::size_t i = 1; i < n / 2; i += 97) EXPECT_NEAR(re[i], re[n - i], 1e-12);
}

TEST(Windows, PeakValuesOfTheOtherWindows) {
  const std::size_t n = 64;
  EXPECT_NEAR(WindowFactor(WindowKind::Hamming, 0, n + 1), 0.08 * 1.8601, 1e-15);
  EXPECT_NEAR(WindowFactor(WindowKind::Hamming, n / 2, n + 1), 1.8601, 1e-15);
  EXPECT_NEAR(WindowFactor(WindowKind::Blackman, 0, n + 1), 0.0, 1e-15);
  EXPECT_NEAR(WindowFactor(WindowKind::Blackman, n / 2, n + 1), 2.3874, 1e-14);
  EXPECT_NEAR(WindowFactor(WindowKind::Nuttall, n / 2, n + 1), 1.0 * 2.7561, 1e-14);
  EXPECT_NEAR(WindowFactor(WindowKind::FlatTop, n / 2, n + 1), 4.6402, 1e-14);
  EXPECT_EQ(WindowFactor(WindowKind::Rectangular, 5, n + 1), 1.0);
}

TEST(Windows, RectangularLeavesTheRecordAndTinyCountsStayFinite) {
  std::vector<double> re{1, 2, 3}, im{0, 0, 0};
  ApplyWindow(WindowKind::Rectangular, re.data(), im.data(), 3);
  EXPECT_EQ(re, (std::vector<double>{1, 2, 3}));
  // One point: theta would be 0/0; it is taken as 0.
  for (const Case& c : kCases) {
    double one = 1.0, other = 0.0;
    c.apply(&one, &other, 1);
    EXPECT_TRUE(std::isfinite(one)) << static_cast<int>(c.kind);
    c.apply(&one, &other, 0);  // nothing to do
  }
}

}  // namespace
}  // namespace miral::analysis
