#include "protocol/config_report.h"

#include <gtest/gtest.h>

#include <vector>

namespace qvr::protocol {
namespace {

using Bytes = std::vector<std::uint8_t>;

FirmwareVersion fw(std::uint16_t versionNumber) {
  return FirmwareVersion::fromVersionNumber(versionNumber);
}

// A format-1 report with every field set to something recognisable.
Bytes fullFormat1() {
  Bytes r(26, 0);
  r[1] = 1;
  r[2] = 0xA0;                                         // outputs enabled, 1PPS
  r[3] = 0x00, r[4] = 0x00, r[5] = 0x00, r[6] = 0x80;  // OUT1 fraction 0.5
  r[7] = 0x0A;                                         // OUT1 10 Hz
  r[15] = 0x80, r[16] = 0x96, r[17] = 0x98;            // OUT2 10 MHz
  r[19] = 1;
  r[20] = 1;
  r[21] = 0;
  r[22] = 0x49;
  r[23] = 8;
  r[24] = 12;
  r[25] = 1;
  return r;
}

TEST(FirmwareVersion, TextAndGates) {
  EXPECT_EQ(fw(0x0108).text(), "1.08");
  EXPECT_EQ(fw(0x0110).text(), "1.10");
  EXPECT_EQ(fw(0x011A).text(), "1.1A");
  EXPECT_EQ(fw(0x0200).text(), "2.00");
  EXPECT_EQ(fw(0x0005).text(), "0.05");
}

// Each row: version number, then refused, slow messages, low-power commands, low-power
// controls, receiver settings, receiver settings locked, NMEA, antenna current. The edges of
// every generation, and the majors around 1 whose quirks the window keeps.
TEST(FirmwareCapabilities, TableEdges) {
  struct Row {
    std::uint16_t version;
    FirmwareCapabilities expected;
  };
  const Row rows[] = {
      {0x0008, {.lowPowerControls = true}},
      {0x0100, {.slowMessages = true, .lowPowerControls = false, .receiverSettingsLocked = true}},
      {0x0102, {.slowMessages = true, .lowPowerControls = false, .receiverSettingsLocked = true}},
      {0x0103, {.lowPowerCommands = true, .receiverSettingsLocked = true}},
      {0x0106, {.lowPowerCommands = true, .receiverSettingsLocked = true}},
      {0x0107, {.lowPowerCommands = true, .receiverSettings = true}},
      {0x0108,
       {.lowPowerCommands = true,
        .receiverSettings = true,
        .nmeaSetting = true,
        .antennaCurrent = true}},
      {0x01FF,
       {.lowPowerCommands = true,
        .receiverSettings = true,
        .nmeaSetting = true,
        .antennaCurrent = true}},
      {0x0200, {.refused = true}},
      {0x0208, {.refused = true}},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(capabilitiesOf(fw(row.version)), row.expected) << fw(row.version).text();
  }
  EXPECT_EQ(capabilitiesOf(fw(0x0102)).messageRate(), 1);
  EXPECT_EQ(capabilitiesOf(fw(0x0103)).messageRate(), 10);
}

TEST(Configuration, Format0ReadsOutputsAndWholeHertz) {
  const Bytes r{0, 0, 0x10, 0x80, 0x96, 0x98, 0x00};
  const auto c = decodeConfiguration(r, fw(0x0108));
  ASSERT_TRUE(c.has_value());
  EXPECT_EQ(c->format, 0);
  EXPECT_EQ(c->outputsEnabled, true);
  EXPECT_EQ(c->out1WholeHz, 10000000);
  EXPECT_FALSE(c->out2Hz.has_value());
  EXPECT_FALSE(c->gnssSelection.has_value());

  const Bytes negative{0, 0, 0x20, 0xFF, 0xFF, 0xFF, 0xFF};
  const auto n = decodeConfiguration(negative, fw(0x0108));
  EXPECT_EQ(n->outputsEnabled, false);  // format 0 looks at bit 4 only
  EXPECT_EQ(n->out1WholeHz, -1);
}

TEST(Configuration, Format1FixedPointFrequencies) {
  Bytes r = fullFormat1();
  EXPECT_EQ(decodeConfiguration(r, fw(0x0108))->out1Hz, 10.5);
  EXPECT_EQ(decodeConfiguration(r, fw(0x0108))->out2Hz, 10000000.0);
  // The words themselves, in the order the device keeps them: fraction first.
  EXPECT_EQ(decodeConfiguration(r, fw(0x0108))->out1Word, (ReportedHz{10, 0x80000000}));
  EXPECT_EQ(decodeConfiguration(r, fw(0x0108))->out2Word, (ReportedHz{10000000, 0}));
  r[7] = r[8] = r[9] = r[10] = 0xFF;  // integer part -1, fraction still 0.5
  EXPECT_EQ(decodeConfiguration(r, fw(0x0108))->out1Hz, -0.5);
  EXPECT_EQ(decodeConfiguration(r, fw(0x0108))->out1Word, (ReportedHz{-1, 0x80000000}));
  r[3] = r[4] = r[5] = r[6] = 0xFF;  // the fraction word is unsigned
  EXPECT_DOUBLE_EQ(*decodeConfiguration(r, fw(0x0108))->out1Hz, -1.0 + 4294967295.0 / 4294967296.0);
}

TEST(Configuration, FirmwareGatesDecideWhatIsRead) {
  struct Case {
    std::uint16_t version;
    bool lowPower, receiver, antennaAndNmea;
  };
  const Case cases[] = {
      {0x0005, false, false, false}, {0x0100, false, false, false}, {0x0102, false, false, false},
      {0x0103, true, false, false},  {0x0106, true, false, false},  {0x0107, true, true, false},
      {0x0108, true, true, true},    {0x0120, true, true, true},    {0x0200, false, false, false},
  };
  const Bytes r = fullFormat1();
  for (const Case& k : cases) {
    SCOPED_TRACE(fw(k.version).text());
    const auto c = decodeConfiguration(r, fw(k.version));
    ASSERT_TRUE(c.has_value());
    EXPECT_EQ(c->outputsEnabled, true);
    EXPECT_EQ(c->onePps, true);
    EXPECT_EQ(c->fll, true);
    EXPECT_EQ(c->out1LowPower.has_value(), k.lowPower);
    EXPECT_EQ(c->out2LowPower.has_value(), k.lowPower);
    EXPECT_EQ(c->gnssSelection.has_value(), k.receiver);
    EXPECT_EQ(c->dynamicModel.has_value(), k.receiver);
    EXPECT_EQ(c->antennaCurrent.has_value(), k.antennaAndNmea);
    EXPECT_EQ(c->nmea.has_value(), k.antennaAndNmea);
  }
  const auto c = decodeConfiguration(r, fw(0x0108));
  EXPECT_EQ(c->out1LowPower, true);
  EXPECT_EQ(c->out2LowPower, false);
  EXPECT_EQ(c->gnssSelection, 0x49);
  EXPECT_EQ(c->dynamicModel, 8);
  EXPECT_EQ(c->antennaCurrent, 12);
  EXPECT_EQ(c->nmea, true);
}

TEST(Configuration, ShortReportsYieldOnlyWhatTheyHold) {
  const Bytes full = fullFormat1();
  const auto upTo = [&](std::size_t n) {
    return Bytes(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(n));
  };
  EXPECT_FALSE(decodeConfiguration(upTo(0), fw(0x0108)).has_value());
  EXPECT_FALSE(decodeConfiguration(upTo(1), fw(0x0108)).has_value());

  const auto two = decodeConfiguration(upTo(2), fw(0x0108));
  ASSERT_TRUE(two.has_value());
  EXPECT_FALSE(two->outputsEnabled.has_value());

  const auto ten = decodeConfiguration(upTo(10), fw(0x0108));
  EXPECT_TRUE(ten->outputsEnabled.has_value());
  EXPECT_FALSE(ten->out1Hz.has_value());  // needs bytes 3 to 10
  const auto eleven = decodeConfiguration(upTo(11), fw(0x0108));
  EXPECT_EQ(eleven->out1Hz, 10.5);
  EXPECT_FALSE(eleven->out2Hz.has_value());
  EXPECT_TRUE(eleven->out1Word.has_value());
  EXPECT_FALSE(eleven->out2Word.has_value());

  const auto twentyFour = decodeConfiguration(upTo(24), fw(0x0108));
  EXPECT_TRUE(twentyFour->dynamicModel.has_value());
  EXPECT_FALSE(twentyFour->antennaCurrent.has_value());
  EXPECT_FALSE(twentyFour->nmea.has_value());
}

TEST(Configuration, UnknownFormatIsIgnored) {
  Bytes r = fullFormat1();
  for (const std::uint8_t format : {2, 0x80, 0xFF}) {
    r[1] = format;
    EXPECT_FALSE(decodeConfiguration(r, fw(0x0108)).has_value());
  }
}

}  // namespace
}  // namespace qvr::protocol
