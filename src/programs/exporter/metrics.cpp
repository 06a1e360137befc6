#include "programs/exporter/metrics.h"

#include <prometheus/metric_family.h>
#include <prometheus/text_serializer.h>
#include <array>
#include <cmath>
#include <map>
#include <optional>

#include "protocol/device_status.h"
#include "protocol/device_strings.h"
#include "status/status_view.h"

namespace qvr::exporter {
namespace {

using prometheus::ClientMetric;
using prometheus::MetricFamily;
using prometheus::MetricType;

constexpr double kCenti = 1e-2;
constexpr double kMilli = 1e-3;
constexpr double kNano = 1e-9;
constexpr double kPico = 1e-12;
constexpr double kFractionScale = 4294967296.0;  // 2^32: the 32.32 word's fraction

// The systems NAV-SAT names, always listed, so that a system losing its last satellite reads 0
// rather than vanishing.
constexpr std::array<std::uint8_t, 7> kNamedSystems = {0, 1, 2, 3, 4, 5, 6};

enum Family : std::size_t {
  Up,
  Info,
  FixOk,
  FixType,
  TimeValid,
  SatellitesUsed,
  SatellitesVisible,
  CnoAverage,
  SatelliteCno,
  SatelliteElevation,
  SatelliteAzimuth,
  ClockDrift,
  ClockBias,
  TimeAccuracy,
  FrequencyAccuracy,
  HorizontalAccuracy,
  VerticalAccuracy,
  SolutionTimeAccuracy,
  PositionDop,
  AntennaOk,
  SignalOk,
  OutputsEnabled,
  OutputFrequency,
  LastFix,
  Locked,
  Holdover,
  LockDuration,
  HoldoverDuration,
  HoldoverTotal,
  LockLosses,
  NavMessages,
  Frames,
  ChecksumErrors,
  Oversized,
  ShortMessages,
  HidFailures,
  Reconnects,
  MessageRequests,
  BuildInfo,
  HoldoverAlertAfter,
  ScrapeDuration,
  ProcessCpu,
  ProcessOpenFds,
  ProcessMaxFds,
  ProcessVirtualMemory,
  ProcessResidentMemory,
  ProcessStartTime,
  kFamilies
};

struct FamilyRow {
  const char* name;
  MetricType type;
  const char* help;
};

// In exposition order.
constexpr std::array<FamilyRow, kFamilies> kRows = {{
    {"qvr7130_up", MetricType::Gauge, "1 while the device is open, configured and answering."},
    {"qvr7130_device_info", MetricType::Gauge, "Who the device is; always 1."},
    {"qvr7130_gnss_fix_ok", MetricType::Gauge, "1 while the receiver reports a valid fix."},
    {"qvr7130_gnss_fix_type", MetricType::Gauge,
     "The receiver's fix type: 0 none, 1 dead reckoning, 2 2D, 3 3D, 4 GNSS and dead "
     "reckoning, 5 time only."},
    {"qvr7130_gnss_time_valid", MetricType::Gauge,
     "1 while the receiver's date and time are valid."},
    {"qvr7130_satellites_used", MetricType::Gauge, "Satellites used in the solution."},
    {"qvr7130_satellites_visible", MetricType::Gauge,
     "Satellites the receiver lists, per satellite system."},
    {"qvr7130_cno_average_dbhz", MetricType::Gauge,
     "Average carrier-to-noise density of the satellites used, in dB-Hz."},
    {"qvr7130_satellite_cno_dbhz", MetricType::Gauge,
     "Carrier-to-noise density of each satellite listed, in dB-Hz."},
    {"qvr7130_satellite_elevation_degrees", MetricType::Gauge,
     "Elevation of each satellite listed above the horizon (negative below it)."},
    {"qvr7130_satellite_azimuth_degrees", MetricType::Gauge,
     "Azimuth of each satellite listed, from north through east."},
    {"qvr7130_clock_drift_seconds_per_second", MetricType::Gauge, "The receiver's clock drift."},
    {"qvr7130_clock_bias_seconds", MetricType::Gauge,
     "The receiver's clock bias, its clock's offset from GNSS time (NAV-CLOCK)."},
    {"qvr7130_time_accuracy_seconds", MetricType::Gauge,
     "The receiver's time accuracy estimate (NAV-CLOCK)."},
    {"qvr7130_frequency_accuracy_seconds_per_second", MetricType::Gauge,
     "The receiver's frequency accuracy estimate."},
    {"qvr7130_horizontal_accuracy_meters", MetricType::Gauge,
     "The receiver's horizontal position accuracy estimate."},
    {"qvr7130_vertical_accuracy_meters", MetricType::Gauge,
     "The receiver's vertical position accuracy estimate."},
    {"qvr7130_solution_time_accuracy_seconds", MetricType::Gauge,
     "The time accuracy estimate of the navigation solution (NAV-PVT)."},
    {"qvr7130_position_dop", MetricType::Gauge, "Position dilution of precision."},
    {"qvr7130_antenna_ok", MetricType::Gauge, "0 while the device reports a shorted antenna."},
    {"qvr7130_gnss_signal_ok", MetricType::Gauge,
     "1 while the device reports a usable satellite signal."},
    {"qvr7130_outputs_enabled", MetricType::Gauge, "1 while the outputs are enabled."},
    {"qvr7130_output_frequency_hertz", MetricType::Gauge,
     "The frequency an output produces, from the device's fixed-point word."},
    {"qvr7130_last_fix_timestamp_seconds", MetricType::Gauge,
     "Unix time of the latest navigation solution with a valid fix."},
    {"qvr7130_locked", MetricType::Gauge,
     "1 while the device is locked: its status byte says the signal is good and the receiver "
     "has a valid fix."},
    {"qvr7130_holdover", MetricType::Gauge,
     "1 while the device answers without its lock, having been locked since it was plugged in."},
    {"qvr7130_lock_duration_seconds", MetricType::Gauge,
     "How long the device has been locked; 0 while it is not."},
    {"qvr7130_holdover_duration_seconds", MetricType::Gauge,
     "How long the holdover going on has lasted; 0 while there is none."},
    {"qvr7130_holdover_seconds_total", MetricType::Counter,
     "Time spent in holdover since the exporter started, the holdover going on included."},
    {"qvr7130_lock_losses_total", MetricType::Counter,
     "Times the device's lock gave way to holdover since the exporter started."},
    {"qvr7130_nav_messages_total", MetricType::Counter,
     "Navigation messages (PVT, clock, satellites) decoded."},
    {"qvr7130_ubx_frames_total", MetricType::Counter, "Receiver frames with a right checksum."},
    {"qvr7130_ubx_checksum_errors_total", MetricType::Counter,
     "Receiver frames with a wrong checksum."},
    {"qvr7130_ubx_oversized_frames_total", MetricType::Counter,
     "Receiver frames whose length no buffer can hold."},
    {"qvr7130_ubx_short_messages_total", MetricType::Counter,
     "Navigation messages too short for their fields."},
    {"qvr7130_hid_failures_total", MetricType::Counter, "HID calls to the device that failed."},
    {"qvr7130_reconnects_total", MetricType::Counter,
     "Times the device was opened again after it went away."},
    {"qvr7130_message_requests_total", MetricType::Counter,
     "Times the navigation messages were asked for again after they stopped."},
    {"qvr7130_exporter_build_info", MetricType::Gauge, "The exporter's version; always 1."},
    {"qvr7130_holdover_alert_after_seconds", MetricType::Gauge,
     "How long a holdover may last before the QVR7130Holdover alert fires "
     "(--holdover.alert-after)."},
    {"qvr7130_exporter_scrape_duration_seconds", MetricType::Gauge,
     "How long this scrape took to gather every device's metrics."},
    // As every Prometheus client library names and describes them, so that dashboards made
    // for other exporters show this one too.
    {"process_cpu_seconds_total", MetricType::Counter,
     "Total user and system CPU time spent in seconds."},
    {"process_open_fds", MetricType::Gauge, "Number of open file descriptors."},
    {"process_max_fds", MetricType::Gauge, "Maximum number of open file descriptors."},
    {"process_virtual_memory_bytes", MetricType::Gauge, "Virtual memory size in bytes."},
    {"process_resident_memory_bytes", MetricType::Gauge, "Resident memory size in bytes."},
    {"process_start_time_seconds", MetricType::Gauge,
     "Start time of the process since unix epoch in seconds."},
}};

using Labels = std::vector<ClientMetric::Label>;

class Families {
 public:
  Families() {
    for (std::size_t i = 0; i < kFamilies; ++i) {
      families_[i].name = kRows[i].name;
      families_[i].help = kRows[i].help;
      families_[i].type = kRows[i].type;
    }
  }

  void add(Family family, Labels labels, double value) {
    ClientMetric metric;
    metric.label = std::move(labels);
    if (kRows[family].type == MetricType::Counter) {
      metric.counter.value = value;
    } else {
      metric.gauge.value = value;
    }
    families_[family].metric.push_back(std::move(metric));
  }

  // The families with at least one sample.
  [[nodiscard]] std::vector<MetricFamily> take() {
    std::vector<MetricFamily> filled;
    for (MetricFamily& family : families_) {
      if (!family.metric.empty()) {
        filled.push_back(std::move(family));
      }
    }
    return filled;
  }

 private:
  std::array<MetricFamily, kFamilies> families_;
};

double flag(bool on) {
  return on ? 1.0 : 0.0;
}

template <typename T>
std::optional<double> scaled(const std::optional<T>& value, double unit) {
  return value ? std::optional<double>(*value * unit) : std::nullopt;
}

double hertz(const protocol::ReportedHz& word) {
  return static_cast<double>(word.integerHz) +
         static_cast<double>(word.fractionWord) / kFractionScale;
}

void addReceiver(Families& f, const Labels& serial, const device::ReceiverState& r) {
  const auto with = [&](ClientMetric::Label label) {
    Labels labels = serial;
    labels.push_back(std::move(label));
    return labels;
  };
  if (r.pvt) {
    f.add(FixOk, serial, flag(r.pvt->fixOk()));
    f.add(FixType, serial, r.pvt->fixType);
    f.add(TimeValid, serial, flag(r.pvt->timeValid()));
    f.add(SolutionTimeAccuracy, serial, r.pvt->tAcc * kNano);
    const std::pair<Family, std::optional<double>> estimates[] = {
        {HorizontalAccuracy, scaled(r.pvt->hAcc, kMilli)},
        {VerticalAccuracy, scaled(r.pvt->vAcc, kMilli)},
        {PositionDop, scaled(r.pvt->pDop, kCenti)}};
    for (const auto& [family, value] : estimates) {
      if (value) {
        f.add(family, serial, *value);
      }
    }
  }
  if (r.satellitesHeard) {
    f.add(SatellitesUsed, serial, r.satellitesUsed);
    f.add(CnoAverage, serial, r.averageCno);
    std::map<std::uint8_t, int> visible;
    for (const std::uint8_t id : kNamedSystems) {
      visible[id] = 0;
    }
    for (const device::SatelliteState& s : r.satellites) {
      ++visible[s.gnssId];
    }
    for (const auto& [id, count] : visible) {
      f.add(SatellitesVisible, with({"system", status::systemName(id)}), count);
    }
    for (const device::SatelliteState& s : r.satellites) {
      Labels labels = with({"system", status::systemName(s.gnssId)});
      labels.push_back({"sv", std::to_string(s.svId)});
      f.add(SatelliteCno, labels, s.cno);
      f.add(SatelliteElevation, labels, s.elevation);
      f.add(SatelliteAzimuth, std::move(labels), s.azimuth);
    }
  }
  if (r.clockDrift) {
    f.add(ClockDrift, serial, *r.clockDrift * kNano);
  }
  if (r.clockBias) {
    f.add(ClockBias, serial, *r.clockBias * kNano);
  }
  if (r.timeAccuracy) {
    f.add(TimeAccuracy, serial, *r.timeAccuracy * kNano);
  }
  if (r.frequencyAccuracy) {
    f.add(FrequencyAccuracy, serial, *r.frequencyAccuracy * kPico);
  }
  if (r.statusByte) {
    const protocol::DeviceStatus status = protocol::deviceStatus(*r.statusByte);
    f.add(AntennaOk, serial, flag(status != protocol::DeviceStatus::AntennaShorted));
    f.add(SignalOk, serial, flag(status == protocol::DeviceStatus::SignalOk));
  }
}

void addSettings(Families& f, const Labels& serial, const protocol::Configuration& configuration) {
  const status::SettingsView settings = status::settingsView(configuration);
  if (settings.outputs) {
    f.add(OutputsEnabled, serial, flag(*settings.outputs));
  }
  for (const auto& [name, output] : {std::pair{"out1", &settings.out1}, {"out2", &settings.out2}}) {
    if (*output) {
      Labels labels = serial;
      labels.push_back({"output", name});
      f.add(OutputFrequency, std::move(labels), hertz((*output)->word));
    }
  }
}

void addLock(Families& f, const Labels& serial, const device::LockFigures& lock) {
  const std::chrono::duration<double> lockedFor = lock.lockedFor;
  const std::chrono::duration<double> holdoverFor = lock.holdoverFor;
  const std::chrono::duration<double> holdoverTotal = lock.holdoverTotal;
  const std::pair<Family, double> figures[] = {
      {Locked, flag(lock.locked)},
      {Holdover, flag(lock.holdover)},
      {LockDuration, lockedFor.count()},
      {HoldoverDuration, holdoverFor.count()},
      {HoldoverTotal, holdoverTotal.count()},
      {LockLosses, static_cast<double>(lock.lockLosses)},
  };
  for (const auto& [family, value] : figures) {
    f.add(family, serial, value);
  }
}

void addCounters(Families& f, const Labels& serial, const monitor::DeviceCounters& c) {
  const std::pair<Family, std::uint64_t> counters[] = {
      {NavMessages, c.navMessages},        {Frames, c.checkedFrames},
      {ChecksumErrors, c.checksumErrors},  {Oversized, c.oversizedLengths},
      {ShortMessages, c.tooShortMessages}, {HidFailures, c.hidFailures},
      {Reconnects, c.reconnects},          {MessageRequests, c.messageRequests},
  };
  for (const auto& [family, value] : counters) {
    f.add(family, serial, static_cast<double>(value));
  }
}

}  // namespace

std::string metricsText(const std::vector<monitor::DeviceSnapshot>& devices, const ScrapeTime& at,
                        const ExporterFacts& facts) {
  Families f;
  for (const monitor::DeviceSnapshot& d : devices) {
    const Labels serial = {{"serial", protocol::deviceTextAsUtf8(d.serial)}};
    f.add(Up, serial, flag(d.up));
    if (d.identity) {
      Labels labels = serial;
      labels.push_back({"product", protocol::deviceTextAsUtf8(d.identity->product)});
      labels.push_back({"manufacturer", protocol::deviceTextAsUtf8(d.identity->manufacturer)});
      labels.push_back({"firmware", d.identity->firmware.text()});
      f.add(Info, std::move(labels), 1.0);
    }
    if (d.up) {
      addReceiver(f, serial, d.receiver);
      if (d.configuration) {
        addSettings(f, serial, *d.configuration);
      }
    }
    if (d.lastFixAt) {
      const std::chrono::duration<double> age = at.monotonic - *d.lastFixAt;
      f.add(LastFix, serial, (at.unixTime - age).count());
    }
    addLock(f, serial, d.lock.figures(at.monotonic));
    addCounters(f, serial, d.counters);
  }
  f.add(BuildInfo, {{"version", facts.version}}, 1.0);
  if (facts.holdoverAlertSeconds > 0) {
    f.add(HoldoverAlertAfter, {}, facts.holdoverAlertSeconds);
  }
  if (const std::optional<ProcessFacts>& p = facts.process) {
    const std::pair<Family, double> process[] = {
        {ProcessCpu, p->cpuSeconds},
        {ProcessOpenFds, p->openFds},
        {ProcessMaxFds, p->maxFds},
        {ProcessVirtualMemory, p->virtualBytes},
        {ProcessResidentMemory, p->residentBytes},
        {ProcessStartTime, p->startTimeSeconds},
    };
    for (const auto& [family, value] : process) {
      f.add(family, {}, value);
    }
  }
  f.add(ScrapeDuration, {}, facts.scrapeSeconds ? facts.scrapeSeconds() : 0.0);
  return prometheus::TextSerializer().Serialize(f.take());
}

}  // namespace qvr::exporter
