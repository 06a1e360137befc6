#pragma once

#include <optional>
#include <string>

namespace qvr::protocol {

// Fixed-point text with exactly `decimals` decimals and at least one integer digit, rounded
// half away from zero on the value's shortest round-trip decimal form (so 2.675 gives 2.68,
// whatever its binary neighbour is), no digit grouping, a "-" before negative values that do
// not round to zero. Nothing for infinities and NaN.
[[nodiscard]] std::optional<std::string> fixedText(double value, int decimals,
                                                   char decimalSeparator);

// The general text form of a double: up to 15 significant digits, no trailing zeros, an
// exponent ("E-10") only for very small or very large magnitudes.
[[nodiscard]] std::string generalText(double value, char decimalSeparator);

// Two digits with a leading zero: 7 gives "07".
[[nodiscard]] std::string twoDigits(int value);

}  // namespace qvr::protocol
