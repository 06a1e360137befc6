#pragma once

#include <chrono>

namespace qvr::platform {

// The moment a read of input reports came back, on both of the computer's clocks. The receiver
// names the time of its epoch; what a time server or the clock setting needs is when that news
// reached this computer, so the stamp is taken where the read returns, on the thread that made
// it, never later at a polling tick.
struct ReadStamp {
  std::chrono::nanoseconds realtime{0};   // since 1970-01-01 00:00 UTC (CLOCK_REALTIME)
  std::chrono::nanoseconds monotonic{0};  // CLOCK_MONOTONIC: only differences mean anything
  friend bool operator==(const ReadStamp&, const ReadStamp&) = default;
};

// Both real clocks, read back to back.
[[nodiscard]] inline ReadStamp stampNow() {
  const auto monotonic = std::chrono::steady_clock::now().time_since_epoch();
  const auto realtime = std::chrono::system_clock::now().time_since_epoch();
  return {std::chrono::duration_cast<std::chrono::nanoseconds>(realtime),
          std::chrono::duration_cast<std::chrono::nanoseconds>(monotonic)};
}

}  // namespace qvr::platform
