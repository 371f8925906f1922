// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/format_real.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <thread>

namespace {

TEST(FormatReal, WritesFixedDecimalsForFloatsAndDoubles) {
  EXPECT_EQ(formatReal(0.01f, 4), "0.0100");
  EXPECT_EQ(formatReal(3.0f, 3), "3.000");
  EXPECT_EQ(formatReal(2.5f, 3), "2.500");
  EXPECT_EQ(formatReal(440.0, 3), "440.000");
  EXPECT_EQ(formatReal(261.6255653005986, 3), "261.626");
  EXPECT_EQ(formatReal(8.175798915643707, 3), "8.176");
  EXPECT_EQ(formatReal(12543.853951415975, 3), "12543.854");
  EXPECT_EQ(formatReal(9.9996, 3), "10.000");
}

TEST(FormatReal, ZeroDecimalsHaveNoPointAndRoundAwayTheFraction) {
  EXPECT_EQ(formatReal(2.6, 0), "3");
  EXPECT_EQ(formatReal(-2.6, 0), "-3");
}

TEST(FormatReal, SignOfZero) {
  EXPECT_EQ(formatReal(-0.0, 3), "0.000");
  EXPECT_EQ(formatReal(-0.0f, 0), "0");
  EXPECT_EQ(formatReal(-0.0001, 3), "-0.000");
}

TEST(FormatReal, SpecialValuesIgnoreTheDecimalCount) {
  const double infinity = std::numeric_limits<double>::infinity();
  for (const int32_t decimals : {-7, -1, 0, 3, 600}) {
    EXPECT_EQ(formatReal(infinity, decimals), "+Infinity");
    EXPECT_EQ(formatReal(-infinity, decimals), "-Infinity");
    EXPECT_EQ(formatReal(std::nan(""), decimals), "NaN");
    EXPECT_EQ(formatReal(-std::numeric_limits<float>::quiet_NaN(), decimals), "NaN");
  }
}

TEST(FormatReal, DecimalCountLimits) {
  EXPECT_EQ(formatReal(1.5, -1), "1.5000000000");
  EXPECT_EQ(formatReal(1.5, -5), "2");
  EXPECT_EQ(formatReal(1.5, 600), formatReal(1.5, 512));
  EXPECT_EQ(formatReal(1.5, 600).size(), 2 + 512u);
}

TEST(FormatReal, NeverUsesAnExponentAndFitsTheLongestText) {
  const double largest = std::numeric_limits<double>::max();
  const std::string text = formatReal(-largest, 512);
  EXPECT_EQ(text.size(), FormatRealMaxLength);
  EXPECT_EQ(text.find('e'), std::string::npos);
  EXPECT_EQ(formatReal(1e-300, 3), "0.000");
}

TEST(FormatReal, CutsToTheBufferWithoutOverrunning) {
  char buffer[6] = {'x', 'x', 'x', 'x', 'x', 'x'};
  EXPECT_EQ(formatRealInto(buffer, 5, 12543.853951, 3), 9u);
  EXPECT_STREQ(buffer, "1254");
  EXPECT_EQ(buffer[5], 'x');
}

TEST(FormatReal, TwoThreadsFormattingAtOnceEachGetTheirOwnText) {
  auto formatMany = [](double value, const char* expected, bool& allRight) {
    for (int round = 0; round < 20000; ++round) allRight &= formatReal(value, 3) == expected;
  };
  bool firstRight = true;
  bool secondRight = true;
  std::thread other(formatMany, 261.6255653005986, "261.626", std::ref(firstRight));
  formatMany(2.5, "2.500", secondRight);
  other.join();
  EXPECT_TRUE(firstRight);
  EXPECT_TRUE(secondRight);
}

}  // namespace
