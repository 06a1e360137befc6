#include "protocol/frequency.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <limits>
#include <string>

namespace qvr::protocol {
namespace {

using Coefficient = ExactDecimal::Coefficient;

constexpr double kLowestHz = 0.9;
constexpr double kBeyondHighestHz = 1600000001.0;
// Exponents beyond this are far outside any frequency; capping them keeps the arithmetic
// from overflowing while the double still says "out of range".
constexpr int kExponentCap = 100000;

bool isBlank(char c) {
  return c == ' ' || c == '\t';
}
bool isDigit(char c) {
  return c >= '0' && c <= '9';
}

Coefficient powerOfTen(int n) {
  Coefficient p = 1;
  for (int i = 0; i < n; ++i) {
    p *= 10;
  }
  return p;
}

}  // namespace

std::optional<FrequencyReading> readFrequency(std::string_view text, char decimalSeparator) {
  std::size_t i = 0;
  std::size_t end = text.size();
  while (i < end && isBlank(text[i])) {
    ++i;
  }
  while (end > i && isBlank(text[end - 1])) {
    --end;
  }

  FrequencyReading reading;
  // The same number with a point for the separator, for the correctly rounded double.
  std::string plain;
  if (i < end && (text[i] == '+' || text[i] == '-')) {
    reading.exact.negative = text[i] == '-';
    plain.push_back(text[i]);
    ++i;
  }

  // Significant digits (leading zeros skipped), the first 28 kept and the rest only looked at
  // for rounding.
  std::array<char, ExactDecimal::kMaxDigits> kept{};
  int keptCount = 0;
  int significant = 0;     // all significant digits seen
  int fractionDigits = 0;  // digits after the separator, significant or not
  char firstDropped = '0';
  bool droppedNonZeroAfterFirst = false;
  int digitCount = 0;
  bool separatorSeen = false;
  for (; i < end; ++i) {
    const char c = text[i];
    if (isDigit(c)) {
      ++digitCount;
      plain.push_back(c);
      if (separatorSeen) {
        ++fractionDigits;
      }
      if (significant == 0 && c == '0') {
        continue;
      }
      if (keptCount < ExactDecimal::kMaxDigits) {
        kept[static_cast<std::size_t>(keptCount++)] = c;
      } else if (significant == ExactDecimal::kMaxDigits) {
        firstDropped = c;
      } else if (c != '0') {
        droppedNonZeroAfterFirst = true;
      }
      ++significant;
    } else if (c == decimalSeparator && !separatorSeen) {
      separatorSeen = true;
      plain.push_back('.');
    } else {
      break;
    }
  }
  if (digitCount == 0) {
    return std::nullopt;
  }

  int exponent = 0;
  if (i < end && (text[i] == 'e' || text[i] == 'E')) {
    plain.push_back('e');
    ++i;
    bool negativeExponent = false;
    if (i < end && (text[i] == '+' || text[i] == '-')) {
      negativeExponent = text[i] == '-';
      plain.push_back(text[i]);
      ++i;
    }
    const std::size_t exponentStart = i;
    for (; i < end && isDigit(text[i]); ++i) {
      plain.push_back(text[i]);
      exponent = std::min(exponent * 10 + (text[i] - '0'), kExponentCap);
    }
    if (i == exponentStart) {
      return std::nullopt;
    }
    exponent = negativeExponent ? -exponent : exponent;
  }
  if (i != end) {
    return std::nullopt;
  }

  // from_chars reads the plain form correctly rounded, whatever the C locale says; a value
  // too large for a double reads as infinity, too small as zero.
  const char* first = plain.data() + (plain[0] == '+' ? 1 : 0);
  const auto [ptr, error] = std::from_chars(first, plain.data() + plain.size(), reading.value);
  if (error == std::errc::result_out_of_range) {
    const bool huge = exponent > 0;
    reading.value = huge ? std::numeric_limits<double>::infinity() : 0.0;
    reading.value = reading.exact.negative ? -reading.value : reading.value;
  } else if (error != std::errc() || ptr != plain.data() + plain.size()) {
    return std::nullopt;
  }

  Coefficient coefficient = 0;
  for (int k = 0; k < keptCount; ++k) {
    coefficient =
        coefficient * 10 + static_cast<Coefficient>(kept[static_cast<std::size_t>(k)] - '0');
  }
  // Digits dropped beyond the 28th still count for the exponent.
  int scale = exponent - fractionDigits + (significant - keptCount);
  const bool roundUp = firstDropped > '5' ||
                       (firstDropped == '5' && (droppedNonZeroAfterFirst || coefficient % 2 == 1));
  if (roundUp) {
    ++coefficient;
    if (coefficient == powerOfTen(ExactDecimal::kMaxDigits)) {
      coefficient /= 10;
      ++scale;
    }
  }
  reading.exact.coefficient = coefficient;
  reading.exact.exponent = std::clamp(scale, -2 * kExponentCap, 2 * kExponentCap);
  return reading;
}

bool frequencyInRange(double value) {
  return value >= kLowestHz && value < kBeyondHighestHz;
}

std::optional<FixedPointHz> encodeFrequency(const ExactDecimal& value) {
  if (value.negative && value.coefficient != 0) {
    return std::nullopt;
  }
  constexpr Coefficient kTwoTo32 = Coefficient{1} << 32;
  // Below 10^-38 of the coefficient's units the value is under 10^-10 Hz, far below half of
  // 2^-32 Hz: it encodes as zero.
  constexpr int kDeepestScale = 38;
  Coefficient integer = 0;
  Coefficient fractionWord = 0;
  if (value.exponent >= 0) {
    if (value.exponent > 10) {
      return value.coefficient == 0 ? std::optional<FixedPointHz>(FixedPointHz{}) : std::nullopt;
    }
    integer = value.coefficient * powerOfTen(value.exponent);
  } else if (-value.exponent <= kDeepestScale) {
    // coefficient = integer x 10^k + remainder; the fraction is remainder / 10^k. The
    // remainder is below 10^28 < 2^94, so remainder x 2^32 stays below 2^126, and 10^38 fits.
    const Coefficient scale = powerOfTen(-value.exponent);
    integer = value.coefficient / scale;
    const Coefficient product = (value.coefficient % scale) * kTwoTo32;
    fractionWord = product / scale;
    const Coefficient rest = product % scale;
    if (2 * rest > scale || (2 * rest == scale && fractionWord % 2 == 1)) {
      ++fractionWord;
    }
  }
  if (fractionWord == kTwoTo32) {
    fractionWord = 0;
    ++integer;
  }
  if (integer >= kTwoTo32) {
    return std::nullopt;
  }
  return FixedPointHz{static_cast<std::uint32_t>(integer),
                      static_cast<std::uint32_t>(fractionWord)};
}

std::string exactFrequencyText(std::int64_t integerHz, std::uint32_t fractionWord) {
  constexpr std::uint64_t kWholeHertz = std::uint64_t{1} << 32;  // in 2^-32 Hz
  // Below zero with a fraction, the magnitude is (|integer| - 1) and the fraction's complement:
  // -1 + 0.75 is -0.25. The whole hertz come from 32 bits, so negating them cannot overflow.
  const bool negative = integerHz < 0;
  std::uint64_t whole =
      negative ? static_cast<std::uint64_t>(-integerHz) : static_cast<std::uint64_t>(integerHz);
  std::uint64_t fraction = fractionWord;
  if (negative && fraction != 0) {
    --whole;
    fraction = kWholeHertz - fraction;
  }
  std::string text = (negative ? "-" : "") + std::to_string(whole);
  if (fraction == 0) {
    return text;
  }
  // fraction / 2^32 = fraction x 5^32 / 10^32, and fraction x 5^32 < 2^32 x 5^32 = 10^32 < 2^107:
  // the 32 digits after the point are those of that product, zero-padded on the left.
  constexpr int kPlaces = 32;
  Coefficient digits = fraction;
  for (int i = 0; i < kPlaces; ++i) {
    digits *= 5;
  }
  std::array<char, kPlaces> places{};
  for (int i = kPlaces; i-- > 0;) {
    places[static_cast<std::size_t>(i)] = static_cast<char>('0' + static_cast<int>(digits % 10));
    digits /= 10;
  }
  std::size_t length = places.size();
  while (places[length - 1] == '0') {
    --length;
  }
  text.push_back('.');
  text.append(places.data(), length);
  return text;
}

FrequencyEntry frequencyEntry(std::string_view text, char decimalSeparator) {
  const auto reading = readFrequency(text, decimalSeparator);
  if (!reading) {
    return {std::nullopt, "not a number"};
  }
  if (!frequencyInRange(reading->value)) {
    return {std::nullopt, "out of range (0.9 Hz up to 1600000001 Hz, not included)"};
  }
  // In range, the value is positive and below 2^32 Hz, so it always has a word.
  const auto word = encodeFrequency(reading->exact);
  return word ? FrequencyEntry{word} : FrequencyEntry{std::nullopt, "out of range"};
}

}  // namespace qvr::protocol
