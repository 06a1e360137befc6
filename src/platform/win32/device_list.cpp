#include "platform/win32/device_list.h"

#include "protocol/device_strings.h"
#include "protocol/firmware.h"
#include "protocol/printable_text.h"
#include "protocol/report_lengths.h"
#include "protocol/usb_identity.h"

namespace qvr::platform::win32 {

std::vector<ListedDevice> findDevices(Hid& hid) {
  std::vector<ListedDevice> devices;
  std::vector<std::string> paths;
  // A listing that failed lists nothing, as the system's own tools do.
  (void)hid.presentInterfaces(paths);
  for (const std::string& path : paths) {
    const HidHandle handle = hid.open(path, OpenMode::Device);
    if (handle == kInvalidHandle) {
      continue;
    }
    HidAttributes attributes;
    if (hid.attributes(handle, attributes) && attributes.vendorId == protocol::kVendorId &&
        attributes.productId == protocol::kProductId) {
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
    return protocol::noDeviceFoundText();
  }
  std::string text;
  for (const ListedDevice& device : devices) {
    // Printed on a console: what the device calls itself is shown, never obeyed.
    text += protocol::printableText(device.path) + ": serial " +
            (device.serial
                 ? "'" + protocol::printableText(*device.serial, protocol::TextBytes::Latin1) + "'"
                 : "unreadable");
    text +=
        ", firmware " + protocol::FirmwareVersion::fromVersionNumber(device.versionNumber).text();
    if (device.caps) {
      text += ", input reports " + std::to_string(device.caps->inputReportByteLength) +
              " bytes, feature reports " + std::to_string(device.caps->featureReportByteLength) +
              " bytes";
      if (const auto problem = protocol::reportLengthsProblem(
              device.caps->inputReportByteLength, device.caps->featureReportByteLength)) {
        text += ", cannot be used: " + *problem;
      }
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
