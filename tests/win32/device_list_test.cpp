// What `qvr7130.exe --list-devices` prints, over simulated devices.

#include "platform/win32/device_list.h"

#include <gtest/gtest.h>

#include "platform/sim/sim_hid.h"

namespace qvr::platform::win32 {
namespace {

using sim::DeviceProfile;

DeviceProfile device(std::u16string serial) {
  DeviceProfile profile;
  profile.serial = std::move(serial);
  profile.receiver = false;
  return profile;
}

TEST(DeviceList, ListsOnlyTheRightIdentityWithSerialFirmwareAndLengths) {
  struct Case {
    const char* name;
    std::vector<DeviceProfile> devices;
    std::string expected;
  };
  DeviceProfile otherProduct = device(u"QVR000009");
  otherProduct.productId = 0x5C18;
  DeviceProfile otherVendor = device(u"QVR000008");
  otherVendor.vendorId = 0x3A82;
  DeviceProfile mute = device(u"QVR000002");
  mute.unreadableSerial = true;
  DeviceProfile closed = device(u"QVR000003");
  closed.unopenable = true;
  DeviceProfile newer = device(u"QVR\u00C4\u0141");  // the low bytes: C4 and 41
  newer.versionNumber = 0x011A;
  newer.inputLength = 65;
  newer.featureLength = 33;

  const Case cases[] = {
      {"nothing attached", {}, "No QVR-7130 found (USB vendor 3a81, product 5c17).\n"},
      {"only other devices",
       {otherProduct, otherVendor},
       "No QVR-7130 found (USB vendor 3a81, product 5c17).\n"},
      {"one among others",
       {otherProduct, device(u"QVR000001"), otherVendor},
       "sim-hid:1: serial 'QVR000001', firmware 1.08, input reports 64 bytes, feature reports 40 "
       "bytes\n"},
      // Each low byte is the character of that number, written in UTF-8 as every listing is.
      {"serial unreadable, one that does not open, strings by their low bytes",
       {mute, closed, newer},
       "sim-hid:0: serial unreadable, firmware 1.08, input reports 64 bytes, feature reports 40 "
       "bytes\n"
       "sim-hid:2: serial 'QVR\xC3\x84"
       "A', firmware 1.1A, input reports 65 bytes, feature reports 33 "
       "bytes\n"},
  };
  for (const Case& c : cases) {
    sim::SimHid hid;
    for (const DeviceProfile& profile : c.devices) {
      hid.attach(profile);
    }
    EXPECT_EQ(listDevices(hid), c.expected) << c.name;
    EXPECT_EQ(hid.openHandles(), 0) << c.name;
  }
}

TEST(DeviceList, SaysWhyADeviceWhoseReportsCannotCarryTheProtocolIsOfNoUse) {
  DeviceProfile shortInput = device(u"QVR000001");
  shortInput.inputLength = 2;
  DeviceProfile noFeature = device(u"QVR000002");
  noFeature.featureLength = 0;
  sim::SimHid hid;
  hid.attach(shortInput);
  hid.attach(noFeature);
  EXPECT_EQ(listDevices(hid),
            "sim-hid:0: serial 'QVR000001', firmware 1.08, input reports 2 bytes, feature reports "
            "40 bytes, cannot be used: input reports of 2 bytes carry no receiver data\n"
            "sim-hid:1: serial 'QVR000002', firmware 1.08, input reports 64 bytes, feature reports "
            "0 bytes, cannot be used: no feature reports\n");
}

}  // namespace
}  // namespace qvr::platform::win32
