#include "platform/linux/device_listing.h"

#include <cerrno>
#include <system_error>

#include "platform/linux/usb_sysfs.h"
#include "protocol/firmware.h"
#include "protocol/printable_text.h"
#include "protocol/report_lengths.h"
#include "protocol/usb_identity.h"

namespace qvr::platform::hidraw {

std::string formatDeviceList(const std::vector<ListedDevice>& devices) {
  return formatDeviceList(devices, {});
}

std::string formatDeviceList(const std::vector<ListedDevice>& devices,
                             const std::vector<std::string>& refusedUsbDevices) {
  if (devices.empty() && refusedUsbDevices.empty()) {
    return protocol::noDeviceFoundText();
  }
  std::string text;
  bool refused = false;
  for (const ListedDevice& device : devices) {
    // Printed on a terminal: what the device calls itself is shown, never obeyed.
    text += protocol::printableText(device.path) + ": serial " +
            (device.serial ? "'" + protocol::printableText(*device.serial) + "'" : "unreadable");
    text +=
        ", firmware " + protocol::FirmwareVersion::fromVersionNumber(device.versionNumber).text();
    if (device.openError != 0) {
      text += ", cannot be opened: " + std::generic_category().message(device.openError);
      refused = refused || device.openError == EACCES || device.openError == EPERM;
    } else if (!device.descriptorRead) {
      text += ", opens, but its report descriptor cannot be read";
    } else if (!device.descriptor.ok()) {
      text += ", opens, but its report descriptor is malformed (" +
              std::string(protocol::describe(device.descriptor.error)) + " at byte " +
              std::to_string(device.descriptor.errorOffset) + ")";
    } else if (const auto problem = protocol::reportLengthsProblem(
                   device.descriptor.lengths.input, device.descriptor.lengths.feature)) {
      text += ", opens, but cannot be used: " + *problem;
    } else {
      text += ", opens (input reports " + std::to_string(device.descriptor.lengths.input) +
              " bytes, feature reports " + std::to_string(device.descriptor.lengths.feature) +
              " bytes)";
    }
    text += "\n";
  }
  if (refused) {
    text +=
        "The device node is not yours to open: install the udev rule 70-qvr7130.rules (see the "
        "README) and plug the device in again.\n";
  }
  for (const std::string& name : refusedUsbDevices) {
    text += refusedUsbDeviceText(name);
  }
  return text;
}

}  // namespace qvr::platform::hidraw
