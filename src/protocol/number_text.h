#pragma once

#include <string>

namespace qvr::protocol {

// Appends `value` in fixed point with exactly `decimals` decimals and at least one integer
// digit, rounded half away from zero on the value's shortest round-trip decimal form (so 2.675
// gives 2.68, whatever its binary neighbour is), no digit grouping, a "-" before negative
// values that do not round to zero. Appends nothing and returns false for infinities and NaN.
// Works without the heap once `out` has room, since the monitoring path writes these texts
// many times a second.
bool appendFixed(std::string& out, double value, int decimals, char decimalSeparator);

// The general text form of a double: up to 15 significant digits, no trailing zeros, an
// exponent ("E-10") only for very small or very large magnitudes.
[[nodiscard]] std::string generalText(double value, char decimalSeparator);

// Appends two digits with a leading zero: 7 gives "07".
void appendTwoDigits(std::string& out, int value);

}  // namespace qvr::protocol
