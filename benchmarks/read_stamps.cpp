// How precisely a read's stamp names the moment simulated devices on real time deliver their
// epochs: each device on a thread of its own over the shared bus, as the exporter reads them,
// every read waiting for the device. The receivers send NAV-PVT every epoch (firmware 1.00's
// rate); the figure is the read's stamp minus the moment the epoch was due (its UTC plus the
// latency), over 10 s after the fix. With a jitter the spread is the jitter's, plus the same.
//
//   qvr_read_stamps
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "device/session.h"
#include "platform/linux/linux_system.h"
#include "platform/sim/kept_clock_system.h"
#include "platform/sim/shared_bus.h"
#include "platform/sim/sim_hid.h"
#include "protocol/commands.h"

namespace {

namespace sim = qvr::platform::sim;
using namespace std::chrono_literals;
using std::chrono::nanoseconds;

constexpr std::chrono::milliseconds kReadWait{1200};  // the exporter's
constexpr std::chrono::seconds kAfterFix{4};          // the time to fix, and its confirmation
constexpr std::chrono::seconds kMeasured{10};

// Stamp minus due time of every NAV-PVT read from one device until `end`.
std::vector<nanoseconds> measure(sim::SimHid& bus, std::mutex& lock, const std::string& serial,
                                 sim::Delivery delivery,
                                 std::chrono::steady_clock::time_point end) {
  qvr::platform::hidraw::ConsoleSystem console;
  sim::KeptClockSystem system(console);
  sim::SharedBusView view(bus, lock);
  qvr::device::Session session(view, system);
  session.link().setListReady(true);
  std::vector<nanoseconds> errors;
  if (!session.open(serial) || !session.startUp().configuration) {
    return errors;
  }
  const auto start = std::chrono::steady_clock::now();
  while (std::chrono::steady_clock::now() < end) {
    (void)session.poll([](std::uint8_t) {},
                       [&](std::uint8_t id) {
                         const auto sample = id == qvr::protocol::kUbxIdNavPvt
                                                 ? session.timeSample()
                                                 : std::nullopt;
                         if (sample && std::chrono::steady_clock::now() - start > kAfterFix) {
                           errors.push_back(-sample->offset() - delivery.latency);
                         }
                       },
                       kReadWait);
  }
  session.close();
  return errors;
}

void run(int devices, sim::Delivery delivery) {
  sim::SimHid bus;
  bus.runOnRealTime();
  for (int n = 1; n <= devices; ++n) {
    bus.attach({.serial = sim::simulatedSerial(n), .versionNumber = 0x0100, .delivery = delivery});
  }
  std::mutex lock;
  const auto end = std::chrono::steady_clock::now() + kAfterFix + kMeasured;
  std::vector<std::vector<nanoseconds>> found(static_cast<std::size_t>(devices));
  std::vector<std::thread> threads;
  for (int n = 1; n <= devices; ++n) {
    threads.emplace_back([&, n] {
      const std::u16string wide = sim::simulatedSerial(n);
      found[static_cast<std::size_t>(n - 1)] =
          measure(bus, lock, std::string(wide.begin(), wide.end()), delivery, end);
    });
  }
  for (std::thread& thread : threads) {
    thread.join();
  }
  std::vector<nanoseconds> all;
  for (const auto& some : found) {
    all.insert(all.end(), some.begin(), some.end());
  }
  std::sort(all.begin(), all.end());
  if (all.empty()) {
    std::printf("%2d devices: no sample\n", devices);
    return;
  }
  const auto at = [&](double share) {
    const auto index = static_cast<std::size_t>(share * static_cast<double>(all.size() - 1));
    return std::chrono::duration<double, std::micro>(all[index]).count();
  };
  std::printf(
      "%2d devices, latency %2lld ms, jitter %lld ms: %4zu reads, stamp minus due time "
      "min %7.1f us, median %7.1f us, 99th percentile %7.1f us, max %7.1f us\n",
      devices, static_cast<long long>(delivery.latency.count()),
      static_cast<long long>(delivery.jitter.count()), all.size(), at(0), at(0.5), at(0.99), at(1));
}

}  // namespace

int main() {
  run(1, {20ms, 0ms});
  run(16, {20ms, 0ms});
  run(16, {20ms, 2ms});
}
