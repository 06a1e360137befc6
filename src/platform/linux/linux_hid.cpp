#include "platform/linux/linux_hid.h"

#include <fcntl.h>
#include <hidapi.h>
#include <linux/hidraw.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cwchar>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string_view>
#include <system_error>

#include "platform/linux/input_reports.h"
#include "platform/linux/usb_sysfs.h"
#include "platform/linux/wide_text.h"
#include "protocol/device_strings.h"
#include "protocol/usb_identity.h"

namespace qvr::platform::hidraw {
namespace {

std::string systemText(int error) {
  return std::generic_category().message(error);
}

// Why the hidapi call just made failed; the caller cleared errno before making it. hidraw calls
// fail mostly in a system call, and then errno says precisely why; where hidapi gave up on its
// own terms (a poll that saw the device hang up, say) only its own text does.
std::string hidapiFailure(hid_device* device) {
  if (const int error = errno; error != 0) {
    return systemText(error);
  }
  const wchar_t* const text = hid_error(device);
  // hidapi says "Success" when it recorded nothing.
  if (text != nullptr && *text != L'\0' && std::wstring_view(text) != L"Success") {
    return utf8(text);
  }
  return "hidapi gave no reason";
}

// hidapi keeps the reason of a failed open or enumeration, and its set-up, in globals that it
// frees and replaces without a lock; a program with several backends on several threads (one
// per device) takes this lock around every call that touches them.
std::mutex& hidapiGlobals() {
  static std::mutex lock;
  return lock;
}

// The device's strings from sysfs, read once per handle: hidapi would hand them over converted
// by the C library's multibyte functions, which in the C locale of a program without a window
// give up on the first byte above 0x7F, and it takes the serial number from the uevent record,
// where a line break in it ends it.
const KernelDeviceStrings& kernelStrings(std::optional<KernelDeviceStrings>& cached,
                                         const std::string& path) {
  if (!cached) {
    errno = 0;
    const std::optional<std::filesystem::path> folder = hidrawNodeFolder("/sys", path);
    if (folder) {
      cached = hidrawDeviceStrings(*folder);
    } else {
      cached = KernelDeviceStrings{.problem = "the device node cannot be found: " +
                                              systemText(errno == 0 ? ENODEV : errno)};
    }
  }
  return *cached;
}

// The report descriptor straight from the hidraw node, which needs no sysfs and no udev: the
// node that was just opened is the one described. Leaves errno set when it fails.
bool readReportDescriptor(const std::string& path, std::vector<std::uint8_t>& out) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    return false;
  }
  int size = 0;
  hidraw_report_descriptor descriptor{};
  bool ok = ::ioctl(fd, HIDIOCGRDESCSIZE, &size) == 0;
  if (ok && (size < 0 || static_cast<std::size_t>(size) > sizeof descriptor.value)) {
    // The kernel caps descriptors at this size; a larger one is nothing we could read.
    errno = EOVERFLOW;
    ok = false;
  }
  if (ok) {
    descriptor.size = static_cast<std::uint32_t>(size);
    ok = ::ioctl(fd, HIDIOCGRDESC, &descriptor) == 0;
  }
  const int error = errno;
  ::close(fd);
  errno = error;
  if (ok) {
    out.assign(descriptor.value, descriptor.value + descriptor.size);
  }
  return ok;
}

}  // namespace

LinuxHid::LinuxHid() {
  const std::lock_guard lock(hidapiGlobals());
  // A failure here shows up as an empty enumeration, which the window already copes with.
  (void)hid_init();
}

LinuxHid::~LinuxHid() {
  for (const auto& [handle, open] : handles_) {
    hid_close(open.device);
  }
  const std::lock_guard lock(hidapiGlobals());
  hid_exit();
}

bool LinuxHid::fail(std::string reason) {
  lastError_ = std::move(reason);
  return false;
}

bool LinuxHid::succeeded(std::string problem) {
  return problem.empty() || fail(std::move(problem));
}

LinuxHid::OpenDevice* LinuxHid::find(HidHandle handle) {
  const auto it = handles_.find(handle);
  if (it == handles_.end()) {
    fail("no such handle");
    return nullptr;
  }
  return &it->second;
}

// hidapi answers an enumeration that failed (no udev, say) as it answers one that found
// nothing, with no list, so this cannot tell them apart; a listing that takes too long is what
// a backend with deadlines gives up on.
bool LinuxHid::presentInterfaces(std::vector<std::string>& paths) {
  paths.clear();
  const std::lock_guard lock(hidapiGlobals());
  hid_device_info* const list = hid_enumerate(protocol::kVendorId, protocol::kProductId);
  for (const hid_device_info* info = list; info != nullptr; info = info->next) {
    paths.emplace_back(info->path);
  }
  hid_free_enumeration(list);
  return true;
}

std::string LinuxHid::plugIn(const std::string& path) {
  const std::optional<std::filesystem::path> folder = hidrawNodeFolder("/sys", path);
  std::error_code error;
  const std::filesystem::path hid =
      folder ? std::filesystem::canonical(*folder / "device", error) : std::filesystem::path();
  return error ? std::string() : hid.string();
}

const std::optional<protocol::ReportLengths>& LinuxHid::reportLengths(OpenDevice& open) {
  if (!open.descriptorTried) {
    open.descriptorTried = true;
    std::vector<std::uint8_t> descriptor;
    if (!readReportDescriptor(open.path, descriptor)) {
      open.descriptorProblem = "the report descriptor cannot be read: " + systemText(errno);
      return open.lengths;
    }
    const protocol::DescriptorParse parse = protocol::parseReportDescriptor(descriptor);
    if (parse.ok()) {
      open.lengths = parse.lengths;
    } else {
      open.descriptorProblem = "the report descriptor is malformed (" +
                               std::string(protocol::describe(parse.error)) + " at byte " +
                               std::to_string(parse.errorOffset) + ")";
    }
  }
  return open.lengths;
}

// Both modes open the node alike: hidraw has no overlapped handles, and a second open of the
// same node serves the string queries as well as Windows' second handle does.
HidHandle LinuxHid::open(const std::string& path, OpenMode /*mode*/) {
  const std::lock_guard lock(hidapiGlobals());
  errno = 0;
  hid_device* const device = hid_open_path(path.c_str());
  if (device == nullptr) {
    fail(hidapiFailure(nullptr));
    return kInvalidHandle;
  }
  const HidHandle handle = nextHandle_++;
  handles_.emplace(handle, OpenDevice{.device = device, .path = path});
  return handle;
}

bool LinuxHid::close(HidHandle handle) {
  const auto it = handles_.find(handle);
  if (it == handles_.end()) {
    return fail("no such handle");
  }
  hid_close(it->second.device);
  handles_.erase(it);
  return true;
}

bool LinuxHid::attributes(HidHandle handle, HidAttributes& out) {
  const OpenDevice* open = find(handle);
  if (open == nullptr) {
    return false;
  }
  errno = 0;
  const hid_device_info* info = hid_get_device_info(open->device);
  if (info == nullptr) {
    return fail(hidapiFailure(open->device));
  }
  out.vendorId = info->vendor_id;
  out.productId = info->product_id;
  out.versionNumber = info->release_number;
  return true;
}

bool LinuxHid::capabilities(HidHandle handle, HidCaps& out) {
  OpenDevice* open = find(handle);
  if (open == nullptr) {
    return false;
  }
  if (!reportLengths(*open)) {
    return fail(open->descriptorProblem);
  }
  out.inputReportByteLength = open->lengths->input;
  out.featureReportByteLength = open->lengths->feature;
  return true;
}

bool LinuxHid::deviceString(HidHandle handle,
                            std::optional<std::string> KernelDeviceStrings::*which,
                            DeviceStringBuffer& out) {
  OpenDevice* open = find(handle);
  if (open == nullptr) {
    return false;
  }
  const KernelDeviceStrings& strings = kernelStrings(open->strings, open->path);
  const std::optional<std::string>& text = strings.*which;
  if (!text) {
    // Windows fails for a string the device does not have, too.
    return fail(strings.problem.empty() ? "the device has no such string" : strings.problem);
  }
  protocol::encodeDeviceString(protocol::decodeUtf8(*text), out);
  return true;
}

bool LinuxHid::serialNumber(HidHandle handle, DeviceStringBuffer& out) {
  return deviceString(handle, &KernelDeviceStrings::serial, out);
}

bool LinuxHid::manufacturer(HidHandle handle, DeviceStringBuffer& out) {
  return deviceString(handle, &KernelDeviceStrings::manufacturer, out);
}

bool LinuxHid::product(HidHandle handle, DeviceStringBuffer& out) {
  return deviceString(handle, &KernelDeviceStrings::product, out);
}

std::string LinuxHid::featureLengthProblem(OpenDevice& open, std::size_t size) {
  if (size == 0) {
    return "the buffer is empty";
  }
  // Unknown lengths let any size through: the device itself is then the judge.
  if (reportLengths(open) && size != open.lengths->feature) {
    return "the buffer is " + std::to_string(size) + " bytes, the device's feature reports " +
           std::to_string(open.lengths->feature);
  }
  return {};
}

bool LinuxHid::getFeature(HidHandle handle, std::span<std::uint8_t> buffer) {
  OpenDevice* open = find(handle);
  if (open == nullptr) {
    return false;
  }
  // As on Windows, the buffer must be exactly as long as the device's feature reports.
  if (const std::string problem = featureLengthProblem(*open, buffer.size()); !problem.empty()) {
    return fail(problem);
  }
  // Byte 0 already holds the report ID asked for; hidraw answers with it in front of the data.
  errno = 0;
  const int received = hid_get_feature_report(open->device, buffer.data(), buffer.size());
  if (received < 0) {
    return fail(hidapiFailure(open->device));
  }
  if (received == 0) {
    return fail("the device answered with an empty report");
  }
  std::fill(
      buffer.begin() + std::min<std::size_t>(static_cast<std::size_t>(received), buffer.size()),
      buffer.end(), std::uint8_t{0});
  return true;
}

bool LinuxHid::setFeature(HidHandle handle, std::span<const std::uint8_t> report) {
  OpenDevice* open = find(handle);
  if (open == nullptr) {
    return false;
  }
  if (const std::string problem = featureLengthProblem(*open, report.size()); !problem.empty()) {
    return fail(problem);
  }
  // hidraw takes the report ID 0 of an unnumbered report in byte 0, as Windows does.
  errno = 0;
  if (hid_send_feature_report(open->device, report.data(), report.size()) < 0) {
    return fail(hidapiFailure(open->device));
  }
  return true;
}

bool LinuxHid::read(HidHandle handle, std::span<std::uint8_t> buffer, std::size_t& bytesRead,
                    std::chrono::milliseconds firstReportWait) {
  bytesRead = 0;
  OpenDevice* open = find(handle);
  if (open == nullptr) {
    return false;
  }
  // Without the report length a read cannot be split into reports, so it is refused like a
  // read from a device that is gone.
  if (!reportLengths(*open)) {
    return fail(open->descriptorProblem);
  }
  const std::size_t length = open->lengths->input;
  if (length < 2) {
    return fail("the device sends no input reports");
  }
  if (buffer.size() < length) {
    return fail("the buffer cannot hold one input report of " + std::to_string(length) + " bytes");
  }
  hid_device* const device = open->device;
  std::string readProblem;
  const ReportReader readOne = [device, &readProblem](std::span<std::uint8_t> out,
                                                      std::chrono::milliseconds wait) {
    errno = 0;
    // A disconnected node makes poll() report a hang-up, which hidapi turns into -1.
    const int received =
        hid_read_timeout(device, out.data(), out.size(), static_cast<int>(wait.count()));
    if (received < 0) {
      readProblem = hidapiFailure(device);
    }
    return received;
  };
  if (!gatherInputReports(readOne, {length, open->lengths->numbered}, buffer, bytesRead,
                          firstReportWait)) {
    return fail(readProblem.empty() ? "the device is gone" : std::move(readProblem));
  }
  readStamp_ = stampNow();
  return true;
}

std::vector<ListedDevice> listDevices() {
  std::vector<ListedDevice> devices;
  const std::lock_guard lock(hidapiGlobals());
  (void)hid_init();
  hid_device_info* const list = hid_enumerate(protocol::kVendorId, protocol::kProductId);
  for (const hid_device_info* info = list; info != nullptr; info = info->next) {
    ListedDevice device;
    device.path = info->path;
    // The serial number as the kernel holds it, for the reason kernelStrings() gives.
    if (const auto folder = hidrawNodeFolder("/sys", device.path)) {
      device.serial = hidrawDeviceStrings(*folder).serial;
    }
    device.versionNumber = info->release_number;
    // The same open as hid_open_path's, done here so that errno is still the open's own.
    const int fd = ::open(info->path, O_RDWR | O_CLOEXEC);
    if (fd < 0) {
      device.openError = errno;
    } else {
      ::close(fd);
      std::vector<std::uint8_t> descriptor;
      device.descriptorRead = readReportDescriptor(device.path, descriptor);
      if (device.descriptorRead) {
        device.descriptor = protocol::parseReportDescriptor(descriptor);
      }
    }
    devices.push_back(std::move(device));
  }
  hid_free_enumeration(list);
  hid_exit();
  return devices;
}

}  // namespace qvr::platform::hidraw
