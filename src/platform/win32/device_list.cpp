#include "platform/win32/device_list.h"

#include "protocol/device_strings.h"
#include "protocol/firmware.h"

namespace qvr::platform::win32 {
namespace {

constexpr std::uint16_t kVendorId = 0x3A81;
constexpr std::uint16_t kProductId = 0x5C17;

}  // namespace

std::vector<ListedDevice> findDevices(Hid& hid) {
  std::vector<ListedDevice> devices;
  for (const std::string& path : hid.presentInterfaces()) {
    const HidHandle handle = hid.open(path, OpenMode::Device);
    if (handle == kInvalidHandle) {
      continue;
    }
    HidAttributes attributes;
    if (hid.attributes(handle, attributes) && attributes.vendorId == kVendorId &&
        attributes.productId == kProductId) {
      ListedDevice device{.path = path, .versionNumber = attributes.versionNumber};
      DeviceStringBuffer serial{};
      if (hid.serialNumber(handle, serial)) {
        device.serial = protocol::deviceStringText(serial);
      }
      HidCaps caps;
      if (hid.capabilities(handle, caps)) {
        device.caps = caps;
      }
      devices.push_back(std::move(device));
    }
    hid.close(handle);
  }
  return devices;
}

std::string formatDeviceList(const std::vector<ListedDevice>& devices) {
  if (devices.empty()) {
    return "No QVR-7130 found (USB vendor 3a81, product 5c17).\n";
  }
  std::string text;
  for (const ListedDevice& device : devices) {
    text += device.path + ": serial " + (device.serial ? "'" + *device.serial + "'" : "unreadable");
    text +=
        ", firmware " + protocol::FirmwareVersion::fromVersionNumber(device.versionNumber).text();
    if (device.caps) {
      text += ", input reports " + std::to_string(device.caps->inputReportByteLength) +
              " bytes, feature reports " + std::to_string(device.caps->featureReportByteLength) +
              " bytes";
    } else {
      text += ", report lengths unreadable";
    }
    text += "\n";
  }
  return text;
}

std::string listDevices(Hid& hid) {
  return formatDeviceList(findDevices(hid));
}

}  // namespace qvr::platform::win32
