#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/commands.h"
#include "protocol/firmware.h"
#include "protocol/frequency.h"

namespace qvr::device {

// The device's settings, in the order a list of changes is applied (and the command line
// documents it).
enum class SettingId : std::uint8_t {
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
inline constexpr std::size_t kSettingCount = 10;

// How a setting's value is written and read.
enum class ValueKind : std::uint8_t { Switch, Frequency, Systems, Model };

// One value of one setting.
struct SettingValue {
  SettingId id = SettingId::Outputs;
  bool on = false;                     // switches
  std::string text;                    // the value as given (frequencies: as typed)
  protocol::FixedPointHz frequency;    // frequencies: what the device is sent
  protocol::SatelliteSystems systems;  // gnss
  std::uint8_t model = 0;              // dynamic-model: the receiver's platform model number
};

// One row per setting: everything that differs between settings, so that a new setting is one
// more row here and its handler in the settings model. What the device reports of a setting is
// read by the configuration report's decoder and shown by the model's start-up.
struct SettingRow {
  SettingId id;
  const char* name;  // as the command line and the JSON spell it
  ValueKind kind;
  protocol::Command command;
  // Whether this firmware takes the command. Firmware without it is never sent the command,
  // whatever its controls show.
  bool (*takenBy)(const protocol::FirmwareCapabilities& can);
  const char* what;           // for a refusal: "firmware 1.02 has no low-power setting"
  const char* firstFirmware;  // the first firmware that has it, for the same sentence
  const char* factoryValue;   // the value the factory reset gives, as `name=` takes it
  // The data bytes of the setting's command (from byte 2).
  std::vector<std::uint8_t> (*encode)(const SettingValue& value);
};

[[nodiscard]] std::span<const SettingRow> settingTable();
[[nodiscard]] const SettingRow& settingRow(SettingId id);

// "firmware 1.02 has no low-power setting (firmware 1.03 on has)", or nothing when this
// firmware takes the setting's command.
[[nodiscard]] std::optional<std::string> firmwareRefusal(SettingId id,
                                                         const protocol::FirmwareCapabilities& can,
                                                         const std::string& firmwareText);

// Reads one value as `name=` takes it; the reason it is refused otherwise. Frequencies take
// '.' as the point whatever the locale, so a script means the same number on every computer.
struct ReadValue {
  std::optional<SettingValue> value;
  std::string refusal;
};
[[nodiscard]] ReadValue readSettingValue(SettingId id, std::string_view text);

struct ParsedSettings {
  std::vector<SettingValue> values;   // in the table's order
  std::vector<std::string> refusals;  // one line each, naming the setting; empty when all fit
};
// Reads NAME=VALUE words: the name, the value's syntax and range, and the combinations no
// device takes. Each setting may be given once.
[[nodiscard]] ParsedSettings parseSettings(const std::vector<std::string>& assignments);

// The value the factory reset gives.
[[nodiscard]] SettingValue factoryValue(SettingId id);

// One line saying what was sent: "out1=10000000.1 (exactly 10000000.10000000009313225746154785
// 15625 Hz)", "gnss=gps,sbas", "fll=off".
[[nodiscard]] std::string describeSent(const SettingValue& value);

// The satellite systems by the names `gnss=` takes, in the order of the window's boxes.
[[nodiscard]] std::vector<std::string> gnssNameList(const protocol::SatelliteSystems& systems);
// The same comma-separated; "none" without any.
[[nodiscard]] std::string gnssNames(const protocol::SatelliteSystems& systems);

// "stationary", "portable", "airborne"; nothing for another model number.
[[nodiscard]] const char* dynamicModelName(std::uint8_t model);

}  // namespace qvr::device
