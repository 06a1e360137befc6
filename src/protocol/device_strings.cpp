#include "protocol/device_strings.h"

namespace qvr::protocol {

std::string deviceStringText(std::span<const std::uint8_t> buffer) {
  std::string text;
  // Code units are little-endian, so the low byte is the first of each pair.
  for (std::size_t i = 0; i + 1 < buffer.size(); i += 2) {
    const char low = static_cast<char>(buffer[i]);
    if (low == '\0') {
      break;
    }
    text.push_back(low);
  }
  return text;
}

}  // namespace qvr::protocol
