#include "programs/exporter/history_keeper.h"

#include <algorithm>

#include "programs/exporter/pages.h"
#include "protocol/device_strings.h"

namespace qvr::exporter {

void HistoryKeeper::record(const std::vector<monitor::DeviceSnapshot>& devices,
                           std::int64_t unixSeconds, std::chrono::milliseconds monotonic) {
  const std::scoped_lock held(lock_);
  for (const monitor::DeviceSnapshot& d : devices) {
    const std::string serial = protocol::deviceTextAsUtf8(d.serial);
    auto kept = devices_.find(serial);
    if (kept == devices_.end()) {
      if (devices_.size() >= kMaxDevices) {
        devices_.erase(std::min_element(
            devices_.begin(), devices_.end(),
            [](const auto& a, const auto& b) { return a.second.lastSeen < b.second.lastSeen; }));
      }
      kept =
          devices_.emplace(serial, Kept{.rawSerial = d.serial, .history = status::History()}).first;
    }
    const bool answering = d.present && d.answering;
    kept->second.history.add(
        status::historySample(unixSeconds, answering, d.receiver, d.lock.figures(monotonic)));
    kept->second.lastSeen = unixSeconds;
  }
}

std::optional<std::string> HistoryKeeper::json(const std::string& serial) const {
  std::optional<std::string> text;
  const std::scoped_lock held(lock_);
  if (const auto kept = devices_.find(serial); kept != devices_.end()) {
    text = status::historyJson(kept->second.rawSerial, kept->second.history);
  }
  return text;
}

std::optional<std::string> HistoryKeeper::csv(const std::string& serial) const {
  std::optional<std::string> text;
  visit(serial, [&text](const status::History& history) {
    text = status::historyCsvHeader();
    for (std::size_t k = 0; k < history.size(); ++k) {
      *text += status::historyCsvLine(history.at(k));
    }
  });
  return text;
}

HttpResponse HistoryKeeper::response(std::string_view query, bool csv) const {
  const std::optional<std::string> serial = queryParameter(query, "serial");
  if (!serial) {
    return noSerialGiven();
  }
  std::optional<std::string> body = csv ? this->csv(*serial) : json(*serial);
  if (!body) {
    return {404, "", "no device with that serial number has a history here\n"};
  }
  return {200, csv ? "text/csv; charset=utf-8" : "application/json", std::move(*body)};
}

}  // namespace qvr::exporter
