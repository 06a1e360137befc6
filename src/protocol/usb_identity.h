#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qvr::protocol {

// The QVR-7130's USB identity: every backend looks for exactly these IDs.
inline constexpr std::uint16_t kVendorId = 0x3A81;
inline constexpr std::uint16_t kProductId = 0x5C17;

// The IDs as lsusb, the udev rule and our messages write them: four lowercase hex digits.
inline constexpr std::string_view kVendorIdText = "3a81";
inline constexpr std::string_view kProductIdText = "5c17";

namespace detail {
constexpr bool spellsHex(std::string_view text, std::uint16_t id) {
  constexpr std::string_view kDigits = "0123456789abcdef";
  if (text.size() != 4) {
    return false;
  }
  for (std::size_t i = 0; i < 4; ++i) {
    if (text[i] != kDigits[(id >> (4 * (3 - i))) & 0xF]) {
      return false;
    }
  }
  return true;
}
}  // namespace detail
static_assert(detail::spellsHex(kVendorIdText, kVendorId));
static_assert(detail::spellsHex(kProductIdText, kProductId));

// "No QVR-7130 found (USB vendor 3a81, product 5c17).", and a newline: what the device
// listings say when there is nothing to list.
[[nodiscard]] inline std::string noDeviceFoundText() {
  return "No QVR-7130 found (USB vendor " + std::string(kVendorIdText) + ", product " +
         std::string(kProductIdText) + ").\n";
}

}  // namespace qvr::protocol
