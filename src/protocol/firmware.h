#pragma once

#include <cstdint>
#include <string>

namespace qvr::protocol {

// The firmware version is the device's USB release number: major in the high byte, minor in
// the low byte. Conditions are always tested on the two numbers, never on the text.
struct FirmwareVersion {
  std::uint16_t major = 0;
  std::uint16_t minor = 0;

  [[nodiscard]] static FirmwareVersion fromVersionNumber(std::uint16_t versionNumber);

  // Major in decimal, ".", minor in upper-case hexadecimal with at least two digits: 1.08,
  // 1.10, 1.1A.
  [[nodiscard]] std::string text() const;

  // This version is `other` or a later one.
  [[nodiscard]] bool reaches(FirmwareVersion other) const {
    return major != other.major ? major > other.major : minor >= other.minor;
  }

  friend bool operator==(const FirmwareVersion&, const FirmwareVersion&) = default;
};

// What a firmware version can do, computed once when a device is opened and read at every
// gate. The fields are not all "from 1.0N on": the window has always told some of them apart
// by other tests (low power is usable on every firmware but 1.00 to 1.02, yet only sent from
// 1.03 on, so a 0.x firmware shows the boxes and never hears of them), and those differences
// are kept on purpose, each in its own field.
struct FirmwareCapabilities {
  bool refused = false;       // a major version this program does not know: told, never configured
  bool slowMessages = false;  // 1.00 to 1.02 cannot keep up with the normal rate
  bool lowPowerCommands = false;        // 1.03 on: the low-power settings exist and are read back
  bool lowPowerControls = true;         // usable everywhere but on 1.00 to 1.02
  bool receiverSettings = false;        // 1.07 on: satellite systems and dynamic model
  bool receiverSettingsLocked = false;  // 1.00 to 1.06: those settings are locked and cleared
  bool nmeaSetting = false;             // 1.08 on: NMEA on OUT1, read back and settable
  bool antennaCurrent = false;          // 1.08 on: reported in the configuration

  // The receiver's periodic messages are asked for at this rate (one per this many fixes).
  [[nodiscard]] std::uint8_t messageRate() const {
    return slowMessages ? kSlowMessageRate : kNormalMessageRate;
  }

  static constexpr std::uint8_t kSlowMessageRate = 1;
  static constexpr std::uint8_t kNormalMessageRate = 10;

  friend bool operator==(const FirmwareCapabilities&, const FirmwareCapabilities&) = default;
};

// The capabilities of one version: the last row of the firmware table whose first version it
// reaches.
[[nodiscard]] FirmwareCapabilities capabilitiesOf(FirmwareVersion version);

}  // namespace qvr::protocol
