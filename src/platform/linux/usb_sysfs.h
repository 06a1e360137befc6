#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace qvr::platform::hidraw {

// USB devices with the QVR-7130's vendor and product ID that have no hidraw node under any of
// their interfaces, by their sysfs names ("1-1", "3-2.4"), sorted. The kernel refuses a device
// this way when it cannot make sense of its report descriptor; hidapi then never sees it.
// `sysfsRoot` is "/sys" except in tests, which build a tree of their own.
[[nodiscard]] std::vector<std::string> usbDevicesWithoutHidraw(
    const std::filesystem::path& sysfsRoot);

// The line `--list-devices` prints for such a device, with its line break.
[[nodiscard]] std::string refusedUsbDeviceText(const std::string& name);

}  // namespace qvr::platform::hidraw
