#pragma once

#include <cstdint>

namespace qvr::protocol {

// The status byte of the device's input reports (byte 1 of a report): the antenna's and the
// receiver's state as the device sees them.
inline constexpr std::uint8_t kStatusSignalOk = 0x01;   // bit 0: the receiver has a signal
inline constexpr std::uint8_t kStatusAntennaOk = 0x04;  // bit 2: no short on the antenna feed

// What the byte means, worst first: a shorted antenna hides whether there is a signal.
enum class DeviceStatus { AntennaShorted, NoSignal, SignalOk };

[[nodiscard]] constexpr DeviceStatus deviceStatus(std::uint8_t statusByte) {
  if ((statusByte & kStatusAntennaOk) == 0) {
    return DeviceStatus::AntennaShorted;
  }
  return (statusByte & kStatusSignalOk) == 0 ? DeviceStatus::NoSignal : DeviceStatus::SignalOk;
}

// The words the window shows for it.
[[nodiscard]] constexpr const char* deviceStatusText(DeviceStatus status) {
  switch (status) {
    case DeviceStatus::AntennaShorted:
      return "GPS antenna shorted";
    case DeviceStatus::NoSignal:
      return "No GPS signal";
    case DeviceStatus::SignalOk:
      break;
  }
  return "GPS signal OK";
}

}  // namespace qvr::protocol
