// A scan that did not finish is no empty bus: over simulated buses whose listing fails, whose
// devices hang, or whose listing takes longer than a call may, the scan says it did not finish
// and why, and the window keeps the list it had.

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "device/device_link.h"
#include "platform/sim/forwarding_hid.h"
#include "platform/sim/sim_hid.h"
#include "platform/sim/sim_system.h"
#include "platform/timed/timed_hid.h"
#include "ui/controls.h"
#include "ui/main_window.h"

namespace qvr::device {
namespace {

using namespace std::chrono_literals;
using platform::sim::SimDevice;
using platform::sim::SimHid;

constexpr const char* kListingFailure = "udev is gone";

// A bus whose listing fails while `failing` is set, or takes `listingTime` of real time, as the
// system's does on a loaded machine.
class TroubledBus final : public platform::sim::ForwardingHid {
 public:
  explicit TroubledBus(std::shared_ptr<SimHid> bus) : ForwardingHid(*bus), bus_(std::move(bus)) {}
  bool presentInterfaces(std::vector<std::string>& paths) override {
    std::this_thread::sleep_for(listingTime);
    if (failing) {
      paths.clear();
      return false;
    }
    return ForwardingHid::presentInterfaces(paths);
  }
  [[nodiscard]] std::string lastErrorText() const override {
    return failing ? kListingFailure : ForwardingHid::lastErrorText();
  }

  bool failing = false;
  std::chrono::milliseconds listingTime{0};

 private:
  std::shared_ptr<SimHid> bus_;  // the device thread may outlive the test's own references
};

std::shared_ptr<SimHid> busOf(const std::vector<platform::sim::DeviceProfile>& devices) {
  auto bus = std::make_shared<SimHid>();
  for (platform::sim::DeviceProfile profile : devices) {
    profile.receiver = false;
    bus->attach(profile);
  }
  return bus;
}

TEST(Scan, SaysWhenItDidNotFinishAndWhy) {
  struct Case {
    const char* name;
    std::vector<platform::sim::DeviceProfile> devices;
    bool failing;
    bool hangFirst;
    Scan expected;
  };
  const Case cases[] = {
      {"an empty bus is a finished scan", {}, false, false, {true, {}, ""}},
      {"two devices",
       {{.serial = u"A1"}, {.serial = u"B2"}},
       false,
       false,
       {true, {"A1", "B2"}, ""}},
      {"devices that do not open or have no serial number are not ours to list",
       {{.serial = u"A1", .unopenable = true},
        {.serial = u"B2", .unreadableSerial = true},
        {.serial = u"C3"}},
       false,
       false,
       {true, {"C3"}, ""}},
      {"a listing that failed is no empty bus",
       {{.serial = u"A1"}},
       true,
       false,
       {false, {}, "the HID interfaces could not be listed: udev is gone"}},
      {"a device that does not answer may be one of ours",
       {{.serial = u"A1"}, {.serial = u"B2"}},
       false,
       true,
       {false, {"B2"}, "sim-hid:0 did not answer: the device does not answer"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto bus = busOf(c.devices);
    if (c.hangFirst) {
      bus->devices()[0]->hang();
    }
    TroubledBus hid(bus);
    hid.failing = c.failing;
    DeviceLink link(hid);
    const Scan scan = link.scanSerialNumbers();
    EXPECT_EQ(scan.finished, c.expected.finished);
    EXPECT_EQ(scan.serials, c.expected.serials);
    EXPECT_EQ(scan.failure, c.expected.failure);
    EXPECT_EQ(bus->openHandles(), 0);
  }
}

// The listing takes longer than any call on a device may, as it does on a busy machine: the
// scan still finds the device. Only a scan that outruns its own budget fails, and says so.
TEST(Scan, ASlowListingIsGivenTheScansBudget) {
  struct Case {
    std::chrono::milliseconds listing;
    std::chrono::milliseconds scanBudget;
    Scan expected;
  };
  constexpr std::chrono::milliseconds kCallBudget{20};
  const Case cases[] = {
      {0ms, 2000ms, {true, {"A1"}, ""}},
      {4 * kCallBudget, 2000ms, {true, {"A1"}, ""}},
      {300ms, 100ms, {false, {}, "the scan did not finish within 100 ms"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.listing.count());
    auto troubled = std::make_unique<TroubledBus>(busOf({{.serial = u"A1"}}));
    troubled->listingTime = c.listing;
    platform::TimedHid hid(std::move(troubled), kCallBudget, c.scanBudget);
    DeviceLink link(hid);
    const Scan scan = link.scanSerialNumbers();
    EXPECT_EQ(scan.finished, c.expected.finished);
    EXPECT_EQ(scan.serials, c.expected.serials);
    EXPECT_EQ(scan.failure, c.expected.failure);
    if (!scan.finished) {
      EXPECT_TRUE(link.state().notAnswering) << "the late scan keeps the device thread";
      EXPECT_EQ(link.state().lastFailure.operation, "scan");
    }
    while (!hid.answering()) {
      std::this_thread::sleep_for(5ms);
    }
  }
}

std::vector<std::string> listedSerials(const ui::MainWindow& window) {
  return window.form()[ui::ctl::SerNo].items;
}

// The window's device went away; while the listing fails, its reconnect ticks keep the list as
// it was and close nothing, and the first scan that finishes shows the bus as it is.
TEST(Scan, TheWindowKeepsItsListThroughScansThatFail) {
  auto bus = busOf({{.serial = u"A1"}, {.serial = u"B2"}});
  TroubledBus hid(bus);
  platform::sim::SimSystem system;
  ui::MainWindow window(hid, system);
  window.load();
  ASSERT_EQ(listedSerials(window), (std::vector<std::string>{"A1", "B2"}));
  ASSERT_EQ(window.connection().serial, "B2");
  const ui::Control before = window.form()[ui::ctl::SerNo];

  SimDevice& b2 = *bus->devices()[1];
  bus->unplug(b2);
  window.tick();
  ASSERT_FALSE(window.connection().found());
  hid.failing = true;
  for (int tick = 0; tick < 5; ++tick) {
    window.tick();
    const ui::Control& list = window.form()[ui::ctl::SerNo];
    EXPECT_EQ(list.items, before.items);
    EXPECT_EQ(list.listIndex, before.listIndex);
    EXPECT_EQ(list.visible, before.visible);
    EXPECT_EQ(list.enabled, before.enabled);
    EXPECT_TRUE(window.connection().deviceListReady);
    EXPECT_EQ(bus->openHandles(), 0);
  }

  bus->plug(b2);
  hid.failing = false;
  window.tick();
  EXPECT_EQ(listedSerials(window), (std::vector<std::string>{"A1", "B2"}));
  EXPECT_TRUE(window.connection().found());
  EXPECT_EQ(window.connection().serial, "B2");
  window.unload();
}

// Counts the opens of each path.
class CountingBus final : public platform::sim::ForwardingHid {
 public:
  using ForwardingHid::ForwardingHid;
  platform::HidHandle open(const std::string& path, platform::OpenMode mode) override {
    ++opens[path];
    return ForwardingHid::open(path, mode);
  }
  std::map<std::string, int> opens;
};

// A device that cannot be used is opened once per plug-in, however often the window looks for
// a device, and the status row says why in the device listing's words. Unplugged, the row is
// empty again; plugged in again, even between two looks, it is decided again.
TEST(Scan, TheWindowDecidesOnAnUnusableDeviceOncePerPlugIn) {
  struct Case {
    platform::sim::DeviceProfile profile;
    const char* problem;
  };
  const Case cases[] = {
      {{.serial = u"S1", .inputLength = 3}, "input reports of 3 bytes carry no receiver data"},
      {{.serial = u"S2", .featureLength = 2}, "feature reports of 2 bytes hold no command"},
      {{.serial = u"S3", .inputLength = 0, .featureLength = 0},
       "no input reports, no feature reports"},
  };
  constexpr int kTicks = 20;  // two seconds of looking
  for (const Case& c : cases) {
    SCOPED_TRACE(c.problem);
    auto bus = busOf({c.profile});
    SimDevice& device = *bus->devices()[0];
    CountingBus hid(*bus);
    platform::sim::SimSystem system;
    ui::MainWindow window(hid, system);
    const ui::Control& status = window.form()[ui::ctl::Status];
    const auto look = [&] {
      for (int tick = 0; tick < kTicks; ++tick) {
        window.tick();
      }
    };
    window.load();
    look();
    EXPECT_EQ(hid.opens["sim-hid:0"], 1);
    EXPECT_TRUE(status.visible);
    EXPECT_EQ(status.text, std::string(" QVR-7130 attached, but cannot be used: ") + c.problem);
    EXPECT_FALSE(window.connection().found());

    bus->unplug(device);
    window.tick();
    EXPECT_FALSE(status.visible);
    EXPECT_EQ(status.text, "");
    bus->plug(device);
    look();
    EXPECT_EQ(hid.opens["sim-hid:0"], 2);
    bus->unplug(device);
    bus->plug(device);
    look();
    EXPECT_EQ(hid.opens["sim-hid:0"], 3);
    EXPECT_TRUE(status.visible);
    EXPECT_EQ(bus->openHandles(), 0);
    window.unload();
  }
}

}  // namespace
}  // namespace qvr::device
