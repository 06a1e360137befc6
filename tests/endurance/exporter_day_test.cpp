// A day in the life of the exporter's core, on the virtual clock: sixteen simulated devices with
// live receivers polled at the exporter's cadence, one of them unplugged and plugged back every
// three minutes in turn, another hanging now and then, and a scrape rendered every 15 s.
// Afterwards the memory in use must be where it was after the first hour, no counter may have
// gone back, every replug must be counted once, every device must be up, and no handle may be
// left open once the fleet is gone.
#include <gtest/gtest.h>
#include <malloc.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "monitor/fleet.h"
#include "platform/sim/shared_bus.h"
#include "platform/sim/sim_hid.h"
#include "platform/sim/sim_system.h"
#include "programs/exporter/history_keeper.h"
#include "programs/exporter/metrics.h"

namespace qvr {
namespace {

using namespace std::chrono_literals;
using monitor::DeviceCounters;
using monitor::DeviceSnapshot;

constexpr int kDevices = 16;

// Under the address sanitizer the heap is its own, which mallinfo2 does not see, and the day
// at this cadence would take twelve minutes: an hour there is enough for what it checks, the
// fleet's memory accesses through replugs, hangs and scrapes.
#if defined(__SANITIZE_ADDRESS__)
#define QVR_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QVR_UNDER_ASAN 1
#endif
#endif
#ifdef QVR_UNDER_ASAN
constexpr int kHours = 1;
#else
constexpr int kHours = 24;
#endif

constexpr std::chrono::milliseconds kScrapeInterval = 15s;
// Any Unix time will do: the scrapes only turn the snapshots' monotonic times into it.
constexpr std::chrono::duration<double> kUnixStart{1.75e9};

bool noneWentBack(const DeviceCounters& before, const DeviceCounters& after) {
  return after.navMessages >= before.navMessages && after.checkedFrames >= before.checkedFrames &&
         after.checksumErrors >= before.checksumErrors &&
         after.oversizedLengths >= before.oversizedLengths &&
         after.tooShortMessages >= before.tooShortMessages &&
         after.hidFailures >= before.hidFailures && after.reconnects >= before.reconnects &&
         after.messageRequests >= before.messageRequests;
}

class ExporterDay {
 public:
  ExporterDay() : counters_(kDevices), replugs_(kDevices) {
    bus_.setClock([this] { return system_.now(); });
    for (int n = 1; n <= kDevices; ++n) {
      devices_.push_back(&bus_.attach({.serial = platform::sim::simulatedSerial(n)}));
    }
    fleet_ = std::make_unique<monitor::Fleet>(
        [this] { return std::make_unique<platform::sim::SharedBusView>(bus_, busLock_); }, system_,
        timing_);
  }

  // What the exporter's threads do, on one thread: every device read as often as the fleet
  // ever reads one (on a virtual clock a read does not wait for the device), a scan at the
  // scan cadence, a sample of every device for its history every 10 s, and a scrape every 15 s
  // as a Prometheus server would ask.
  void run(std::chrono::milliseconds duration) {
    for (const auto end = system_.now() + duration; system_.now() < end;) {
      if (system_.now() % timing_.scan == 0ms) {
        fleet_->scan();
      }
      fleet_->stepDevices();
      if (system_.now() % status::History::kInterval == 0ms) {
        const auto unix =
            std::chrono::duration_cast<std::chrono::seconds>(kUnixStart + system_.now());
        history_.record(fleet_->snapshots(), unix.count(), system_.now());
        ++samples_;
      }
      if (system_.now() % kScrapeInterval == 0ms) {
        (void)scrape();
      }
      system_.advance(timing_.poll);
    }
  }

  std::string scrape() {
    const std::vector<DeviceSnapshot> all = fleet_->snapshots();
    std::string text = exporter::metricsText(all, {system_.now(), kUnixStart + system_.now()},
                                             {.version = "endurance"});
    EXPECT_EQ(all.size(), static_cast<std::size_t>(kDevices));
    for (std::size_t i = 0; i < all.size() && i < counters_.size(); ++i) {
      EXPECT_TRUE(noneWentBack(counters_[i], all[i].counters)) << all[i].serial;
      // A replug or a hang keeps a device quiet for seconds, never for a whole interval.
      if (system_.now() > 0ms) {
        EXPECT_GT(all[i].counters.navMessages, counters_[i].navMessages) << all[i].serial;
      }
      counters_[i] = all[i].counters;
    }
    for (platform::sim::SimDevice* device : devices_) {
      // The simulation's own log of received reports, not the exporter's memory.
      device->clearReceived();
    }
    return text;
  }

  void replug(int n) {
    bus_.unplug(*devices_[n]);
    run(2s);
    EXPECT_FALSE(snapshotOf(n).present) << snapshotOf(n).serial;
    bus_.plug(*devices_[n]);
    ++replugs_[n];
    run(2s);
    EXPECT_TRUE(snapshotOf(n).up) << snapshotOf(n).serial;
  }

  void hang(int n) {
    devices_[n]->hang();
    run(2s);
    EXPECT_FALSE(snapshotOf(n).up) << snapshotOf(n).serial;
    devices_[n]->answer();
    run(2s);
    EXPECT_TRUE(snapshotOf(n).up) << snapshotOf(n).serial;
  }

  [[nodiscard]] DeviceSnapshot snapshotOf(int n) const { return fleet_->snapshots().at(n); }
  [[nodiscard]] int replugsOf(int n) const { return replugs_[n]; }
  [[nodiscard]] const exporter::HistoryKeeper& history() const { return history_; }
  [[nodiscard]] std::size_t samples() const { return samples_; }

  void endFleet() { fleet_.reset(); }
  [[nodiscard]] int openHandles() const { return bus_.openHandles(); }

 private:
  platform::sim::SimSystem system_;
  platform::sim::SimHid bus_;
  std::mutex busLock_;
  monitor::Fleet::Timing timing_;  // the exporter's: reads 10 ms apart at most, a scan a second
  std::vector<platform::sim::SimDevice*> devices_;
  std::unique_ptr<monitor::Fleet> fleet_;
  std::vector<DeviceCounters> counters_;  // as the latest scrape saw them
  std::vector<int> replugs_;
  exporter::HistoryKeeper history_;
  std::size_t samples_ = 0;
};

// Blocks in use, and the large ones the allocator maps on their own (the histories).
std::size_t heapInUse() {
  const struct mallinfo2 info = mallinfo2();
  return info.uordblks + info.hblkhd;
}

TEST(Endurance, ADayOfTheExporterWithSixteenDevicesReplugsAndHangs) {
  constexpr int kMinutes = kHours * 60;
  const auto began = std::chrono::steady_clock::now();
  ExporterDay day;
  std::size_t afterFirstHour = 0;
  std::size_t atTheEnd = 0;
  int nextReplug = 0;
  for (int minute = 1; minute <= kMinutes; ++minute) {
    day.run(1min);
    if (minute % 3 == 0) {
      day.replug(nextReplug);
      nextReplug = (nextReplug + 1) % kDevices;
    }
    if (minute % 7 == 0) {
      // Half the fleet away from the replugs, so that over the day every device hangs too.
      day.hang((nextReplug + kDevices / 2) % kDevices);
    }
    if (minute == 60) {
      afterFirstHour = heapInUse();
    }
    if (::testing::Test::HasFailure()) {
      FAIL() << "at minute " << minute;
    }
  }
  atTheEnd = heapInUse();

  day.run(5s);
  const std::string text = day.scrape();
  for (int n = 0; n < kDevices; ++n) {
    const DeviceSnapshot s = day.snapshotOf(n);
    EXPECT_TRUE(s.up) << s.serial;
    EXPECT_EQ(s.counters.reconnects, static_cast<std::uint64_t>(day.replugsOf(n))) << s.serial;
    EXPECT_NE(text.find("qvr7130_up{serial=\"" + s.serial + "\"} 1\n"), std::string::npos)
        << s.serial;
  }
  // A day's history for each device, no more, its replugs among it as samples of a device that
  // did not answer.
  const std::string csv = day.history().csv("QVR000001").value_or("");
  const auto lines = static_cast<std::size_t>(std::count(csv.begin(), csv.end(), '\n'));
  EXPECT_EQ(lines, 1 + std::min(day.samples(), status::History::kDay));
  EXPECT_NE(csv.find(",0,,,,"), std::string::npos);
  day.endFleet();
  EXPECT_EQ(day.openHandles(), 0);
  // As the window's day: room for the allocator's bookkeeping, none for a leak per replug, per
  // poll, per sample or per scrape, which would be hundreds of kilobytes by now. The histories
  // took their whole memory with their first sample.
  EXPECT_LT(atTheEnd, afterFirstHour + 16 * 1024);
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - began;
  std::printf("exporter day: %d devices, heap in use %zu KB after 1 h, %zu KB after %d h; %.1f s\n",
              kDevices, afterFirstHour / 1024, atTheEnd / 1024, kHours, took.count());
}

}  // namespace
}  // namespace qvr
