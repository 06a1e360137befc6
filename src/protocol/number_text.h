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

// A double as plain decimal text: up to 15 significant digits (rounded to nearest), no trailing
// zeros, no digit grouping, a leading "-" for negative values, and never an exponent, so that
// 2^-32 reads 0.00000000023283064365387. Nothing for infinities and NaN.
[[nodiscard]] std::string decimalText(double value, char decimalSeparator);

// Appends two digits with a leading zero: 7 gives "07".
void appendTwoDigits(std::string& out, int value);

// A UTC time in ISO 8601 up to the second, without the zone: "2025-03-07T14:05:09".
[[nodiscard]] std::string isoDateTime(int year, int month, int day, int hour, int minute,
                                      int second);

}  // namespace qvr::protocol
