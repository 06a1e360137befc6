#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/hid.h"

namespace qvr::platform::win32 {

// One present interface with the QVR-7130's identity, as far as it could be asked.
struct ListedDevice {
  std::string path;
  std::optional<std::string> serial;  // by the low-byte rule; nothing when unreadable
  std::uint16_t versionNumber = 0;
  std::optional<HidCaps> caps;  // nothing when the report lengths could not be read
};

// The present interfaces with the QVR-7130's identity, in enumeration order. Interfaces that do
// not open (keyboards and mice, which the system keeps to itself) are not ours and are skipped.
[[nodiscard]] std::vector<ListedDevice> findDevices(Hid& hid);

// One line per device with its path, serial number, firmware and report lengths, or a line that
// says there is none.
[[nodiscard]] std::string formatDeviceList(const std::vector<ListedDevice>& devices);

// What `--list-devices` prints: the devices found, formatted.
[[nodiscard]] std::string listDevices(Hid& hid);

}  // namespace qvr::platform::win32
