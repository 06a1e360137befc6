#include "protocol/commands.h"

#include <gtest/gtest.h>

#include <vector>

namespace qvr::protocol {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Bytes 0 to 9 of a report; everything after them must be zero.
Bytes head(const Bytes& report) {
  for (std::size_t i = 10; i < report.size(); ++i) {
    EXPECT_EQ(report[i], 0) << "byte " << i;
  }
  return Bytes(report.begin(), report.begin() + 10);
}

template <std::size_t N>
Bytes bytes(const std::array<std::uint8_t, N>& data) {
  return Bytes(data.begin(), data.end());
}

struct LayoutCase {
  const char* name;
  Command command;
  Bytes data;
  Bytes expected;  // bytes 0-9
  Guard guard;
};

TEST(CommandReport, EveryCommandOfTheCatalogue) {
  const LayoutCase cases[] = {
      {"outputs on",
       Command::OutputsEnable,
       bytes(outputsEnableData(true)),
       {0, 0x01, 3, 0, 0, 0, 0, 0, 0, 0},
       Guard::ThreeFlags},
      {"outputs off",
       Command::OutputsEnable,
       bytes(outputsEnableData(false)),
       {0, 0x01, 0, 0, 0, 0, 0, 0, 0, 0},
       Guard::ThreeFlags},
      {"blink", Command::BlinkFrontLights, {}, {0, 0x02, 0, 0, 0, 0, 0, 0, 0, 0}, Guard::TwoFlags},
      {"satellite systems",
       Command::SatelliteSystems,
       {0x47},
       {0, 0x03, 0x47, 0, 0, 0, 0, 0, 0, 0},
       Guard::TwoFlags},
      {"dynamic model",
       Command::DynamicModel,
       {8},
       {0, 0x04, 8, 0, 0, 0, 0, 0, 0, 0},
       Guard::TwoFlags},
      {"OUT1 frequency",
       Command::Out1Frequency,
       bytes(frequencyData(0x80000000u, 10)),
       {0, 0x06, 0x00, 0x00, 0x00, 0x80, 0x0A, 0, 0, 0},
       Guard::ThreeFlags},
      {"OUT2 frequency",
       Command::Out2Frequency,
       bytes(frequencyData(0, 1000000000)),
       {0, 0x0A, 0, 0, 0, 0, 0x00, 0xCA, 0x9A, 0x3B},
       Guard::ThreeFlags},
      {"FLL",
       Command::FllMode,
       bytes(switchData(true)),
       {0, 0x0B, 1, 0, 0, 0, 0, 0, 0, 0},
       Guard::ThreeFlags},
      {"1PPS",
       Command::OnePps,
       bytes(switchData(false)),
       {0, 0x0C, 0, 0, 0, 0, 0, 0, 0, 0},
       Guard::ThreeFlags},
      {"OUT1 low power",
       Command::Out1LowPower,
       {1},
       {0, 0x0D, 1, 0, 0, 0, 0, 0, 0, 0},
       Guard::ThreeFlags},
      {"OUT2 low power",
       Command::Out2LowPower,
       {1},
       {0, 0x0E, 1, 0, 0, 0, 0, 0, 0, 0},
       Guard::ThreeFlags},
      {"NMEA", Command::Nmea, {1}, {0, 0x0F, 1, 0, 0, 0, 0, 0, 0, 0}, Guard::ThreeFlags},
      {"receiver message",
       Command::ReceiverMessage,
       receiverMessageData(0x06, 0x24, Bytes{1, 2}),
       {0, 0x08, 0x06, 0x24, 2, 0, 1, 2, 0, 0},
       Guard::TwoFlags},
  };
  for (const LayoutCase& c : cases) {
    SCOPED_TRACE(c.name);
    const auto report = buildCommandReport(c.command, c.data, 40);
    ASSERT_TRUE(report.has_value());
    EXPECT_EQ(report->size(), 40u);
    EXPECT_EQ(head(*report), c.expected);
    EXPECT_EQ(guardOf(c.command), c.guard);
  }
}

TEST(CommandReport, MessageRateRequestForNavPvt) {
  const auto report = buildCommandReport(Command::ReceiverMessage,
                                         messageRateData(kUbxClassNav, kUbxIdNavPvt, 10), 64);
  ASSERT_TRUE(report.has_value());
  const Bytes expected{0x00, 0x08, 0x06, 0x01, 0x08, 0x00, 0x01, 0x07, 0x0A, 0, 0, 0, 0, 0};
  EXPECT_EQ(Bytes(report->begin(), report->begin() + 14), expected);
  EXPECT_EQ(std::count(report->begin() + 14, report->end(), 0), 64 - 14);
}

TEST(CommandReport, ReportThatDoesNotFitIsNotBuilt) {
  const Bytes rate = messageRateData(kUbxClassNav, kUbxIdNavSat, 1);
  EXPECT_FALSE(buildCommandReport(Command::ReceiverMessage, rate, 13).has_value());
  EXPECT_TRUE(buildCommandReport(Command::ReceiverMessage, rate, 14).has_value());
  EXPECT_FALSE(buildCommandReport(Command::BlinkFrontLights, {}, 1).has_value());
  EXPECT_FALSE(buildCommandReport(Command::BlinkFrontLights, {}, 0).has_value());
  EXPECT_TRUE(buildCommandReport(Command::BlinkFrontLights, {}, 2).has_value());
}

TEST(GnssSelectionByte, OneBitPerSystemAtItsGnssId) {
  struct Case {
    SatelliteSystems systems;
    std::uint8_t expected;
  };
  const Case cases[] = {
      {{true, true, true, true, true}, 0x4F},     {{}, 0x00},
      {{true, true, true, false, true}, 0x47},    {{true, false, false, false, false}, 0x01},
      {{false, true, false, false, false}, 0x02}, {{false, false, true, false, false}, 0x04},
      {{false, false, false, true, false}, 0x08}, {{false, false, false, false, true}, 0x40},
      {{false, false, false, true, true}, 0x48},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(gnssSelectionByte(c.systems), c.expected);
  }
}

TEST(DynamicModel, RowsAndModelNumbers) {
  EXPECT_EQ(dynamicModelByte(0), 2);
  EXPECT_EQ(dynamicModelByte(1), 0);
  EXPECT_EQ(dynamicModelByte(2), 8);
  EXPECT_EQ(dynamicModelByte(-1), 2);  // nothing selected
  EXPECT_EQ(dynamicModelRow(2), 0);
  EXPECT_EQ(dynamicModelRow(0), 1);
  EXPECT_EQ(dynamicModelRow(8), 2);
  EXPECT_EQ(dynamicModelRow(5), 0);
  EXPECT_EQ(dynamicModelRow(255), 0);
}

}  // namespace
}  // namespace qvr::protocol
