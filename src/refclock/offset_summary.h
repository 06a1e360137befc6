#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <vector>

namespace qvr::refclock {

// What a run of offsets (receiver time minus read time) comes to. Reports reach the computer
// late by a fixed part plus a jitter that now and then adds a long delay: the median and the
// interquartile range tell the fixed part and the jitter without those outliers.
struct OffsetSummary {
  std::size_t samples = 0;
  std::chrono::nanoseconds median{0};
  std::chrono::nanoseconds interquartileRange{0};  // the middle half of the samples lies in it
  // What chrony's refclock offset option (and ntpd's fudge time1) must be to take the fixed
  // part out: both add it to the receiver's time minus the computer's.
  [[nodiscard]] std::chrono::nanoseconds correction() const { return -median; }
};

// The quartiles lie between two samples in proportion to their ranks; nothing without samples.
[[nodiscard]] std::optional<OffsetSummary> summarise(std::vector<std::chrono::nanoseconds> offsets);

}  // namespace qvr::refclock
