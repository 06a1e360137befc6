#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "device/lock_tracker.h"
#include "device/receiver.h"
#include "device/session.h"
#include "protocol/config_report.h"
#include "protocol/frequency.h"
#include "status/json_writer.h"

namespace qvr::status {

// Who the device is, as the status shows it.
struct DeviceView {
  std::string serial;
  std::optional<std::string> product;       // device string; nothing when unreadable
  std::optional<std::string> manufacturer;  // device string; nothing when unreadable
  std::string firmware;                     // "1.08"
  std::string path;
};

// One output's frequency as the device reports it.
struct FrequencyView {
  protocol::ReportedHz word;
  std::string shown;  // as the window's box shows it: 15 significant digits
};

// The settings as far as this firmware reports them; nothing for a setting it does not.
struct SettingsView {
  std::optional<bool> outputs;
  std::optional<FrequencyView> out1;
  std::optional<FrequencyView> out2;
  std::optional<bool> out1LowPower;
  std::optional<bool> out2LowPower;
  std::optional<bool> fll;
  std::optional<bool> pps;
  std::optional<bool> nmea;
  std::optional<std::uint8_t> gnssSelection;
  std::optional<std::uint8_t> dynamicModel;
};

struct StatusView {
  DeviceView device;
  SettingsView settings;
  device::ReceiverState receiver;
  // Lock and holdover as far as they were followed; nothing while the device does not answer.
  std::optional<device::LockFigures> lock;
};

// Who the device is, from what its start-up read.
[[nodiscard]] DeviceView deviceView(const device::Identity& identity);

// The settings of a configuration report as the status shows them.
[[nodiscard]] SettingsView settingsView(const protocol::Configuration& configuration);

// The receiver messages a status waits for, by name, that `receiver` has not heard.
[[nodiscard]] std::vector<std::string> missingMessages(const device::ReceiverState& receiver);

// "2024-05-01T12:34:56Z"; nothing while the receiver's time is not valid.
[[nodiscard]] std::optional<std::string> utcText(const device::ReceiverState& receiver);

// The status as rows of a label and its value, every line of statusText but the satellites'.
struct StatusRow {
  std::string label;
  std::string value;
};
[[nodiscard]] std::vector<StatusRow> statusRows(const StatusView& status);

// The whole status for people: one "Name  value" line each, then a line per satellite.
[[nodiscard]] std::string statusText(const StatusView& status);
// The members of the status's JSON object, for a caller that writes more of its own beside them.
void statusMembers(JsonWriter& json, const StatusView& status,
                   const std::vector<std::string>& missing);
// The whole status as one JSON object, indented, with a final line break.
[[nodiscard]] std::string statusJson(const StatusView& status,
                                     const std::vector<std::string>& missing);

// One line of --watch: the receiver's state now.
[[nodiscard]] std::string watchLine(const device::ReceiverState& receiver);
// One line of --watch --json: the receiver object of statusJson on one line.
[[nodiscard]] std::string watchJson(const std::string& serial,
                                    const device::ReceiverState& receiver);

// The name of a satellite system by the receiver's gnssId: "GPS", "GLONASS"; "gnss-N" for a
// number without one.
[[nodiscard]] std::string systemName(std::uint8_t gnssId);

}  // namespace qvr::status
