#include "platform/linux/usb_sysfs.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <iterator>
#include <system_error>

#include "protocol/usb_identity.h"

namespace qvr::platform::hidraw {
namespace {

namespace fs = std::filesystem;

// The first line of a sysfs attribute, or nothing when it cannot be read.
std::string attribute(const fs::path& file) {
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);
  return line;
}

// Whether any interface of the device (a child named "NAME:CONFIG.INTERFACE") has a HID child
// with a hidraw node: INTERFACE/HID-DEVICE/hidraw/hidrawN.
bool hasHidrawNode(const fs::path& device, const std::string& name) {
  std::error_code error;
  for (const fs::directory_entry& interface : fs::directory_iterator(device, error)) {
    if (!interface.path().filename().string().starts_with(name + ":")) {
      continue;
    }
    std::error_code childError;
    for (const fs::directory_entry& child : fs::directory_iterator(interface.path(), childError)) {
      std::error_code nodeError;
      for (const fs::directory_entry& node :
           fs::directory_iterator(child.path() / "hidraw", nodeError)) {
        if (node.path().filename().string().starts_with("hidraw")) {
          return true;
        }
      }
    }
  }
  return false;
}

// A whole sysfs attribute, or nothing when it cannot be read.
std::optional<std::string> wholeAttribute(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    return std::nullopt;
  }
  std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  if (in.bad()) {
    return std::nullopt;
  }
  return text;
}

std::optional<std::string> nonEmpty(std::optional<std::string> text) {
  return text && !text->empty() ? std::move(text) : std::nullopt;
}

// A USB device's string attribute: the kernel writes the string and one line break after it,
// so only that one goes; a line break the device put at the end of its string stays.
std::optional<std::string> usbString(const fs::path& file) {
  std::optional<std::string> text = wholeAttribute(file);
  if (text && !text->empty() && text->back() == '\n') {
    text->pop_back();
  }
  return nonEmpty(std::move(text));
}

// Where `key=` starts a line of the record, from `from` on; npos when it does not.
std::size_t lineStarting(std::string_view record, std::string_view key, std::size_t from) {
  for (std::size_t at = record.find(key, from); at != std::string_view::npos;
       at = record.find(key, at + 1)) {
    if ((at == 0 || record[at - 1] == '\n') && record.substr(at + key.size()).starts_with('=')) {
      return at;
    }
  }
  return std::string_view::npos;
}

}  // namespace

std::optional<std::string> ueventValue(std::string_view record, std::string_view key,
                                       std::string_view nextKey) {
  const std::size_t line = lineStarting(record, key, 0);
  if (line == std::string_view::npos) {
    return std::nullopt;
  }
  const std::size_t start = line + key.size() + 1;
  std::size_t end = lineStarting(record, nextKey, start);
  if (end != std::string_view::npos) {
    --end;  // the line break before the next key is the record's, not the value's
  } else {
    end = std::min(record.find('\n', start), record.size());
  }
  return std::string(record.substr(start, end - start));
}

std::optional<fs::path> hidrawNodeFolder(const fs::path& sysfsRoot, const std::string& nodePath) {
  struct stat node {};
  if (::stat(nodePath.c_str(), &node) != 0) {
    return std::nullopt;
  }
  if (!S_ISCHR(node.st_mode)) {
    errno = ENODEV;
    return std::nullopt;
  }
  return sysfsRoot / "dev" / "char" /
         (std::to_string(major(node.st_rdev)) + ":" + std::to_string(minor(node.st_rdev)));
}

KernelDeviceStrings hidrawDeviceStrings(const fs::path& nodeFolder) {
  KernelDeviceStrings strings;
  std::error_code error;
  // The node's folder links to the HID device it belongs to; a USB device's HID device sits in
  // one of its interfaces.
  const fs::path hid = fs::canonical(nodeFolder / "device", error);
  if (error) {
    strings.problem = "the device has no sysfs folder: " + error.message();
    return strings;
  }
  const fs::path interface = hid.parent_path();
  const fs::path usb = interface.parent_path();
  if (fs::exists(interface / "bInterfaceNumber", error) && fs::exists(usb / "idVendor", error)) {
    // The uevent record has the serial number too, but cut to 63 bytes and with any line
    // break in it indistinguishable from the record's own.
    strings.serial = usbString(usb / "serial");
    strings.manufacturer = usbString(usb / "manufacturer");
    strings.product = usbString(usb / "product");
    return strings;
  }
  const std::optional<std::string> record = wholeAttribute(hid / "uevent");
  if (!record) {
    strings.problem = "the device's uevent record cannot be read";
    return strings;
  }
  strings.serial = nonEmpty(ueventValue(*record, "HID_UNIQ", "MODALIAS"));
  strings.product = nonEmpty(ueventValue(*record, "HID_NAME", "HID_PHYS"));
  return strings;
}

std::vector<std::string> usbDevicesWithoutHidraw(const fs::path& sysfsRoot) {
  std::vector<std::string> names;
  std::error_code error;
  for (const fs::directory_entry& entry :
       fs::directory_iterator(sysfsRoot / "bus" / "usb" / "devices", error)) {
    const fs::path& device = entry.path();
    // Interfaces have no idVendor, so only devices match.
    if (attribute(device / "idVendor") != protocol::kVendorIdText ||
        attribute(device / "idProduct") != protocol::kProductIdText) {
      continue;
    }
    const std::string name = device.filename().string();
    if (!hasHidrawNode(device, name)) {
      names.push_back(name);
    }
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string refusedUsbDeviceText(const std::string& name) {
  return "USB device " + name + " (" + std::string(protocol::kVendorIdText) + ":" +
         std::string(protocol::kProductIdText) +
         ") is attached but has no hidraw node: the kernel refused it; see `dmesg` or "
         "`journalctl -k`\n";
}

}  // namespace qvr::platform::hidraw
