#include "protocol/ubx_messages.h"

#include <gtest/gtest.h>

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
  p[20] = 3, p[21] = 0x01, p[23] = 11;
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
  EXPECT_EQ(pvt->fixType, 3);
  EXPECT_TRUE(pvt->fixOk());
  EXPECT_EQ(pvt->numSv, 11);
  p[21] = 0xFE;  // every flag but gnssFixOK
  EXPECT_FALSE(decodeNavPvt(p)->fixOk());
  p[21] = 0x01;

  for (const std::uint8_t valid : {0x03, 0x05, 0x06, 0x00}) {
    p[11] = valid;
    EXPECT_FALSE(decodeNavPvt(p)->timeValid()) << int{valid};
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
  p[8 + 0] = 6, p[8 + 1] = 17, p[8 + 2] = 45, p[8 + 3] = 30, p[8 + 8] = 0x08;
  p[20 + 2] = 12, p[20 + 3] = 0xF6, p[20 + 8] = 0xF7;  // below the horizon, not used
  const auto sat = NavSat::decode(p);
  ASSERT_TRUE(sat.has_value());
  ASSERT_EQ(sat->count(), 2);
  EXPECT_EQ(sat->satellite(0).cno, 45);
  EXPECT_EQ(sat->satellite(0).elev, 30);
  EXPECT_TRUE(sat->satellite(0).used);
  EXPECT_EQ(sat->satellite(0).gnssId, 6);
  EXPECT_EQ(sat->satellite(0).svId, 17);
  EXPECT_EQ(sat->satellite(1).cno, 12);
  EXPECT_EQ(sat->satellite(1).elev, -10);
  EXPECT_FALSE(sat->satellite(1).used);
}

}  // namespace
}  // namespace qvr::protocol
