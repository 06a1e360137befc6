#include "refclock/offset_summary.h"

#include <algorithm>

namespace qvr::refclock {
namespace {

using std::chrono::nanoseconds;

// The q-quantile of sorted samples, interpolated between the two ranks around q * (n - 1).
nanoseconds quantile(const std::vector<nanoseconds>& sorted, int numerator, int denominator) {
  const std::size_t scaled = (sorted.size() - 1) * static_cast<std::size_t>(numerator);
  const std::size_t below = scaled / static_cast<std::size_t>(denominator);
  const std::size_t remainder = scaled % static_cast<std::size_t>(denominator);
  if (remainder == 0) {
    return sorted[below];
  }
  const nanoseconds step = sorted[below + 1] - sorted[below];
  return sorted[below] + step * static_cast<long long>(remainder) / denominator;
}

}  // namespace

std::optional<OffsetSummary> summarise(std::vector<nanoseconds> offsets) {
  if (offsets.empty()) {
    return std::nullopt;
  }
  std::sort(offsets.begin(), offsets.end());
  return OffsetSummary{.samples = offsets.size(),
                       .median = quantile(offsets, 1, 2),
                       .interquartileRange = quantile(offsets, 3, 4) - quantile(offsets, 1, 4)};
}

}  // namespace qvr::refclock
