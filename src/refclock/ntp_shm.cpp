#include "refclock/ntp_shm.h"

#include <sys/ipc.h>
#include <sys/shm.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <system_error>

namespace qvr::refclock {
namespace {

using std::chrono::floor;
using std::chrono::nanoseconds;
using std::chrono::seconds;

static_assert(sizeof(ShmTime) == 96);

struct Stamp {
  std::time_t sec;
  int usec;
  unsigned nsec;
};

Stamp stampOf(nanoseconds sinceEpoch) {
  const seconds whole = floor<seconds>(sinceEpoch);
  const auto nsec = static_cast<unsigned>((sinceEpoch - whole).count());
  return {static_cast<std::time_t>(whole.count()), static_cast<int>(nsec / 1000), nsec};
}

// The daemon reads the segment from another process while it is written: the count's two
// bumps must frame the fields in the order it sees them.
void bump(int& count) {
  std::atomic_thread_fence(std::memory_order_seq_cst);
  std::atomic_ref(count).fetch_add(1);
  std::atomic_thread_fence(std::memory_order_seq_cst);
}

}  // namespace

NtpShm::NtpShm(int unit) : unit_(unit) {}

NtpShm::~NtpShm() {
  if (segment_ != nullptr) {
    ::shmdt(segment_);
  }
}

Delivery NtpShm::write(const device::TimeSample& sample) {
  if (segment_ == nullptr) {
    const int access = unit_ <= 1 ? 0600 : 0666;
    const int id = ::shmget(ntpShmKey(unit_), sizeof(ShmTime), IPC_CREAT | access);
    if (id < 0) {
      return {false, std::generic_category().message(errno)};
    }
    void* attached = ::shmat(id, nullptr, 0);
    if (reinterpret_cast<std::intptr_t>(attached) == -1) {
      return {false, std::generic_category().message(errno)};
    }
    segment_ = static_cast<ShmTime*>(attached);
  }
  ShmTime& s = *segment_;
  const Stamp clock = stampOf(sample.receiverTime.time_since_epoch());
  const Stamp receive = stampOf(sample.read.realtime);
  s.mode = 1;
  bump(s.count);
  s.clockTimeStampSec = clock.sec;
  s.clockTimeStampUSec = clock.usec;
  s.clockTimeStampNSec = clock.nsec;
  s.receiveTimeStampSec = receive.sec;
  s.receiveTimeStampUSec = receive.usec;
  s.receiveTimeStampNSec = receive.nsec;
  s.leap = 0;
  s.precision = kNtpShmPrecision;
  s.nsamples = 3;
  bump(s.count);
  std::atomic_ref(s.valid).store(1);
  return {true, {}};
}

}  // namespace qvr::refclock
