#pragma once

#include <cstdint>
#include <string>

namespace qvr::protocol {

// The firmware version is the device's USB release number: major in the high byte, minor in
// the low byte. Conditions are always tested on the two numbers, never on the text.
struct FirmwareVersion {
  std::uint16_t major = 0;
  std::uint16_t minor = 0;

  [[nodiscard]] static FirmwareVersion fromVersionNumber(std::uint16_t versionNumber);

  // "From firmware 1.0N on": major exactly 1 and minor at least n. Any other major fails.
  [[nodiscard]] bool from1_0(int n) const { return major == 1 && minor >= n; }

  // Major in decimal, ".", minor in upper-case hexadecimal with at least two digits: 1.08,
  // 1.10, 1.1A.
  [[nodiscard]] std::string text() const;

  friend bool operator==(const FirmwareVersion&, const FirmwareVersion&) = default;
};

}  // namespace qvr::protocol
