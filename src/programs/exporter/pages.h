#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "monitor/device_monitor.h"
#include "programs/exporter/http_server.h"
#include "status/status_view.h"

namespace qvr::exporter {

// Every device as `qvr7130ctl status --json` writes one, in an array, each object with three
// more members: "up", "counters" and "last_failure".
// `monotonic` is System::now(), for the lock's durations.
[[nodiscard]] std::string statusJson(const std::vector<monitor::DeviceSnapshot>& devices,
                                     std::chrono::milliseconds monotonic);

// A page for people: the devices in a table, with links to the machine-readable endpoints, the
// metrics at `metricsPath`.
[[nodiscard]] std::string indexPage(const std::vector<monitor::DeviceSnapshot>& devices,
                                    const std::string& version, const std::string& metricsPath);

// A device's status as the command line shows it, from what the exporter knows of it.
[[nodiscard]] status::StatusView statusViewOf(const monitor::DeviceSnapshot& d,
                                              std::chrono::milliseconds monotonic);

// Text as a URL's query carries it: every byte but letters, digits and -._~ as %XX.
[[nodiscard]] std::string urlEncoded(const std::string& text);

// The answer to a request for a device's page or history that names no device.
[[nodiscard]] HttpResponse noSerialGiven();

// Text made safe to stand between HTML tags or in a quoted attribute.
[[nodiscard]] std::string htmlEscaped(const std::string& text);

}  // namespace qvr::exporter
