#include "device/device_link.h"

#include "protocol/device_strings.h"

namespace qvr::device {
namespace {

constexpr std::uint16_t kVendorId = 0x3A81;
constexpr std::uint16_t kProductId = 0x5C17;

// A read waits this long at most for the first report, so a device that stops sending never
// freezes the window; reports already queued are taken at once.
constexpr std::chrono::milliseconds kFirstReportWait{20};

}  // namespace

bool DeviceLink::identifiedSerial(platform::HidHandle handle, std::string& serial,
                                  platform::HidAttributes& attributes) {
  attributes = {};
  const bool ok = hid_.attributes(handle, attributes);
  storeResult(ok);
  if (!ok || attributes.vendorId != kVendorId || attributes.productId != kProductId) {
    return false;
  }
  platform::DeviceStringBuffer buffer{};
  const bool readable = hid_.serialNumber(handle, buffer);
  storeResult(readable);
  if (!readable) {
    return false;
  }
  serial = protocol::deviceStringText(buffer);
  return true;
}

platform::HidHandle DeviceLink::openPath(const std::string& path, platform::OpenMode mode) {
  const platform::HidHandle handle = hid_.open(path, mode);
  storeResult(handle != platform::kInvalidHandle);
  return handle;
}

void DeviceLink::closeHandle(platform::HidHandle& handle) {
  if (handle != platform::kInvalidHandle) {
    storeResult(hid_.close(handle));
    handle = platform::kInvalidHandle;
  }
}

std::vector<std::string> DeviceLink::scanSerialNumbers() {
  std::vector<std::string> serials;
  for (const std::string& path : hid_.presentInterfaces()) {
    platform::HidHandle handle = openPath(path, platform::OpenMode::Device);
    std::string serial;
    platform::HidAttributes attributes;
    if (identifiedSerial(handle, serial, attributes)) {
      serials.push_back(serial);
    }
    closeHandle(handle);
  }
  return serials;
}

bool DeviceLink::findTheHid(const std::string& serial) {
  state_.deviceFound = false;
  for (const std::string& path : hid_.presentInterfaces()) {
    platform::HidHandle handle = openPath(path, platform::OpenMode::Device);
    std::string candidate;
    platform::HidAttributes attributes;
    // The first match in enumeration order wins; a later device with the same serial number
    // is never opened.
    if (identifiedSerial(handle, candidate, attributes) && candidate == serial) {
      state_.attributes = attributes;
      state_.deviceHandle = handle;
      state_.devicePath = path;
      state_.deviceFound = true;
      break;
    }
    closeHandle(handle);
  }
  if (state_.deviceFound) {
    readCapabilities();
    state_.stringHandle = openPath(state_.devicePath, platform::OpenMode::Strings);
  }
  return state_.deviceFound;
}

void DeviceLink::readCapabilities() {
  // A failed read keeps the previous device's lengths, as the window always has.
  platform::HidCaps caps;
  const bool ok = hid_.capabilities(state_.deviceHandle, caps);
  storeResult(ok);
  if (ok) {
    state_.caps = caps;
  }
}

void DeviceLink::closeHandles() {
  closeHandle(state_.deviceHandle);
  closeHandle(state_.stringHandle);
}

bool DeviceLink::readManufacturer(std::string& text) {
  platform::DeviceStringBuffer buffer{};
  const bool ok = hid_.manufacturer(state_.stringHandle, buffer);
  storeResult(ok);
  if (ok) {
    text = protocol::deviceStringText(buffer);
  }
  return ok;
}

bool DeviceLink::readProduct(std::string& text) {
  platform::DeviceStringBuffer buffer{};
  const bool ok = hid_.product(state_.stringHandle, buffer);
  storeResult(ok);
  if (ok) {
    text = protocol::deviceStringText(buffer);
  }
  return ok;
}

bool DeviceLink::readConfiguration(std::vector<std::uint8_t>& report) {
  // Zero-filled, so byte 0 asks for report ID 0: the device answers with its configuration.
  report.assign(state_.caps.featureReportByteLength, 0);
  const bool ok = !report.empty() && hid_.getFeature(state_.deviceHandle, report);
  storeResult(ok);
  return ok;
}

bool DeviceLink::mayTalk(protocol::Guard guard) const {
  const bool ready = state_.deviceFound && state_.deviceConfigured;
  return guard == protocol::Guard::TwoFlags ? ready : ready && state_.deviceListReady;
}

bool DeviceLink::send(protocol::Command command, std::span<const std::uint8_t> data) {
  if (!mayTalk(protocol::guardOf(command))) {
    return false;
  }
  const auto report =
      protocol::buildCommandReport(command, data, state_.caps.featureReportByteLength);
  if (!report) {
    return false;
  }
  const bool ok = hid_.setFeature(state_.deviceHandle, *report);
  storeResult(ok);
  return ok;
}

void DeviceLink::setMessageRate(std::uint8_t messageClass, std::uint8_t messageId,
                                std::uint8_t rate) {
  send(protocol::Command::ReceiverMessage,
       protocol::messageRateData(messageClass, messageId, rate));
}

bool DeviceLink::readInputReports(std::span<std::uint8_t> buffer, std::size_t& bytesRead) {
  bytesRead = 0;
  const bool ok = hid_.read(state_.deviceHandle, buffer, bytesRead, kFirstReportWait);
  storeResult(ok);
  return ok;
}

}  // namespace qvr::device
