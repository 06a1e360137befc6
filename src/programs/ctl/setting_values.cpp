#include "programs/ctl/setting_values.h"

#include <algorithm>
#include <optional>
#include <string_view>

namespace qvr::ctl {

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
      refusals.push_back(std::string(device::settingRow(value.id).name) + ": firmware " + version +
                         " has no " + missing + " (firmware " + from + " on has)");
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

}  // namespace qvr::ctl
