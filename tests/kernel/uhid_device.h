#pragma once

// What the UHID responder plays and the kernel test expects: one QVR-7130 as the kernel sees
// it. Both programs include this, so a change to the device changes both sides.

#include <array>
#include <cstddef>
#include <cstdint>

#include "protocol/usb_identity.h"

namespace qvr::kernel_test {

using protocol::kProductId;
using protocol::kVendorId;
// UHID has no USB string descriptors: the name stands in for the product string and uniq for
// the serial number.
inline constexpr const char* kProductName = "QVR-7130 GPSDO";
inline constexpr const char* kSerial = "KT713042";
// The serial number of the responder's "odd-serial" variant, as the kernel keeps it: UTF-8 with
// an e-acute, a euro sign and a line break.
inline constexpr const char* kOddSerial = "C4-\xC3\xA9\xE2\x82\xAC\nX";

// Unnumbered reports as they travel on the wire, without a report ID byte; the host counts one
// more for it (64 and 40).
inline constexpr std::size_t kInputBytes = 63;
inline constexpr std::size_t kFeatureBytes = 39;

// Vendor page, one application collection, 8-bit fields: 63 input bytes, 39 feature bytes.
inline constexpr std::array<std::uint8_t, 27> kReportDescriptor = {
    0x06, 0x00,          0xFF,        // Usage Page (vendor 0xFF00)
    0x09, 0x01,                       // Usage (1)
    0xA1, 0x01,                       // Collection (Application)
    0x15, 0x00,                       //   Logical Minimum (0)
    0x26, 0xFF,          0x00,        //   Logical Maximum (255)
    0x75, 0x08,                       //   Report Size (8)
    0x95, kInputBytes,                //   Report Count (63)
    0x09, 0x01,          0x81, 0x02,  //   Usage (1), Input (Data, Variable, Absolute)
    0x95, kFeatureBytes,              //   Report Count (39)
    0x09, 0x01,          0xB1, 0x02,  //   Usage (1), Feature (Data, Variable, Absolute)
    0xC0,                             // End Collection
};

// The same device with input reports of 2 bytes (3 as the host counts them): room for the
// status and data-present bytes and none for receiver bytes, so the host must leave it alone.
inline constexpr std::uint8_t kShortInputBytes = 2;
inline constexpr std::array<std::uint8_t, 27> kShortInputDescriptor = [] {
  auto descriptor = kReportDescriptor;
  descriptor[15] = kShortInputBytes;  // the input's Report Count
  return descriptor;
}();

// The configuration report after its report ID byte: format 1, outputs enabled, OUT1 10.5 Hz,
// OUT2 -0.5 Hz, FLL off, GPS+SBAS+Galileo+GLONASS, stationary, antenna current 12.
inline constexpr std::array<std::uint8_t, 25> kConfiguration = {
    0x01, 0x20, 0x00, 0x00, 0x00, 0x80, 0x0A, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x80, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x47, 0x02, 0x0C, 0x00,
};

// The same device after its user changed it: outputs off, FLL on, both low powers on (which
// firmware 0.00, as UHID presents it, does not read back).
inline constexpr std::array<std::uint8_t, 25> kChangedConfiguration = [] {
  auto configuration = kConfiguration;
  configuration[1] = 0x00;   // flags: outputs off, 1PPS off
  configuration[18] = 0x01;  // FLL
  configuration[19] = 0x01;  // OUT1 low power
  configuration[20] = 0x01;  // OUT2 low power
  return configuration;
}();

// Input report layout after the status and data-present bytes.
inline constexpr std::uint8_t kStatusSignalOk = 0x05;  // antenna OK, signal OK
inline constexpr std::size_t kReceiverBytesPerReport = kInputBytes - 2;

// The fix the receiver reports in NAV-PVT once asked to: 2025-03-07 14:05:09 UTC,
// 47.3769 N 8.5417 E, 408 m above mean sea level; and the clock drift of NAV-CLOCK.
inline constexpr std::uint16_t kYear = 2025;
inline constexpr std::uint8_t kMonth = 3;
inline constexpr std::uint8_t kDay = 7;
inline constexpr std::uint8_t kHour = 14;
inline constexpr std::uint8_t kMinute = 5;
inline constexpr std::uint8_t kSecond = 9;
inline constexpr std::int32_t kLatitude = 473769000;  // 1e-7 degrees
inline constexpr std::int32_t kLongitude = 85417000;  // 1e-7 degrees
inline constexpr std::int32_t kHeightMsl = 408000;    // mm
inline constexpr std::int32_t kClockDrift = -37;      // ns/s

}  // namespace qvr::kernel_test
