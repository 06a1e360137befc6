#include "platform/linux/usb_sysfs.h"

#include <algorithm>
#include <fstream>
#include <system_error>

#include "protocol/usb_identity.h"

namespace qvr::platform::hidraw {
namespace {

namespace fs = std::filesystem;

// The first line of a sysfs attribute, or nothing when it cannot be read.
std::string attribute(const fs::path& file) {
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);
  return line;
}

// Whether any interface of the device (a child named "NAME:CONFIG.INTERFACE") has a HID child
// with a hidraw node: INTERFACE/HID-DEVICE/hidraw/hidrawN.
bool hasHidrawNode(const fs::path& device, const std::string& name) {
  std::error_code error;
  for (const fs::directory_entry& interface : fs::directory_iterator(device, error)) {
    if (!interface.path().filename().string().starts_with(name + ":")) {
      continue;
    }
    std::error_code childError;
    for (const fs::directory_entry& child : fs::directory_iterator(interface.path(), childError)) {
      std::error_code nodeError;
      for (const fs::directory_entry& node :
           fs::directory_iterator(child.path() / "hidraw", nodeError)) {
        if (node.path().filename().string().starts_with("hidraw")) {
          return true;
        }
      }
    }
  }
  return false;
}

}  // namespace

std::vector<std::string> usbDevicesWithoutHidraw(const fs::path& sysfsRoot) {
  std::vector<std::string> names;
  std::error_code error;
  for (const fs::directory_entry& entry :
       fs::directory_iterator(sysfsRoot / "bus" / "usb" / "devices", error)) {
    const fs::path& device = entry.path();
    // Interfaces have no idVendor, so only devices match.
    if (attribute(device / "idVendor") != protocol::kVendorIdText ||
        attribute(device / "idProduct") != protocol::kProductIdText) {
      continue;
    }
    const std::string name = device.filename().string();
    if (!hasHidrawNode(device, name)) {
      names.push_back(name);
    }
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string refusedUsbDeviceText(const std::string& name) {
  return "USB device " + name + " (" + std::string(protocol::kVendorIdText) + ":" +
         std::string(protocol::kProductIdText) +
         ") is attached but has no hidraw node: the kernel refused it; see `dmesg` or "
         "`journalctl -k`\n";
}

}  // namespace qvr::platform::hidraw
