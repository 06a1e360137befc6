#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace qvr::protocol {

// Device strings arrive as UTF-16; the text keeps the low byte of each code unit as one ANSI
// character and ends at the first code unit whose low byte is zero (or at the buffer's end).
[[nodiscard]] std::string deviceStringText(std::span<const std::uint8_t> buffer);

}  // namespace qvr::protocol
