#include "protocol/frequency.h"

#include <gtest/gtest.h>

#include <string>

namespace qvr::protocol {
namespace {

struct Encoded {
  bool numeric;
  bool inRange;
  FixedPointHz value;
};

Encoded typed(const std::string& text, char separator = '.') {
  const auto reading = readFrequency(text, separator);
  if (!reading) {
    return {false, false, {}};
  }
  const bool inRange = frequencyInRange(reading->value);
  const auto encoded = encodeFrequency(reading->exact);
  return {true, inRange, encoded.value_or(FixedPointHz{0xDEADBEEF, 0xDEADBEEF})};
}

TEST(Frequency, WorkedEncodings) {
  struct Case {
    const char* text;
    std::uint32_t integer;
    std::uint32_t fraction;
  };
  const Case cases[] = {
      {"1000000000", 1000000000, 0x00000000},
      {"10.5", 10, 0x80000000},
      {"0.9", 0, 0xE6666666},
      {"12.345678", 12, 0x587E5A79},
      {"1600000000.999", 1600000000, 0xFFBE76C9},
      {"10.25", 10, 0x40000000},
      {"1.000000001", 1, 0x00000004},
      {"10000000", 10000000, 0},
      {"  10.5  ", 10, 0x80000000},
      {"+10.5", 10, 0x80000000},
      {"1.05e1", 10, 0x80000000},
      {"105E-1", 10, 0x80000000},
      {"0.00000000105e10", 10, 0x80000000},
      {".5e1", 5, 0},
      {"7.", 7, 0},
      {"0010.500", 10, 0x80000000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const Encoded e = typed(c.text);
    EXPECT_TRUE(e.numeric);
    EXPECT_TRUE(e.inRange);
    EXPECT_EQ(e.value, (FixedPointHz{c.integer, c.fraction}));
  }
}

TEST(Frequency, RangeIsJudgedInDoublePrecision) {
  struct Case {
    const char* text;
    bool inRange;
  };
  const Case cases[] = {
      {"0.9", true},         {"0.89", false},          {"0.8999999999", false},
      {"1600000001", false}, {"1600000000.999", true}, {"1600000000.9999999999", false},
      {"0", false},          {"-10", false},           {"1e400", false},
      {"1e-400", false},     {"1.6e9", true},          {"16e8", true},
  };
  for (const Case& c : cases) {
    const Encoded e = typed(c.text);
    EXPECT_TRUE(e.numeric) << c.text;
    EXPECT_EQ(e.inRange, c.inRange) << c.text;
  }
}

TEST(Frequency, TextsThatAreNotNumbers) {
  for (const char* text : {"", "   ", "abc", "10Hz", "1 000", "1,000.5", "10..5", "1e", "1e+",
                           "--1", "+", ".", "0x10", "10.5.", "1e5.5",
                           "\xC2\xA0"
                           "10"}) {
    EXPECT_FALSE(typed(text).numeric) << '"' << text << '"';
  }
}

TEST(Frequency, TheUsersDecimalSeparator) {
  EXPECT_EQ(typed("10,5", ',').value, (FixedPointHz{10, 0x80000000}));
  EXPECT_FALSE(typed("10.5", ',').numeric);
  EXPECT_FALSE(typed("10,5", '.').numeric);
  EXPECT_EQ(typed("1,25e1", ',').value, (FixedPointHz{12, 0x80000000}));
}

TEST(Frequency, FractionKeepsEveryTypedDigitBesideALargeIntegerPart) {
  // In binary floating point the fraction of 1599999999.000000001 would be lost entirely.
  EXPECT_EQ(typed("1599999999.000000001").value, (FixedPointHz{1599999999, 4}));
  EXPECT_EQ(typed("1599999999.0000000001").value, (FixedPointHz{1599999999, 0}));
  // 2^-32 = 0.00000000023283064365386962890625: exactly one unit of the fraction word.
  EXPECT_EQ(typed("123.00000000023283064365386962890625").value, (FixedPointHz{123, 1}));
}

TEST(Frequency, HalvesRoundToEven) {
  // 0.5 x 2^-32, 1.5 x 2^-32 and 2.5 x 2^-32, written exactly within 28 digits.
  EXPECT_EQ(typed("0.000000000116415321826934814453125").value, (FixedPointHz{0, 0}));
  EXPECT_EQ(typed("0.000000000349245965480804443359375").value, (FixedPointHz{0, 2}));
  EXPECT_EQ(typed("0.000000000582076609134674072265625").value, (FixedPointHz{0, 2}));
  // A hair above one half rounds up.
  EXPECT_EQ(typed("0.0000000001164153218269348144531251").value, (FixedPointHz{0, 1}));
}

TEST(Frequency, FractionJustBelowAWholeHertzCarriesIntoTheIntegerPart) {
  // Within 2^-33 below 11 Hz: the fraction rounds up to a whole hertz.
  EXPECT_EQ(typed("10.9999999999").value, (FixedPointHz{11, 0}));
  EXPECT_EQ(typed("1599999999.99999999999").value, (FixedPointHz{1600000000, 0}));
  // Within 2^-33 below one half: the word is 2^31, read unsigned.
  EXPECT_EQ(typed("10.4999999999").value, (FixedPointHz{10, 0x80000000}));
}

TEST(Frequency, MoreThanTwentyEightDigitsRoundToTwentyEight) {
  const auto r = readFrequency("1.00000000000000000000000000049", '.');
  ASSERT_TRUE(r.has_value());
  EXPECT_EQ(r->exact.exponent, -27);
  EXPECT_TRUE(r->exact.coefficient ==
              (ExactDecimal::Coefficient{1000000000} * 1000000000 * 1000000000 + 0));
  const auto up = readFrequency("9.99999999999999999999999999995", '.');
  ASSERT_TRUE(up.has_value());
  EXPECT_EQ(up->exact.exponent, -26);  // rounded up to 10.000...
  EXPECT_EQ(encodeFrequency(up->exact), (FixedPointHz{10, 0}));
}

TEST(Frequency, EncodingRefusesWhatDoesNotFit) {
  EXPECT_FALSE(encodeFrequency({.negative = true, .coefficient = 5, .exponent = 0}).has_value());
  EXPECT_FALSE(encodeFrequency({.coefficient = 4294967296, .exponent = 0}).has_value());
  EXPECT_FALSE(encodeFrequency({.coefficient = 1, .exponent = 11}).has_value());
  EXPECT_EQ(encodeFrequency({.coefficient = 4294967295, .exponent = 0}),
            (FixedPointHz{4294967295, 0}));
  EXPECT_EQ(encodeFrequency({.coefficient = 1, .exponent = -60}), FixedPointHz{});
  EXPECT_EQ(encodeFrequency({.negative = true, .coefficient = 0, .exponent = 0}), FixedPointHz{});
}

TEST(Frequency, ExactTextOfTheWord) {
  struct Case {
    FixedPointHz value;
    const char* text;
  };
  const Case cases[] = {
      {{0, 0}, "0"},
      {{10000000, 0}, "10000000"},
      {{0, 1}, "0.00000000023283064365386962890625"},
      {{0, 0x80000000}, "0.5"},
      {{10, 0x40000000}, "10.25"},
      // What "10000000.1" is sent as: 0.1 x 2^32 rounds up to 429496730.
      {{10000000, 429496730}, "10000000.1000000000931322574615478515625"},
      {{10000000, 429496729}, "10000000.09999999986030161380767822265625"},
      {{12, 0x587E5A79}, "12.34567800001241266727447509765625"},
      {{4294967295, 0xFFFFFFFF}, "4294967295.99999999976716935634613037109375"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(exactFrequencyText(c.value), c.text);
  }
  // A configuration report's whole hertz are signed.
  EXPECT_EQ(exactFrequencyText(-1, 0x80000000), "-0.5");
  EXPECT_EQ(exactFrequencyText(-2, 0xC0000000), "-1.25");
  EXPECT_EQ(exactFrequencyText(-3, 0), "-3");
  EXPECT_EQ(exactFrequencyText(-2147483648, 1), "-2147483647.99999999976716935634613037109375");
}

TEST(Frequency, ExactTextReadsBackAsTheSameWord) {
  for (const char* typedText :
       {"10000000.1", "0.9", "12.345678", "1600000000.999", "1.000000001", "123456789.123456789"}) {
    SCOPED_TRACE(typedText);
    const FixedPointHz word = typed(typedText).value;
    EXPECT_EQ(typed(exactFrequencyText(word)).value, word);
  }
}

}  // namespace
}  // namespace qvr::protocol
