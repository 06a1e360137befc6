#include "protocol/bytes.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

namespace qvr::protocol {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Writers and readers agree at compile time too, which is where the decoders' tables live.
constexpr std::int32_t roundTrip(std::int32_t value) {
  std::array<std::uint8_t, 6> bytes{};
  writeI32Le(bytes, 1, value);
  return readI32Le(bytes, 1);
}
static_assert(roundTrip(INT32_MIN) == INT32_MIN && roundTrip(-2) == -2);
static_assert(readU16Le(std::array<std::uint8_t, 2>{0x34, 0x12}, 0) == 0x1234);

TEST(Bytes, LowByteFirstAtTheOffsetAndNothingBeyond) {
  struct Case {
    const char* name;
    Bytes bytes;  // the field at offset 1, between two bytes that must stay untouched
    std::uint16_t u16;
    std::uint32_t u32;
    std::int32_t i32;
  };
  const Case cases[] = {
      {"low byte first", {0xAA, 0x78, 0x56, 0x34, 0x12, 0xAA}, 0x5678, 0x12345678, 0x12345678},
      {"high bit of every byte",
       {0xAA, 0x80, 0x80, 0x80, 0x80, 0xAA},
       0x8080,
       0x80808080u,
       -2139062144},
      {"minus one", {0xAA, 0xFF, 0xFF, 0xFF, 0xFF, 0xAA}, 0xFFFF, 0xFFFFFFFFu, -1},
      {"most negative", {0xAA, 0x00, 0x00, 0x00, 0x80, 0xAA}, 0, 0x80000000u, INT32_MIN},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(readU16Le(c.bytes, 1), c.u16);
    EXPECT_EQ(readU32Le(c.bytes, 1), c.u32);
    EXPECT_EQ(readI32Le(c.bytes, 1), c.i32);
    Bytes written(6, 0xAA);
    writeU32Le(written, 1, c.u32);
    EXPECT_EQ(written, c.bytes);
    writeI32Le(written, 1, c.i32);
    EXPECT_EQ(written, c.bytes);
  }
}

}  // namespace
}  // namespace qvr::protocol
