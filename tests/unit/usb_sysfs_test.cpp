// Finding the devices the kernel refused, in a sysfs tree built in a temporary folder the way
// the kernel lays it out: bus/usb/devices/NAME is a link to the device's own folder, whose
// interfaces hold the HID device and, when the kernel took it, its hidraw node.

#include "platform/linux/usb_sysfs.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "platform/linux/device_listing.h"

namespace qvr::platform::hidraw {
namespace {

namespace fs = std::filesystem;

struct UsbDevice {
  std::string name;
  std::string vendor = "3a81";
  std::string product = "5c17";
  bool hidraw = true;  // its HID interface got a hidraw node
};

class FakeSysfs {
 public:
  FakeSysfs() : root_(fs::temp_directory_path() / ("qvr-sysfs-" + std::to_string(getpid()))) {
    fs::remove_all(root_);
    fs::create_directories(root_ / "bus/usb/devices");
  }
  ~FakeSysfs() { fs::remove_all(root_); }
  FakeSysfs(const FakeSysfs&) = delete;
  FakeSysfs& operator=(const FakeSysfs&) = delete;

  void add(const UsbDevice& d) {
    const fs::path device = root_ / "devices/usb1" / d.name;
    const fs::path interface = device / (d.name + ":1.0");
    fs::create_directories(interface / "0003:3A81:5C17.0001");
    write(device / "idVendor", d.vendor);
    write(device / "idProduct", d.product);
    // Interfaces are listed next to devices, without IDs of their own.
    fs::create_directory_symlink(interface, root_ / "bus/usb/devices" / (d.name + ":1.0"));
    if (d.hidraw) {
      fs::create_directories(interface / "0003:3A81:5C17.0001/hidraw/hidraw3");
    }
    fs::create_directory_symlink(device, root_ / "bus/usb/devices" / d.name);
  }
  [[nodiscard]] const fs::path& root() const { return root_; }

 private:
  static void write(const fs::path& file, const std::string& text) {
    std::ofstream(file) << text << '\n';
  }
  fs::path root_;
};

TEST(UsbSysfs, FindsTheDevicesOfOurIdentityThatHaveNoHidrawNode) {
  const struct {
    const char* name;
    std::vector<UsbDevice> devices;
    std::vector<std::string> expected;
  } cases[] = {
      {"nothing attached", {}, {}},
      {"taken by the kernel", {{.name = "1-1"}}, {}},
      {"refused", {{.name = "1-1", .hidraw = false}}, {"1-1"}},
      {"other devices without hidraw are not ours",
       {{.name = "1-2", .vendor = "046d", .hidraw = false},
        {.name = "1-3", .product = "5c18", .hidraw = false}},
       {}},
      {"several, sorted, beside one that was taken",
       {{.name = "3-2.4", .hidraw = false}, {.name = "1-1"}, {.name = "2-1", .hidraw = false}},
       {"2-1", "3-2.4"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeSysfs sysfs;
    for (const UsbDevice& device : c.devices) {
      sysfs.add(device);
    }
    EXPECT_EQ(usbDevicesWithoutHidraw(sysfs.root()), c.expected);
  }
}

TEST(UsbSysfs, NoSysfsMeansNothingRefused) {
  EXPECT_TRUE(usbDevicesWithoutHidraw("/nonexistent").empty());
}

TEST(UsbSysfs, TheListingNamesARefusedDeviceAndWhereToLook) {
  const std::string refused =
      "USB device 1-1 (3a81:5c17) is attached but has no hidraw node: the kernel refused it; "
      "see `dmesg` or `journalctl -k`\n";
  EXPECT_EQ(formatDeviceList({}, {"1-1"}), refused);
  ListedDevice taken{.path = "/dev/hidraw3", .serial = "QVR000001", .versionNumber = 0x0108};
  taken.descriptorRead = true;
  taken.descriptor.lengths = {64, 0, 40, false};
  EXPECT_EQ(formatDeviceList({taken}, {"1-1"}),
            "/dev/hidraw3: serial 'QVR000001', firmware 1.08, opens (input reports 64 bytes, "
            "feature reports 40 bytes)\n" +
                refused);
}

}  // namespace
}  // namespace qvr::platform::hidraw
