#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "monitor/device_monitor.h"

namespace qvr::exporter {

// When a scrape happens, on both clocks: the snapshots keep the monotonic one, Prometheus wants
// Unix time.
struct ScrapeTime {
  std::chrono::milliseconds monotonic{0};       // System::now()
  std::chrono::duration<double> unixTime{0.0};  // seconds since 1970 UTC
};

// What the exporter says about itself besides the devices.
struct ExporterFacts {
  std::string version;
  double previousScrapeSeconds = 0.0;  // how long the previous scrape took to render
};

// Every device's metrics in the Prometheus text exposition format (version 0.0.4).
[[nodiscard]] std::string metricsText(const std::vector<monitor::DeviceSnapshot>& devices,
                                      const ScrapeTime& at, const ExporterFacts& facts);

}  // namespace qvr::exporter
