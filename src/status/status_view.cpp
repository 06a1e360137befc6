#include "status/status_view.h"

#include "device/settings_table.h"
#include "protocol/commands.h"
#include "protocol/device_status.h"
#include "protocol/number_text.h"
#include "protocol/printable_text.h"
#include "status/json_writer.h"

namespace qvr::status {
namespace {

constexpr int kDegreeDecimals = 7;  // NAV-PVT's latitude and longitude are in 1e-7 degree
constexpr int kMetreDecimals = 3;   // and its height in millimetres
constexpr int kDopDecimals = 2;     // its position DOP in hundredths
constexpr std::size_t kLabelWidth = 19;

struct SystemNameRow {
  std::uint8_t gnssId;
  const char* name;
};
constexpr SystemNameRow kSystemNames[] = {
    {0, "GPS"},  {1, "SBAS"}, {2, "Galileo"}, {3, "BeiDou"},
    {4, "IMES"}, {5, "QZSS"}, {6, "GLONASS"},
};

// NAV-PVT's fixType, by number.
constexpr const char* kFixTypes[] = {"no_fix", "dead_reckoning",      "2d",
                                     "3d",     "gnss_dead_reckoning", "time_only"};

// The same for people.
constexpr const char* kFixWords[] = {"none", "dead reckoning",        "2D",
                                     "3D",   "GNSS + dead reckoning", "time only"};

std::string fixWords(const protocol::NavPvt& pvt) {
  std::string words = pvt.fixType < std::size(kFixWords) ? kFixWords[pvt.fixType]
                                                         : "type " + std::to_string(pvt.fixType);
  return words + (pvt.fixOk() ? ", valid" : ", not valid") + ", " + std::to_string(pvt.numSv) +
         " satellites in the solution";
}

std::optional<std::string> fixTypeName(const device::ReceiverState& r) {
  if (!r.pvt) {
    return std::nullopt;
  }
  if (r.pvt->fixType < std::size(kFixTypes)) {
    return kFixTypes[r.pvt->fixType];
  }
  return "type_" + std::to_string(r.pvt->fixType);
}

const char* statusCode(protocol::DeviceStatus status) {
  switch (status) {
    case protocol::DeviceStatus::AntennaShorted:
      return "antenna_shorted";
    case protocol::DeviceStatus::NoSignal:
      return "no_signal";
    case protocol::DeviceStatus::SignalOk:
      break;
  }
  return "signal_ok";
}

std::string onOff(const std::optional<bool>& value) {
  if (!value) {
    return "not reported by this firmware";
  }
  return *value ? "on" : "off";
}

std::string frequencyLine(const std::optional<FrequencyView>& f) {
  if (!f) {
    return "not reported by this firmware";
  }
  const std::string exact = protocol::exactFrequencyText(f->word.integerHz, f->word.fractionWord);
  // The box's text is the exact value when it has few enough digits; then once is enough.
  if (f->shown == exact) {
    return exact + " Hz";
  }
  return f->shown + " Hz, exactly " + exact + " Hz";
}

std::string systemsLine(std::uint8_t selection) {
  static constexpr const char* kShown[] = {"GPS", "SBAS", "Galileo", "BeiDou", "GLONASS"};
  const protocol::SatelliteSystems s = protocol::satelliteSystemsOf(selection);
  const bool on[] = {s.gps, s.sbas, s.galileo, s.beidou, s.glonass};
  std::string line;
  for (std::size_t i = 0; i < std::size(kShown); ++i) {
    if (on[i]) {
      line += (line.empty() ? "" : ", ") + std::string(kShown[i]);
    }
  }
  return line.empty() ? "none" : line;
}

void addLine(std::string& text, const std::string& label, const std::string& value) {
  std::string line = label;
  line.resize(kLabelWidth, ' ');
  text += line + value + "\n";
}

std::optional<std::int64_t> latitudeUnits(const device::ReceiverState& r) {
  return r.pvt ? std::optional<std::int64_t>(r.pvt->lat) : std::nullopt;
}
std::optional<std::int64_t> longitudeUnits(const device::ReceiverState& r) {
  return r.pvt ? std::optional<std::int64_t>(r.pvt->lon) : std::nullopt;
}
std::optional<std::int64_t> altitudeUnits(const device::ReceiverState& r) {
  return r.pvt ? std::optional<std::int64_t>(r.pvt->hMSL) : std::nullopt;
}

std::string durationWords(std::chrono::milliseconds span) {
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(span).count();
  if (seconds < 120) {
    return std::to_string(seconds) + " s";
  }
  if (seconds < std::chrono::seconds(std::chrono::hours(2)).count()) {
    return std::to_string(seconds / 60) + " min";
  }
  return std::to_string(seconds / 3600) + " h " + std::to_string(seconds / 60 % 60) + " min";
}

std::string lockWords(const device::LockFigures& lock) {
  std::string words = "not locked since it was plugged in";
  if (lock.locked) {
    words = "locked for " + durationWords(lock.lockedFor);
  } else if (lock.holdover) {
    words = "in holdover for " + durationWords(lock.holdoverFor);
  }
  return words + "; " + std::to_string(lock.lockLosses) + " lock losses, " +
         durationWords(lock.holdoverTotal) + " in holdover in all";
}

void lockMembers(JsonWriter& json, const std::optional<device::LockFigures>& lock) {
  json.key("lock");
  if (!lock) {
    json.null();
    return;
  }
  json.beginObject();
  json.key("state").string(lock->locked ? "locked" : (lock->holdover ? "holdover" : "acquiring"));
  json.key("locked_for_s").scaled(lock->lockedFor.count(), 3);
  json.key("holdover_for_s").scaled(lock->holdoverFor.count(), 3);
  json.key("holdover_total_s").scaled(lock->holdoverTotal.count(), 3);
  json.key("lock_losses").integer(static_cast<std::int64_t>(lock->lockLosses));
  json.endObject();
}

// The receiver's own estimates, as far as its NAV-PVT carries them.
std::string accuracyWords(const protocol::NavPvt& pvt) {
  std::string words;
  const auto add = [&words](const std::string& part) {
    words += (words.empty() ? "" : ", ") + part;
  };
  if (pvt.hAcc) {
    add(scaledText(*pvt.hAcc, kMetreDecimals) + " m horizontal");
  }
  if (pvt.vAcc) {
    add(scaledText(*pvt.vAcc, kMetreDecimals) + " m vertical");
  }
  add(std::to_string(pvt.tAcc) + " ns time");
  if (pvt.pDop) {
    add("position DOP " + scaledText(*pvt.pDop, kDopDecimals));
  }
  return words;
}

template <typename T>
std::optional<std::int64_t> widened(const std::optional<T>& value) {
  return value ? std::optional<std::int64_t>(*value) : std::nullopt;
}

void receiverMembers(JsonWriter& json, const device::ReceiverState& r) {
  std::optional<std::string> code;
  std::optional<std::string> words;
  if (r.statusByte) {
    const protocol::DeviceStatus status = protocol::deviceStatus(*r.statusByte);
    code = statusCode(status);
    words = protocol::deviceStatusText(status);
  }
  json.stringMember("status", code);
  json.stringMember("status_text", words);
  json.integerMember("status_byte", widened(r.statusByte));
  json.stringMember("utc", utcText(r));
  json.scaledMember("latitude_deg", latitudeUnits(r), kDegreeDecimals);
  json.scaledMember("longitude_deg", longitudeUnits(r), kDegreeDecimals);
  json.scaledMember("altitude_m", altitudeUnits(r), kMetreDecimals);
  json.stringMember("fix_type", fixTypeName(r));
  json.booleanMember("fix_ok", r.pvt ? std::optional<bool>(r.pvt->fixOk()) : std::nullopt);
  json.integerMember("fix_satellites",
                     r.pvt ? std::optional<std::int64_t>(r.pvt->numSv) : std::nullopt);
  const bool sat = r.satellitesHeard;
  json.integerMember("satellites_used",
                     sat ? std::optional<std::int64_t>(r.satellitesUsed) : std::nullopt);
  json.integerMember("average_cno_dbhz",
                     sat ? std::optional<std::int64_t>(r.averageCno) : std::nullopt);
  json.integerMember("drift_ns_per_s", widened(r.clockDrift));
  json.integerMember("clock_bias_ns", widened(r.clockBias));
  json.integerMember("time_accuracy_ns", widened(r.timeAccuracy));
  json.integerMember("frequency_accuracy_ps_per_s", widened(r.frequencyAccuracy));
  const protocol::NavPvt pvt = r.pvt.value_or(protocol::NavPvt{});
  json.scaledMember("horizontal_accuracy_m", widened(pvt.hAcc), kMetreDecimals);
  json.scaledMember("vertical_accuracy_m", widened(pvt.vAcc), kMetreDecimals);
  json.integerMember("solution_time_accuracy_ns",
                     r.pvt ? std::optional<std::int64_t>(pvt.tAcc) : std::nullopt);
  json.scaledMember("position_dop", widened(pvt.pDop), kDopDecimals);
  json.key("satellites");
  if (!sat) {
    json.null();
    return;
  }
  json.beginArray();
  for (const device::SatelliteState& s : r.satellites) {
    json.beginObject();
    json.key("system").string(systemName(s.gnssId));
    json.key("gnss_id").integer(s.gnssId);
    json.key("sv_id").integer(s.svId);
    json.key("cno_dbhz").integer(s.cno);
    json.key("elevation_deg").integer(s.elevation);
    json.key("azimuth_deg").integer(s.azimuth);
    json.key("used").boolean(s.used);
    json.endObject();
  }
  json.endArray();
}

std::optional<std::string> exactOf(const std::optional<FrequencyView>& f) {
  return f ? std::optional<std::string>(
                 protocol::exactFrequencyText(f->word.integerHz, f->word.fractionWord))
           : std::nullopt;
}
std::optional<std::string> shownOf(const std::optional<FrequencyView>& f) {
  return f ? std::optional<std::string>(f->shown) : std::nullopt;
}

}  // namespace

std::string systemName(std::uint8_t gnssId) {
  for (const SystemNameRow& row : kSystemNames) {
    if (row.gnssId == gnssId) {
      return row.name;
    }
  }
  return "gnss-" + std::to_string(gnssId);
}

DeviceView deviceView(const device::Identity& id) {
  const auto nonEmpty = [](const std::string& text) {
    return text.empty() ? std::nullopt : std::optional<std::string>(text);
  };
  return {id.serial, nonEmpty(id.product), nonEmpty(id.manufacturer), id.firmware.text(), id.path};
}

SettingsView settingsView(const protocol::Configuration& c) {
  SettingsView s;
  s.outputs = c.outputsEnabled;
  if (c.out1WholeHz && *c.out1WholeHz >= 0) {
    s.out1 = FrequencyView{{*c.out1WholeHz, 0}, std::to_string(*c.out1WholeHz)};
  }
  // The text the window's box shows, with the point: the status is data, not the user's view.
  if (c.out1Word && c.out1Hz) {
    s.out1 = FrequencyView{*c.out1Word, protocol::decimalText(*c.out1Hz, '.')};
  }
  if (c.out2Word && c.out2Hz) {
    s.out2 = FrequencyView{*c.out2Word, protocol::decimalText(*c.out2Hz, '.')};
  }
  s.out1LowPower = c.out1LowPower;
  s.out2LowPower = c.out2LowPower;
  s.fll = c.fll;
  s.pps = c.onePps;
  s.nmea = c.nmea;
  s.gnssSelection = c.gnssSelection;
  s.dynamicModel = c.dynamicModel;
  return s;
}

std::vector<std::string> missingMessages(const device::ReceiverState& receiver) {
  std::vector<std::string> missing;
  if (!receiver.pvt) {
    missing.emplace_back("NAV-PVT");
  }
  if (!receiver.clockDrift) {
    missing.emplace_back("NAV-CLOCK");
  }
  if (!receiver.satellitesHeard) {
    missing.emplace_back("NAV-SAT");
  }
  return missing;
}

std::optional<std::string> utcText(const device::ReceiverState& receiver) {
  if (!receiver.pvt || !receiver.pvt->timeValid()) {
    return std::nullopt;
  }
  const protocol::NavPvt& p = *receiver.pvt;
  return protocol::isoDateTime(p.year, p.month, p.day, p.hour, p.minute, p.second) + "Z";
}

std::vector<StatusRow> statusRows(const StatusView& status) {
  std::vector<StatusRow> rows;
  const auto add = [&rows](const char* label, std::string value) {
    rows.push_back({label, std::move(value)});
  };
  const DeviceView& d = status.device;
  // The device's own words go to a terminal: a control character among them is shown, not obeyed.
  const auto deviceText = [](const std::optional<std::string>& value) {
    return value ? protocol::printableText(*value, TextBytes::Latin1) : "unreadable";
  };
  add("Serial number", protocol::printableText(d.serial, TextBytes::Latin1));
  add("Product", deviceText(d.product));
  add("Manufacturer", deviceText(d.manufacturer));
  add("Firmware", d.firmware);

  const SettingsView& s = status.settings;
  add("Outputs", onOff(s.outputs));
  add("OUT1", frequencyLine(s.out1));
  add("OUT1 low power", onOff(s.out1LowPower));
  add("OUT2", frequencyLine(s.out2));
  add("OUT2 low power", onOff(s.out2LowPower));
  add("FLL", onOff(s.fll));
  add("1PPS on OUT1", onOff(s.pps));
  add("NMEA on OUT1", onOff(s.nmea));
  add("Satellite systems",
      s.gnssSelection ? systemsLine(*s.gnssSelection) : "not reported by this firmware");
  std::string model = "not reported by this firmware";
  if (s.dynamicModel) {
    const char* name = device::dynamicModelName(*s.dynamicModel);
    model = name != nullptr ? name : "model " + std::to_string(*s.dynamicModel);
  }
  add("Dynamic model", model);

  const device::ReceiverState& r = status.receiver;
  const std::string unheard = "not heard";
  add("Status",
      r.statusByte ? protocol::deviceStatusText(protocol::deviceStatus(*r.statusByte)) : unheard);
  std::string utc = unheard;
  if (r.pvt) {
    utc = utcText(r).value_or("not valid yet");
  }
  add("UTC", utc);
  // Before its first fix the receiver says 0, which is a place too: people are told.
  const std::string noFix = r.pvt && !r.pvt->fixOk() ? " (no fix)" : "";
  add("Position", r.pvt ? scaledText(r.pvt->lat, kDegreeDecimals) + ", " +
                              scaledText(r.pvt->lon, kDegreeDecimals) + noFix
                        : unheard);
  add("Altitude", r.pvt ? scaledText(r.pvt->hMSL, kMetreDecimals) + " m" + noFix : unheard);
  add("Fix", r.pvt ? fixWords(*r.pvt) : unheard);
  add("Satellites used", r.satellitesHeard ? std::to_string(r.satellitesUsed) : unheard);
  add("Average C/N0", r.satellitesHeard ? std::to_string(r.averageCno) + " dB-Hz" : unheard);
  add("Clock drift", r.clockDrift ? std::to_string(*r.clockDrift) + " ns/s" : unheard);
  add("Clock bias", r.clockBias ? std::to_string(*r.clockBias) + " ns" : unheard);
  add("Accuracy", r.pvt ? accuracyWords(*r.pvt) : unheard);
  if (status.lock) {
    add("Lock", lockWords(*status.lock));
  }
  add("Satellites", r.satellitesHeard ? std::to_string(r.satellites.size()) + " listed" : unheard);
  return rows;
}

std::string statusText(const StatusView& status) {
  std::string text;
  for (const StatusRow& row : statusRows(status)) {
    addLine(text, row.label, row.value);
  }
  for (const device::SatelliteState& sat : status.receiver.satellites) {
    std::string label = "  " + systemName(sat.gnssId) + " " + std::to_string(sat.svId);
    label.resize(kLabelWidth, ' ');
    text += label + std::to_string(sat.cno) + " dB-Hz, elevation " + std::to_string(sat.elevation) +
            " deg, azimuth " + std::to_string(sat.azimuth) + " deg" + (sat.used ? ", used" : "") +
            "\n";
  }
  return text;
}

void statusMembers(JsonWriter& json, const StatusView& status,
                   const std::vector<std::string>& missing) {
  const DeviceView& d = status.device;
  json.key("device").beginObject();
  json.key("serial").string(d.serial, TextBytes::Latin1);
  json.stringMember("product", d.product, TextBytes::Latin1);
  json.stringMember("manufacturer", d.manufacturer, TextBytes::Latin1);
  json.key("firmware").string(d.firmware);
  json.key("path").string(d.path);
  json.endObject();

  const SettingsView& s = status.settings;
  json.key("settings").beginObject();
  json.booleanMember("outputs", s.outputs);
  json.stringMember("out1_frequency_hz", exactOf(s.out1));
  json.stringMember("out1_frequency_shown", shownOf(s.out1));
  json.stringMember("out2_frequency_hz", exactOf(s.out2));
  json.stringMember("out2_frequency_shown", shownOf(s.out2));
  json.booleanMember("out1_low_power", s.out1LowPower);
  json.booleanMember("out2_low_power", s.out2LowPower);
  json.booleanMember("fll", s.fll);
  json.booleanMember("pps", s.pps);
  json.booleanMember("nmea", s.nmea);
  json.key("gnss");
  if (s.gnssSelection) {
    json.beginArray();
    for (const std::string& name :
         device::gnssNameList(protocol::satelliteSystemsOf(*s.gnssSelection))) {
      json.string(name);
    }
    json.endArray();
  } else {
    json.null();
  }
  const char* model = s.dynamicModel ? device::dynamicModelName(*s.dynamicModel) : nullptr;
  json.stringMember("dynamic_model",
                    model != nullptr ? std::optional<std::string>(model) : std::nullopt);
  json.integerMember("dynamic_model_number", widened(s.dynamicModel));
  json.endObject();

  json.key("receiver").beginObject();
  receiverMembers(json, status.receiver);
  json.endObject();
  lockMembers(json, status.lock);

  json.key("missing").beginArray();
  for (const std::string& name : missing) {
    json.string(name);
  }
  json.endArray();
}

std::string statusJson(const StatusView& status, const std::vector<std::string>& missing) {
  JsonWriter json(true);
  json.beginObject();
  statusMembers(json, status, missing);
  json.endObject();
  return json.text() + "\n";
}

std::string watchLine(const device::ReceiverState& r) {
  const auto field = [](const char* name, const std::optional<std::string>& value) {
    return std::string(name) + "=" + value.value_or("-");
  };
  const auto number = [](const std::optional<std::int64_t>& value) {
    return value ? std::optional<std::string>(std::to_string(*value)) : std::nullopt;
  };
  const auto scaled = [](const std::optional<std::int64_t>& value, int decimals) {
    return value ? std::optional<std::string>(scaledText(*value, decimals)) : std::nullopt;
  };
  std::optional<std::string> code;
  if (r.statusByte) {
    code = statusCode(protocol::deviceStatus(*r.statusByte));
  }
  const bool sat = r.satellitesHeard;
  const std::string line = field("utc", utcText(r)) + " " + field("status", code) + " " +
                           field("fix", fixTypeName(r)) + " " +
                           field("used", sat ? number(r.satellitesUsed) : std::nullopt) + " " +
                           field("cno_dbhz", sat ? number(r.averageCno) : std::nullopt) + " " +
                           field("drift_ns_per_s", number(widened(r.clockDrift))) + " " +
                           field("lat_deg", scaled(latitudeUnits(r), kDegreeDecimals)) + " " +
                           field("lon_deg", scaled(longitudeUnits(r), kDegreeDecimals)) + " " +
                           field("alt_m", scaled(altitudeUnits(r), kMetreDecimals));
  return line + "\n";
}

std::string watchJson(const std::string& serial, const device::ReceiverState& receiver) {
  JsonWriter json(false);
  json.beginObject();
  json.key("serial").string(serial, TextBytes::Latin1);
  json.key("receiver").beginObject();
  receiverMembers(json, receiver);
  json.endObject();
  json.endObject();
  return json.text() + "\n";
}

}  // namespace qvr::status
