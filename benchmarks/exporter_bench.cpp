// Figures for a scrape of the exporter with 16 devices, without the HTTP server: the metrics
// rendered from the snapshots, and the snapshots copied out of the fleet.
// Run: build/benchmarks/qvr_exporter_benchmarks
#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "monitor/fleet.h"
#include "platform/sim/shared_bus.h"
#include "platform/sim/sim_hid.h"
#include "platform/sim/sim_system.h"
#include "programs/exporter/metrics.h"

namespace {

using namespace std::chrono_literals;
using qvr::monitor::DeviceSnapshot;

constexpr int kDevices = 16;

// Sixteen simulated devices with live receivers, watched for long enough that every receiver
// has its fix and lists its satellites: what a scrape finds in the steady state.
struct SteadyFleet {
  SteadyFleet() {
    bus.setClock([this] { return system.now(); });
    for (int n = 1; n <= kDevices; ++n) {
      bus.attach({.serial = qvr::platform::sim::simulatedSerial(n)});
    }
    while (system.now() < 10s) {
      if (system.now() % 500ms == 0ms) {
        fleet.scan();
      }
      fleet.stepDevices();
      system.advance(10ms);
    }
  }

  qvr::platform::sim::SimSystem system;
  qvr::platform::sim::SimHid bus;
  std::mutex busLock;
  qvr::monitor::Fleet fleet{
      [this] { return std::make_unique<qvr::platform::sim::SharedBusView>(bus, busLock); },
      system,
      {}};
};

SteadyFleet& steadyFleet() {
  static SteadyFleet steady;
  return steady;
}

// The counters say what was rendered, so that a figure is never taken on an empty fleet.
void describe(benchmark::State& state, const std::vector<DeviceSnapshot>& snapshots) {
  std::size_t satellites = 0;
  int up = 0;
  for (const DeviceSnapshot& s : snapshots) {
    satellites += s.receiver.satellites.size();
    up += s.up ? 1 : 0;
  }
  state.counters["devices_up"] = up;
  state.counters["satellites"] = static_cast<double>(satellites);
}

void MetricsTextFor16Devices(benchmark::State& state) {
  const std::vector<DeviceSnapshot> snapshots = steadyFleet().fleet.snapshots();
  const qvr::exporter::ScrapeTime at{10s, std::chrono::duration<double>(1.75e9)};
  const qvr::exporter::ExporterFacts facts{.version = "bench"};
  std::size_t bytes = 0;
  for (auto _ : state) {
    const std::string text = qvr::exporter::metricsText(snapshots, at, facts);
    bytes = text.size();
    benchmark::DoNotOptimize(text.data());
  }
  describe(state, snapshots);
  state.counters["text_bytes"] = static_cast<double>(bytes);
}
BENCHMARK(MetricsTextFor16Devices)->Unit(benchmark::kMicrosecond);

void SnapshotsOf16Devices(benchmark::State& state) {
  const qvr::monitor::Fleet& fleet = steadyFleet().fleet;
  for (auto _ : state) {
    std::vector<DeviceSnapshot> snapshots = fleet.snapshots();
    benchmark::DoNotOptimize(snapshots.data());
  }
  describe(state, fleet.snapshots());
}
BENCHMARK(SnapshotsOf16Devices)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
