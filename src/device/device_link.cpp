#include "device/device_link.h"

#include "device/receiver.h"
#include "protocol/device_strings.h"
#include "protocol/report_lengths.h"
#include "protocol/usb_identity.h"

namespace qvr::device {
namespace {

// A read waits this long at most for the first report, so a device that stops sending never
// freezes the window; reports already queued are taken at once.
constexpr std::chrono::milliseconds kFirstReportWait{20};

static_assert(kReceiverBytesOffset == protocol::kInputReportHeader);

}  // namespace

void DeviceLink::record(bool ok, const char* operation) {
  state_.lastResult = ok ? 1 : 0;
  if (!ok) {
    state_.lastFailure = HidFailure{operation, hid_.lastErrorText()};
    ++state_.hidFailures;
    if (!hid_.answering()) {
      state_.notAnswering = true;
    }
  }
}

bool DeviceLink::identifiedSerial(platform::HidHandle handle, std::string& serial,
                                  platform::HidAttributes& attributes) {
  attributes = {};
  const bool ok = hid_.attributes(handle, attributes);
  record(ok, "attributes");
  if (!ok || attributes.vendorId != protocol::kVendorId ||
      attributes.productId != protocol::kProductId) {
    return false;
  }
  platform::DeviceStringBuffer buffer{};
  const bool readable = hid_.serialNumber(handle, buffer);
  record(readable, "serial number");
  if (!readable) {
    return false;
  }
  serial = protocol::deviceStringText(buffer);
  return true;
}

bool DeviceLink::usable(platform::HidHandle handle) {
  platform::HidCaps caps;
  const bool ok = hid_.capabilities(handle, caps);
  record(ok, "capabilities");
  // Lengths that cannot be read are no reason to give up on a device, as they never were.
  return !ok ||
         !protocol::reportLengthsProblem(caps.inputReportByteLength, caps.featureReportByteLength);
}

platform::HidHandle DeviceLink::openPath(const std::string& path, platform::OpenMode mode) {
  const platform::HidHandle handle = hid_.open(path, mode);
  record(handle != platform::kInvalidHandle, "open");
  return handle;
}

void DeviceLink::closeHandle(platform::HidHandle& handle) {
  if (handle != platform::kInvalidHandle) {
    record(hid_.close(handle), "close");
    handle = platform::kInvalidHandle;
  }
}

std::vector<std::string> DeviceLink::scanSerialNumbers() {
  std::vector<std::string> serials;
  for (const std::string& path : hid_.presentInterfaces()) {
    platform::HidHandle handle = openPath(path, platform::OpenMode::Device);
    std::string serial;
    platform::HidAttributes attributes;
    if (identifiedSerial(handle, serial, attributes) && usable(handle)) {
      serials.push_back(serial);
    }
    closeHandle(handle);
  }
  return serials;
}

bool DeviceLink::findTheHid(const std::string& serial) {
  state_.phase = Phase::NoDevice;
  bool found = false;
  for (const std::string& path : hid_.presentInterfaces()) {
    platform::HidHandle handle = openPath(path, platform::OpenMode::Device);
    std::string candidate;
    platform::HidAttributes attributes;
    // The first match in enumeration order wins; a later device with the same serial number
    // is never opened, unless the first one's reports cannot carry the protocol.
    if (identifiedSerial(handle, candidate, attributes) && candidate == serial && usable(handle)) {
      state_.attributes = attributes;
      state_.deviceHandle = handle;
      state_.devicePath = path;
      state_.serial = candidate;
      found = true;
      break;
    }
    closeHandle(handle);
  }
  if (found) {
    state_.phase = Phase::Found;
    readCapabilities();
    state_.stringHandle = openPath(state_.devicePath, platform::OpenMode::Strings);
  }
  return found;
}

void DeviceLink::readCapabilities() {
  // A failed read keeps the previous device's lengths, as the window always has.
  platform::HidCaps caps;
  const bool ok = hid_.capabilities(state_.deviceHandle, caps);
  record(ok, "capabilities");
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
  record(ok, "manufacturer string");
  if (ok) {
    text = protocol::deviceStringText(buffer);
  }
  return ok;
}

bool DeviceLink::readProduct(std::string& text) {
  platform::DeviceStringBuffer buffer{};
  const bool ok = hid_.product(state_.stringHandle, buffer);
  record(ok, "product string");
  if (ok) {
    text = protocol::deviceStringText(buffer);
  }
  return ok;
}

bool DeviceLink::readConfiguration(std::vector<std::uint8_t>& report) {
  // Zero-filled, so byte 0 asks for report ID 0: the device answers with its configuration.
  report.assign(state_.caps.featureReportByteLength, 0);
  const bool ok = !report.empty() && hid_.getFeature(state_.deviceHandle, report);
  record(ok, "get feature");
  return ok;
}

bool DeviceLink::mayTalk(protocol::Guard guard) const {
  const bool ready = state_.configured();
  return guard == protocol::Guard::TwoFlags ? ready : ready && state_.deviceListReady;
}

std::optional<SendResult> DeviceLink::guardRefusal(protocol::Command command) const {
  if (mayTalk(protocol::guardOf(command))) {
    return std::nullopt;
  }
  if (!state_.found()) {
    return SendResult::refused("no device is open");
  }
  return SendResult::refused(state_.configured() ? "the device list is being read"
                                                 : "the device is not configured");
}

SendResult DeviceLink::send(protocol::Command command, std::span<const std::uint8_t> data) {
  if (auto refusal = guardRefusal(command)) {
    return *refusal;
  }
  const auto report =
      protocol::buildCommandReport(command, data, state_.caps.featureReportByteLength);
  if (!report) {
    return SendResult::failure("the command does not fit the device's feature report of " +
                               std::to_string(state_.caps.featureReportByteLength) + " bytes");
  }
  const bool ok = hid_.setFeature(state_.deviceHandle, *report);
  record(ok, "set feature");
  if (!ok) {
    const HidFailure& f = state_.lastFailure;
    return SendResult::failure(f.reason.empty()
                                   ? "the device did not take the report"
                                   : "the device did not take the report: " + f.reason);
  }
  return SendResult::done();
}

SendResult DeviceLink::setMessageRate(std::uint8_t messageClass, std::uint8_t messageId,
                                      std::uint8_t rate) {
  return send(protocol::Command::ReceiverMessage,
              protocol::messageRateData(messageClass, messageId, rate));
}

bool DeviceLink::readInputReports(std::span<std::uint8_t> buffer, std::size_t& bytesRead) {
  bytesRead = 0;
  const bool ok = hid_.read(state_.deviceHandle, buffer, bytesRead, kFirstReportWait);
  record(ok, "read");
  return ok;
}

}  // namespace qvr::device
