#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "monitor/device_monitor.h"
#include "programs/exporter/http_server.h"
#include "status/history.h"

namespace qvr::exporter {

// Every device's last day, a sample every status::History::kInterval, for /history.json and
// /history.csv. Each device's history takes its whole memory when the device is first seen
// (status::History's capacity, about 340 KiB), so what the exporter holds does not grow with
// time; a device gone for good keeps its history until kMaxDevices others need room.
class HistoryKeeper {
 public:
  static constexpr std::size_t kMaxDevices = 64;

  // A sample of every device the fleet knows, at `unixSeconds`, their lock taken at `monotonic`
  // (System::now()).
  void record(const std::vector<monitor::DeviceSnapshot>& devices, std::int64_t unixSeconds,
              std::chrono::milliseconds monotonic);

  // The history of the device with this serial number (as UTF-8); nothing for one never seen.
  [[nodiscard]] std::optional<std::string> json(const std::string& serial) const;
  [[nodiscard]] std::optional<std::string> csv(const std::string& serial) const;
  // The answer to /history.json?serial=S (or /history.csv with `csv`): 400 without a serial
  // number, 404 for a device never seen.
  [[nodiscard]] HttpResponse response(std::string_view query, bool csv) const;
  // Calls `use(history)` with the device's history under the keeper's lock; false for a device
  // never seen.
  template <typename Use>
  bool visit(const std::string& serial, Use&& use) const {
    const std::scoped_lock held(lock_);
    const auto kept = devices_.find(serial);
    if (kept == devices_.end()) {
      return false;
    }
    use(kept->second.history);
    return true;
  }

 private:
  struct Kept {
    std::string rawSerial;  // as the device gives it, for the JSON
    status::History history;
    std::int64_t lastSeen = 0;  // Unix seconds of its latest sample
  };

  mutable std::mutex lock_;
  std::map<std::string, Kept> devices_;  // by serial number in UTF-8
};

}  // namespace qvr::exporter
