#include "platform/linux/input_reports.h"

#include <algorithm>

namespace qvr::platform::hidraw {

bool gatherInputReports(const ReportReader& readOne, InputFraming framing,
                        std::span<std::uint8_t> buffer, std::size_t& bytesRead,
                        std::chrono::milliseconds firstReportWait) {
  bytesRead = 0;
  const std::size_t length = framing.reportLength;
  // One byte would be a report ID with nothing behind it: not a report anyone can send.
  if (length < 2 || buffer.size() < length) {
    return false;
  }
  std::chrono::milliseconds wait = firstReportWait;
  while (buffer.size() - bytesRead >= length) {
    const std::span<std::uint8_t> slot = buffer.subspan(bytesRead, length);
    // hidraw leaves the ID out of unnumbered reports; Windows puts a 0 there.
    const std::span<std::uint8_t> wire = framing.numbered ? slot : slot.subspan(1);
    const int received = readOne(wire, wait);
    if (received < 0) {
      return bytesRead > 0;
    }
    if (received == 0) {
      break;
    }
    if (!framing.numbered) {
      slot[0] = 0;
    }
    // A shorter report (another report ID's, say) still takes a whole slot, so that the caller
    // can split the buffer by the report length alone.
    std::fill(wire.begin() + std::min<std::size_t>(static_cast<std::size_t>(received), wire.size()),
              wire.end(), std::uint8_t{0});
    bytesRead += length;
    wait = std::chrono::milliseconds{0};
  }
  return true;
}

}  // namespace qvr::platform::hidraw
