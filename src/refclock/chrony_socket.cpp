#include "refclock/chrony_socket.h"

#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <bit>
#include <cerrno>
#include <cstring>
#include <system_error>
#include <utility>

namespace qvr::refclock {
namespace {

using std::chrono::duration;
using std::chrono::floor;
using std::chrono::microseconds;
using std::chrono::nanoseconds;
using std::chrono::seconds;

// chronyd's struct sock_sample, field for field.
struct SockSample {
  timeval tv;
  double offset;
  int pulse;
  int leap;
  int pad;
  int magic;
};
static_assert(sizeof(SockSample) == kSockSampleBytes);

std::string systemReason() {
  return std::generic_category().message(errno);
}

}  // namespace

SockSampleBytes sockSample(const device::TimeSample& sample) {
  const microseconds read = floor<microseconds>(sample.read.realtime);
  const seconds whole = floor<seconds>(read);
  SockSample wire{};
  wire.tv.tv_sec = whole.count();
  wire.tv.tv_usec = (read - whole).count();
  wire.offset =
      duration<double>(sample.receiverTime.time_since_epoch() - nanoseconds(read)).count();
  wire.magic = kSockMagic;
  return std::bit_cast<SockSampleBytes>(wire);
}

ChronySocket::ChronySocket(std::string path) : path_(std::move(path)) {}

ChronySocket::~ChronySocket() {
  if (fd_ >= 0) {
    ::close(fd_);
  }
}

Delivery ChronySocket::send(const device::TimeSample& sample) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path_.size() >= sizeof address.sun_path) {
    return {false,
            "a socket path has at most " + std::to_string(sizeof address.sun_path - 1) + " bytes"};
  }
  std::memcpy(static_cast<char*>(address.sun_path), path_.data(), path_.size());
  if (fd_ < 0) {
    fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) {
      return {false, systemReason()};
    }
  }
  const SockSampleBytes bytes = sockSample(sample);
  // Unconnected, so that the path is looked up at every send and a restarted chronyd's new
  // socket is the one written to.
  // A datagram goes whole or not at all.
  if (::sendto(fd_, bytes.data(), bytes.size(), MSG_DONTWAIT | MSG_NOSIGNAL,
               reinterpret_cast<const sockaddr*>(&address), sizeof address) < 0) {
    return {false, systemReason()};
  }
  return {true, {}};
}

}  // namespace qvr::refclock
