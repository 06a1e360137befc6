#include "device/settings_table.h"

#include <gtest/gtest.h>

namespace qvr::device {
namespace {

std::string joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) {
    text += line + "\n";
  }
  return text;
}

TEST(SettingValues, EachValueIsReadOrRefusedWithItsName) {
  struct Case {
    std::vector<std::string> words;
    const char* refusal;  // nullptr: accepted
  };
  const Case cases[] = {
      {{"outputs=on", "fll=off", "pps=on", "nmea=off"}, nullptr},
      {{"out1-low-power=on", "out2-low-power=off"}, nullptr},
      {{"fll=yes"}, "fll=yes: must be on or off"},
      {{"fll=ON"}, "fll=ON: must be on or off"},
      {{"out1=10000000.1"}, nullptr},
      {{"out2= 1.5e6 "}, nullptr},
      {{"out1=0.9"}, nullptr},
      {{"out1=1600000000.999"}, nullptr},
      {{"out1=0.89999"}, "out1=0.89999: out of range"},
      {{"out2=1600000001"}, "out2=1600000001: out of range"},
      {{"out1=-10"}, "out1=-10: out of range"},
      // The point, whatever the user's locale says.
      {{"out1=10,5"}, "out1=10,5: not a number"},
      {{"out1=abc"}, "out1=abc: not a number"},
      {{"out1="}, "out1=: not a number"},
      {{"gnss=gps,sbas,galileo,glonass"}, nullptr},
      {{"gnss=beidou,glonass"}, nullptr},
      {{"gnss=none"}, nullptr},
      {{"gnss="}, "gnss=: empty; write gnss=none"},
      {{"gnss=gps,beidou,glonass"}, "BeiDou and GLONASS go together only without GPS"},
      {{"gnss=sbas,glonass,beidou"}, "BeiDou and GLONASS go together only without GPS"},
      {{"gnss=gps,"}, "unknown satellite system ''"},
      {{"gnss=GPS"}, "unknown satellite system 'GPS'"},
      {{"dynamic-model=airborne"}, nullptr},
      {{"dynamic-model=boat"}, "must be stationary, portable or airborne"},
      {{"fll=on", "fll=off"}, "fll: given more than once"},
      {{"pps=on", "nmea=on"}, "OUT1 carries 1PPS or NMEA, not both"},
      {{"pps=on", "nmea=off"}, nullptr},
      {{"frequency=10"}, "unknown setting 'frequency'"},
      {{"fll"}, "'fll': not a setting; write NAME=VALUE"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.words.front());
    const ParsedSettings parsed = parseSettings(c.words);
    if (c.refusal == nullptr) {
      EXPECT_EQ(joined(parsed.refusals), "");
      EXPECT_EQ(parsed.values.size(), c.words.size());
    } else {
      EXPECT_NE(joined(parsed.refusals).find(c.refusal), std::string::npos)
          << joined(parsed.refusals);
    }
  }
}

TEST(SettingValues, EveryRefusalIsToldNotJustTheFirst) {
  const ParsedSettings parsed = parseSettings({"fll=1", "out1=x", "gnss=foo", "fll=on"});
  EXPECT_EQ(parsed.refusals.size(), 3u) << joined(parsed.refusals);
}

TEST(SettingValues, ValuesGoInTheDocumentedOrderWhateverOrderTheyWereGiven) {
  const ParsedSettings parsed = parseSettings(
      {"dynamic-model=portable", "gnss=gps", "nmea=off", "pps=off", "fll=on", "out2=5e6",
       "out1=10e6", "out2-low-power=on", "out1-low-power=on", "outputs=on"});
  ASSERT_EQ(joined(parsed.refusals), "");
  std::string order;
  for (const SettingValue& value : parsed.values) {
    order += std::string(settingRow(value.id).name) + " ";
  }
  EXPECT_EQ(order,
            "outputs out1-low-power out2-low-power out1 out2 fll pps nmea gnss dynamic-model ");
}

TEST(SettingValues, WhatIsSentIsWhatWasMeant) {
  const ParsedSettings parsed = parseSettings(
      {"out1=10000000.1", "gnss=glonass,gps,gps", "dynamic-model=portable", "outputs=off"});
  ASSERT_EQ(joined(parsed.refusals), "");
  ASSERT_EQ(parsed.values.size(), 4u);
  EXPECT_EQ(describeSent(parsed.values[0]), "outputs=off");
  EXPECT_EQ(parsed.values[1].frequency, (protocol::FixedPointHz{10000000, 429496730}));
  EXPECT_EQ(describeSent(parsed.values[1]),
            "out1=10000000.1 (exactly 10000000.1000000000931322574615478515625 Hz)");
  EXPECT_EQ(protocol::gnssSelectionByte(parsed.values[2].systems), 0x41);
  EXPECT_EQ(describeSent(parsed.values[2]), "gnss=gps,glonass");
  EXPECT_EQ(parsed.values[3].model, protocol::kModelPortable);
  EXPECT_EQ(gnssNames(protocol::satelliteSystemsOf(0)), "none");
  EXPECT_EQ(gnssNames(protocol::satelliteSystemsOf(0x4F)), "gps,sbas,galileo,beidou,glonass");
}

TEST(SettingValues, FirmwareRefusesWhatItDoesNotHave) {
  struct Case {
    std::uint16_t firmware;
    const char* refused;  // the settings refused, in order
  };
  const Case cases[] = {
      // 0.x shows the satellite-system boxes and sends what is ticked.
      {0x0005, "out1-low-power out2-low-power nmea dynamic-model "},
      {0x0102, "out1-low-power out2-low-power nmea gnss dynamic-model "},
      {0x0103, "nmea gnss dynamic-model "},
      {0x0106, "nmea gnss dynamic-model "},
      {0x0107, "nmea "},
      {0x0108, ""},
  };
  for (const Case& c : cases) {
    const auto version = protocol::FirmwareVersion::fromVersionNumber(c.firmware);
    SCOPED_TRACE(version.text());
    std::string refused;
    for (const SettingRow& row : settingTable()) {
      const auto line = firmwareRefusal(row.id, protocol::capabilitiesOf(version), version.text());
      if (line) {
        refused += std::string(row.name) + " ";
        EXPECT_EQ(line->find("firmware " + version.text() + " has no"), 0u) << *line;
      }
    }
    EXPECT_EQ(refused, c.refused);
  }
}

}  // namespace
}  // namespace qvr::device
