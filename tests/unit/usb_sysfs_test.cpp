// Finding the devices the kernel refused, and reading a device's strings, in a sysfs tree built
// in a temporary folder the way the kernel lays it out: bus/usb/devices/NAME is a link to the
// device's own folder, whose interfaces hold the HID device and, when the kernel took it, its
// hidraw node; dev/char/MAJOR:MINOR is a link to the node's folder.

#include "platform/linux/usb_sysfs.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <optional>
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

  // A HID device at `hid` with this uevent record and a hidraw node; the node's folder.
  fs::path addHidraw(const fs::path& hid, const std::string& uevent) {
    const fs::path node = hid / "hidraw/hidraw3";
    fs::create_directories(node);
    writeExactly(hid / "uevent", uevent);
    fs::create_directory_symlink(hid, node / "device");
    fs::create_directories(root_ / "dev/char");
    fs::create_directory_symlink(node, root_ / "dev/char/245:3");
    return root_ / "dev/char/245:3";
  }
  static void writeExactly(const fs::path& file, const std::string& bytes) {
    std::ofstream(file, std::ios::binary) << bytes;
  }

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

// The uevent record of a HID device as the kernel writes it: each value as it is, a line break
// after each.
std::string uevent(const std::string& name, const std::string& uniq) {
  return "DRIVER=hid-generic\nHID_ID=0003:00003A81:00005C17\nHID_NAME=" + name +
         "\nHID_PHYS=usb-0000:00:14.0-1/input0\nHID_UNIQ=" + uniq +
         "\nMODALIAS=hid:b0003g0001v00003A81p00005C17\n";
}

TEST(UsbSysfs, DeviceStringsComeWholeWhateverTheyHold) {
  const struct {
    const char* name;
    bool usb;
    // The USB device's attribute files as the kernel writes them; nullopt: no such file.
    std::optional<std::string> serialFile, manufacturerFile, productFile;
    std::string uevent;
    std::optional<std::string> serial, manufacturer, product;
  } cases[] = {
      {"USB: a line break inside the serial number", true, "C3\nX\n", "QVR Instruments\n",
       "QVR-7130 GPSDO\n", uevent("QVR Instruments QVR-7130 GPSDO", "C3\nX"), "C3\nX",
       "QVR Instruments", "QVR-7130 GPSDO"},
      {"USB: UTF-8 beyond ASCII, byte for byte", true, "C4-\xC3\xA9\xE2\x82\xAC\n",
       "Z\xC3\xBCrich\n", "GPSDO \xF0\x9F\x98\x80\n", uevent("x", "C4-\xC3\xA9\xE2\x82\xAC"),
       "C4-\xC3\xA9\xE2\x82\xAC", "Z\xC3\xBCrich", "GPSDO \xF0\x9F\x98\x80"},
      {"USB: a line break the device put last stays", true, "AB\n\n", std::nullopt, "P\n",
       uevent("P", "AB\n"), "AB\n", std::nullopt, "P"},
      {"USB: no serial number and no manufacturer", true, std::nullopt, std::nullopt, "P\n",
       uevent("P", ""), std::nullopt, std::nullopt, "P"},
      {"UHID: the serial number runs up to the key after it",
       false,
       {},
       {},
       {},
       uevent("QVR-7130 GPSDO", "C3\nX"),
       "C3\nX",
       std::nullopt,
       "QVR-7130 GPSDO"},
      {"UHID: a name over two lines, no serial number",
       false,
       {},
       {},
       {},
       uevent("Two\nLines", ""),
       std::nullopt,
       std::nullopt,
       "Two\nLines"},
      {"UHID: bytes that are no UTF-8 are kept as they are",
       false,
       {},
       {},
       {},
       uevent("N", "\xFF\xFE"),
       "\xFF\xFE",
       std::nullopt,
       "N"},
      {"UHID: a serial number that looks like a key of the record",
       false,
       {},
       {},
       {},
       uevent("N", "a\nHID_UNIQ=b\nHID_NAME="),
       "a\nHID_UNIQ=b\nHID_NAME=",
       std::nullopt,
       "N"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeSysfs sysfs;
    fs::path hid;
    if (c.usb) {
      const fs::path device = sysfs.root() / "devices/pci0/usb1/1-1";
      hid = device / "1-1:1.0/0003:3A81:5C17.0001";
      fs::create_directories(hid);
      FakeSysfs::writeExactly(device / "idVendor", "3a81\n");
      FakeSysfs::writeExactly(device / "1-1:1.0/bInterfaceNumber", "00\n");
      const std::pair<const char*, std::optional<std::string>> files[] = {
          {"serial", c.serialFile},
          {"manufacturer", c.manufacturerFile},
          {"product", c.productFile}};
      for (const auto& [file, content] : files) {
        if (content) {
          FakeSysfs::writeExactly(device / file, *content);
        }
      }
    } else {
      hid = sysfs.root() / "devices/virtual/misc/uhid/0003:3A81:5C17.0002";
      fs::create_directories(hid);
    }
    const KernelDeviceStrings strings = hidrawDeviceStrings(sysfs.addHidraw(hid, c.uevent));
    EXPECT_EQ(strings.serial, c.serial);
    EXPECT_EQ(strings.manufacturer, c.manufacturer);
    EXPECT_EQ(strings.product, c.product);
    EXPECT_EQ(strings.problem, "");
  }
}

TEST(UsbSysfs, ANodeWithoutAFolderHasNoStringsAndSaysWhy) {
  const KernelDeviceStrings strings = hidrawDeviceStrings("/nonexistent/dev/char/245:3");
  EXPECT_FALSE(strings.serial || strings.manufacturer || strings.product);
  EXPECT_NE(strings.problem, "");
}

TEST(UsbSysfs, ANodeIsFoundByItsDeviceNumber) {
  EXPECT_EQ(hidrawNodeFolder("/sys", "/dev/null"), fs::path("/sys/dev/char/1:3"));
  EXPECT_EQ(hidrawNodeFolder("/sys", "/"), std::nullopt) << "no character device";
  EXPECT_EQ(hidrawNodeFolder("/sys", "/nonexistent/hidraw0"), std::nullopt);
}

TEST(UsbSysfs, UeventValues) {
  const std::string record = "A=1\nXB=no\nB=two\nlines\nC=3\n";
  const struct {
    const char* key;
    const char* next;
    std::optional<std::string> value;
  } cases[] = {
      {"A", "B", "1\nXB=no"},  // a key inside a line is no key
      {"B", "C", "two\nlines"},
      {"B", "D", "two"},  // without the next key, the line is all there is
      {"C", "D", "3"},
      {"D", "A", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.key);
    EXPECT_EQ(ueventValue(record, c.key, c.next), c.value);
  }
}

}  // namespace
}  // namespace qvr::platform::hidraw
