#pragma once

#include <chrono>
#include <optional>

#include "platform/read_stamp.h"
#include "platform/system.h"
#include "protocol/ubx_messages.h"

namespace qvr::device {

// A receiver's time with the moment the read that completed its NAV-PVT came back.
struct TimeSample {
  std::chrono::sys_time<std::chrono::nanoseconds> receiverTime;  // UTC, as the NAV-PVT names it
  platform::ReadStamp read;
  // The read emptied the system's queue: no report arrived after this one before it returned.
  // A read that filled its buffer may have left newer reports behind.
  bool newest = false;

  // Receiver time minus read time: how far this computer's clock is behind the receiver's,
  // less the time the message took to get here.
  [[nodiscard]] std::chrono::nanoseconds offset() const {
    return receiverTime.time_since_epoch() - read.realtime;
  }
};

// The sample of a NAV-PVT whose date, time and resolution are all valid (valid bits 0x07) and
// whose fields name a moment that exists, from 1980 to 2261; nothing otherwise.
[[nodiscard]] std::optional<TimeSample> timeSampleOf(const protocol::NavPvt& pvt,
                                                     const platform::ReadStamp& read, bool newest);

// Decides when a receiver's time may set a clock. Reports queue in the system while nobody
// reads them, so a program that was stopped, or a computer that slept, reads the receiver's
// old news as if it were new; only the receiver's own time shows how old it is. A sample is
// trusted once the next one confirms it: both came from reads that emptied the queue, and the
// receiver's time moved on between them by what this computer's monotonic clock says passed
// between the two reads. A backlog read at once fails that by as long as it waited.
class FreshTime {
 public:
  // How far two fresh deliveries may differ in their delay. A report waits up to one USB
  // polling interval (1 to 10 ms) for the host, the receiver sends its solution a few
  // milliseconds earlier or later after each epoch, and the reading thread wakes within a
  // millisecond; 20 ms covers all three with room, and stays under the clock-setting error a
  // user would notice.
  static constexpr std::chrono::milliseconds kTolerance{20};

  // Takes every valid time in the order the NAV-PVTs were decoded; returns the previous one when
  // this one confirms it.
  [[nodiscard]] std::optional<TimeSample> confirm(const TimeSample& next);
  // What came before no longer counts (a new connection, say).
  void forget() { candidate_.reset(); }

 private:
  std::optional<TimeSample> candidate_;
};

// The moment to set the computer's clock to at `monotonicNow`: the sample's receiver time
// plus what the monotonic clock says passed since its read, to the nearest millisecond (halves
// to even).
[[nodiscard]] platform::UtcTime clockTimeAt(const TimeSample& sample,
                                            std::chrono::nanoseconds monotonicNow);

}  // namespace qvr::device
