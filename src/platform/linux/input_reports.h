#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>

namespace qvr::platform::hidraw {

// Takes one input report into `out` (never more than its size), waiting at most `wait` for it:
// the number of bytes placed, 0 when none came in time, negative when the device is gone.
using ReportReader =
    std::function<int(std::span<std::uint8_t> out, std::chrono::milliseconds wait)>;

struct InputFraming {
  std::size_t reportLength = 0;  // as Windows counts it, report ID byte included
  bool numbered = false;         // reports arrive with their ID byte already in front
};

// Fills `buffer` with whole input reports back to back, each `reportLength` bytes and starting
// with its report ID byte, the way a Windows read delivers them. Waits at most
// `firstReportWait` for the first report and takes only what is already queued after it.
// Fails when the device is gone before a report arrived, or when the buffer cannot hold one
// report; a read that already has reports returns them, and the next read sees the loss.
[[nodiscard]] bool gatherInputReports(const ReportReader& readOne, InputFraming framing,
                                      std::span<std::uint8_t> buffer, std::size_t& bytesRead,
                                      std::chrono::milliseconds firstReportWait);

}  // namespace qvr::platform::hidraw
