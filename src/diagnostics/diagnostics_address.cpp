#include "diagnostics/diagnostics_address.h"

#include <cstdio>

#include "protocol/number_text.h"

namespace qvr::diagnostics {
namespace {

void appendOptionalFixed(std::string& out, const std::optional<double>& value, int decimals,
                         char decimalSeparator) {
  if (value) {
    protocol::appendFixed(out, *value, decimals, decimalSeparator);
  }
}

std::string upperHex(unsigned value) {
  char buffer[8];
  std::snprintf(buffer, sizeof buffer, "%X", value);
  return buffer;
}

}  // namespace

std::string diagnosticsAddress(const std::string& page, const DiagnosticsState& s,
                               char decimalSeparator) {
  std::string a = page;
  a += "?v=";
  a += kUtilityVersion;
  a += "&sn=" + s.serialNumber;
  a += "&lat=";
  appendOptionalFixed(a, s.latitude, 2, decimalSeparator);
  a += "&lon=";
  appendOptionalFixed(a, s.longitude, 2, decimalSeparator);
  a += "&alt=";
  protocol::appendFixed(a, s.altitude, 0, decimalSeparator);
  a += "&fw=" + s.firmwareText;
  a += "&sat=" + std::to_string(s.satellitesUsed);
  a += "&cno=" + std::to_string(s.averageCno);
  a += "&f1out=" + s.out1Text;
  a += "&f2out=" + s.out2Text;
  a += "&flags=" + upperHex(s.statusByte);
  a += "&fll=" + std::to_string(s.fll);
  a += "&tcxo=" + std::to_string(s.clockDrift);
  a += "&os=" + s.osVersion;
  const protocol::FirmwareCapabilities can = protocol::capabilitiesOf(s.firmware);
  if (can.receiverSettings) {
    a += "&gnss=" + std::to_string(s.gnssSelection);
    a += "&dynmodel=" + std::to_string(s.dynamicModel);
  }
  if (can.nmeaSetting) {
    a += "&Iant=" + std::to_string(s.antennaCurrent);
    a += "&nmea=" + std::to_string(s.nmea);
  }
  return a;
}

}  // namespace qvr::diagnostics
