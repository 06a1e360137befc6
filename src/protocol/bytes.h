#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace qvr::protocol {

// Little-endian fields at a byte offset, the order of every multi-byte number the device and
// its receiver send or take. The caller has checked that the field lies inside the bytes: these
// sit in decoders that run for every message, so they do not check again.

[[nodiscard]] constexpr std::uint16_t readU16Le(std::span<const std::uint8_t> bytes,
                                                std::size_t offset) {
  return static_cast<std::uint16_t>(bytes[offset] | (bytes[offset + 1] << 8));
}

[[nodiscard]] constexpr std::uint32_t readU32Le(std::span<const std::uint8_t> bytes,
                                                std::size_t offset) {
  return static_cast<std::uint32_t>(bytes[offset]) |
         (static_cast<std::uint32_t>(bytes[offset + 1]) << 8) |
         (static_cast<std::uint32_t>(bytes[offset + 2]) << 16) |
         (static_cast<std::uint32_t>(bytes[offset + 3]) << 24);
}

// Two's complement, which the conversion from unsigned keeps since C++20.
[[nodiscard]] constexpr std::int32_t readI32Le(std::span<const std::uint8_t> bytes,
                                               std::size_t offset) {
  return static_cast<std::int32_t>(readU32Le(bytes, offset));
}

constexpr void writeU16Le(std::span<std::uint8_t> bytes, std::size_t offset, std::uint16_t value) {
  bytes[offset] = static_cast<std::uint8_t>(value);
  bytes[offset + 1] = static_cast<std::uint8_t>(value >> 8);
}

constexpr void writeU32Le(std::span<std::uint8_t> bytes, std::size_t offset, std::uint32_t value) {
  bytes[offset] = static_cast<std::uint8_t>(value);
  bytes[offset + 1] = static_cast<std::uint8_t>(value >> 8);
  bytes[offset + 2] = static_cast<std::uint8_t>(value >> 16);
  bytes[offset + 3] = static_cast<std::uint8_t>(value >> 24);
}

constexpr void writeI32Le(std::span<std::uint8_t> bytes, std::size_t offset, std::int32_t value) {
  writeU32Le(bytes, offset, static_cast<std::uint32_t>(value));
}

}  // namespace qvr::protocol
