#include "device/session.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/sim/sim_hid.h"
#include "platform/sim/sim_system.h"
#include "protocol/ubx_parser.h"

namespace qvr::device {
namespace {

using platform::sim::SimDevice;
using platform::sim::SimHid;
using platform::sim::SimSystem;

struct Bench {
  explicit Bench(std::uint16_t firmware)
      : device(hid.attach({.serial = u"S1", .versionNumber = firmware, .receiver = false})) {}
  SimHid hid;
  SimSystem system;
  SimDevice& device;
  Session session{hid, system};
};

SettingValue setting(SettingId id, const char* text) {
  return *readSettingValue(id, text).value;
}

// Each row: firmware, what is sent, whether the device hears it, and the reason when not.
TEST(Session, FirmwareGatesRefuseWithAReasonAndSendNothing) {
  struct Row {
    std::uint16_t firmware;
    const char* what;
    SendResult (*send)(Session&);
    const char* refusal;  // nullptr: sent
  };
  const auto nmea = [](Session& s) { return s.send(setting(SettingId::Nmea, "on")); };
  const auto lowPower = [](Session& s) { return s.send(setting(SettingId::Out2LowPower, "on")); };
  const auto gnss = [](Session& s) { return s.send(setting(SettingId::Gnss, "gps")); };
  const Row rows[] = {
      {0x0108, "nmea", nmea, nullptr},
      {0x0107, "nmea", nmea, "firmware 1.07 has no NMEA setting"},
      {0x0103, "low power", lowPower, nullptr},
      {0x0102, "low power", lowPower, "firmware 1.02 has no low-power setting"},
      {0x0107, "gnss", gnss, nullptr},
      {0x0106, "gnss", gnss, "firmware 1.06 has no satellite-system setting"},
  };
  for (const Row& row : rows) {
    Bench b(row.firmware);
    ASSERT_TRUE(b.session.open("S1"));
    ASSERT_FALSE(b.session.startUp().refused);
    b.session.link().setListReady(true);
    b.device.clearReceived();
    const SendResult result = row.send(b.session);
    SCOPED_TRACE(row.what);
    if (row.refusal == nullptr) {
      EXPECT_TRUE(result.sent) << result.reason;
      EXPECT_EQ(b.device.received().size(), 1u);
    } else {
      EXPECT_FALSE(result.sent);
      EXPECT_EQ(result.reason.find(row.refusal), 0u) << result.reason;
      EXPECT_TRUE(b.device.received().empty());
    }
  }
}

TEST(Session, GuardsAndValuesSayWhyNothingWasSent) {
  Bench b(0x0108);
  const SettingValue fll = setting(SettingId::Fll, "on");
  EXPECT_EQ(b.session.send(fll).reason, "no device is open");
  ASSERT_TRUE(b.session.open("S1"));
  EXPECT_EQ(b.session.send(fll).reason, "the device is not configured");
  (void)b.session.startUp();
  EXPECT_EQ(b.session.send(fll).reason, "the device list is being read");
  b.session.link().setListReady(true);
  b.device.clearReceived();
  EXPECT_EQ(readSettingValue(SettingId::Out1, "12a").refusal, "not a number");
  EXPECT_EQ(readSettingValue(SettingId::Out1, "0.5").refusal,
            "out of range (0.9 Hz up to 1600000001 Hz, not included)");
  EXPECT_TRUE(b.device.received().empty());
  EXPECT_TRUE(b.session.send(setting(SettingId::Out2, " 1e7 ")).sent);
  ASSERT_EQ(b.device.received().size(), 1u);
  EXPECT_EQ(b.device.received()[0][1], 0x0A);

  b.hid.unplug(b.device);
  const SendResult gone = b.session.send(fll);
  EXPECT_FALSE(gone.sent);
  EXPECT_EQ(b.session.state().lastFailure.operation, "set feature");
  EXPECT_FALSE(b.session.state().lastFailure.reason.empty());
  EXPECT_EQ(gone.reason,
            "the device did not take the report: " + b.session.state().lastFailure.reason);
  EXPECT_EQ(b.session.state().hidFailures, 1u);
}

TEST(Session, StartUpReadsIdentityAndConfigurationAndAsksForMessages) {
  Bench b(0x0102);
  ASSERT_TRUE(b.session.open("S1"));
  const Session::StartUp up = b.session.startUp();
  ASSERT_TRUE(up.configuration.has_value());
  EXPECT_TRUE(b.session.state().configured());
  const Identity id = b.session.identity();
  EXPECT_EQ(id.serial, "S1");
  EXPECT_EQ(id.manufacturer, "QVR Instruments");
  EXPECT_EQ(id.product, "QVR-7130 GPSDO");
  EXPECT_EQ(id.firmware.text(), "1.02");
  // Three CFG-MSG requests at the slow rate of this firmware.
  ASSERT_EQ(b.device.received().size(), 3u);
  for (const auto& report : b.device.received()) {
    EXPECT_EQ(report[1], 0x08);
    EXPECT_EQ(report[8], 1);
  }
  b.device.clearReceived();
  b.session.close();
  EXPECT_EQ(b.device.received().size(), 3u);
  EXPECT_EQ(b.hid.openHandles(), 0);
  EXPECT_FALSE(b.session.state().found());

  Bench refused(0x0200);
  ASSERT_TRUE(refused.session.open("S1"));
  EXPECT_TRUE(refused.session.startUp().refused);
  EXPECT_FALSE(refused.session.state().configured());
  EXPECT_TRUE(refused.device.received().empty());
}

// Configured means the configuration was read and every message request got through; a
// failure tells a hung device (asked again when it answers) from a gone one.
TEST(Session, ConfiguredOnlyWhenTheConfigurationWasReadAndTheMessagesRequested) {
  enum class Fault { None, HungBeforeTheRead, HungAfterOneRequest, GoneAfterOneRequest };
  struct Row {
    Fault fault;
    bool configured;
    bool notAnswering;
    std::size_t requestsReceived;
  };
  const Row rows[] = {
      {Fault::None, true, false, 3},
      {Fault::HungBeforeTheRead, false, true, 0},
      {Fault::HungAfterOneRequest, false, true, 1},
      {Fault::GoneAfterOneRequest, false, false, 1},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(static_cast<int>(row.fault));
    Bench b(0x0108);
    ASSERT_TRUE(b.session.open("S1"));
    if (row.fault == Fault::HungBeforeTheRead) {
      b.device.hang();
    }
    b.hid.setReportListener([&](const SimDevice&, std::span<const std::uint8_t>) {
      if (row.fault == Fault::HungAfterOneRequest) {
        b.device.hang();
      } else if (row.fault == Fault::GoneAfterOneRequest) {
        b.hid.unplug(b.device);
      }
    });
    (void)b.session.startUp();
    EXPECT_EQ(b.session.state().configured(), row.configured);
    EXPECT_EQ(b.session.state().notAnswering, row.notAnswering);
    EXPECT_EQ(b.device.received().size(), row.requestsReceived);
    EXPECT_EQ(b.session.state().found(), true);

    if (row.notAnswering) {
      b.hid.setReportListener(nullptr);
      b.device.answer();
      b.device.clearReceived();
      (void)b.session.startUp();
      EXPECT_TRUE(b.session.state().configured());
      EXPECT_FALSE(b.session.state().notAnswering);
      EXPECT_EQ(b.device.received().size(), 3u);
    }
  }
}

TEST(Receiver, DecodesNavMessagesAndCountsTooShortOnes) {
  Receiver receiver;
  std::vector<std::uint8_t> sat(8 + 2 * 12, 0);
  sat[5] = 2;
  sat[8 + 2] = 40;  // cno
  sat[8 + 3] = 30;  // elevation
  sat[8 + 8] = 0x08;
  sat[20 + 2] = 35;
  sat[20 + 3] = 10;
  sat[20 + 8] = 0x08;
  std::vector<std::uint8_t> stream = protocol::ubxFrame(0x01, 0x35, sat);
  const std::vector<std::uint8_t> shortPvt =
      protocol::ubxFrame(0x01, 0x07, std::vector<std::uint8_t>(39));
  stream.insert(stream.end(), shortPvt.begin(), shortPvt.end());
  // One input report of report ID, status, data-present and the stream.
  std::vector<std::uint8_t> report{0, 0x05, 1};
  report.insert(report.end(), stream.begin(), stream.end());

  std::vector<std::uint8_t> heard;
  int status = -1;
  receiver.takeReports(
      report, report.size(), [&](std::uint8_t b) { status = b; },
      [&](std::uint8_t id) { heard.push_back(id); });
  EXPECT_EQ(status, 0x05);
  EXPECT_EQ(heard, (std::vector<std::uint8_t>{0x35}));
  EXPECT_EQ(receiver.state().satellitesUsed, 2);
  EXPECT_EQ(receiver.state().averageCno, 38);  // 37.5 to even
  EXPECT_FALSE(receiver.state().pvt.has_value());
  EXPECT_EQ(receiver.counts().tooShortMessages, 1u);
}

}  // namespace
}  // namespace qvr::device
