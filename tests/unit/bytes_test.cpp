#include "protocol/bytes.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

namespace qvr::protocol {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Usable where the decoders' tables are built: at compile time.
static_assert(readU16Le(std::array<std::uint8_t, 2>{0x34, 0x12}, 0) == 0x1234);
static_assert(readI32Le(std::array<std::uint8_t, 4>{0xFF, 0xFF, 0xFF, 0xFF}, 0) == -1);

TEST(Bytes, ReadsTakeTheLowByteFirstAtTheirOffset) {
  struct Case {
    const char* name;
    Bytes bytes;
    std::size_t offset;
    std::uint16_t u16;
    std::uint32_t u32;
    std::int32_t i32;
  };
  const Case cases[] = {
      {"zero", {0, 0, 0, 0}, 0, 0, 0, 0},
      {"low byte first", {0x78, 0x56, 0x34, 0x12}, 0, 0x5678, 0x12345678, 0x12345678},
      {"at an offset", {0xEE, 0x01, 0x02, 0x03, 0x04, 0xEE}, 1, 0x0201, 0x04030201, 0x04030201},
      {"high bits of every byte", {0x80, 0x80, 0x80, 0x80}, 0, 0x8080, 0x80808080u, -2139062144},
      {"minus one", {0xFF, 0xFF, 0xFF, 0xFF}, 0, 0xFFFF, 0xFFFFFFFFu, -1},
      {"most negative", {0x00, 0x00, 0x00, 0x80}, 0, 0, 0x80000000u, INT32_MIN},
      {"most positive", {0xFF, 0xFF, 0xFF, 0x7F}, 0, 0xFFFF, 0x7FFFFFFFu, INT32_MAX},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(readU16Le(c.bytes, c.offset), c.u16);
    EXPECT_EQ(readU32Le(c.bytes, c.offset), c.u32);
    EXPECT_EQ(readI32Le(c.bytes, c.offset), c.i32);
  }
}

TEST(Bytes, WritesTouchOnlyTheirFieldAndReadBack) {
  struct Case {
    const char* name;
    int width;  // 2: u16, 4: u32, -4: i32
    std::int64_t value;
    Bytes expected;  // six bytes, the field written at offset 1
  };
  const Case cases[] = {
      {"u16", 2, 0xBEEF, {0xAA, 0xEF, 0xBE, 0xAA, 0xAA, 0xAA}},
      {"u32", 4, 0xDEADBEEF, {0xAA, 0xEF, 0xBE, 0xAD, 0xDE, 0xAA}},
      {"i32 negative", -4, -2, {0xAA, 0xFE, 0xFF, 0xFF, 0xFF, 0xAA}},
      {"i32 most negative", -4, INT32_MIN, {0xAA, 0x00, 0x00, 0x00, 0x80, 0xAA}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes bytes(6, 0xAA);
    switch (c.width) {
      case 2:
        writeU16Le(bytes, 1, static_cast<std::uint16_t>(c.value));
        EXPECT_EQ(readU16Le(bytes, 1), c.value);
        break;
      case 4:
        writeU32Le(bytes, 1, static_cast<std::uint32_t>(c.value));
        EXPECT_EQ(readU32Le(bytes, 1), c.value);
        break;
      default:
        writeI32Le(bytes, 1, static_cast<std::int32_t>(c.value));
        EXPECT_EQ(readI32Le(bytes, 1), c.value);
        break;
    }
    EXPECT_EQ(bytes, c.expected);
  }
}

}  // namespace
}  // namespace qvr::protocol
