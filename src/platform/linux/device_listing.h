#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "protocol/report_descriptor.h"

namespace qvr::platform::hidraw {

// What `--list-devices` found out about one device of the right identity, without the window.
struct ListedDevice {
  std::string path;
  std::optional<std::string> serial;  // UTF-8; empty when the device reports none
  std::uint16_t versionNumber = 0;
  int openError = 0;  // errno of opening the node for reading and writing; 0 when it opened
  // The report lengths, or why the report descriptor gave none (only known once opened).
  protocol::DescriptorParse descriptor;
  bool descriptorRead = false;
};

// One line per device, then a hint when a device was refused for lack of permission, then a
// line for each USB device of the right identity that the kernel gave no hidraw node (see
// usbDevicesWithoutHidraw). Says so when there is no device at all.
[[nodiscard]] std::string formatDeviceList(const std::vector<ListedDevice>& devices,
                                           const std::vector<std::string>& refusedUsbDevices);
[[nodiscard]] std::string formatDeviceList(const std::vector<ListedDevice>& devices);

}  // namespace qvr::platform::hidraw
