#include "status/history.h"

#include <algorithm>
#include <optional>

#include "protocol/number_text.h"
#include "status/json_writer.h"
#include "status/status_view.h"

namespace qvr::status {
namespace {

std::int32_t known(const std::optional<std::int32_t>& value) {
  return value.value_or(HistorySample::kUnknown);
}

std::int32_t known(const std::optional<std::uint32_t>& value) {
  // A receiver without an estimate says 0xFFFFFFFF; anything beyond two seconds is as good as
  // none for a clock.
  return value && *value <= static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max())
             ? static_cast<std::int32_t>(*value)
             : HistorySample::kUnknown;
}

std::string utcText(std::int64_t unixSeconds) {
  const std::chrono::sys_seconds t{std::chrono::seconds{unixSeconds}};
  const auto day = std::chrono::floor<std::chrono::days>(t);
  const std::chrono::year_month_day date{day};
  const std::chrono::hh_mm_ss time{t - day};
  return protocol::isoDateTime(
             static_cast<int>(date.year()), static_cast<int>(static_cast<unsigned>(date.month())),
             static_cast<int>(static_cast<unsigned>(date.day())),
             static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
             static_cast<int>(time.seconds().count())) +
         "Z";
}

// The columns in order: name, and how a sample fills it (nothing when unknown).
struct Column {
  const char* name;
  std::optional<std::int64_t> (*value)(const HistorySample&);
};

std::optional<std::int64_t> ifKnown(std::int32_t value) {
  return value == HistorySample::kUnknown ? std::nullopt : std::optional<std::int64_t>(value);
}

std::optional<std::int64_t> ifAnswering(const HistorySample& s, std::int64_t value) {
  return s.answering ? std::optional<std::int64_t>(value) : std::nullopt;
}

template <std::size_t System>
std::optional<std::int64_t> perSystem(const HistorySample& s) {
  return ifAnswering(s, s.satellitesPerSystem[System]);
}

constexpr Column kColumns[] = {
    {"answering", [](const HistorySample& s) { return std::optional<std::int64_t>(s.answering); }},
    {"fix_ok", [](const HistorySample& s) { return ifAnswering(s, s.fixOk); }},
    {"locked", [](const HistorySample& s) { return ifAnswering(s, s.locked); }},
    {"holdover", [](const HistorySample& s) { return ifAnswering(s, s.holdover); }},
    {"satellites_used", [](const HistorySample& s) { return ifAnswering(s, s.satellitesUsed); }},
    {"average_cno_dbhz", [](const HistorySample& s) { return ifAnswering(s, s.averageCno); }},
    {"drift_ns_per_s", [](const HistorySample& s) { return ifKnown(s.driftNsPerS); }},
    {"clock_bias_ns", [](const HistorySample& s) { return ifKnown(s.clockBiasNs); }},
    {"time_accuracy_ns", [](const HistorySample& s) { return ifKnown(s.timeAccuracyNs); }},
    {"gps_satellites", perSystem<0>},
    {"sbas_satellites", perSystem<1>},
    {"galileo_satellites", perSystem<2>},
    {"beidou_satellites", perSystem<3>},
    {"imes_satellites", perSystem<4>},
    {"qzss_satellites", perSystem<5>},
    {"glonass_satellites", perSystem<6>},
};

}  // namespace

HistorySample historySample(std::int64_t unixSeconds, bool answering,
                            const device::ReceiverState& receiver,
                            const device::LockFigures& lock) {
  HistorySample s;
  s.unixSeconds = unixSeconds;
  s.answering = answering;
  if (!answering) {
    return s;
  }
  s.fixOk = receiver.pvt && receiver.pvt->fixOk();
  s.locked = lock.locked;
  s.holdover = lock.holdover;
  s.satellitesUsed = static_cast<std::uint8_t>(std::min(receiver.satellitesUsed, 255));
  s.averageCno = static_cast<std::uint8_t>(std::clamp(receiver.averageCno, 0, 255));
  for (const device::SatelliteState& satellite : receiver.satellites) {
    if (satellite.gnssId < kHistorySystems && s.satellitesPerSystem[satellite.gnssId] < 255) {
      ++s.satellitesPerSystem[satellite.gnssId];
    }
  }
  s.driftNsPerS = known(receiver.clockDrift);
  s.clockBiasNs = known(receiver.clockBias);
  s.timeAccuracyNs = known(receiver.timeAccuracy);
  return s;
}

void History::add(const HistorySample& sample) {
  if (samples_.empty()) {
    return;
  }
  samples_[next_] = sample;
  next_ = (next_ + 1) % samples_.size();
  count_ = std::min(count_ + 1, samples_.size());
}

const HistorySample& History::at(std::size_t k) const {
  const std::size_t oldest = count_ < samples_.size() ? 0 : next_;
  return samples_[(oldest + k) % samples_.size()];
}

std::string historyCsvHeader() {
  std::string header = "time";
  for (const Column& column : kColumns) {
    header += ',';
    header += column.name;
  }
  return header + "\n";
}

std::string historyCsvLine(const HistorySample& sample) {
  std::string line = utcText(sample.unixSeconds);
  for (const Column& column : kColumns) {
    line += ',';
    if (const auto value = column.value(sample)) {
      line += std::to_string(*value);
    }
  }
  return line + "\n";
}

namespace {

void sampleMembers(JsonWriter& json, const HistorySample& sample) {
  json.key("time").string(utcText(sample.unixSeconds));
  for (const Column& column : kColumns) {
    json.integerMember(column.name, column.value(sample));
  }
}

}  // namespace

std::string historyJsonLine(const std::string& serial, const HistorySample& sample) {
  JsonWriter json(false);
  json.beginObject();
  json.key("serial").string(serial, TextBytes::Latin1);
  sampleMembers(json, sample);
  json.endObject();
  return json.text() + "\n";
}

std::string historyJson(const std::string& serial, const History& history) {
  JsonWriter json(false);
  json.beginObject();
  json.key("serial").string(serial, TextBytes::Latin1);
  json.key("interval_s").integer(History::kInterval.count());
  json.key("samples").beginArray();
  for (std::size_t k = 0; k < history.size(); ++k) {
    const HistorySample& sample = history.at(k);
    json.beginObject();
    sampleMembers(json, sample);
    json.endObject();
  }
  json.endArray();
  json.endObject();
  return json.text() + "\n";
}

}  // namespace qvr::status
