// Frequency texts as a user may type them, with either decimal separator.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "protocol/frequency.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) {
    return 0;
  }
  const char separator = (data[0] & 1) != 0 ? ',' : '.';
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
  const auto reading = qvr::protocol::readFrequency(text, separator);
  if (!reading) {
    return 0;
  }
  const auto encoded = qvr::protocol::encodeFrequency(reading->exact);
  // Every text the range test accepts must be encodable, and encode to what it says.
  if (qvr::protocol::frequencyInRange(reading->value)) {
    if (!encoded) {
      __builtin_trap();
    }
    const double back = encoded->integerHz + encoded->fractionWord / 4294967296.0;
    if (back < reading->value - 1e-6 || back > reading->value + 1e-6) {
      __builtin_trap();
    }
  }
  return 0;
}
