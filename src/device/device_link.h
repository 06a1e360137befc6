#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "device/connection.h"
#include "device/unusable_devices.h"
#include "platform/hid.h"
#include "protocol/commands.h"

namespace qvr::device {

// What a send came to: sent, or the reason it was not (a guard, a firmware gate, a report the
// device cannot take, or the HID call's own failure).
struct SendResult {
  bool sent = false;
  std::string reason;  // empty when sent
  // The device could not take the report (it failed at the device, or does not fit it), as
  // opposed to a rule that kept it from being sent at all.
  bool failed = false;

  [[nodiscard]] static SendResult done() { return {true, {}}; }
  [[nodiscard]] static SendResult refused(std::string why) { return {false, std::move(why)}; }
  [[nodiscard]] static SendResult failure(std::string why) { return {false, std::move(why), true}; }
  explicit operator bool() const { return sent; }
};

// What a scan came to. One that did not finish is no empty bus: it names the devices it could
// tell, which may be none and is never known to be all of them, and says why it did not finish
// (the system could not list the interfaces, a device did not answer, the scan ran out of
// time). A caller keeps what it knew before rather than take it for the bus.
struct Scan {
  bool finished = false;
  std::vector<std::string> serials;  // in enumeration order, duplicates kept
  std::string failure;               // why it did not finish; empty when it did
};

// The device side of the window: finding, opening and closing the device, and every exchange
// with it. It keeps the connection state; what the window shows is decided above it.
class DeviceLink {
 public:
  explicit DeviceLink(platform::Hid& hid) : hid_(hid) {}

  [[nodiscard]] ConnectionState& state() { return state_; }
  [[nodiscard]] const ConnectionState& state() const { return state_; }

  // Serial numbers of the present devices of the right identity whose serial number can be
  // read and whose report lengths can carry the protocol, in enumeration order, duplicates
  // kept. The backend runs it as one scan, with a budget of its own. Leaves no handle open.
  // The interfaces at `known` paths are skipped, unopened: their devices are watched already,
  // and one that hangs would hold up the scan of all the others. So are the devices already
  // found unusable in this plug-in.
  [[nodiscard]] Scan scanSerialNumbers(const std::vector<std::string>& known = {});

  // Opens the first usable device of the right identity whose serial number equals `serial`
  // (case-sensitive), reads its capabilities and opens its string handle. The phase becomes
  // Found, or NoDevice when there is no such device.
  bool findTheHid(const std::string& serial);

  // The attached devices of the right identity that cannot be used, as the latest scans and
  // searches found them.
  [[nodiscard]] std::vector<UnusableDevice> unusableDevices() const { return unusable_->all(); }
  // From now on the verdicts are kept in `shared`, with the other links of the program.
  void shareUnusableDevices(std::shared_ptr<UnusableDevices> shared) {
    unusable_ = std::move(shared);
  }

  // The phase as the caller's sequence has it: back to Found (a start-up begins), Configured
  // (it read the configuration) or NoDevice (the device went away).
  void setPhase(Phase phase) { state_.phase = phase; }
  void setListReady(bool ready) { state_.deviceListReady = ready; }
  // Whether the device answers calls now; false while a call that missed its deadline has not
  // come back, so anything asked of it would fail at once.
  [[nodiscard]] bool deviceAnswers() const { return hid_.answering(); }
  // A start-up begins: what happened to the device before no longer counts.
  void forgetNotAnswering() { state_.notAnswering = false; }

  // Closes the device handle and then the string handle, those that are open.
  void closeHandles();

  // Device strings through the string handle, as text by the low-byte rule.
  [[nodiscard]] bool readManufacturer(std::string& text);
  [[nodiscard]] bool readProduct(std::string& text);

  // Reads the configuration report (report ID 0) into `report`, sized to the feature report
  // length. False when the read failed.
  [[nodiscard]] bool readConfiguration(std::vector<std::uint8_t>& report);

  // Sends one command report if the command's guard passes and the report fits the device's
  // feature report length.
  SendResult send(protocol::Command command, std::span<const std::uint8_t> data = {});

  // Whether a command under this guard may go out now.
  [[nodiscard]] bool mayTalk(protocol::Guard guard) const;
  // Why a command may not go out now; nothing when it may.
  [[nodiscard]] std::optional<SendResult> guardRefusal(protocol::Command command) const;

  // UBX CFG-MSG through the receiver-message command, under the two-flag guard.
  SendResult setMessageRate(std::uint8_t messageClass, std::uint8_t messageId, std::uint8_t rate);

  // A read waits this long at most for the first report, so a device that stops sending never
  // freezes the window; reports already queued are taken at once.
  static constexpr std::chrono::milliseconds kFirstReportWait{20};

  // Whole input reports that are queued, into `buffer`, and when the read came back, waiting
  // at most `firstReportWait` for the first; false when the device is gone.
  [[nodiscard]] bool readInputReports(std::span<std::uint8_t> buffer, std::size_t& bytesRead,
                                      platform::ReadStamp& stamp,
                                      std::chrono::milliseconds firstReportWait = kFirstReportWait);

 private:
  // Stores the call's success as the last result and, when it failed, what failed and why.
  void record(bool ok, const char* operation);
  // The same for a call noted elsewhere, with the reason and the answering state it left.
  void record(bool ok, const char* operation, const std::string& reason, bool answering);
  [[nodiscard]] platform::HidHandle openPath(const std::string& path, platform::OpenMode mode);
  void closeHandle(platform::HidHandle& handle);
  void readCapabilities();

  platform::Hid& hid_;
  ConnectionState state_;
  std::shared_ptr<UnusableDevices> unusable_ = std::make_shared<UnusableDevices>();
};

}  // namespace qvr::device
