#include "monitor/fleet.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "device/session.h"
#include "platform/linux/linux_system.h"
#include "platform/sim/forwarding_hid.h"
#include "platform/sim/shared_bus.h"
#include "platform/sim/sim_hid.h"
#include "platform/sim/sim_system.h"
#include "protocol/commands.h"

namespace qvr::monitor {
namespace {

using namespace std::chrono_literals;
using platform::sim::SimDevice;
using platform::sim::SimHid;
using platform::sim::SimSystem;

// A view whose listing fails while `failing` is set, as when the system cannot list its HID
// interfaces.
class ScanView final : public platform::sim::ForwardingHid {
 public:
  ScanView(std::unique_ptr<platform::Hid> view, const bool& failing)
      : ForwardingHid(*view), view_(std::move(view)), failing_(failing) {}
  bool presentInterfaces(std::vector<std::string>& paths) override {
    if (failing_) {
      paths.clear();
      return false;
    }
    return ForwardingHid::presentInterfaces(paths);
  }
  [[nodiscard]] std::string lastErrorText() const override {
    return failing_ ? "udev is gone" : ForwardingHid::lastErrorText();
  }

 private:
  std::unique_ptr<platform::Hid> view_;
  const bool& failing_;
};

// A fleet stepped on one thread over a simulated bus whose receivers follow the virtual clock.
struct Bench {
  Bench() {
    hid.setClock([this] { return system.now(); });
  }
  SimDevice& attach(const char16_t* serial) { return hid.attach({.serial = serial}); }
  // `duration` of polls at the window's cadence, with a scan every half second.
  void run(std::chrono::milliseconds duration) {
    for (auto end = system.now() + duration; system.now() < end;) {
      if (system.now() % 500ms == 0ms) {
        fleet.scan();
      }
      fleet.stepDevices();
      system.advance(10ms);
    }
  }
  [[nodiscard]] DeviceSnapshot of(const std::string& serial) const {
    for (DeviceSnapshot& s : fleet.snapshots()) {
      if (s.serial == serial) {
        return s;
      }
    }
    ADD_FAILURE() << serial << " is not watched";
    return {};
  }

  // The fleet's first view is its scan's: listing through it fails while `failListing` is set.
  std::unique_ptr<platform::Hid> view() {
    auto shared = std::make_unique<platform::sim::SharedBusView>(hid, busLock);
    if (views++ > 0) {
      return shared;
    }
    return std::make_unique<ScanView>(std::move(shared), failListing);
  }

  SimSystem system;
  SimHid hid;
  bool failListing = false;
  int views = 0;
  std::map<std::string, std::vector<device::TimeSample>> samples;  // by serial number
  std::map<std::string, std::vector<DeviceEvent>> events;          // by serial number
  Fleet fleet{[this] { return view(); },
              system,
              {},
              [this](const std::string& serial) {
                return
                    [this, serial](const device::TimeSample& s) { samples[serial].push_back(s); };
              },
              [this](const DeviceSnapshot& now, DeviceEvent event) {
                events[now.serial].push_back(event);
              }};
  std::mutex busLock;
};

void expectOnlyMessageRequests(const SimDevice& device) {
  for (const auto& report : device.received()) {
    ASSERT_GE(report.size(), 2u);
    EXPECT_EQ(report[1], static_cast<std::uint8_t>(protocol::Command::ReceiverMessage));
  }
}

// A device's life as the exporter sees it: found, decoding, unplugged (down at once, counters
// kept), back (up again, one reconnect), and a late arrival found by the next scan.
TEST(Fleet, FollowsDevicesThroughUnplugAndReplug) {
  Bench b;
  SimDevice& first = b.attach(u"A1");
  b.attach(u"B2");
  b.run(4s);
  for (const char* serial : {"A1", "B2"}) {
    const DeviceSnapshot s = b.of(serial);
    EXPECT_TRUE(s.up) << serial;
    EXPECT_GT(s.counters.navMessages, 0u) << serial;
    EXPECT_TRUE(s.receiver.clockDrift.has_value()) << serial;
    ASSERT_TRUE(s.identity.has_value());
    EXPECT_EQ(s.identity->firmware.text(), "1.08");
  }
  const std::uint64_t messagesBefore = b.of("A1").counters.navMessages;

  b.hid.unplug(first);
  b.fleet.stepDevices();
  const DeviceSnapshot gone = b.of("A1");
  EXPECT_FALSE(gone.up);
  EXPECT_FALSE(gone.present);
  EXPECT_EQ(gone.counters.navMessages, messagesBefore);
  EXPECT_EQ(first.openHandles(), 0);
  EXPECT_TRUE(b.of("B2").up);

  b.hid.plug(first);
  b.attach(u"C3");
  b.run(3s);
  const DeviceSnapshot back = b.of("A1");
  EXPECT_TRUE(back.up);
  EXPECT_EQ(back.counters.reconnects, 1u);
  EXPECT_GT(back.counters.navMessages, messagesBefore);
  EXPECT_TRUE(b.of("C3").up);
  for (const auto& device : b.hid.devices()) {
    expectOnlyMessageRequests(*device);
  }
}

// A reference clock hears from a receiver only while it has a fix: nothing before the first,
// one sample a second after it, nothing while the device is away, and again once the device,
// back and powered up afresh, has its fix again.
TEST(Fleet, TimeSamplesComeOnlyWithAFix) {
  Bench b;
  SimDevice& device = b.attach(u"A1");
  const auto count = [&] { return b.samples["A1"].size(); };
  b.run(platform::sim::SimReceiver::kTimeToFix - 500ms);
  EXPECT_EQ(count(), 0u);
  b.run(4s);
  EXPECT_GE(count(), 3u);
  EXPECT_LE(count(), 5u);
  const auto& samples = b.samples["A1"];
  for (std::size_t i = 1; i < samples.size(); ++i) {
    // The receiver's time carries its few nanoseconds of error.
    EXPECT_EQ(std::chrono::round<std::chrono::milliseconds>(samples[i].receiverTime -
                                                            samples[i - 1].receiverTime),
              1s);
  }

  b.hid.unplug(device);
  const std::size_t beforeUnplug = count();
  b.run(3s);
  b.hid.plug(device);
  b.run(platform::sim::SimReceiver::kTimeToFix - 1s);
  EXPECT_EQ(count(), beforeUnplug);
  b.run(4s);
  EXPECT_GT(count(), beforeUnplug);
}

// Messages switched off by someone else (a window closing) are asked for again once they have
// stayed away for a while, and only then.
TEST(Fleet, AsksAgainForMessagesThatStopped) {
  Bench b;
  b.attach(u"A1");
  b.run(3s);
  ASSERT_TRUE(b.of("A1").up);

  device::Session window(b.hid, b.system);
  ASSERT_TRUE(window.open("A1"));
  ASSERT_FALSE(window.startUp().refused);
  window.close();
  const std::uint64_t stopped = b.of("A1").counters.navMessages;
  b.run(DeviceMonitor::kMessageSilence - 1s);
  EXPECT_EQ(b.of("A1").counters.messageRequests, 0u);
  b.run(5s);
  const DeviceSnapshot s = b.of("A1");
  EXPECT_EQ(s.counters.messageRequests, 1u);
  EXPECT_GT(s.counters.navMessages, stopped);
  EXPECT_TRUE(s.up);
}

// Scans that do not finish (the listing fails) drop nothing and take no device for gone; a
// device attached meanwhile is found by the first scan that can tell it. A device that hangs
// holds up no scan: it is open, so the scan does not ask it again.
TEST(Fleet, AScanThatDidNotFinishDropsNoDevice) {
  Bench b;
  SimDevice& first = b.attach(u"A1");
  b.attach(u"B2");
  b.run(3s);
  ASSERT_EQ(b.fleet.scanFailure(), "");

  b.failListing = true;
  b.attach(u"C3");
  b.run(2s);
  EXPECT_EQ(b.fleet.scanFailure(), "the HID interfaces could not be listed: udev is gone");
  const std::vector<DeviceSnapshot> kept = b.fleet.snapshots();
  ASSERT_EQ(kept.size(), 2u);
  for (const DeviceSnapshot& s : kept) {
    EXPECT_TRUE(s.up) << s.serial;
  }

  b.failListing = false;
  first.hang();
  b.run(1s);
  EXPECT_EQ(b.fleet.scanFailure(), "");
  EXPECT_TRUE(b.of("C3").up);
  EXPECT_TRUE(b.of("A1").present) << "hung, not gone";

  first.answer();
  b.run(2s);
  EXPECT_EQ(b.fleet.scanFailure(), "");
  EXPECT_EQ(b.fleet.snapshots().size(), 3u);
  EXPECT_TRUE(b.of("A1").up);
}

// A hung device is down but still there, and comes back as from a new start; the other
// device's polls go on meanwhile.
TEST(Fleet, HungDeviceIsDownUntilItAnswers) {
  Bench b;
  SimDevice& hung = b.attach(u"A1");
  b.attach(u"B2");
  b.run(3s);
  hung.hang();
  const std::uint64_t other = b.of("B2").counters.navMessages;
  b.run(2s);
  DeviceSnapshot s = b.of("A1");
  EXPECT_FALSE(s.up);
  EXPECT_FALSE(s.answering);
  EXPECT_TRUE(s.present);
  EXPECT_GT(b.of("B2").counters.navMessages, other);

  hung.answer();
  b.run(2s);
  s = b.of("A1");
  EXPECT_TRUE(s.up);
  EXPECT_EQ(s.counters.reconnects, 0u);
  expectOnlyMessageRequests(hung);
}

// Each change of a device's state is told once, in order, for that device only: what the
// exporter logs.
TEST(Fleet, TellsEachDevicesEventsOnce) {
  using enum DeviceEvent;
  Bench b;
  SimDevice& device = b.attach(u"A1");
  b.attach(u"B2");
  b.run(3s);
  device.hang();
  b.run(2s);
  device.answer();
  b.run(2s);
  b.hid.unplug(device);
  b.run(1s);
  b.hid.plug(device);
  b.run(2s);
  EXPECT_EQ(b.events["A1"], (std::vector{Found, Configured, NotAnswering, AnsweringAgain,
                                         Configured, Unplugged, Found, Configured}));
  EXPECT_EQ(b.events["B2"], (std::vector{Found, Configured}));
}

// One device whose every call blocks in the kernel holds up its own thread only: the others
// keep decoding and a reader never waits.
TEST(Fleet, BlockedDeviceHoldsUpOnlyItself) {
  struct Gate {
    std::mutex mutex;
    std::condition_variable released;
    bool open = false;
    std::atomic<bool> blocked{false};
  };
  // A blocking view's reads wait until the gate opens, as a read of a device that the kernel
  // waits on.
  class GatedView final : public platform::sim::ForwardingHid {
   public:
    GatedView(platform::Hid& inner, Gate& gate, bool blocking)
        : ForwardingHid(inner), gate_(gate), blocking_(blocking) {}
    bool read(platform::HidHandle h, std::span<std::uint8_t> buffer, std::size_t& bytesRead,
              std::chrono::milliseconds wait) override {
      if (blocking_) {
        gate_.blocked = true;
        std::unique_lock lock(gate_.mutex);
        gate_.released.wait(lock, [&] { return gate_.open; });
      }
      return ForwardingHid::read(h, buffer, bytesRead, wait);
    }

   private:
    Gate& gate_;
    bool blocking_;
  };

  std::unique_ptr<SimHid> bus = platform::sim::simulatedBus(0);
  bus->attach({.serial = u"A1"});
  bus->attach({.serial = u"B2"});
  std::mutex busLock;
  Gate gate;
  std::vector<std::unique_ptr<platform::sim::SharedBusView>> views;
  platform::hidraw::ConsoleSystem system;
  {
    Fleet fleet(
        [&]() -> std::unique_ptr<platform::Hid> {
          // The scan's view comes first, then one for each device in the order found: A1, B2.
          views.push_back(std::make_unique<platform::sim::SharedBusView>(*bus, busLock));
          return std::make_unique<GatedView>(*views.back(), gate, views.size() == 2);
        },
        system, {});
    fleet.start();
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    const auto messagesOf = [&](const char* serial) -> std::uint64_t {
      for (const DeviceSnapshot& s : fleet.snapshots()) {
        if (s.serial == serial) {
          return s.counters.navMessages;
        }
      }
      return 0;
    };
    while (!gate.blocked && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(10ms);
    }
    ASSERT_TRUE(gate.blocked);
    const std::uint64_t before = messagesOf("B2");
    while (messagesOf("B2") < before + 3 && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(10ms);
    }
    EXPECT_GE(messagesOf("B2"), before + 3);
    {
      const std::lock_guard lock(gate.mutex);
      gate.open = true;
    }
    gate.released.notify_all();
  }
}

}  // namespace
}  // namespace qvr::monitor
