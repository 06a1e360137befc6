#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "device/lock_tracker.h"
#include "device/receiver.h"

namespace qvr::status {

// The satellite systems NAV-SAT numbers 0 to 6: GPS, SBAS, Galileo, BeiDou, IMES, QZSS, GLONASS.
inline constexpr std::size_t kHistorySystems = 7;

// One moment of a device, as its history keeps it: a few dozen bytes of fixed size, so that a
// day of them has a cost known in advance. A field the device did not give is kUnknown.
struct HistorySample {
  static constexpr std::int32_t kUnknown = std::numeric_limits<std::int32_t>::min();

  std::int64_t unixSeconds = 0;
  bool answering = false;  // the device answered; without it nothing below is known
  bool fixOk = false;
  bool locked = false;
  bool holdover = false;
  std::uint8_t satellitesUsed = 0;
  std::uint8_t averageCno = 0;                                      // dB-Hz
  std::array<std::uint8_t, kHistorySystems> satellitesPerSystem{};  // listed, per system
  std::int32_t driftNsPerS = kUnknown;
  std::int32_t clockBiasNs = kUnknown;
  std::int32_t timeAccuracyNs = kUnknown;
  friend bool operator==(const HistorySample&, const HistorySample&) = default;
};
// What the documents say a day costs: 8,640 of these.
static_assert(sizeof(HistorySample) == 40);

// What a device says at `unixSeconds`: answering or not, its receiver's latest state and its lock.
[[nodiscard]] HistorySample historySample(std::int64_t unixSeconds, bool answering,
                                          const device::ReceiverState& receiver,
                                          const device::LockFigures& lock);

// The last `capacity` samples of a device, oldest first, in memory taken once: the newest sample
// replaces the oldest when it is full.
class History {
 public:
  static constexpr std::chrono::seconds kInterval{10};
  static constexpr std::size_t kDay = 24 * 3600 / 10;  // a day at kInterval

  explicit History(std::size_t capacity = kDay) : samples_(capacity) {}

  void add(const HistorySample& sample);
  [[nodiscard]] std::size_t size() const { return count_; }
  [[nodiscard]] std::size_t capacity() const { return samples_.size(); }
  // The k-th oldest sample held, k < size().
  [[nodiscard]] const HistorySample& at(std::size_t k) const;

 private:
  std::vector<HistorySample> samples_;
  std::size_t next_ = 0;  // where the next sample goes
  std::size_t count_ = 0;
};

// The CSV the history and `qvr7130ctl log --csv` write: a header line naming the columns with
// their units, then one line per sample. Unknown fields are empty; UTC in ISO 8601.
[[nodiscard]] std::string historyCsvHeader();
[[nodiscard]] std::string historyCsvLine(const HistorySample& sample);

// One sample as one line of JSON, with the device's serial: what `qvr7130ctl log` writes.
[[nodiscard]] std::string historyJsonLine(const std::string& serial, const HistorySample& sample);

// The history as one JSON object: the device's serial, the interval and the samples, oldest
// first, each with the CSV's columns as members (null where unknown).
[[nodiscard]] std::string historyJson(const std::string& serial, const History& history);

}  // namespace qvr::status
