#include "device/settings_table.h"

#include <algorithm>
#include <array>
#include <iterator>
#include <utility>

namespace qvr::device {
namespace {

using protocol::Command;
using protocol::FirmwareCapabilities;

struct SystemName {
  const char* name;
  bool protocol::SatelliteSystems::*member;
};

// In the order of the window's boxes, which is also the order names are written back.
constexpr SystemName kSystems[] = {
    {"gps", &protocol::SatelliteSystems::gps},
    {"sbas", &protocol::SatelliteSystems::sbas},
    {"galileo", &protocol::SatelliteSystems::galileo},
    {"beidou", &protocol::SatelliteSystems::beidou},
    {"glonass", &protocol::SatelliteSystems::glonass},
};

struct ModelName {
  const char* name;
  std::uint8_t model;
};

constexpr ModelName kModels[] = {
    {"stationary", protocol::kModelStationary},
    {"portable", protocol::kModelPortable},
    {"airborne", protocol::kModelAirborne},
};

std::vector<std::uint8_t> bytes(std::span<const std::uint8_t> data) {
  return {data.begin(), data.end()};
}

std::vector<std::uint8_t> encodeOutputs(const SettingValue& v) {
  return bytes(protocol::outputsEnableData(v.on));
}
std::vector<std::uint8_t> encodeSwitch(const SettingValue& v) {
  return bytes(protocol::switchData(v.on));
}
std::vector<std::uint8_t> encodeFrequency(const SettingValue& v) {
  return bytes(protocol::frequencyData(v.frequency.fractionWord, v.frequency.integerHz));
}
std::vector<std::uint8_t> encodeSystems(const SettingValue& v) {
  return {protocol::gnssSelectionByte(v.systems)};
}
std::vector<std::uint8_t> encodeModel(const SettingValue& v) {
  return {v.model};
}

bool everyFirmware(const FirmwareCapabilities& /*can*/) {
  return true;
}
bool lowPowerFirmware(const FirmwareCapabilities& can) {
  return can.lowPowerCommands;
}
bool nmeaFirmware(const FirmwareCapabilities& can) {
  return can.nmeaSetting;
}
// 0.x shows the satellite-system boxes and sends what is ticked, though it reads nothing back.
bool satelliteSystemFirmware(const FirmwareCapabilities& can) {
  return !can.receiverSettingsLocked;
}
bool receiverSettingsFirmware(const FirmwareCapabilities& can) {
  return can.receiverSettings;
}

constexpr std::array<SettingRow, kSettingCount> kTable{{
    {SettingId::Outputs, "outputs", ValueKind::Switch, Command::OutputsEnable, everyFirmware,
     "outputs setting", "0.00", "on", encodeOutputs},
    {SettingId::Out1LowPower, "out1-low-power", ValueKind::Switch, Command::Out1LowPower,
     lowPowerFirmware, "low-power setting", "1.03", "off", encodeSwitch},
    {SettingId::Out2LowPower, "out2-low-power", ValueKind::Switch, Command::Out2LowPower,
     lowPowerFirmware, "low-power setting", "1.03", "off", encodeSwitch},
    {SettingId::Out1, "out1", ValueKind::Frequency, Command::Out1Frequency, everyFirmware,
     "OUT1 frequency setting", "0.00", "10000000", encodeFrequency},
    {SettingId::Out2, "out2", ValueKind::Frequency, Command::Out2Frequency, everyFirmware,
     "OUT2 frequency setting", "0.00", "10000000", encodeFrequency},
    {SettingId::Fll, "fll", ValueKind::Switch, Command::FllMode, everyFirmware, "FLL setting",
     "0.00", "off", encodeSwitch},
    {SettingId::Pps, "pps", ValueKind::Switch, Command::OnePps, everyFirmware, "1PPS setting",
     "0.00", "off", encodeSwitch},
    {SettingId::Nmea, "nmea", ValueKind::Switch, Command::Nmea, nmeaFirmware, "NMEA setting",
     "1.08", "off", encodeSwitch},
    {SettingId::Gnss, "gnss", ValueKind::Systems, Command::SatelliteSystems,
     satelliteSystemFirmware, "satellite-system setting", "1.07", "gps,sbas,galileo,glonass",
     encodeSystems},
    {SettingId::DynamicModel, "dynamic-model", ValueKind::Model, Command::DynamicModel,
     receiverSettingsFirmware, "dynamic-model setting", "1.07", "stationary", encodeModel},
}};

const SettingRow* findRow(std::string_view name) {
  const auto* const found = std::find_if(kTable.begin(), kTable.end(),
                                         [&](const SettingRow& row) { return name == row.name; });
  return found == kTable.end() ? nullptr : found;
}

std::string knownNames() {
  std::string names;
  for (const SettingRow& row : kTable) {
    names += (names.empty() ? "" : ", ") + std::string(row.name);
  }
  return names;
}

// The reason a value is refused, or nothing when `value` was filled in.
std::optional<std::string> readInto(SettingValue& value, std::string_view text) {
  switch (settingRow(value.id).kind) {
    case ValueKind::Switch:
      if (text != "on" && text != "off") {
        return "must be on or off";
      }
      value.on = text == "on";
      return std::nullopt;
    case ValueKind::Frequency: {
      const protocol::FrequencyEntry entry = protocol::frequencyEntry(text, '.');
      if (!entry.word) {
        return std::string(entry.refusal);
      }
      value.frequency = *entry.word;
      return std::nullopt;
    }
    case ValueKind::Systems: {
      if (text.empty()) {
        // Most likely a shell variable that was never set: no systems must be asked for.
        return "empty; write gnss=none for no satellite system at all";
      }
      if (text == "none") {
        return std::nullopt;
      }
      std::size_t start = 0;
      while (start <= text.size()) {
        const std::size_t comma = std::min(text.find(',', start), text.size());
        const std::string_view name = text.substr(start, comma - start);
        const auto* const found =
            std::find_if(std::begin(kSystems), std::end(kSystems),
                         [&](const SystemName& row) { return name == row.name; });
        if (found == std::end(kSystems)) {
          return "unknown satellite system '" + std::string(name) +
                 "' (gps, sbas, galileo, beidou, glonass)";
        }
        value.systems.*(found->member) = true;
        start = comma + 1;
      }
      const protocol::SatelliteSystems& s = value.systems;
      // The boxes never allow this combination: the receiver takes BeiDou and GLONASS together
      // only on their own.
      if (s.beidou && s.glonass && (s.gps || s.sbas || s.galileo)) {
        return "BeiDou and GLONASS go together only without GPS, SBAS and Galileo";
      }
      return std::nullopt;
    }
    case ValueKind::Model:
      for (const ModelName& model : kModels) {
        if (text == model.name) {
          value.model = model.model;
          return std::nullopt;
        }
      }
      return "must be stationary, portable or airborne";
  }
  return "unknown setting";
}

const SettingValue* findValue(const std::vector<SettingValue>& values, SettingId id) {
  const auto found = std::find_if(values.begin(), values.end(),
                                  [&](const SettingValue& value) { return value.id == id; });
  return found == values.end() ? nullptr : &*found;
}

}  // namespace

std::span<const SettingRow> settingTable() {
  return kTable;
}

const SettingRow& settingRow(SettingId id) {
  return kTable.at(static_cast<std::size_t>(id));
}

std::optional<std::string> firmwareRefusal(SettingId id, const protocol::FirmwareCapabilities& can,
                                           const std::string& firmwareText) {
  const SettingRow& row = settingRow(id);
  if (row.takenBy(can)) {
    return std::nullopt;
  }
  return "firmware " + firmwareText + " has no " + row.what + " (firmware " + row.firstFirmware +
         " on has)";
}

ReadValue readSettingValue(SettingId id, std::string_view text) {
  SettingValue value{.id = id, .text = std::string(text)};
  if (auto refusal = readInto(value, text)) {
    return {std::nullopt, std::move(*refusal)};
  }
  return {std::move(value), {}};
}

ParsedSettings parseSettings(const std::vector<std::string>& assignments) {
  ParsedSettings parsed;
  for (const std::string& assignment : assignments) {
    const std::size_t equals = assignment.find('=');
    if (equals == std::string::npos) {
      parsed.refusals.push_back("'" + assignment + "': not a setting; write NAME=VALUE");
      continue;
    }
    const std::string name = assignment.substr(0, equals);
    const SettingRow* row = findRow(name);
    if (row == nullptr) {
      std::string refusal = "'";
      refusal.append(assignment).append("': unknown setting '").append(name).append("' (");
      refusal += knownNames();
      refusal += ")";
      parsed.refusals.push_back(std::move(refusal));
      continue;
    }
    if (findValue(parsed.values, row->id) != nullptr) {
      parsed.refusals.push_back(name + ": given more than once");
      continue;
    }
    ReadValue read = readSettingValue(row->id, std::string_view(assignment).substr(equals + 1));
    if (!read.value) {
      parsed.refusals.push_back(assignment + ": " + read.refusal);
      continue;
    }
    parsed.values.push_back(std::move(*read.value));
  }
  const SettingValue* pps = findValue(parsed.values, SettingId::Pps);
  const SettingValue* nmea = findValue(parsed.values, SettingId::Nmea);
  if (pps != nullptr && nmea != nullptr && pps->on && nmea->on) {
    parsed.refusals.emplace_back("pps=on and nmea=on: OUT1 carries 1PPS or NMEA, not both");
  }
  std::stable_sort(parsed.values.begin(), parsed.values.end(),
                   [](const SettingValue& a, const SettingValue& b) { return a.id < b.id; });
  return parsed;
}

SettingValue factoryValue(SettingId id) {
  return *readSettingValue(id, settingRow(id).factoryValue).value;
}

std::vector<std::string> gnssNameList(const protocol::SatelliteSystems& systems) {
  std::vector<std::string> names;
  for (const SystemName& row : kSystems) {
    if (systems.*(row.member)) {
      names.emplace_back(row.name);
    }
  }
  return names;
}

std::string gnssNames(const protocol::SatelliteSystems& systems) {
  std::string joined;
  for (const std::string& name : gnssNameList(systems)) {
    joined += (joined.empty() ? "" : ",") + name;
  }
  return joined.empty() ? "none" : joined;
}

const char* dynamicModelName(std::uint8_t model) {
  for (const ModelName& row : kModels) {
    if (row.model == model) {
      return row.name;
    }
  }
  return nullptr;
}

std::string describeSent(const SettingValue& value) {
  const std::string name = settingRow(value.id).name;
  switch (settingRow(value.id).kind) {
    case ValueKind::Frequency:
      return name + "=" + value.text + " (exactly " +
             protocol::exactFrequencyText(value.frequency) + " Hz)";
    case ValueKind::Systems:
      return name + "=" + gnssNames(value.systems);
    case ValueKind::Model: {
      const char* model = dynamicModelName(value.model);
      return name + "=" + (model ? model : std::to_string(value.model));
    }
    case ValueKind::Switch:
      break;
  }
  return name + "=" + (value.on ? "on" : "off");
}

}  // namespace qvr::device
