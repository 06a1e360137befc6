#include "protocol/number_text.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <utility>

namespace qvr::protocol {

bool appendFixed(std::string& out, double value, int decimals, char decimalSeparator) {
  if (!std::isfinite(value) || decimals < 0 || decimals > 20) {
    return false;
  }
  // The shortest scientific form d.ddde±x holds exactly the digits that name this double.
  std::array<char, 40> scientific{};
  const auto [end, error] = std::to_chars(scientific.data(), scientific.data() + scientific.size(),
                                          std::fabs(value), std::chars_format::scientific);
  if (error != std::errc()) {
    return false;
  }
  std::array<char, 24> digits{};
  std::size_t digitCount = 0;
  const char* p = scientific.data();
  for (; p != end && *p != 'e'; ++p) {
    if (*p != '.') {
      digits[digitCount++] = *p;
    }
  }
  int exponent = 0;
  std::from_chars(p + 1 + (p[1] == '+' ? 1 : 0), end, exponent);

  // The magnitude in units of the last decimal place: the digits down to that place, the
  // first dropped digit deciding the rounding. Leading room for a carry and integer zeros.
  const int keep = exponent + 1 + decimals;
  std::array<char, 360> kept{};
  const std::size_t width = static_cast<std::size_t>(decimals) + 1;
  std::size_t keptCount = 0;
  if (keep > 0) {
    for (int i = 0; i < keep; ++i) {
      kept[keptCount++] =
          static_cast<std::size_t>(i) < digitCount ? digits[static_cast<std::size_t>(i)] : '0';
    }
  }
  const bool roundUp = keep >= 0 && static_cast<std::size_t>(keep) < digitCount &&
                       digits[static_cast<std::size_t>(keep)] >= '5';
  // Pad on the left to at least one integer digit, plus one for a carry out of the top.
  const std::size_t padded = std::max(keptCount, width) + 1;
  const std::size_t shift = padded - keptCount;
  for (std::size_t i = keptCount; i-- > 0;) {
    kept[i + shift] = kept[i];
  }
  for (std::size_t i = 0; i < shift; ++i) {
    kept[i] = '0';
  }
  if (roundUp) {
    std::size_t i = padded;
    while (kept[--i] == '9') {
      kept[i] = '0';
    }
    ++kept[i];
  }
  std::size_t first = 0;  // drop leading zeros, keeping `width` digits at least
  while (padded - first > width && kept[first] == '0') {
    ++first;
  }
  bool zero = true;
  for (std::size_t i = first; i < padded; ++i) {
    zero = zero && kept[i] == '0';
  }
  if (value < 0 && !zero) {
    out.push_back('-');
  }
  const std::size_t integerEnd = padded - static_cast<std::size_t>(decimals);
  out.append(kept.data() + first, integerEnd - first);
  if (decimals > 0) {
    out.push_back(decimalSeparator);
    out.append(kept.data() + integerEnd, static_cast<std::size_t>(decimals));
  }
  return true;
}

std::string decimalText(double value, char decimalSeparator) {
  if (!std::isfinite(value)) {
    return {};
  }
  constexpr int kSignificantDigits = 15;
  std::array<char, 40> scientific{};
  const auto [end, error] =
      std::to_chars(scientific.data(), scientific.data() + scientific.size(), std::fabs(value),
                    std::chars_format::scientific, kSignificantDigits - 1);
  if (error != std::errc()) {
    return {};
  }
  std::string digits;
  const char* p = scientific.data();
  for (; p != end && *p != 'e'; ++p) {
    if (*p != '.') {
      digits.push_back(*p);
    }
  }
  int exponent = 0;
  std::from_chars(p + 1 + (p[1] == '+' ? 1 : 0), end, exponent);
  while (digits.size() > 1 && digits.back() == '0') {
    digits.pop_back();
  }
  if (digits == "0") {
    return "0";
  }

  std::string text = value < 0 ? "-" : "";
  const int integerDigits = exponent + 1;
  if (integerDigits <= 0) {
    text += '0';
    text += decimalSeparator;
    text.append(static_cast<std::size_t>(-integerDigits), '0');
    text += digits;
  } else if (static_cast<std::size_t>(integerDigits) >= digits.size()) {
    text += digits;
    text.append(static_cast<std::size_t>(integerDigits) - digits.size(), '0');
  } else {
    text.append(digits, 0, static_cast<std::size_t>(integerDigits));
    text += decimalSeparator;
    text.append(digits, static_cast<std::size_t>(integerDigits));
  }
  return text;
}

void appendTwoDigits(std::string& out, int value) {
  if (value >= 0 && value < 10) {
    out.push_back('0');
  }
  std::array<char, 12> buffer{};
  const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
  out.append(buffer.data(), result.ptr);
}

std::string isoDateTime(int year, int month, int day, int hour, int minute, int second) {
  std::string text = std::to_string(year);
  for (const auto& [separator, value] :
       {std::pair{'-', month}, std::pair{'-', day}, std::pair{'T', hour}, std::pair{':', minute},
        std::pair{':', second}}) {
    text.push_back(separator);
    appendTwoDigits(text, value);
  }
  return text;
}

}  // namespace qvr::protocol
