#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace qvr::protocol {

// Device strings arrive as UTF-16; the text keeps the low byte of each code unit as one ANSI
// character and ends at the first code unit whose low byte is zero (or at the buffer's end).
[[nodiscard]] std::string deviceStringText(std::span<const std::uint8_t> buffer);

// Such a text as UTF-8, for what must be UTF-8 (Prometheus labels, web pages): each byte becomes
// the character of the same number, so no byte the device sent is lost or misread.
[[nodiscard]] std::string deviceTextAsUtf8(const std::string& text);

}  // namespace qvr::protocol
