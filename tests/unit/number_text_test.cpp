#include "protocol/number_text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <string>

namespace qvr::protocol {
namespace {

std::optional<std::string> fixedText(double value, int decimals, char separator) {
  std::string text = "#";
  if (!appendFixed(text, value, decimals, separator)) {
    EXPECT_EQ(text, "#") << "nothing is appended on failure";
    return std::nullopt;
  }
  return text.substr(1);
}

TEST(FixedText, RoundsHalfAwayFromZeroOnTheShortestDecimalForm) {
  struct Case {
    double value;
    int decimals;
    const char* expected;
  };
  const Case cases[] = {
      {2.675, 2, "2.68"},  // just below 2.675 in binary, but written 2.675
      {-0.125, 2, "-0.13"},
      {51.5012345, 2, "51.50"},
      {-0.1234567, 2, "-0.12"},
      {51.5012341, 6, "51.501234"},
      {-0.1412338, 6, "-0.141234"},
      {0.0000005, 6, "0.000001"},
      {-0.0000005, 6, "-0.000001"},
      {0.0000004, 6, "0.000000"},
      {-0.0000004, 6, "0.000000"},  // rounds to zero: no minus sign before it
      {0, 6, "0.000000"},
      {35.2, 0, "35"},
      {-3.5, 0, "-4"},
      {0.5, 0, "1"},
      {1.5, 0, "2"},
      {2.5, 0, "3"},
      {-2.5, 0, "-3"},
      {0.49, 0, "0"},
      {9.995, 2, "10.00"},
      {99.5, 0, "100"},
      {1234567.891, 2, "1234567.89"},
      {1e20, 0, "100000000000000000000"},
      {1e-20, 2, "0.00"},
      {-179.9999999, 6, "-180.000000"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(fixedText(c.value, c.decimals, '.'), c.expected) << c.value << " to " << c.decimals;
  }
}

TEST(FixedText, UsesTheGivenSeparatorAndRefusesNonFiniteValues) {
  EXPECT_EQ(fixedText(51.5012345, 2, ','), "51,50");
  EXPECT_EQ(fixedText(-3.5, 0, ','), "-4");
  EXPECT_FALSE(fixedText(std::numeric_limits<double>::quiet_NaN(), 2, '.').has_value());
  EXPECT_FALSE(fixedText(std::numeric_limits<double>::infinity(), 2, '.').has_value());
}

TEST(DecimalText, FifteenSignificantDigitsNeverAnExponent) {
  struct Case {
    double value;
    char separator;
    const char* expected;
  };
  const Case cases[] = {
      {10.5, '.', "10.5"},
      {-0.5, '.', "-0.5"},
      {10000000, '.', "10000000"},
      {1000000000, '.', "1000000000"},
      {10.5, ',', "10,5"},
      {1600000000.999, '.', "1600000000.999"},
      {12.345678, '.', "12.345678"},
      {0.1 + 0.2, '.', "0.3"},  // 15 digits hide the binary noise
      {std::ldexp(1.0, -32), '.', "0.00000000023283064365387"},
      {2147483647.9999999998, '.', "2147483648"},
      {51.5012345, '.', "51.5012345"},
      {-0.1234567, ',', "-0,1234567"},
      {0.0000001, '.', "0.0000001"},
      {-1e-7, '.', "-0.0000001"},
      {1e20, '.', "100000000000000000000"},
      {0.0, '.', "0"},
      {-0.0, '.', "0"},
      {123456789012345678.0, '.', "123456789012346000"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(decimalText(c.value, c.separator), c.expected) << c.expected;
  }
  EXPECT_EQ(decimalText(std::numeric_limits<double>::infinity(), '.'), "");
}

TEST(TwoDigits, LeadingZero) {
  std::string text;
  for (const int value : {0, 7, 59, 100}) {
    appendTwoDigits(text, value);
  }
  EXPECT_EQ(text, "000759100");
}

}  // namespace
}  // namespace qvr::protocol
