#include "protocol/firmware.h"

#include <cstdio>
#include <iterator>

namespace qvr::protocol {
namespace {

struct FirmwareRow {
  FirmwareVersion from;
  FirmwareCapabilities capabilities;
};

// Every firmware generation the device has had, oldest first. A new firmware that changes what
// the device can do is one more row here and nothing else.
constexpr FirmwareRow kFirmwareTable[] = {
    // Pre-release 0.x firmware: none of the "from 1.0N on" settings.
    {{0, 0}, {}},
    {{1, 0}, {.slowMessages = true, .lowPowerControls = false, .receiverSettingsLocked = true}},
    {{1, 3}, {.lowPowerCommands = true, .receiverSettingsLocked = true}},
    {{1, 7}, {.lowPowerCommands = true, .receiverSettings = true}},
    {{1, 8},
     {.lowPowerCommands = true,
      .receiverSettings = true,
      .nmeaSetting = true,
      .antennaCurrent = true}},
    // A later major version speaks a protocol this program does not know.
    {{2, 0}, {.refused = true}},
};

}  // namespace

FirmwareVersion FirmwareVersion::fromVersionNumber(std::uint16_t versionNumber) {
  return FirmwareVersion{static_cast<std::uint16_t>(versionNumber >> 8),
                         static_cast<std::uint16_t>(versionNumber & 0xFF)};
}

std::string FirmwareVersion::text() const {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%u.%02X", static_cast<unsigned>(major),
                static_cast<unsigned>(minor));
  return buffer;
}

FirmwareCapabilities capabilitiesOf(FirmwareVersion version) {
  FirmwareCapabilities found = std::begin(kFirmwareTable)->capabilities;
  for (const FirmwareRow& row : kFirmwareTable) {
    if (version.reaches(row.from)) {
      found = row.capabilities;
    }
  }
  return found;
}

}  // namespace qvr::protocol
