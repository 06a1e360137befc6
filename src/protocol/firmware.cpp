#include "protocol/firmware.h"

#include <cstdio>

namespace qvr::protocol {

FirmwareVersion FirmwareVersion::fromVersionNumber(std::uint16_t versionNumber) {
  return FirmwareVersion{static_cast<std::uint16_t>(versionNumber >> 8),
                         static_cast<std::uint16_t>(versionNumber & 0xFF)};
}

std::string FirmwareVersion::text() const {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%u.%02X", static_cast<unsigned>(major),
                static_cast<unsigned>(minor));
  return buffer;
}

}  // namespace qvr::protocol
