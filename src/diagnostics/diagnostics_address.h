#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "protocol/firmware.h"

namespace qvr::diagnostics {

// What the diagnostics page is told about the device and the computer.
struct DiagnosticsState {
  std::string serialNumber;         // the text of the serial-number list
  std::optional<double> latitude;   // degrees; none before the first position
  std::optional<double> longitude;  // degrees
  double altitude = 0;              // metres above mean sea level
  std::string firmwareText;
  protocol::FirmwareVersion firmware;
  int satellitesUsed = 0;
  int averageCno = 0;    // dB-Hz
  std::string out1Text;  // the frequency boxes, as they read
  std::string out2Text;
  std::uint16_t statusByte = 0;
  int fll = 0;                  // check box value
  std::int32_t clockDrift = 0;  // ns/s
  std::string osVersion;
  std::uint8_t gnssSelection = 0;
  std::uint8_t dynamicModel = 0;
  int antennaCurrent = 0;  // -1 when it was not read
  int nmea = 0;            // check box value
};

// The diagnostics address: `page` followed by the query. Every value is percent-encoded as
// by queryValue, the field names and separators are not; numbers use the user's decimal
// separator. The receiver settings appear from firmware 1.07 on, the antenna current and NMEA
// from 1.08 on.
[[nodiscard]] std::string diagnosticsAddress(const std::string& page, const DiagnosticsState& state,
                                             char decimalSeparator);

// `value` percent-encoded for a query, byte by byte with upper-case hex: letters, digits and
// -._~!$'()*,;:@/ stay as they are, anything else (a blank too, as %20) is encoded, so a device
// string holding '&', '=', '+' or '#' reaches the page whole.
[[nodiscard]] std::string queryValue(std::string_view value);

// The version of this utility that the page is told.
inline constexpr const char* kUtilityVersion = "1.09";

}  // namespace qvr::diagnostics
