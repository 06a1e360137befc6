#include "platform/sim/sim_hid.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/sim/shared_bus.h"
#include "protocol/commands.h"
#include "protocol/device_strings.h"
#include "protocol/ubx_messages.h"
#include "protocol/ubx_parser.h"

namespace qvr::platform::sim {
namespace {

using Bytes = std::vector<std::uint8_t>;

// What the bus lists now; listing never fails here.
std::vector<std::string> listed(Hid& hid) {
  std::vector<std::string> paths;
  EXPECT_TRUE(hid.presentInterfaces(paths));
  return paths;
}

TEST(SimHid, HandlesAreCountedAndGoStaleWhenTheDeviceIsUnplugged) {
  SimHid hid;
  SimDevice& device = hid.attach({.serial = u"A1"});
  const auto paths = listed(hid);
  ASSERT_EQ(paths.size(), 1u);
  const HidHandle a = hid.open(paths[0], OpenMode::Device);
  const HidHandle b = hid.open(paths[0], OpenMode::Strings);
  EXPECT_EQ(device.openHandles(), 2);

  hid.unplug(device);
  EXPECT_TRUE(listed(hid).empty());
  EXPECT_EQ(hid.open(paths[0], OpenMode::Device), kInvalidHandle);
  HidAttributes attributes;
  EXPECT_FALSE(hid.attributes(a, attributes));
  hid.plug(device);
  EXPECT_FALSE(hid.attributes(a, attributes)) << "a handle from before the unplug stays dead";

  EXPECT_TRUE(hid.close(a));
  EXPECT_TRUE(hid.close(b));
  EXPECT_FALSE(hid.close(b));
  EXPECT_FALSE(hid.close(kInvalidHandle));
  EXPECT_EQ(hid.openHandles(), 0);
}

TEST(SimHid, StringsAreUtf16InTheHundredByteBuffer) {
  SimHid hid;
  hid.attach({.serial = u"S\u0131\u00E9", .manufacturer = u"Maker"});
  const HidHandle h = hid.open(listed(hid)[0], OpenMode::Device);
  DeviceStringBuffer buffer{};
  ASSERT_TRUE(hid.serialNumber(h, buffer));
  EXPECT_EQ(buffer[0], 'S');
  EXPECT_EQ(buffer[2], 0x31);
  EXPECT_EQ(buffer[3], 0x01);
  EXPECT_EQ(protocol::deviceStringText(buffer), "S1\xE9");
  ASSERT_TRUE(hid.manufacturer(h, buffer));
  EXPECT_EQ(protocol::deviceStringText(buffer), "Maker");
  EXPECT_TRUE(hid.close(h));
}

TEST(SimHid, FeatureReportsMustHaveTheFeatureLength) {
  SimHid hid;
  SimDevice& device = hid.attach({.serial = u"A1", .inputLength = 64, .featureLength = 40});
  const HidHandle h = hid.open(listed(hid)[0], OpenMode::Device);
  Bytes wrong(64, 0);
  EXPECT_FALSE(hid.setFeature(h, wrong));
  EXPECT_FALSE(hid.getFeature(h, wrong));
  Bytes report(40, 0);
  report[1] = 0x0B;
  EXPECT_TRUE(hid.setFeature(h, report));
  ASSERT_EQ(device.received().size(), 1u);
  EXPECT_EQ(device.received()[0], report);

  Bytes config(40, 0xEE);
  config[0] = 0;
  ASSERT_TRUE(hid.getFeature(h, config));
  EXPECT_EQ(Bytes(config.begin(), config.begin() + 26), defaultConfiguration());
  EXPECT_EQ(config[39], 0);
  EXPECT_TRUE(hid.close(h));
}

TEST(SimHid, ReadsTakeWholeQueuedReportsThatFit) {
  SimHid hid;
  SimDevice& device = hid.attach({.serial = u"A1", .inputLength = 8, .receiver = false});
  for (std::uint8_t i = 1; i <= 3; ++i) {
    device.queueInputReport(Bytes{0, i, 1, 0xB5});
  }
  const HidHandle h = hid.open(listed(hid)[0], OpenMode::Device);
  Bytes buffer(20, 0xEE);
  std::size_t n = 0;
  ASSERT_TRUE(hid.read(h, buffer, n, std::chrono::milliseconds(20)));
  EXPECT_EQ(n, 16u);
  EXPECT_EQ(buffer[1], 1);
  EXPECT_EQ(buffer[9], 2);
  EXPECT_EQ(buffer[7], 0) << "short reports are zero-filled to the input length";
  ASSERT_TRUE(hid.read(h, buffer, n, std::chrono::milliseconds(20)));
  EXPECT_EQ(n, 8u);
  EXPECT_EQ(buffer[1], 3);
  ASSERT_TRUE(hid.read(h, buffer, n, std::chrono::milliseconds(20)));
  EXPECT_EQ(n, 0u);
  hid.unplug(device);
  EXPECT_FALSE(hid.read(h, buffer, n, std::chrono::milliseconds(20)));
  EXPECT_TRUE(hid.close(h));
}

TEST(SimHid, FaultsOnDemand) {
  SimHid hid;
  hid.attach({.serial = u"U", .unopenable = true});
  hid.attach({.serial = u"R", .unreadableSerial = true});
  const auto paths = listed(hid);
  EXPECT_EQ(hid.open(paths[0], OpenMode::Device), kInvalidHandle);
  const HidHandle h = hid.open(paths[1], OpenMode::Device);
  DeviceStringBuffer buffer{};
  EXPECT_FALSE(hid.serialNumber(h, buffer));
  EXPECT_TRUE(hid.close(h));
  EXPECT_EQ(hid.open("elsewhere", OpenMode::Device), kInvalidHandle);
  EXPECT_EQ(hid.open("sim-hid:7", OpenMode::Device), kInvalidHandle);
}

// A bus with one device of each fault, and a handle on the good one.
struct FaultyBus {
  SimHid hid;
  SimDevice& good = hid.attach({.serial = u"A", .inputLength = 8, .featureLength = 40});
  SimDevice& unopenable = hid.attach({.serial = u"U", .unopenable = true});
  SimDevice& noSerial = hid.attach({.serial = u"R", .unreadableSerial = true});
  SimDevice& noStrings = hid.attach({.serial = u"S", .unreadableStrings = true});
  HidHandle handle = hid.open("sim-hid:0", OpenMode::Device);
  DeviceStringBuffer text{};
  HidAttributes attributes;
  Bytes feature = Bytes(40, 0);
  Bytes small = Bytes(7, 0);  // shorter than either report
  std::size_t bytesRead = 0;

  HidHandle openOn(const std::string& number) {
    return hid.open("sim-hid:" + number, OpenMode::Device);
  }
};

TEST(SimHid, EveryFailedCallLeavesItsReason) {
  using B = FaultyBus&;
  const struct {
    const char* name;
    std::function<bool(B)> call;  // fails
    const char* reason;
  } cases[] = {
      {"a path of another bus",
       [](B b) { return b.hid.open("/dev/hidraw0", OpenMode::Device) != kInvalidHandle; },
       "no device has this path"},
      {"a path with no number, which once threw",
       [](B b) { return b.openOn("x") != kInvalidHandle; }, "no device has this path"},
      {"opening an unplugged device",
       [](B b) {
         b.hid.unplug(b.good);
         return b.openOn("0") != kInvalidHandle;
       },
       "the device is unplugged"},
      {"opening a device that refuses", [](B b) { return b.openOn("1") != kInvalidHandle; },
       "the device cannot be opened"},
      {"closing twice", [](B b) { return b.hid.close(b.handle) && b.hid.close(b.handle); },
       "no such handle"},
      {"a handle from before an unplug",
       [](B b) {
         b.hid.unplug(b.good);
         b.hid.plug(b.good);
         return b.hid.attributes(b.handle, b.attributes);
       },
       "the device is unplugged"},
      {"an unreadable serial number", [](B b) { return b.hid.serialNumber(b.openOn("2"), b.text); },
       "the string cannot be read"},
      {"an unreadable product", [](B b) { return b.hid.product(b.openOn("3"), b.text); },
       "the string cannot be read"},
      {"a feature buffer of another length",
       [](B b) { return b.hid.getFeature(b.handle, b.small); },
       "the buffer is not as long as the device's feature reports"},
      {"a feature report ID the device does not have",
       [](B b) {
         b.feature[0] = 3;
         return b.hid.getFeature(b.handle, b.feature);
       },
       "the device has no feature report with this ID"},
      {"sending a report of another length",
       [](B b) { return b.hid.setFeature(b.handle, b.small); },
       "the report is not as long as the device's feature reports"},
      {"reading into a buffer shorter than a report",
       [](B b) { return b.hid.read(b.handle, b.small, b.bytesRead, std::chrono::milliseconds(0)); },
       "the buffer cannot hold one input report"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FaultyBus bus;
    ASSERT_NE(bus.handle, kInvalidHandle);
    EXPECT_EQ(bus.hid.lastErrorText(), "");
    EXPECT_FALSE(c.call(bus));
    EXPECT_EQ(bus.hid.lastErrorText(), c.reason);
  }
}

TEST(SimHid, TheReasonStaysUntilTheNextFailure) {
  FaultyBus bus;
  EXPECT_EQ(bus.openOn("1"), kInvalidHandle);
  EXPECT_TRUE(bus.hid.serialNumber(bus.handle, bus.text));
  EXPECT_EQ(bus.hid.lastErrorText(), "the device cannot be opened");
  EXPECT_FALSE(bus.hid.close(kInvalidHandle));
  EXPECT_EQ(bus.hid.lastErrorText(), "no such handle");
}

// The device keeps what the host sets: each setting command lands in the configuration report,
// so the next read-back shows it. `changes` are the bytes that differ from the configuration
// the device started with.
TEST(SimHid, SettingCommandsLandInTheConfigurationReport) {
  const Bytes format0 = {0, 0, 0x10, 0x80, 0x96, 0x98, 0x00};
  struct Case {
    const char* name;
    Bytes configuration;  // empty: the device's default, format 1
    std::uint16_t featureLength;
    std::vector<Bytes> commands;  // from byte 1, the command code
    std::map<std::size_t, std::uint8_t> changes;
    int blinks;
  };
  const Case cases[] = {
      {"outputs off", {}, 40, {{0x01, 0}}, {{2, 0x00}}, 0},
      {"outputs back on", {}, 40, {{0x01, 0}, {0x01, 3}}, {}, 0},
      {"1 is not the outputs-on value", {}, 40, {{0x01, 0}, {0x01, 1}}, {{2, 0x00}}, 0},
      {"1PPS beside the outputs bit", {}, 40, {{0x0C, 1}, {0x01, 0}}, {{2, 0x80}}, 0},
      {"1PPS off again", {}, 40, {{0x0C, 1}, {0x0C, 0}}, {}, 0},
      {"satellite systems", {}, 40, {{0x03, 0x48}}, {{22, 0x48}}, 0},
      {"no satellite system at all", {}, 40, {{0x03, 0x00}}, {{22, 0x00}}, 0},
      {"dynamic model", {}, 40, {{0x04, 8}}, {{23, 8}}, 0},
      {"OUT1 fraction and integer words",
       {},
       40,
       {{0x06, 0x79, 0x5A, 0x7E, 0x58, 0x0C, 0, 0, 0}},
       {{3, 0x79}, {4, 0x5A}, {5, 0x7E}, {6, 0x58}, {7, 0x0C}, {8, 0}, {9, 0}, {10, 0}},
       0},
      {"OUT2 fraction and integer words",
       {},
       40,
       {{0x0A, 0xC9, 0x76, 0xBE, 0xFF, 0x00, 0x10, 0x5E, 0x5F}},
       {{11, 0xC9},
        {12, 0x76},
        {13, 0xBE},
        {14, 0xFF},
        {15, 0x00},
        {16, 0x10},
        {17, 0x5E},
        {18, 0x5F}},
       0},
      {"FLL", {}, 40, {{0x0B, 1}}, {{19, 1}}, 0},
      {"FLL on and off", {}, 40, {{0x0B, 1}, {0x0B, 0}}, {}, 0},
      {"OUT1 low power", {}, 40, {{0x0D, 1}}, {{20, 1}}, 0},
      {"OUT2 low power", {}, 40, {{0x0E, 1}}, {{21, 1}}, 0},
      {"NMEA", {}, 40, {{0x0F, 1}}, {{25, 1}}, 0},
      {"NMEA on and off", {}, 40, {{0x0F, 1}, {0x0F, 0}}, {}, 0},
      {"blinking is counted, not kept", {}, 40, {{0x02}, {0x02}}, {}, 2},
      {"receiver messages pass through", {}, 40, {{0x08, 0x06, 0x01, 8, 0, 1, 7, 10}}, {}, 0},
      {"unused code", {}, 40, {{0x05, 1, 2, 3}}, {}, 0},
      {"a field beyond the feature length has no place",
       {},
       20,
       {{0x0D, 1}, {0x03, 0x48}, {0x0B, 1}},
       {{19, 1}},
       0},
      {"format 0 outputs bit", format0, 40, {{0x01, 0}}, {{2, 0x00}}, 0},
      {"format 0 keeps whole hertz",
       format0,
       40,
       {{0x06, 0, 0, 0, 0x80, 0x0A, 0, 0, 0}},
       {{3, 0x0A}, {4, 0}, {5, 0}, {6, 0}},
       0},
      {"format 0 has nothing else",
       format0,
       40,
       {{0x0A, 0, 0, 0, 0x80, 0x0A, 0, 0, 0}, {0x03, 0x48}, {0x0B, 1}, {0x0C, 1}, {0x0F, 1}},
       {},
       0},
      {"another format takes nothing", {0, 2, 0x20}, 40, {{0x01, 0}, {0x0B, 1}}, {}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SimHid hid;
    SimDevice& device = hid.attach({.serial = u"C1",
                                    .featureLength = c.featureLength,
                                    .configuration = c.configuration,
                                    .receiver = false});
    Bytes expected(device.configuration().begin(), device.configuration().end());
    for (const auto& [offset, value] : c.changes) {
      expected.at(offset) = value;
    }
    const HidHandle h = hid.open(listed(hid)[0], OpenMode::Device);
    for (const Bytes& command : c.commands) {
      Bytes report(c.featureLength, 0);
      std::copy(command.begin(), command.end(), report.begin() + 1);
      ASSERT_TRUE(hid.setFeature(h, report));
    }
    Bytes readBack(c.featureLength, 0);
    ASSERT_TRUE(hid.getFeature(h, readBack));
    EXPECT_EQ(readBack, expected);
    EXPECT_EQ(device.blinks(), c.blinks);
    EXPECT_TRUE(hid.close(h));
  }
}

TEST(SimHid, ARefusedReportChangesNothing) {
  SimHid hid;
  SimDevice& device = hid.attach({.serial = u"C1", .featureLength = 40, .receiver = false});
  const HidHandle h = hid.open(listed(hid)[0], OpenMode::Device);
  Bytes tooLong(41, 0);
  tooLong[1] = 0x0B;
  tooLong[2] = 1;
  EXPECT_FALSE(hid.setFeature(h, tooLong));
  tooLong[1] = 0x02;
  EXPECT_FALSE(hid.setFeature(h, tooLong));
  EXPECT_EQ(Bytes(device.configuration().begin(), device.configuration().begin() + 26),
            defaultConfiguration());
  EXPECT_EQ(device.blinks(), 0);
  EXPECT_TRUE(hid.close(h));
}

// The device holds its settings while unplugged, and its receiver comes back up with the
// satellite systems the host chose last, not those the device shipped with.
TEST(SimHid, SettingsSurviveUnpluggingAndTheReceiverFollowsThem) {
  std::chrono::milliseconds now{0};
  SimHid hid;
  hid.setClock([&now] { return now; });
  SimDevice& device = hid.attach({.serial = u"C1"});
  HidHandle h = hid.open(listed(hid)[0], OpenMode::Device);
  const auto send = [&](Bytes command) {
    Bytes report(40, 0);
    std::copy(command.begin(), command.end(), report.begin() + 1);
    ASSERT_TRUE(hid.setFeature(h, report));
  };
  send({0x03, 0x08});  // BeiDou only
  send({0x0A, 0, 0, 0, 0x80, 0x0A, 0, 0, 0});
  hid.unplug(device);
  EXPECT_TRUE(hid.close(h));
  hid.plug(device);
  h = hid.open(listed(hid)[0], OpenMode::Device);
  Bytes readBack(40, 0);
  ASSERT_TRUE(hid.getFeature(h, readBack));
  EXPECT_EQ(readBack[22], 0x08);
  EXPECT_EQ(Bytes(readBack.begin() + 11, readBack.begin() + 19),
            (Bytes{0, 0, 0, 0x80, 0x0A, 0, 0, 0}));

  send({0x08, 0x06, 0x01, 8, 0, 0x01, 0x35, 1});  // NAV-SAT once a second
  protocol::UbxParser parser;
  std::set<std::uint8_t> systems;
  int navSats = 0;
  Bytes buffer(13'000);
  for (; now < std::chrono::seconds(2); now += std::chrono::milliseconds(10)) {
    std::size_t n = 0;
    ASSERT_TRUE(hid.read(h, buffer, n, std::chrono::milliseconds(0)));
    for (std::size_t r = 0; r < n; r += 64) {
      for (std::size_t i = r + 3; buffer[r + 2] != 0 && i < r + 64; ++i) {
        if (parser.feed(buffer[i]) && parser.messageClass() == 0x01 && parser.messageId() == 0x35) {
          ++navSats;
          // NAV-SAT: an 8-byte header, then 12 bytes a satellite with its gnssId first.
          const auto payload = parser.payload();
          for (std::size_t k = 8; k < payload.size(); k += 12) {
            systems.insert(payload[k]);
          }
        }
      }
    }
  }
  EXPECT_GT(navSats, 0);
  EXPECT_EQ(systems, (std::set<std::uint8_t>{3}));
  EXPECT_TRUE(hid.close(h));
}

// On real time the receivers' UTC is this computer's, and a read waits for the device's next
// report: it comes back when the epoch's frames are delivered, stamped with that moment.
TEST(SimHid, OnRealTimeAReadWaitsForTheNextEpochInTheComputersTime) {
  using namespace std::chrono_literals;
  const BusClock clock = BusClock::realTime();
  EXPECT_EQ(clock.utcAtZero(), std::chrono::floor<std::chrono::seconds>(clock.utcAtZero()));
  const auto offset = clock.stamp().realtime - std::chrono::system_clock::now().time_since_epoch();
  EXPECT_LT(std::chrono::abs(offset), 50ms);

  constexpr Delivery kDelivery{20ms, 2ms};
  const auto bus = simulatedBus(1, {.delivery = kDelivery});
  const HidHandle h = bus->open(listed(*bus)[0], OpenMode::Device);
  const auto request = protocol::buildCommandReport(
      protocol::Command::ReceiverMessage,
      protocol::messageRateData(protocol::kUbxClassNav, protocol::kUbxIdNavPvt, 10), 40);
  ASSERT_TRUE(bus->setFeature(h, *request));

  protocol::UbxParser parser;
  Bytes buffer(13'000);
  std::optional<std::chrono::nanoseconds> epoch;
  std::chrono::nanoseconds readAt{0};
  for (int reads = 0; !epoch && reads < 10; ++reads) {
    std::size_t n = 0;
    ASSERT_TRUE(bus->read(h, buffer, n, 1500ms));
    for (std::size_t r = 0; r < n; r += 64) {
      for (std::size_t i = r + 3; buffer[r + 2] != 0 && i < r + 64; ++i) {
        if (parser.feed(buffer[i]) && parser.messageId() == protocol::kUbxIdNavPvt) {
          const auto pvt = protocol::decodeNavPvt(parser.payload());
          ASSERT_TRUE(pvt.has_value());
          epoch = std::chrono::sys_days{std::chrono::year{pvt->year} / pvt->month / pvt->day}
                      .time_since_epoch() +
                  std::chrono::hours{pvt->hour} + std::chrono::minutes{pvt->minute} +
                  std::chrono::seconds{pvt->second} + std::chrono::nanoseconds{pvt->nano};
          readAt = bus->readStamp().realtime;
        }
      }
    }
  }
  ASSERT_TRUE(epoch.has_value()) << "no NAV-PVT in 10 reads";
  // The solution's own error moves its time by some nanoseconds.
  EXPECT_GE(readAt - *epoch, kDelivery.latency - kDelivery.jitter - 1us);
  EXPECT_LT(std::chrono::abs(*epoch - std::chrono::system_clock::now().time_since_epoch()), 2s);
  EXPECT_TRUE(bus->close(h));
}

// A read that waits lets go of the shared bus: the other devices' threads go on meanwhile.
TEST(SimHid, AWaitingReadHoldsUpNoOtherDevice) {
  using namespace std::chrono_literals;
  const auto bus = simulatedBus(2);
  std::mutex lock;
  SharedBusView waiting(*bus, lock);
  SharedBusView other(*bus, lock);
  const auto paths = listed(*bus);
  const HidHandle a = waiting.open(paths[0], OpenMode::Device);
  const HidHandle b = other.open(paths[1], OpenMode::Device);
  std::atomic<bool> readDone{false};
  // Its receiver was asked for nothing, so the read waits out its whole wait.
  std::thread reader([&] {
    Bytes buffer(13'000);
    std::size_t n = 0;
    EXPECT_TRUE(waiting.read(a, buffer, n, 600ms));
    EXPECT_EQ(n, 0u);
    readDone = true;
  });
  std::this_thread::sleep_for(100ms);
  HidAttributes attributes;
  EXPECT_TRUE(other.attributes(b, attributes));
  EXPECT_FALSE(readDone) << "the other device's call waited for the read";
  reader.join();
  EXPECT_TRUE(waiting.close(a));
  EXPECT_TRUE(other.close(b));
}

TEST(SimHid, TheBusOfSimulateCountsSerialNumbersFromOne) {
  const auto bus = simulatedBus(3);
  ASSERT_EQ(bus->devices().size(), 3u);
  EXPECT_EQ(bus->devices()[0]->profile().serial, u"QVR000001");
  EXPECT_EQ(bus->devices()[2]->profile().serial, u"QVR000003");
  EXPECT_EQ(simulatedSerial(42), u"QVR000042");
}

}  // namespace
}  // namespace qvr::platform::sim
