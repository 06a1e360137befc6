#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace qvr::platform::win32 {

// SetupDiGetDeviceInterfaceDetailA fills a record whose first 4 bytes are its size field and
// whose path text, ANSI and zero-terminated, starts right after them. The size field names the
// record's fixed part as the platform lays it out (8 for 64-bit, 5 for 32-bit), not the
// buffer's size: a wrong value makes the call fail with ERROR_INVALID_USER_BUFFER.
inline constexpr std::size_t kDetailPathOffset = 4;

// Makes `buffer` ready for the second detail query: the size the first query asked for plus
// one zero byte, so the path is terminated even if the system wrote none, everything zeroed
// and the size field written in the platform's (little-endian) byte order.
void prepareDetailBuffer(std::vector<std::uint8_t>& buffer, std::uint32_t requiredSize,
                         std::uint32_t sizeField);

// The path in a filled detail record: the text from byte 4 up to its first zero byte, or to
// the end of the record when it has none; empty when the record is too short to hold one.
[[nodiscard]] std::string interfaceDetailPath(std::span<const std::uint8_t> record);

}  // namespace qvr::platform::win32
