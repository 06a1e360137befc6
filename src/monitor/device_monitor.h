#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "device/lock_tracker.h"
#include "device/receiver_time.h"
#include "device/session.h"
#include "device/unusable_devices.h"
#include "platform/hid.h"
#include "platform/system.h"
#include "protocol/config_report.h"

namespace qvr::monitor {

// Counts that only grow while the program runs, across every reconnect of the device.
struct DeviceCounters {
  std::uint64_t navMessages = 0;       // NAV-PVT, NAV-CLOCK and NAV-SAT decoded
  std::uint64_t checkedFrames = 0;     // receiver frames with a right checksum
  std::uint64_t checksumErrors = 0;    // ... with a wrong one
  std::uint64_t oversizedLengths = 0;  // lengths no buffer holds
  std::uint64_t tooShortMessages = 0;  // NAV messages too short for their fields
  std::uint64_t hidFailures = 0;       // HID calls that failed
  std::uint64_t reconnects = 0;        // opened again after it went away
  std::uint64_t messageRequests = 0;   // messages asked for again after they stopped
};

// What is known of one device, for a scrape: a copy, so that reading it never waits for the
// device.
struct DeviceSnapshot {
  std::string serial;
  bool present = false;    // open, whatever it answers
  bool answering = false;  // its calls come back in time
  bool up = false;         // open, configured and answering
  bool refused = false;    // firmware this program does not know: watched, never configured
  std::optional<device::Identity> identity;              // of the latest start-up
  std::optional<protocol::Configuration> configuration;  // as read at the latest start-up
  device::ReceiverState receiver;                        // since the latest start-up
  DeviceCounters counters;
  // System::now() when the latest NAV-PVT with a valid fix came; nothing before the first.
  std::optional<std::chrono::milliseconds> lastFixAt;
  device::HidFailure lastFailure;
  // Lock and holdover on System::now(): its figures are asked for at the moment of a scrape.
  device::LockTracker lock;
};

// Called on the device's thread for every navigation epoch whose NAV-PVT has a valid, fully
// resolved time and a fix, with the moment the read that completed it came back, once the next
// epoch has shown that the read was fresh (device::FreshTime): an epoch late.
using SampleListener = std::function<void(const device::TimeSample&)>;

// Watches one device, chosen by serial number, for a program without a window: opens it when it
// is there, runs the start-up, reads its reports at every step and asks for the navigation
// messages again when they stop while the device still answers (a window that closed switched
// them off, say). It never sends a setting, and it leaves the messages on when it lets the
// device go, so a window on the same device keeps its data.
class DeviceMonitor {
 public:
  // Messages that stayed away this long from a device that answers are asked for again, at
  // most once in this time.
  static constexpr std::chrono::milliseconds kMessageSilence{5000};

  // Each step's read waits at most `readWait` for the device's first report.
  DeviceMonitor(platform::Hid& hid, platform::System& system, std::string serial,
                std::chrono::milliseconds readWait = device::DeviceLink::kFirstReportWait,
                SampleListener onSample = {});
  ~DeviceMonitor();
  DeviceMonitor(const DeviceMonitor&) = delete;
  DeviceMonitor& operator=(const DeviceMonitor&) = delete;

  // What a step found.
  enum class Step {
    Gone,     // the device is not there: its handles are closed and the snapshot says so
    Waiting,  // it is there, but it does not answer or its receiver said nothing
    Heard,    // receiver frames came
  };
  // One read of the device's reports. Opens the device first when it is not open.
  Step step();

  // The verdicts on unusable devices that the fleet's links share, for every connection's.
  void shareUnusableDevices(std::shared_ptr<device::UnusableDevices> shared) {
    unusable_ = std::move(shared);
  }

  // Changes whenever the snapshot does, so that a caller copies it only then.
  [[nodiscard]] std::uint64_t revision() const { return revision_; }
  [[nodiscard]] const DeviceSnapshot& snapshot() const { return snapshot_; }

 private:
  bool connect();
  void startUp();
  void disconnect();
  void poll();
  // A NAV message the session decoded in the read being polled.
  void decoded(std::uint8_t id);
  void publish();
  // Adds what the open connection's session counted to `counters`.
  void addSessionCounts(DeviceCounters& counters) const;

  platform::Hid& hid_;
  platform::System& system_;
  std::chrono::milliseconds readWait_;
  SampleListener onSample_;
  device::FreshTime freshTime_;             // of the epochs with a fix, for onSample_
  std::optional<device::Session> session_;  // one per connection: its counts start at zero
  std::shared_ptr<device::UnusableDevices> unusable_ = std::make_shared<device::UnusableDevices>();
  DeviceCounters earlier_;  // of the connections before this one
  DeviceSnapshot snapshot_;
  bool everOpened_ = false;
  std::chrono::milliseconds lastMessageAt_{0};
  std::chrono::milliseconds lastRequestAt_{0};
  std::uint64_t revision_ = 0;
  bool changed_ = true;  // since the latest publish()
  bool heard_ = false;   // receiver frames came in the latest poll
};

}  // namespace qvr::monitor
