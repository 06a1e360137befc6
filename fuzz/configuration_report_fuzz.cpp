// The configuration report as any device may return it: any length, any firmware version.
#include <cstddef>
#include <cstdint>
#include <span>

#include "protocol/config_report.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) {
    return 0;
  }
  const auto firmware = qvr::protocol::FirmwareVersion::fromVersionNumber(
      static_cast<std::uint16_t>(data[0] << 8 | data[1]));
  const std::span<const std::uint8_t> report(data + 2, size - 2);
  const auto configuration = qvr::protocol::decodeConfiguration(report, firmware);
  // Whatever was decoded came from inside the report.
  if (configuration && configuration->nmea && report.size() < 26) {
    __builtin_trap();
  }
  return 0;
}
