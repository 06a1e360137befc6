#include "diagnostics/diagnostics_address.h"

#include <cstdio>

#include "protocol/number_text.h"

namespace qvr::diagnostics {
namespace {

// Inside a query value these carry no meaning, so the page gets them as they are; everything
// else, '&', '=', '+', '#', '%' and '?' above all, would cut the value short or be read as
// something else.
bool keptAsItIs(unsigned char c) {
  constexpr std::string_view kKept = "-._~!$'()*,;:@/";
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
         kKept.find(static_cast<char>(c)) != std::string_view::npos;
}

std::string fixedText(const std::optional<double>& value, int decimals, char decimalSeparator) {
  std::string text;
  if (value) {
    protocol::appendFixed(text, *value, decimals, decimalSeparator);
  }
  return text;
}

std::string upperHex(unsigned value) {
  char buffer[8];
  std::snprintf(buffer, sizeof buffer, "%X", value);
  return buffer;
}

void appendField(std::string& address, char separator, const char* name, std::string_view value) {
  address += separator;
  address += name;
  address += '=';
  address += queryValue(value);
}

}  // namespace

std::string queryValue(std::string_view value) {
  constexpr char kHexDigits[] = "0123456789ABCDEF";
  std::string encoded;
  encoded.reserve(value.size());
  for (const char ch : value) {
    const auto c = static_cast<unsigned char>(ch);
    if (keptAsItIs(c)) {
      encoded += ch;
    } else {
      encoded += '%';
      encoded += kHexDigits[c >> 4];
      encoded += kHexDigits[c & 0x0F];
    }
  }
  return encoded;
}

std::string diagnosticsAddress(const std::string& page, const DiagnosticsState& s,
                               char decimalSeparator) {
  std::string a = page;
  appendField(a, '?', "v", kUtilityVersion);
  appendField(a, '&', "sn", s.serialNumber);
  appendField(a, '&', "lat", fixedText(s.latitude, 2, decimalSeparator));
  appendField(a, '&', "lon", fixedText(s.longitude, 2, decimalSeparator));
  appendField(a, '&', "alt", fixedText(s.altitude, 0, decimalSeparator));
  appendField(a, '&', "fw", s.firmwareText);
  appendField(a, '&', "sat", std::to_string(s.satellitesUsed));
  appendField(a, '&', "cno", std::to_string(s.averageCno));
  appendField(a, '&', "f1out", s.out1Text);
  appendField(a, '&', "f2out", s.out2Text);
  appendField(a, '&', "flags", upperHex(s.statusByte));
  appendField(a, '&', "fll", std::to_string(s.fll));
  appendField(a, '&', "tcxo", std::to_string(s.clockDrift));
  appendField(a, '&', "os", s.osVersion);
  const protocol::FirmwareCapabilities can = protocol::capabilitiesOf(s.firmware);
  if (can.receiverSettings) {
    appendField(a, '&', "gnss", std::to_string(s.gnssSelection));
    appendField(a, '&', "dynmodel", std::to_string(s.dynamicModel));
  }
  if (can.antennaCurrent) {
    appendField(a, '&', "Iant", std::to_string(s.antennaCurrent));
  }
  if (can.nmeaSetting) {
    appendField(a, '&', "nmea", std::to_string(s.nmea));
  }
  return a;
}

}  // namespace qvr::diagnostics
