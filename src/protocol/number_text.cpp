#include "protocol/number_text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>

namespace qvr::protocol {

std::optional<std::string> fixedText(double value, int decimals, char decimalSeparator) {
  if (!std::isfinite(value) || decimals < 0) {
    return std::nullopt;
  }
  // The shortest scientific form d.ddde±x holds exactly the digits that name this double.
  char buffer[64];
  const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, std::fabs(value),
                                          std::chars_format::scientific);
  if (error != std::errc()) {
    return std::nullopt;
  }
  const std::string scientific(buffer, end);
  const std::size_t e = scientific.find('e');
  std::string digits;
  for (std::size_t i = 0; i < e; ++i) {
    if (scientific[i] != '.') {
      digits.push_back(scientific[i]);
    }
  }
  const int exponent = std::atoi(scientific.c_str() + e + 1);

  // Keep the digits down to the last decimal place; the first dropped digit decides.
  const int keep = exponent + 1 + decimals;
  std::string kept;  // the magnitude in units of the last decimal place
  if (keep >= 0) {
    kept = digits.substr(0, std::min<std::size_t>(digits.size(), static_cast<std::size_t>(keep)));
    kept.append(static_cast<std::size_t>(keep) - kept.size(), '0');
    const bool roundUp = static_cast<std::size_t>(keep) < digits.size() &&
                         digits[static_cast<std::size_t>(keep)] >= '5';
    if (roundUp) {
      int i = static_cast<int>(kept.size()) - 1;
      for (; i >= 0 && kept[static_cast<std::size_t>(i)] == '9'; --i) {
        kept[static_cast<std::size_t>(i)] = '0';
      }
      if (i < 0) {
        kept.insert(kept.begin(), '1');
      } else {
        ++kept[static_cast<std::size_t>(i)];
      }
    }
  }
  const std::size_t width = static_cast<std::size_t>(decimals) + 1;
  if (kept.size() < width) {
    kept.insert(0, width - kept.size(), '0');
  }
  const bool zero = std::all_of(kept.begin(), kept.end(), [](char c) { return c == '0'; });

  std::string text = (value < 0 && !zero) ? "-" : "";
  text += kept.substr(0, kept.size() - static_cast<std::size_t>(decimals));
  if (decimals > 0) {
    text += decimalSeparator;
    text += kept.substr(kept.size() - static_cast<std::size_t>(decimals));
  }
  return text;
}

std::string generalText(double value, char decimalSeparator) {
  char buffer[64];
  const auto [end, error] =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 15);
  if (error != std::errc()) {
    return {};
  }
  std::string text(buffer, end);
  for (char& c : text) {
    if (c == '.') {
      c = decimalSeparator;
    } else if (c == 'e') {
      c = 'E';
    }
  }
  return text;
}

std::string twoDigits(int value) {
  std::string text = std::to_string(value);
  if (text.size() < 2) {
    text.insert(0, 1, '0');
  }
  return text;
}

}  // namespace qvr::protocol
