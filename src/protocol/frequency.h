#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qvr::protocol {

// A decimal number kept exactly: coefficient x 10^exponent, with at most 28 significant
// digits, so that the fraction of a frequency keeps every typed digit whatever the size of
// its integer part.
struct ExactDecimal {
  __extension__ using Coefficient = unsigned __int128;
  static constexpr int kMaxDigits = 28;

  bool negative = false;
  Coefficient coefficient = 0;
  int exponent = 0;
};

// The one reading of a typed frequency that the numeric test, the range test and the encoding
// share, so all three accept exactly the same texts: optional blanks around, an optional sign,
// digits with the user's decimal separator and fraction digits (at least one digit in all),
// and an optional exponent (e or E, optional sign, digits). Nothing else: no digit grouping,
// no currency, no hexadecimal.
struct FrequencyReading {
  double value = 0;    // the nearest double, for the range test
  ExactDecimal exact;  // rounded half to even to 28 significant digits, for the encoding
};
[[nodiscard]] std::optional<FrequencyReading> readFrequency(std::string_view text,
                                                            char decimalSeparator);

// The outputs take 0.9 Hz up to (not including) 1600000001 Hz, judged in double precision.
[[nodiscard]] bool frequencyInRange(double value);

// A frequency as the device takes it: whole hertz and a binary fraction of a hertz.
struct FixedPointHz {
  std::uint32_t integerHz = 0;
  std::uint32_t fractionWord = 0;  // units of 2^-32 Hz
  friend bool operator==(const FixedPointHz&, const FixedPointHz&) = default;
};

// The fraction is rounded to the nearest 2^-32 Hz, halves to even. A fraction that rounds up
// to a whole hertz carries into the integer part rather than wrapping to 0 and sending a
// frequency almost 1 Hz too low. Nothing for negative values or values of 2^32 Hz and more.
[[nodiscard]] std::optional<FixedPointHz> encodeFrequency(const ExactDecimal& value);

// The frequency a 32.32 word stands for, to the last digit: every fraction word is a whole
// number of 2^-32 Hz, which has at most 32 decimal places, so the text is exact. A '.' and the
// fraction digits without trailing zeros follow the whole hertz; a whole number has no '.'.
// Always '.', since the text is for scripts and JSON rather than for the user's locale.
// `integerHz` may be negative (a configuration report's whole hertz are signed): the value is
// still integerHz + fractionWord x 2^-32, so -1 with a half is "-0.5".
[[nodiscard]] std::string exactFrequencyText(std::int64_t integerHz, std::uint32_t fractionWord);
[[nodiscard]] inline std::string exactFrequencyText(FixedPointHz value) {
  return exactFrequencyText(value.integerHz, value.fractionWord);
}

// What an output frequency box (and the command line) sends for a typed text: the word of a
// number in range, or the reason there is none.
struct FrequencyEntry {
  std::optional<FixedPointHz> word;
  const char* refusal = nullptr;  // set when there is no word
};
[[nodiscard]] FrequencyEntry frequencyEntry(std::string_view text, char decimalSeparator);

}  // namespace qvr::protocol
