#pragma once

#include <ctime>

#include "device/receiver_time.h"
#include "refclock/delivery.h"

namespace qvr::refclock {

// ntpd's and NTPsec's shared-memory refclock segment, field for field (96 bytes on 64-bit
// Linux).
struct ShmTime {
  int mode;  // 1: the reader takes the fields only when count is the same before and after
  int count;
  std::time_t clockTimeStampSec;  // the receiver's time
  int clockTimeStampUSec;
  std::time_t receiveTimeStampSec;  // this computer's clock when it was read
  int receiveTimeStampUSec;
  int leap;       // 0: no leap second announced
  int precision;  // log2 of seconds
  int nsamples;
  int valid;
  unsigned clockTimeStampNSec;
  unsigned receiveTimeStampNSec;
  int dummy[8];
};

inline constexpr int kHighestNtpUnit = 255;
// A millisecond, roughly: what reading the receiver over USB gets to.
inline constexpr int kNtpShmPrecision = -10;

// The System V key of a unit: "NTP0" plus the unit.
[[nodiscard]] constexpr int ntpShmKey(int unit) {
  return 0x4E545030 + unit;
}

// The writing end of ntpd's SHM refclock unit `unit` (0 to kHighestNtpUnit). The segment is
// the daemon's when it made it first; otherwise it is made here, with the access ntpd gives a
// unit: owner only for units 0 and 1, everybody for the others. Not thread-safe: one device
// thread writes.
class NtpShm {
 public:
  explicit NtpShm(int unit);
  ~NtpShm();
  NtpShm(const NtpShm&) = delete;
  NtpShm& operator=(const NtpShm&) = delete;

  [[nodiscard]] int unit() const { return unit_; }

  // Publishes the sample in mode 1: count bumped, the fields written, count bumped again,
  // valid set. The segment is attached at the first write that can (a segment that could not
  // be had is asked for again at each write) and fails with the system's reason until then.
  [[nodiscard]] Delivery write(const device::TimeSample& sample);

 private:
  int unit_;
  ShmTime* segment_ = nullptr;
};

}  // namespace qvr::refclock
