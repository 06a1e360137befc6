#include "programs/ctl/setting_values.h"

#include <algorithm>
#include <optional>
#include <string_view>

namespace qvr::ctl {
namespace {

struct SettingRow {
  SettingId id;
  const char* name;
};

constexpr SettingRow kSettings[] = {
    {SettingId::Outputs, "outputs"},
    {SettingId::Out1LowPower, "out1-low-power"},
    {SettingId::Out2LowPower, "out2-low-power"},
    {SettingId::Out1, "out1"},
    {SettingId::Out2, "out2"},
    {SettingId::Fll, "fll"},
    {SettingId::Pps, "pps"},
    {SettingId::Nmea, "nmea"},
    {SettingId::Gnss, "gnss"},
    {SettingId::DynamicModel, "dynamic-model"},
};

struct SystemRow {
  const char* name;
  bool protocol::SatelliteSystems::*member;
};

// In the order of the window's boxes, which is also the order names are written back.
constexpr SystemRow kSystems[] = {
    {"gps", &protocol::SatelliteSystems::gps},
    {"sbas", &protocol::SatelliteSystems::sbas},
    {"galileo", &protocol::SatelliteSystems::galileo},
    {"beidou", &protocol::SatelliteSystems::beidou},
    {"glonass", &protocol::SatelliteSystems::glonass},
};

struct ModelRow {
  const char* name;
  int row;
};

constexpr ModelRow kModels[] = {
    {"stationary", protocol::kStationaryRow},
    {"portable", protocol::kPortableRow},
    {"airborne", protocol::kAirborneRow},
};

std::optional<SettingId> findSetting(std::string_view name) {
  for (const SettingRow& row : kSettings) {
    if (name == row.name) {
      return row.id;
    }
  }
  return std::nullopt;
}

std::string knownNames() {
  std::string names;
  for (const SettingRow& row : kSettings) {
    names += (names.empty() ? "" : ", ") + std::string(row.name);
  }
  return names;
}

std::string unknownSetting(const std::string& assignment, const std::string& name) {
  return "'" + assignment + "': unknown setting '" + name + "' (" + knownNames() + ")";
}

// The reason a value is refused, or nothing when `value` was filled in.
std::optional<std::string> readValue(SettingValue& value, std::string_view text) {
  switch (value.id) {
    case SettingId::Outputs:
    case SettingId::Out1LowPower:
    case SettingId::Out2LowPower:
    case SettingId::Fll:
    case SettingId::Pps:
    case SettingId::Nmea:
      if (text != "on" && text != "off") {
        return "must be on or off";
      }
      value.on = text == "on";
      return std::nullopt;
    case SettingId::Out1:
    case SettingId::Out2: {
      // The window's own reading, with '.' whatever the locale, so a script means the same
      // number on every computer.
      const protocol::FrequencyEntry entry = protocol::frequencyEntry(text, '.');
      if (!entry.word) {
        return std::string(entry.refusal);
      }
      value.frequency = *entry.word;
      return std::nullopt;
    }
    case SettingId::Gnss: {
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
                         [&](const SystemRow& row) { return name == row.name; });
        if (found == std::end(kSystems)) {
          return "unknown satellite system '" + std::string(name) +
                 "' (gps, sbas, galileo, beidou, glonass)";
        }
        value.systems.*(found->member) = true;
        start = comma + 1;
      }
      const protocol::SatelliteSystems& s = value.systems;
      // The receiver takes BeiDou and GLONASS together only on their own, as the window's
      // boxes allow.
      if (s.beidou && s.glonass && (s.gps || s.sbas || s.galileo)) {
        return "BeiDou and GLONASS go together only without GPS, SBAS and Galileo";
      }
      return std::nullopt;
    }
    case SettingId::DynamicModel:
      for (const ModelRow& model : kModels) {
        if (text == model.name) {
          value.model = protocol::dynamicModelByte(model.row);
          return std::nullopt;
        }
      }
      return "must be stationary, portable or airborne";
  }
  return "unknown setting";
}

const SettingValue* findValue(const std::vector<SettingValue>& values, SettingId id) {
  for (const SettingValue& value : values) {
    if (value.id == id) {
      return &value;
    }
  }
  return nullptr;
}

}  // namespace

const char* settingName(SettingId id) {
  for (const SettingRow& row : kSettings) {
    if (row.id == id) {
      return row.name;
    }
  }
  return "?";
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
    const auto id = findSetting(name);
    if (!id) {
      parsed.refusals.push_back(unknownSetting(assignment, name));
      continue;
    }
    if (findValue(parsed.values, *id) != nullptr) {
      parsed.refusals.push_back(name + ": given more than once");
      continue;
    }
    SettingValue value{.id = *id, .text = assignment.substr(equals + 1)};
    if (const auto reason = readValue(value, value.text)) {
      parsed.refusals.push_back(assignment + ": " + *reason);
      continue;
    }
    parsed.values.push_back(value);
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

std::vector<std::string> firmwareRefusals(const std::vector<SettingValue>& values,
                                          protocol::FirmwareVersion firmware,
                                          const protocol::FirmwareCapabilities& capabilities) {
  std::vector<std::string> refusals;
  const std::string version = firmware.text();
  for (const SettingValue& value : values) {
    const char* missing = nullptr;
    const char* from = nullptr;
    switch (value.id) {
      case SettingId::Out1LowPower:
      case SettingId::Out2LowPower:
        if (!capabilities.lowPowerCommands) {
          missing = "low-power setting";
          from = "1.03";
        }
        break;
      case SettingId::Nmea:
        if (!capabilities.nmeaSetting) {
          missing = "NMEA setting";
          from = "1.08";
        }
        break;
      case SettingId::Gnss:
      case SettingId::DynamicModel:
        if (!capabilities.receiverSettings) {
          missing =
              value.id == SettingId::Gnss ? "satellite-system setting" : "dynamic-model setting";
          from = "1.07";
        }
        break;
      default:
        break;
    }
    if (missing != nullptr) {
      refusals.push_back(std::string(settingName(value.id)) + ": firmware " + version + " has no " +
                         missing + " (firmware " + from + " on has)");
    }
  }
  return refusals;
}

std::vector<PlannedSend> setPlan(const std::vector<SettingValue>& values) {
  std::vector<PlannedSend> plan;
  plan.reserve(values.size());
  for (const SettingValue& value : values) {
    plan.push_back({value});
  }
  if (!plan.empty()) {
    plan.back().pauseAfter = false;
  }
  return plan;
}

std::vector<PlannedSend> factoryResetPlan(const protocol::FirmwareCapabilities& capabilities,
                                          std::optional<bool> outputsEnabled) {
  constexpr const char* kFactoryFrequency = "10000000";
  const auto off = [](SettingId id) { return SettingValue{.id = id, .on = false, .text = "off"}; };
  const auto frequency = [&](SettingId id) {
    return SettingValue{.id = id,
                        .text = kFactoryFrequency,
                        .frequency = *protocol::frequencyEntry(kFactoryFrequency, '.').word};
  };
  std::vector<PlannedSend> plan;
  // The window ticks its box, which sends only when the box was clear: when the device said
  // its outputs were off. The fixed sequence after it does not send them again.
  if (outputsEnabled == false) {
    plan.push_back({{.id = SettingId::Outputs, .on = true, .text = "on"}, false});
  }
  if (capabilities.lowPowerCommands) {
    plan.push_back({off(SettingId::Out1LowPower)});
    plan.push_back({off(SettingId::Out2LowPower)});
  }
  plan.push_back({frequency(SettingId::Out1)});
  plan.push_back({frequency(SettingId::Out2)});
  plan.push_back({off(SettingId::Fll)});
  // The window pauses after 1PPS whether or not NMEA follows, and not after NMEA.
  plan.push_back({off(SettingId::Pps)});
  if (capabilities.nmeaSetting) {
    plan.push_back({off(SettingId::Nmea), false});
  }
  if (capabilities.receiverSettings) {
    plan.push_back({{.id = SettingId::Gnss,
                     .text = "gps,sbas,galileo,glonass",
                     .systems = {.gps = true, .sbas = true, .galileo = true, .glonass = true}}});
    plan.push_back({{.id = SettingId::DynamicModel,
                     .text = "stationary",
                     .model = protocol::dynamicModelByte(protocol::kStationaryRow)},
                    false});
  }
  return plan;
}

std::vector<std::string> gnssNameList(const protocol::SatelliteSystems& systems) {
  std::vector<std::string> names;
  for (const SystemRow& row : kSystems) {
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
  switch (model) {
    case protocol::kModelStationary:
      return "stationary";
    case protocol::kModelPortable:
      return "portable";
    case protocol::kModelAirborne:
      return "airborne";
    default:
      return nullptr;
  }
}

std::string describeSent(const SettingValue& value) {
  const std::string name = settingName(value.id);
  switch (value.id) {
    case SettingId::Out1:
    case SettingId::Out2: {
      const std::string exact = protocol::exactFrequencyText(value.frequency);
      return name + "=" + value.text + " (exactly " + exact + " Hz)";
    }
    case SettingId::Gnss:
      return name + "=" + gnssNames(value.systems);
    case SettingId::DynamicModel:
      return name + "=" + value.text;
    default:
      return name + "=" + (value.on ? "on" : "off");
  }
}

}  // namespace qvr::ctl
