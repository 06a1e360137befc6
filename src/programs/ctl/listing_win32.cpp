// The attached devices as the Windows HID calls see them, interface by interface.
#include "platform/win32/device_list.h"
#include "platform/win32/win32_hid.h"
#include "programs/ctl/listing.h"
#include "protocol/firmware.h"
#include "protocol/report_lengths.h"

namespace qvr::ctl {

Listing attachedDevices() {
  namespace win32 = platform::win32;
  win32::Win32Hid hid;
  const std::vector<win32::ListedDevice> found = win32::findDevices(hid);
  Listing listing{.text = win32::formatDeviceList(found)};
  for (const win32::ListedDevice& d : found) {
    AttachedDevice device{
        .path = d.path,
        .serial = d.serial,
        .serialBytes = TextBytes::Latin1,  // the low byte of each UTF-16 code unit
        .firmware = protocol::FirmwareVersion::fromVersionNumber(d.versionNumber).text()};
    if (d.caps) {
      device.inputReportBytes = d.caps->inputReportByteLength;
      device.featureReportBytes = d.caps->featureReportByteLength;
      if (const auto problem = protocol::reportLengthsProblem(d.caps->inputReportByteLength,
                                                              d.caps->featureReportByteLength)) {
        device.problem = "it cannot be used: " + *problem;
      }
    } else {
      device.problem = "its report lengths cannot be read";
    }
    listing.devices.push_back(std::move(device));
  }
  return listing;
}

}  // namespace qvr::ctl
