// The HID backend against the system's own HID stack; on a build machine that is wine's, with
// two devices of its own. Nothing here reads from a device: whatever it is, it owes us no
// report.

#include "platform/win32/win32_hid.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <functional>
#include <string>

#include "device/device_link.h"

namespace qvr::platform::win32 {
namespace {

// What the bus lists now; listing never fails here.
std::vector<std::string> listed(Hid& hid) {
  std::vector<std::string> paths;
  EXPECT_TRUE(hid.presentInterfaces(paths));
  return paths;
}

TEST(Win32Hid, ListsInterfacePathsThatOpenAndAnswerTheirIdentity) {
  Win32Hid hid;
  for (const std::string& path : listed(hid)) {
    // Device interface paths are in the \\?\ namespace; anything else means the detail record
    // was read from the wrong offset.
    EXPECT_EQ(path.rfind("\\\\?\\", 0), 0u) << path;
    const HidHandle handle = hid.open(path, OpenMode::Device);
    if (handle == kInvalidHandle) {
      continue;  // a keyboard or mouse the system keeps to itself
    }
    HidAttributes attributes;
    EXPECT_TRUE(hid.attributes(handle, attributes)) << path;
    EXPECT_NE(attributes.vendorId, 0) << path;
    HidCaps caps;
    EXPECT_TRUE(hid.capabilities(handle, caps)) << path;
    EXPECT_GT(caps.inputReportByteLength + caps.featureReportByteLength, 0) << path;
    EXPECT_TRUE(hid.close(handle)) << path;
  }
  EXPECT_EQ(hid.openHandles(), 0u);
}

TEST(Win32Hid, AReadOfASilentDeviceEndsAfterItsWaitWithNothing) {
  Win32Hid hid;
  int tried = 0;
  for (const std::string& path : listed(hid)) {
    const HidHandle handle = hid.open(path, OpenMode::Device);
    HidCaps caps;
    if (handle == kInvalidHandle || !hid.capabilities(handle, caps) ||
        caps.inputReportByteLength == 0) {
      hid.close(handle);
      continue;
    }
    // Nobody touches this display's mouse or keyboard: the device has nothing to say, and the
    // read must come back when its wait is over, successful and empty.
    std::vector<std::uint8_t> buffer(13000, 0xEE);
    std::size_t bytesRead = 99;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(hid.read(handle, buffer, bytesRead, std::chrono::milliseconds(30))) << path;
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(bytesRead, 0u) << path;
    EXPECT_GE(took, std::chrono::milliseconds(25)) << path;
    EXPECT_LT(took, std::chrono::milliseconds(1000)) << path;
    EXPECT_TRUE(hid.close(handle)) << path;
    ++tried;
  }
  if (tried == 0) {
    GTEST_SKIP() << "no HID device here that has input reports and opens";
  }
}

TEST(Win32Hid, EveryCallOnAHandleThatIsNotOpenFails) {
  Win32Hid hid;
  EXPECT_EQ(hid.open("\\\\?\\hid#no_such_device#0#{4d1e55b2-f16f-11cf-88cb-001111000030}",
                     OpenMode::Device),
            kInvalidHandle);
  for (const HidHandle handle : {kInvalidHandle, HidHandle{0}, HidHandle{12345}}) {
    HidAttributes attributes;
    HidCaps caps;
    DeviceStringBuffer text{};
    std::vector<std::uint8_t> report(40, 0);
    std::size_t bytesRead = 99;
    EXPECT_FALSE(hid.attributes(handle, attributes));
    EXPECT_FALSE(hid.capabilities(handle, caps));
    EXPECT_FALSE(hid.serialNumber(handle, text));
    EXPECT_FALSE(hid.manufacturer(handle, text));
    EXPECT_FALSE(hid.product(handle, text));
    EXPECT_FALSE(hid.getFeature(handle, report));
    EXPECT_FALSE(hid.setFeature(handle, report));
    EXPECT_FALSE(hid.read(handle, report, bytesRead, std::chrono::milliseconds(0)));
    EXPECT_EQ(bytesRead, 0u);
    EXPECT_FALSE(hid.close(handle));
  }
}

TEST(Win32Hid, SystemMessagesAreOneLineWithoutTheirPeriod) {
  for (const DWORD code :
       {ERROR_FILE_NOT_FOUND, ERROR_INVALID_HANDLE, ERROR_DEVICE_NOT_CONNECTED}) {
    const std::string text = systemErrorText(code);
    ASSERT_FALSE(text.empty()) << code;
    EXPECT_NE(text.rfind("error ", 0), 0u) << text;
    EXPECT_EQ(text.find_first_of("\r\n"), std::string::npos) << text;
    EXPECT_NE(text.back(), '.') << text;
  }
  // An application's own code: the system has no text for it.
  EXPECT_EQ(systemErrorText(0x2000FFFF), "error 536936447");
}

TEST(Win32Hid, EveryFailedCallLeavesTheSystemsReason) {
  Win32Hid hid;
  EXPECT_EQ(hid.lastErrorText(), "");
  const std::string missing = "\\\\?\\hid#no_such_device#0#{4d1e55b2-f16f-11cf-88cb-001111000030}";
  ASSERT_EQ(hid.open(missing, OpenMode::Device), kInvalidHandle);
  const std::string notFound = hid.lastErrorText();
  EXPECT_NE(notFound, "");
  EXPECT_NE(notFound.rfind("error ", 0), 0u) << notFound;

  HidAttributes attributes;
  HidCaps caps;
  DeviceStringBuffer text{};
  std::vector<std::uint8_t> report(40, 0);
  std::size_t bytesRead = 0;
  const HidHandle handle = 12345;
  const struct {
    const char* name;
    std::function<bool()> call;
  } cases[] = {
      {"attributes", [&] { return hid.attributes(handle, attributes); }},
      {"capabilities", [&] { return hid.capabilities(handle, caps); }},
      {"serial number", [&] { return hid.serialNumber(handle, text); }},
      {"manufacturer", [&] { return hid.manufacturer(handle, text); }},
      {"product", [&] { return hid.product(handle, text); }},
      {"get feature", [&] { return hid.getFeature(handle, report); }},
      {"set feature", [&] { return hid.setFeature(handle, report); }},
      {"read", [&] { return hid.read(handle, report, bytesRead, std::chrono::milliseconds(0)); }},
      {"close", [&] { return hid.close(handle); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    (void)hid.open(missing, OpenMode::Device);  // the reason before is another one
    EXPECT_FALSE(c.call());
    EXPECT_NE(hid.lastErrorText(), "");
    EXPECT_NE(hid.lastErrorText(), notFound) << "the call left no reason of its own";
  }
}

TEST(Win32Hid, AScanAndAFailedSearchLeaveNoHandleOpen) {
  Win32Hid hid;
  device::DeviceLink link(hid);
  (void)link.scanSerialNumbers();
  EXPECT_FALSE(link.findTheHid("no device has this serial number"));
  EXPECT_EQ(hid.openHandles(), 0u);
}

}  // namespace
}  // namespace qvr::platform::win32
