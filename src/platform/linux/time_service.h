#pragma once

#include <cstdint>
#include <string>

namespace qvr::platform::hidraw {

// The outcome of one attempt to set the computer's clock. A refusal keeps its reason, in words
// for the user and naming the error the system gave, since "refused" alone does not say whether
// to type a password, turn automatic synchronisation off or run as root.
struct ClockResult {
  bool set = false;
  std::string refusal;  // empty when set
};

// Asks systemd's time service to set the clock to `utcMicroseconds` (since 1970, UTC) for a
// process that may not set it itself; polkit then decides, and on a desktop asks for the
// administrator's password, which may take as long as the user takes.
//
// The service is sent an offset, not a time: the distance between `utcMicroseconds` and
// CLOCK_REALTIME measured when this is called, before any authentication, so the clock ends up
// right however long the prompt stayed open. The call itself waits up to two minutes for the
// user. `busAddress` is a D-Bus address to ask on; empty is the system bus (tests use a private
// one). Blocks the calling thread until the service answers.
[[nodiscard]] ClockResult setTimeThroughService(const std::string& busAddress,
                                                std::int64_t utcMicroseconds);

// The same with the offset already measured, for a caller that asks from another thread than the
// one the receiver's time arrived on.
[[nodiscard]] ClockResult askTimeServiceToShift(const std::string& busAddress,
                                                std::int64_t offsetMicroseconds);

// CLOCK_REALTIME in microseconds since 1970, what the offset above is measured against.
[[nodiscard]] std::int64_t realTimeMicroseconds();

}  // namespace qvr::platform::hidraw
