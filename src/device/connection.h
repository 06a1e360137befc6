#pragma once

#include <cstdint>
#include <string>

#include "platform/hid.h"
#include "protocol/firmware.h"

namespace qvr::device {

// Where the connection to the chosen device stands. Commands go out only once it is
// Configured: its firmware was accepted, its configuration read and its messages requested.
enum class Phase { NoDevice, Found, Configured };

// A HID call that failed: which call, and the system's reason as the backend captured it.
struct HidFailure {
  std::string operation;  // "open", "get feature", "read" ...
  std::string reason;     // the system's text; empty when the backend had none
};

// Everything known about the device being talked to; one set for the whole run.
struct ConnectionState {
  platform::HidCaps caps;
  platform::HidAttributes attributes;
  std::string devicePath;
  std::string serial;  // the serial number the device was opened by
  platform::HidHandle deviceHandle = platform::kInvalidHandle;
  platform::HidHandle stringHandle = platform::kInvalidHandle;

  Phase phase = Phase::NoDevice;
  bool deviceListReady = false;  // the device scan has finished

  protocol::FirmwareVersion firmware;
  protocol::FirmwareCapabilities capabilities;  // of `firmware`, computed when it was read
  std::string firmwareText;
  std::uint8_t gnssSelection = 0;
  std::uint8_t dynamicModel = 0;
  int antennaCurrent = 0;  // -1 once a connection start-up has begun and not read it
  std::int32_t lastResult = 0;

  // A call failed because the device did not answer in time: it is there but hung, not gone.
  // Stays set until a start-up begins again.
  bool notAnswering = false;

  HidFailure lastFailure;         // the latest failed HID call
  std::uint64_t hidFailures = 0;  // failed HID calls since the start

  [[nodiscard]] bool found() const { return phase != Phase::NoDevice; }
  [[nodiscard]] bool configured() const { return phase == Phase::Configured; }
};

}  // namespace qvr::device
