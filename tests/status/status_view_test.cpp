#include "status/status_view.h"

#include <gtest/gtest.h>

namespace qvr::status {
namespace {

std::string lineOf(const std::string& text, const std::string& label) {
  const std::size_t at = text.find("\n" + label + " ");
  if (at == std::string::npos) {
    return {};
  }
  const std::size_t end = text.find('\n', at + 1);
  return text.substr(at + 1, end - at - 1);
}

TEST(StatusView, FrequenciesAreShownAsTheWindowShowsThemAndExactly) {
  struct Case {
    protocol::Configuration config;
    const char* out1;  // the OUT1 line's value
    const char* json;  // out1_frequency_hz
  };
  const Case cases[] = {
      {{.format = 0, .out1WholeHz = 10000000}, "10000000 Hz", "\"10000000\""},
      {{.format = 1, .out1Hz = 10.5, .out1Word = protocol::ReportedHz{10, 0x80000000}},
       "10.5 Hz",
       "\"10.5\""},
      // 15 significant digits in the box; every digit of the word beside them.
      {{.format = 1,
        .out1Hz = 10000000.1000000000931,
        .out1Word = protocol::ReportedHz{10000000, 429496730}},
       "10000000.1 Hz, exactly 10000000.1000000000931322574615478515625 Hz",
       "\"10000000.1000000000931322574615478515625\""},
      // A report too short for the word: the firmware does not say.
      {{.format = 1}, "not reported by this firmware", "null"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.out1);
    StatusView view;
    view.settings = settingsView(c.config);
    EXPECT_EQ(lineOf(statusText(view), "OUT1"), std::string("OUT1               ") + c.out1);
    EXPECT_NE(statusJson(view, {}).find(std::string("\"out1_frequency_hz\": ") + c.json),
              std::string::npos);
  }
}

TEST(StatusView, TimeAndPositionAreTrustedOnlyAsFarAsTheReceiverDoes) {
  StatusView view;
  EXPECT_EQ(missingMessages(view.receiver),
            (std::vector<std::string>{"NAV-PVT", "NAV-CLOCK", "NAV-SAT"}));
  protocol::NavPvt pvt{.year = 2025, .month = 3, .day = 7, .hour = 4, .minute = 5, .second = 9};
  pvt.valid = 0x03;  // date and time, not fully resolved
  view.receiver.pvt = pvt;
  EXPECT_EQ(utcText(view.receiver), std::nullopt);
  EXPECT_EQ(lineOf(statusText(view), "Position"),
            "Position           0.0000000, 0.0000000 (no fix)");
  pvt.valid = 0x07;
  pvt.fixType = 3;
  pvt.flags = 0x01;
  pvt.lat = -338567890;
  pvt.lon = 1512130000;
  pvt.hMSL = -1500;
  view.receiver.pvt = pvt;
  EXPECT_EQ(utcText(view.receiver), "2025-03-07T04:05:09Z");
  const std::string text = statusText(view);
  EXPECT_EQ(lineOf(text, "Position"), "Position           -33.8567890, 151.2130000");
  EXPECT_EQ(lineOf(text, "Altitude"), "Altitude           -1.500 m");
  const std::string json = watchJson("S", view.receiver);
  EXPECT_NE(
      json.find(
          R"("latitude_deg":-33.8567890,"longitude_deg":151.2130000,"altitude_m":-1.500,"fix_type":"3d","fix_ok":true)"),
      std::string::npos)
      << json;
  EXPECT_EQ(missingMessages(view.receiver), (std::vector<std::string>{"NAV-CLOCK", "NAV-SAT"}));
}

}  // namespace
}  // namespace qvr::status
