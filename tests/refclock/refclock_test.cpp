// The samples as chronyd and ntpd read them: from a datagram socket of the test's own, and from
// a System V segment attached by its key.

#include <gtest/gtest.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "refclock/chrony_socket.h"
#include "refclock/feed.h"
#include "refclock/ntp_shm.h"

namespace qvr::refclock {
namespace {

using namespace std::chrono_literals;
using std::chrono::nanoseconds;

// A sample between the years 2000 and 2100, whose report came up to two seconds either side of
// the receiver's time.
device::TimeSample randomSample(std::mt19937_64& random) {
  std::uniform_int_distribution<std::int64_t> when(946684800LL * 1000000000,
                                                   4102444800LL * 1000000000);
  std::uniform_int_distribution<std::int64_t> late(-2000000000, 2000000000);
  const nanoseconds receiver{when(random)};
  device::TimeSample sample;
  sample.receiverTime = std::chrono::sys_time<nanoseconds>(receiver);
  sample.read.realtime = receiver + nanoseconds(late(random));
  return sample;
}

// chronyd's end: a datagram socket bound in a folder of its own.
class ChronydEnd {
 public:
  ChronydEnd() {
    std::string folder = (std::filesystem::temp_directory_path() / "qvr-refclock-XXXXXX").string();
    EXPECT_NE(::mkdtemp(folder.data()), nullptr);
    folder_ = folder;
    path_ = folder + "/chrony.sock";
  }
  ~ChronydEnd() {
    stop();
    std::filesystem::remove_all(folder_);
  }
  ChronydEnd(const ChronydEnd&) = delete;
  ChronydEnd& operator=(const ChronydEnd&) = delete;

  [[nodiscard]] const std::string& path() const { return path_; }

  void start() {
    fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(static_cast<char*>(address.sun_path), path_.c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0)
        << std::strerror(errno);
  }
  // Gone as chronyd goes: its socket removed.
  void stop() {
    crash();
    ::unlink(path_.c_str());
  }
  // Stopped without removing its socket, as a chronyd that was killed.
  void crash() {
    if (fd_ >= 0) {
      ::close(fd_);
      fd_ = -1;
    }
  }

  // The next datagram, as many bytes as it had.
  std::vector<std::byte> receive() {
    std::vector<std::byte> buffer(128);
    const ssize_t got = ::recv(fd_, buffer.data(), buffer.size(), MSG_DONTWAIT);
    buffer.resize(got < 0 ? 0 : static_cast<std::size_t>(got));
    return buffer;
  }

 private:
  std::string folder_;
  std::string path_;
  int fd_ = -1;
};

template <typename T>
T field(const std::vector<std::byte>& bytes, std::size_t offset) {
  T value{};
  std::memcpy(&value, bytes.data() + offset, sizeof value);
  return value;
}

// Every field where chronyd's refclock_sock reads it on 64-bit Linux, and the measurement's
// system time plus its offset is the receiver's time.
TEST(ChronySocket, ChronydReadsEverySampleAsTheReceiverNamedIt) {
  ChronydEnd chronyd;
  chronyd.start();
  ChronySocket socket(chronyd.path());
  std::mt19937_64 random(7130);
  for (int i = 0; i < 2000; ++i) {
    const device::TimeSample sample = randomSample(random);
    ASSERT_EQ(socket.send(sample), (Delivery{true, {}}));
    const std::vector<std::byte> got = chronyd.receive();
    ASSERT_EQ(got.size(), 40u);
    const auto sec = field<std::int64_t>(got, 0);
    const auto usec = field<std::int64_t>(got, 8);
    const auto offset = field<double>(got, 16);
    const nanoseconds read = sample.read.realtime;
    EXPECT_EQ(sec * 1000000 + usec, std::chrono::floor<std::chrono::microseconds>(read).count());
    EXPECT_GE(usec, 0);
    EXPECT_LT(usec, 1000000);
    const std::int64_t named = sec * 1000000000 + usec * 1000 + std::llround(offset * 1e9);
    EXPECT_LE(std::abs(named - sample.receiverTime.time_since_epoch().count()), 1) << i;
    EXPECT_EQ(field<int>(got, 24), 0);  // not a pulse
    EXPECT_EQ(field<int>(got, 28), 0);  // no leap second
    EXPECT_EQ(field<int>(got, 32), 0);
    EXPECT_EQ(field<int>(got, 36), 0x534f434b);
  }
}

// Whatever chronyd is up to, a send comes back at once: not started yet, killed, restarted, or
// alive but not reading while samples pile up.
TEST(ChronySocket, ASendNeverWaitsAndFindsARestartedChronyd) {
  ChronydEnd chronyd;
  ChronySocket socket(chronyd.path());
  std::mt19937_64 random(1);
  EXPECT_EQ(socket.send(randomSample(random)), (Delivery{false, "No such file or directory"}));

  chronyd.start();
  const auto started = std::chrono::steady_clock::now();
  Delivery last;
  for (int i = 0; i < 100000 && (last = socket.send(randomSample(random))).delivered; ++i) {
  }
  EXPECT_EQ(last, (Delivery{false, "Resource temporarily unavailable"}));
  EXPECT_LT(std::chrono::steady_clock::now() - started, 5s);

  chronyd.crash();
  EXPECT_EQ(socket.send(randomSample(random)), (Delivery{false, "Connection refused"}));
  chronyd.stop();
  chronyd.start();
  EXPECT_TRUE(socket.send(randomSample(random)).delivered);
  EXPECT_EQ(chronyd.receive().size(), 40u);
  EXPECT_NE(ChronySocket(std::string(200, 'x')).send(randomSample(random)).failure.find("107"),
            std::string::npos);
}

// What ntpd's SHM driver reads: the segment attached by its key, mode 1, the count bumped twice
// per sample (so it is even whenever no write is under way), valid set, both times to the
// nanosecond with their microseconds beside them, and everybody's access for a unit above 1.
TEST(NtpShm, NtpdReadsEverySampleFromTheUnitsSegment) {
  // A unit no ntpd on this machine uses: one whose segment does not exist yet.
  int unit = 100 + static_cast<int>(::getpid() % 100);
  while (::shmget(ntpShmKey(unit), 0, 0) >= 0) {
    ++unit;
  }
  NtpShm shm(unit);
  std::mt19937_64 random(42);
  for (int i = 1; i <= 200; ++i) {
    const device::TimeSample sample = randomSample(random);
    ASSERT_EQ(shm.write(sample), (Delivery{true, {}}));
    const int id = ::shmget(ntpShmKey(unit), sizeof(ShmTime), 0);
    ASSERT_GE(id, 0);
    const auto* seen = static_cast<const ShmTime*>(::shmat(id, nullptr, SHM_RDONLY));
    const ShmTime s = *seen;
    ::shmdt(seen);
    EXPECT_EQ(s.mode, 1);
    EXPECT_EQ(s.count, 2 * i);
    EXPECT_EQ(s.valid, 1);
    const auto nanos = [](std::time_t sec, int usec, unsigned nsec) {
      EXPECT_EQ(static_cast<unsigned>(usec), nsec / 1000);
      return static_cast<std::int64_t>(sec) * 1000000000 + nsec;
    };
    EXPECT_EQ(nanos(s.clockTimeStampSec, s.clockTimeStampUSec, s.clockTimeStampNSec),
              sample.receiverTime.time_since_epoch().count());
    EXPECT_EQ(nanos(s.receiveTimeStampSec, s.receiveTimeStampUSec, s.receiveTimeStampNSec),
              sample.read.realtime.count());
    EXPECT_EQ(s.leap, 0);
    EXPECT_EQ(s.precision, -10);
    EXPECT_EQ(s.nsamples, 3);
  }
  shmid_ds status{};
  const int id = ::shmget(ntpShmKey(unit), 0, 0);
  ASSERT_EQ(::shmctl(id, IPC_STAT, &status), 0);
  EXPECT_EQ(status.shm_perm.mode & 0777, 0666);
  EXPECT_EQ(status.shm_segsz, sizeof(ShmTime));
  ::shmctl(id, IPC_RMID, nullptr);
}

// Over a random life of chronyd (there, gone, back), a line is said each time the samples start
// or stop reaching it, and never more.
TEST(Feed, SaysOneLineWhenSamplesStartOrStopReachingTheDaemon) {
  ChronydEnd chronyd;
  std::vector<std::string> lines;
  Feed feed({.chronySocket = chronyd.path()}, [&](const std::string& target, const Delivery& now) {
    lines.push_back(target + ": " + (now.delivered ? "delivered" : now.failure));
  });
  std::mt19937_64 random(3);
  std::bernoulli_distribution flip(0.2);
  bool up = false;
  std::optional<bool> before;
  std::size_t changes = 0;
  for (int i = 0; i < 500; ++i) {
    if (flip(random)) {
      up ? chronyd.stop() : chronyd.start();
      up = !up;
    }
    feed.take(randomSample(random));
    (void)chronyd.receive();
    changes += before != up ? 1 : 0;
    before = up;
    ASSERT_EQ(lines.size(), changes) << i;
    EXPECT_EQ(lines.back(), "chronyd's socket " + chronyd.path() + ": " +
                                (up ? "delivered" : "No such file or directory"));
  }
}

}  // namespace
}  // namespace qvr::refclock
