#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "protocol/commands.h"
#include "protocol/firmware.h"
#include "protocol/frequency.h"

namespace qvr::ctl {

// The settings `set` knows, in the order they are sent.
enum class SettingId {
  Outputs,
  Out1LowPower,
  Out2LowPower,
  Out1,
  Out2,
  Fll,
  Pps,
  Nmea,
  Gnss,
  DynamicModel,
};

struct SettingValue {
  SettingId id = SettingId::Outputs;
  bool on = false;                     // the switches
  std::string text;                    // the value as given
  protocol::FixedPointHz frequency;    // out1, out2: what the device is sent
  protocol::SatelliteSystems systems;  // gnss
  std::uint8_t model = 0;              // dynamic-model: the receiver's platform model number
};

struct ParsedSettings {
  std::vector<SettingValue> values;   // in the order they are sent
  std::vector<std::string> refusals;  // one line each, naming the setting; empty when all fit
};

// Reads NAME=VALUE words: the name, the value's syntax and range, and the satellite-system
// combination the receiver refuses. Each setting may be given once.
[[nodiscard]] ParsedSettings parseSettings(const std::vector<std::string>& assignments);

// What this firmware cannot take, one line per setting, naming it.
[[nodiscard]] std::vector<std::string> firmwareRefusals(
    const std::vector<SettingValue>& values, protocol::FirmwareVersion firmware,
    const protocol::FirmwareCapabilities& capabilities);

// One report to send, and whether the device gets a pause after it.
struct PlannedSend {
  SettingValue value;
  bool pauseAfter = true;
};

// The values in their order, with a pause between any two.
[[nodiscard]] std::vector<PlannedSend> setPlan(const std::vector<SettingValue>& values);

// The window's factory reset as reports: outputs on when the device says they are off, then
// low power off (firmware 1.03 on), both outputs at 10 MHz, FLL, 1PPS and NMEA off (NMEA from
// firmware 1.08 on), and the satellite systems GPS, SBAS, Galileo and GLONASS with the
// stationary model (firmware 1.07 on), paused as the window pauses them.
[[nodiscard]] std::vector<PlannedSend> factoryResetPlan(
    const protocol::FirmwareCapabilities& capabilities, std::optional<bool> outputsEnabled);

// The name a setting is given by: "out1-low-power".
[[nodiscard]] const char* settingName(SettingId id);

// One line saying what was sent: "out1=10000000.1 (exactly 10000000.10000000009313225746154785
// 15625 Hz)", "gnss=gps,sbas", "fll=off".
[[nodiscard]] std::string describeSent(const SettingValue& value);

// The satellite systems by the names `gnss=` takes, in the order of the window's boxes.
[[nodiscard]] std::vector<std::string> gnssNameList(const protocol::SatelliteSystems& systems);
// The same comma-separated; "none" without any.
[[nodiscard]] std::string gnssNames(const protocol::SatelliteSystems& systems);

// "stationary", "portable", "airborne"; nothing for another model number.
[[nodiscard]] const char* dynamicModelName(std::uint8_t model);

}  // namespace qvr::ctl
