#include "protocol/ubx_messages.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

namespace qvr::protocol {
namespace {

using Bytes = std::vector<std::uint8_t>;

void put32(Bytes& p, std::size_t offset, std::int32_t value) {
  for (std::size_t i = 0; i < 4; ++i) {
    p[offset + i] = static_cast<std::uint8_t>(static_cast<std::uint32_t>(value) >> (8 * i));
  }
}

TEST(NavPvt, FieldsAtTheirOffsets) {
  Bytes p(92, 0);
  p[4] = 0xE9, p[5] = 0x07;  // 2025
  p[6] = 3, p[7] = 7, p[8] = 14, p[9] = 5, p[10] = 9;
  p[11] = 0x37;
  put32(p, 16, -400000);
  put32(p, 24, -1412338);
  put32(p, 28, 515012341);
  put32(p, 36, 35200);
  const auto pvt = decodeNavPvt(p);
  ASSERT_TRUE(pvt.has_value());
  EXPECT_EQ(pvt->year, 2025);
  EXPECT_EQ(pvt->month, 3);
  EXPECT_EQ(pvt->day, 7);
  EXPECT_EQ(pvt->hour, 14);
  EXPECT_EQ(pvt->minute, 5);
  EXPECT_EQ(pvt->second, 9);
  EXPECT_TRUE(pvt->timeValid());
  EXPECT_EQ(pvt->nano, -400000);
  EXPECT_EQ(pvt->lon, -1412338);
  EXPECT_EQ(pvt->lat, 515012341);
  EXPECT_EQ(pvt->hMSL, 35200);

  for (const std::uint8_t valid : {0x03, 0x05, 0x06, 0x00}) {
    p[11] = valid;
    EXPECT_FALSE(decodeNavPvt(p)->timeValid()) << int{valid};
  }
}

TEST(NavPvt, FixTypeFlagsAndSatelliteCount) {
  struct Case {
    const char* name;
    std::size_t size;
    std::uint8_t fixType, flags, flags2, numSv;  // bytes 20 to 23
    bool fixOk;
  };
  const Case cases[] = {
      {"3D fix, gnssFixOK", 92, 3, 0x01, 0xE0, 11, true},
      {"other flags without gnssFixOK", 92, 2, 0xFE, 0xFF, 4, false},
      {"the shortest payload decoded", 40, 5, 0x3D, 0x00, 255, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes p(c.size, 0xA5);
    p[20] = c.fixType, p[21] = c.flags, p[22] = c.flags2, p[23] = c.numSv;
    const auto pvt = decodeNavPvt(p);
    ASSERT_TRUE(pvt.has_value());
    EXPECT_EQ(pvt->fixType, c.fixType);
    EXPECT_EQ(pvt->flags, c.flags);
    EXPECT_EQ(pvt->numSv, c.numSv);
    EXPECT_EQ(pvt->fixOk(), c.fixOk);
    // The neighbours are what they were: nano ends at 19, lon starts at 24.
    EXPECT_EQ(pvt->nano, static_cast<std::int32_t>(0xA5A5A5A5));
    EXPECT_EQ(pvt->lon, static_cast<std::int32_t>(0xA5A5A5A5));
  }
}

TEST(NavClock, AccuraciesOnlyWhenThePayloadHoldsThem) {
  struct Case {
    const char* name;
    std::size_t size;
    std::optional<std::int32_t> drift;
    std::optional<std::uint32_t> timeAccuracy;
    std::optional<std::uint32_t> frequencyAccuracy;
  };
  const Case cases[] = {
      {"too short for clkD", 11, std::nullopt, std::nullopt, std::nullopt},
      {"one byte short of tAcc", 15, -123, std::nullopt, std::nullopt},
      {"tAcc", 16, -123, 4000000000u, std::nullopt},
      {"one byte short of fAcc", 19, -123, 4000000000u, std::nullopt},
      {"the whole message", 20, -123, 4000000000u, 180u},
  };
  Bytes full(20, 0xEE);
  put32(full, 8, -123);
  put32(full, 12, static_cast<std::int32_t>(4000000000u));
  put32(full, 16, 180);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes p(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(c.size));
    const auto clock = decodeNavClock(p);
    EXPECT_EQ(decodeNavClockDrift(p), c.drift);
    ASSERT_EQ(clock.has_value(), c.drift.has_value());
    if (clock) {
      EXPECT_EQ(clock->drift, *c.drift);
      EXPECT_EQ(clock->timeAccuracy, c.timeAccuracy);
      EXPECT_EQ(clock->frequencyAccuracy, c.frequencyAccuracy);
    }
  }
}

TEST(UbxMessages, ShortPayloadsAreNotDecoded) {
  EXPECT_FALSE(decodeNavPvt(Bytes(39)).has_value());
  EXPECT_TRUE(decodeNavPvt(Bytes(40)).has_value());
  EXPECT_FALSE(decodeNavClockDrift(Bytes(11)).has_value());
  Bytes clock(20, 0);
  put32(clock, 8, -123);
  EXPECT_EQ(decodeNavClockDrift(clock), -123);

  Bytes sat(8 + 12 * 3, 0);
  sat[5] = 3;
  EXPECT_TRUE(NavSat::decode(sat).has_value());
  sat[5] = 4;  // announces a block that is not there
  EXPECT_FALSE(NavSat::decode(sat).has_value());
  EXPECT_FALSE(NavSat::decode(Bytes(7)).has_value());
  Bytes none(8, 0);
  EXPECT_EQ(NavSat::decode(none)->count(), 0);
}

TEST(NavSat, BlocksOfTwelveBytes) {
  Bytes p(8 + 12 * 2, 0);
  p[5] = 2;
  p[8 + 0] = 6, p[8 + 1] = 24, p[8 + 2] = 45, p[8 + 3] = 30, p[8 + 8] = 0x08;
  // Below the horizon, not used.
  p[20 + 0] = 1, p[20 + 1] = 136, p[20 + 2] = 12, p[20 + 3] = 0xF6, p[20 + 8] = 0xF7;
  const auto sat = NavSat::decode(p);
  ASSERT_TRUE(sat.has_value());
  ASSERT_EQ(sat->count(), 2);
  EXPECT_EQ(sat->satellite(0).gnssId, 6);
  EXPECT_EQ(sat->satellite(0).svId, 24);
  EXPECT_EQ(sat->satellite(0).cno, 45);
  EXPECT_EQ(sat->satellite(0).elev, 30);
  EXPECT_TRUE(sat->satellite(0).used);
  EXPECT_EQ(sat->satellite(1).gnssId, 1);
  EXPECT_EQ(sat->satellite(1).svId, 136);
  EXPECT_EQ(sat->satellite(1).cno, 12);
  EXPECT_EQ(sat->satellite(1).elev, -10);
  EXPECT_FALSE(sat->satellite(1).used);
}

}  // namespace
}  // namespace qvr::protocol
