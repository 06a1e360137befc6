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

std::string deviceTextAsUtf8(const std::string& text) {
  constexpr unsigned kAscii = 0x80;
  std::string utf8;
  utf8.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < kAscii) {
      utf8.push_back(c);
    } else {
      utf8.push_back(static_cast<char>(0xC0 | (byte >> 6)));
      utf8.push_back(static_cast<char>(0x80 | (byte & 0x3F)));
    }
  }
  return utf8;
}

}  // namespace qvr::protocol
