#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
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

// A HID device's strings as the kernel holds them: UTF-8, byte for byte (for a USB device the
// kernel's own conversion of the device's UTF-16), so nothing depends on the C library's locale.
// Nothing for a string the device does not have.
struct KernelDeviceStrings {
  std::optional<std::string> serial;
  std::optional<std::string> manufacturer;
  std::optional<std::string> product;
  std::string problem;  // why none could be read; empty when the device's folder was there
};

// The sysfs folder of the hidraw node at `nodePath` (SYSFS/dev/char/MAJOR:MINOR), found by its
// device number, so a node that udev named or linked differently is still found. Nothing when
// the path is no character device; errno then says why.
[[nodiscard]] std::optional<std::filesystem::path> hidrawNodeFolder(
    const std::filesystem::path& sysfsRoot, const std::string& nodePath);

// The strings of the HID device behind a hidraw node, from the node's sysfs folder. A USB
// device's come from the USB device's own attributes, which hold each string whole. A HID
// device on another transport (UHID, Bluetooth, I2C) has a serial number and a name only in
// its uevent record, as HID_UNIQ and HID_NAME, and no manufacturer.
[[nodiscard]] KernelDeviceStrings hidrawDeviceStrings(const std::filesystem::path& nodeFolder);

// The value of `key` in a HID device's uevent record. The kernel writes each value as it is,
// without escaping, so a value may hold line breaks of its own: it runs up to the next line
// that starts with `nextKey`, the key the kernel always writes after it (or, without one, to
// the end of its line). Nothing when the record has no such key.
[[nodiscard]] std::optional<std::string> ueventValue(std::string_view record, std::string_view key,
                                                     std::string_view nextKey);

}  // namespace qvr::platform::hidraw
