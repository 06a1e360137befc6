#include "platform/win32/device_list.h"

#include <vector>

#include "protocol/device_strings.h"
#include "protocol/firmware.h"
#include "protocol/usb_identity.h"

namespace qvr::platform::win32 {
namespace {

std::string describe(Hid& hid, HidHandle handle, const std::string& path,
                     const HidAttributes& attributes) {
  std::string line = path + ": serial ";
  DeviceStringBuffer serial{};
  line += hid.serialNumber(handle, serial) ? "'" + protocol::deviceStringText(serial) + "'"
                                           : std::string("unreadable");
  line +=
      ", firmware " + protocol::FirmwareVersion::fromVersionNumber(attributes.versionNumber).text();
  HidCaps caps;
  if (hid.capabilities(handle, caps)) {
    line += ", input reports " + std::to_string(caps.inputReportByteLength) +
            " bytes, feature reports " + std::to_string(caps.featureReportByteLength) + " bytes";
  } else {
    line += ", report lengths unreadable";
  }
  return line + "\n";
}

}  // namespace

std::string listDevices(Hid& hid) {
  std::string text;
  for (const std::string& path : hid.presentInterfaces()) {
    const HidHandle handle = hid.open(path, OpenMode::Device);
    // Keyboards and mice, which the system keeps to itself, do not open: they are not ours.
    if (handle == kInvalidHandle) {
      continue;
    }
    HidAttributes attributes;
    if (hid.attributes(handle, attributes) && attributes.vendorId == protocol::kVendorId &&
        attributes.productId == protocol::kProductId) {
      text += describe(hid, handle, path, attributes);
    }
    hid.close(handle);
  }
  if (text.empty()) {
    text = protocol::noDeviceFoundText();
  }
  return text;
}

}  // namespace qvr::platform::win32
