#include "platform/sim/sim_hid.h"

#include <gtest/gtest.h>

#include <vector>

#include "protocol/device_strings.h"

namespace qvr::platform::sim {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(SimHid, HandlesAreCountedAndGoStaleWhenTheDeviceIsUnplugged) {
  SimHid hid;
  SimDevice& device = hid.attach({.serial = u"A1"});
  const auto paths = hid.presentInterfaces();
  ASSERT_EQ(paths.size(), 1u);
  const HidHandle a = hid.open(paths[0], OpenMode::Device);
  const HidHandle b = hid.open(paths[0], OpenMode::Strings);
  EXPECT_EQ(device.openHandles(), 2);

  hid.unplug(device);
  EXPECT_TRUE(hid.presentInterfaces().empty());
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
  const HidHandle h = hid.open(hid.presentInterfaces()[0], OpenMode::Device);
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
  const HidHandle h = hid.open(hid.presentInterfaces()[0], OpenMode::Device);
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
  const HidHandle h = hid.open(hid.presentInterfaces()[0], OpenMode::Device);
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
  const auto paths = hid.presentInterfaces();
  EXPECT_EQ(hid.open(paths[0], OpenMode::Device), kInvalidHandle);
  const HidHandle h = hid.open(paths[1], OpenMode::Device);
  DeviceStringBuffer buffer{};
  EXPECT_FALSE(hid.serialNumber(h, buffer));
  EXPECT_TRUE(hid.close(h));
  EXPECT_EQ(hid.open("elsewhere", OpenMode::Device), kInvalidHandle);
  EXPECT_EQ(hid.open("sim-hid:7", OpenMode::Device), kInvalidHandle);
}

}  // namespace
}  // namespace qvr::platform::sim
