#pragma once

#include <cstdint>
#include <string>

#include "platform/hid.h"
#include "protocol/firmware.h"

namespace qvr::device {

// Everything the window knows about the device it talks to; one set for the whole run.
struct ConnectionState {
  platform::HidCaps caps;
  platform::HidAttributes attributes;
  std::string devicePath;
  platform::HidHandle deviceHandle = platform::kInvalidHandle;
  platform::HidHandle stringHandle = platform::kInvalidHandle;

  bool deviceFound = false;       // a device with the selected serial number is open
  bool deviceConfigured = false;  // its firmware was accepted and its configuration read
  bool deviceListReady = false;   // the device scan has finished
  bool selectionPending = false;  // the user picked a serial number not yet opened

  protocol::FirmwareVersion firmware;
  protocol::FirmwareCapabilities capabilities;  // of `firmware`, computed when it was read
  std::string firmwareText;
  std::uint8_t gnssSelection = 0;
  std::uint8_t dynamicModel = 0;
  int antennaCurrent = 0;  // -1 once a connection start-up has begun and not read it
  std::int32_t lastResult = 0;
};

}  // namespace qvr::device
