#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "monitor/device_monitor.h"
#include "programs/exporter/process_metrics.h"

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
  // How long this scrape has taken so far, asked once every device's metrics are gathered;
  // nothing: 0.
  std::function<double()> scrapeSeconds;
  std::optional<ProcessFacts> process;  // the process_* metrics; nothing: none
  double holdoverAlertSeconds = 0;      // --holdover.alert-after; 0: not served
};

// Every device's metrics in the Prometheus text exposition format (version 0.0.4).
[[nodiscard]] std::string metricsText(const std::vector<monitor::DeviceSnapshot>& devices,
                                      const ScrapeTime& at, const ExporterFacts& facts);

}  // namespace qvr::exporter
