#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "device/settings_table.h"
#include "protocol/commands.h"
#include "protocol/firmware.h"
#include "protocol/frequency.h"

namespace qvr::ctl {

using device::SettingId;
using device::SettingValue;

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

}  // namespace qvr::ctl
