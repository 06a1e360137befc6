// The attached devices as the hidraw backend sees them, node by node.
#include <system_error>

#include "platform/linux/device_listing.h"
#include "platform/linux/linux_hid.h"
#include "platform/linux/usb_sysfs.h"
#include "programs/ctl/listing.h"
#include "protocol/firmware.h"
#include "protocol/report_lengths.h"

namespace qvr::ctl {

Listing attachedDevices() {
  namespace hidraw = platform::hidraw;
  const std::vector<hidraw::ListedDevice> found = hidraw::listDevices();
  const std::vector<std::string> refused = hidraw::usbDevicesWithoutHidraw("/sys");
  Listing listing{.text = hidraw::formatDeviceList(found, refused)};
  for (const hidraw::ListedDevice& d : found) {
    AttachedDevice device{
        .path = d.path,
        .serial = d.serial,
        .serialBytes = TextBytes::Utf8,  // as the kernel keeps it
        .firmware = protocol::FirmwareVersion::fromVersionNumber(d.versionNumber).text()};
    if (d.openError != 0) {
      device.openError = std::generic_category().message(d.openError);
    } else if (!d.descriptorRead) {
      device.problem = "its report descriptor cannot be read";
    } else if (!d.descriptor.ok()) {
      device.problem = "its report descriptor is malformed (" +
                       std::string(protocol::describe(d.descriptor.error)) + " at byte " +
                       std::to_string(d.descriptor.errorOffset) + ")";
    } else {
      device.inputReportBytes = d.descriptor.lengths.input;
      device.featureReportBytes = d.descriptor.lengths.feature;
      if (const auto problem = protocol::reportLengthsProblem(d.descriptor.lengths.input,
                                                              d.descriptor.lengths.feature)) {
        device.problem = "it cannot be used: " + *problem;
      }
    }
    listing.devices.push_back(std::move(device));
  }
  for (const std::string& name : refused) {
    listing.devices.push_back(AttachedDevice{
        .path = "usb:" + name,
        .openError = "no hidraw node: the kernel refused the device (see dmesg or journalctl -k)"});
  }
  return listing;
}

}  // namespace qvr::ctl
