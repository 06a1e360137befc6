#include "device/device_link.h"

#include <algorithm>
#include <memory>
#include <utility>

#include "device/receiver.h"
#include "protocol/device_strings.h"
#include "protocol/report_lengths.h"
#include "protocol/usb_identity.h"

namespace qvr::device {
namespace {

static_assert(kReceiverBytesOffset == protocol::kInputReportHeader);

// A call as it came back, noted where it ran and recorded in the connection state afterwards.
struct NotedCall {
  bool ok;
  const char* operation;
  std::string reason;  // the backend's, when it failed
  bool answering;
};

// The calls that find out who a device is, on the backend given, each noted as it comes back.
// A scan runs them on the backend's own thread, where the connection state is not to be
// touched.
struct Probe {
  platform::Hid& hid;
  std::vector<NotedCall>& calls;
  UnusableDevices& unusable;
  std::string silence;  // why the first call that found a device not answering failed
  std::string path;     // of the interface being probed
  std::string plugIn;   // ... and its plug-in mark

  // Forgets what was decided on devices no longer listed.
  bool list(std::vector<std::string>& paths) {
    if (!hid.presentInterfaces(paths)) {
      return false;
    }
    unusable.listed(paths);
    return true;
  }

  bool note(bool ok, const char* operation) {
    NotedCall call{ok, operation, {}, true};
    if (!ok) {
      call.reason = hid.lastErrorText();
      call.answering = hid.answering();
      if (!call.answering && silence.empty()) {
        silence = call.reason.empty() ? std::string("it did not answer") : call.reason;
      }
    }
    calls.push_back(std::move(call));
    return ok;
  }

  // Whether the device at `at` was found unusable in this plug-in; the interface probed next.
  bool decided(const std::string& at) {
    path = at;
    plugIn = hid.plugIn(at);
    return unusable.decided(path, plugIn);
  }

  platform::HidHandle open() {
    const platform::HidHandle handle = hid.open(path, platform::OpenMode::Device);
    note(handle != platform::kInvalidHandle, "open");
    return handle;
  }

  void close(platform::HidHandle& handle) {
    if (handle != platform::kInvalidHandle) {
      note(hid.close(handle), "close");
      handle = platform::kInvalidHandle;
    }
  }

  // The serial number of the device behind `handle` when it has the right identity and the
  // serial number can be read.
  bool identifiedSerial(platform::HidHandle handle, std::string& serial,
                        platform::HidAttributes& attributes) {
    attributes = {};
    if (!note(hid.attributes(handle, attributes), "attributes") ||
        attributes.vendorId != protocol::kVendorId ||
        attributes.productId != protocol::kProductId) {
      return false;
    }
    platform::DeviceStringBuffer buffer{};
    if (!note(hid.serialNumber(handle, buffer), "serial number")) {
      return false;
    }
    serial = protocol::deviceStringText(buffer);
    return true;
  }

  // False when the device's report lengths cannot carry the protocol (see reportLengthsProblem),
  // which is then decided for this plug-in.
  bool usable(platform::HidHandle handle) {
    platform::HidCaps caps;
    // Lengths that cannot be read are no reason to give up on a device, as they never were.
    if (!note(hid.capabilities(handle, caps), "capabilities")) {
      return true;
    }
    auto problem =
        protocol::reportLengthsProblem(caps.inputReportByteLength, caps.featureReportByteLength);
    if (problem) {
      unusable.decide({path, plugIn, std::move(*problem)});
    }
    return !problem;
  }
};

// What a scan finds, kept apart from the caller until the scan is over: a backend with
// deadlines may still be running it after the caller gave up.
struct Scanning {
  std::vector<NotedCall> calls;
  Scan scan;
  std::shared_ptr<UnusableDevices> unusable;
  std::vector<std::string> known;
};

void scanWith(platform::Hid& hid, Scanning& scanning) {
  Probe probe{hid, scanning.calls, *scanning.unusable};
  Scan& scan = scanning.scan;
  std::vector<std::string> paths;
  if (!probe.list(paths)) {
    probe.note(false, "list interfaces");
    const std::string& reason = scanning.calls.back().reason;
    scan.failure = "the HID interfaces could not be listed" + (reason.empty() ? "" : ": " + reason);
    return;
  }
  for (const std::string& path : paths) {
    if (std::find(scanning.known.begin(), scanning.known.end(), path) != scanning.known.end() ||
        probe.decided(path)) {
      continue;
    }
    platform::HidHandle handle = probe.open();
    std::string serial;
    platform::HidAttributes attributes;
    if (probe.identifiedSerial(handle, serial, attributes) && probe.usable(handle)) {
      scan.serials.push_back(serial);
    }
    probe.close(handle);
    // The others are still worth knowing; this one may be a QVR-7130 all the same.
    if (!probe.silence.empty() && scan.failure.empty()) {
      scan.failure = path + " did not answer: " + probe.silence;
    }
  }
  scan.finished = scan.failure.empty();
}

}  // namespace

void DeviceLink::record(bool ok, const char* operation) {
  if (ok) {
    record(true, operation, {}, true);
  } else {
    record(false, operation, hid_.lastErrorText(), hid_.answering());
  }
}

void DeviceLink::record(bool ok, const char* operation, const std::string& reason, bool answering) {
  state_.lastResult = ok ? 1 : 0;
  if (!ok) {
    state_.lastFailure = HidFailure{operation, reason};
    ++state_.hidFailures;
    if (!answering) {
      state_.notAnswering = true;
    }
  }
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

Scan DeviceLink::scanSerialNumbers(const std::vector<std::string>& known) {
  auto scanning = std::make_shared<Scanning>();
  scanning->unusable = unusable_;
  scanning->known = known;
  if (!hid_.scan([scanning](platform::Hid& hid) { scanWith(hid, *scanning); })) {
    // Given up on: what it found so far is still being written, and is not looked at.
    record(false, "scan");
    const std::string reason = hid_.lastErrorText();
    return {false, {}, reason.empty() ? "the scan was given up on" : reason};
  }
  for (const NotedCall& call : scanning->calls) {
    record(call.ok, call.operation, call.reason, call.answering);
  }
  return std::move(scanning->scan);
}

bool DeviceLink::findTheHid(const std::string& serial) {
  state_.phase = Phase::NoDevice;
  std::vector<NotedCall> calls;
  Probe probe{hid_, calls, *unusable_};
  std::vector<std::string> paths;
  if (!probe.list(paths)) {
    record(false, "list interfaces");
    return false;
  }
  bool found = false;
  for (const std::string& path : paths) {
    if (probe.decided(path)) {
      continue;
    }
    platform::HidHandle handle = probe.open();
    std::string candidate;
    platform::HidAttributes attributes;
    // The first match in enumeration order wins; a later device with the same serial number
    // is never opened, unless the first one's reports cannot carry the protocol.
    if (probe.identifiedSerial(handle, candidate, attributes) && candidate == serial &&
        probe.usable(handle)) {
      state_.attributes = attributes;
      state_.deviceHandle = handle;
      state_.devicePath = path;
      state_.serial = candidate;
      found = true;
      break;
    }
    probe.close(handle);
  }
  for (const NotedCall& call : calls) {
    record(call.ok, call.operation, call.reason, call.answering);
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

bool DeviceLink::readInputReports(std::span<std::uint8_t> buffer, std::size_t& bytesRead,
                                  platform::ReadStamp& stamp,
                                  std::chrono::milliseconds firstReportWait) {
  bytesRead = 0;
  const bool ok = hid_.read(state_.deviceHandle, buffer, bytesRead, firstReportWait);
  if (ok) {
    stamp = hid_.readStamp();
  }
  record(ok, "read");
  return ok;
}

}  // namespace qvr::device
