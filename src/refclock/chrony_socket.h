#pragma once

#include <array>
#include <cstddef>
#include <string>

#include "device/receiver_time.h"
#include "refclock/delivery.h"

namespace qvr::refclock {

// chronyd's SOCK refclock sample as it reads it from its socket: a struct timeval, a double and
// four ints, 40 bytes on 64-bit Linux, in this machine's byte order.
inline constexpr std::size_t kSockSampleBytes = 40;
inline constexpr int kSockMagic = 0x534f434b;
using SockSampleBytes = std::array<std::byte, kSockSampleBytes>;

// The datagram for `sample`: the read's realtime to the microsecond as the measurement's
// system time, and as its offset the receiver's time minus that truncated system time, so that
// chronyd's system time plus offset is the receiver's time to the nanosecond. Not a pulse,
// no leap second announced.
[[nodiscard]] SockSampleBytes sockSample(const device::TimeSample& sample);

// The sending end of one chronyd SOCK refclock. chronyd creates the socket when it starts and
// removes it when it stops, so every send looks the path up afresh: a chronyd that restarts
// is found again without anything being reopened. Not thread-safe: one device thread sends.
class ChronySocket {
 public:
  explicit ChronySocket(std::string path);
  ~ChronySocket();
  ChronySocket(const ChronySocket&) = delete;
  ChronySocket& operator=(const ChronySocket&) = delete;

  [[nodiscard]] const std::string& path() const { return path_; }

  // Sends the sample without ever waiting: a chronyd that is not there (no socket, or one
  // nobody reads), is behind with its queue or does not let this user write fails the send
  // at once with the system's reason.
  [[nodiscard]] Delivery send(const device::TimeSample& sample);

 private:
  std::string path_;
  int fd_ = -1;  // an unbound datagram socket, made at the first send that needs it
};

}  // namespace qvr::refclock
