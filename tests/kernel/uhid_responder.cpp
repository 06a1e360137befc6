// A QVR-7130 played through the kernel's UHID interface, for the kernel test: the kernel makes
// a hidraw node of it, and the host side talks to that node exactly as to the real device.
//
//   qvr-uhid-responder LOG [short-input|odd-serial|changed-settings|clock|delay=MS]
//
// Answers GET_REPORT with the configuration report, appends every SET_REPORT to LOG as one
// line of hex bytes (before answering, so that a host whose send returned finds it there),
// and while the node is open sends an input report every 10 ms: the status byte, then either
// receiver bytes or, when the receiver has nothing to say, a running count that lets the test
// check order and framing. The receiver emits NAV-PVT and NAV-CLOCK at every solution once
// the host switched them on with CFG-MSG, and a frame of another class that the host must
// skip. SIGTERM destroys the device and ends the program. SIGUSR1 makes the firmware stop
// answering GET_REPORT and SET_REPORT (the kernel waits for an answer that does not come, and
// queues every further request behind it); SIGUSR2 makes it answer again, the requests it kept
// first, as firmware that wakes up finishes what it was asked. SIGRTMIN makes it stop sending
// input reports while it still answers, SIGRTMIN+1 makes it send them again.
//
// With "delay=MS" the firmware answers every GET_REPORT and SET_REPORT MS milliseconds after it
// came, as a slow device does, and goes on sending input reports meanwhile. Every time the
// host opens the device (the kernel passes on the first open of the node only) it appends a
// line to LOG.opens.
//
// With "clock" its receiver keeps the guest's time instead of a fixed one: a solution at every
// whole second of CLOCK_REALTIME as it was when the responder started (carried on by
// CLOCK_MONOTONIC, so that a program setting the clock does not move it), with a fix. It writes
// "SECOND SENT_NS" to LOG.pvt for each NAV-PVT: the Unix second it names and the
// CLOCK_MONOTONIC instant the input report that completed it was handed to the kernel.

#include <fcntl.h>
#include <linux/uhid.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include "protocol/bytes.h"
#include "protocol/ubx_layout.h"
#include "uhid_device.h"

namespace {

using namespace qvr::kernel_test;
using namespace qvr::protocol::ubx;
using qvr::protocol::writeI32Le;
using qvr::protocol::writeU16Le;
using qvr::protocol::writeU32Le;
using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;
using std::chrono::milliseconds;

constexpr milliseconds kReportPeriod{10};
constexpr milliseconds kSolutionPeriod{250};

// Feature report bytes after the report ID: command code, then its data.
constexpr std::size_t kCommandByte = 1;
constexpr std::uint8_t kCommandReceiverMessage = 0x08;
// A tunnelled CFG-MSG: class 06, ID 01, length 8, then message class, ID and six port rates.
constexpr std::uint8_t kCfgMsg[] = {0x06, 0x01, 0x08, 0x00};
constexpr std::size_t kCfgMsgClass = kCommandByte + 1 + sizeof kCfgMsg;
constexpr std::size_t kCfgMsgRate = kCfgMsgClass + 2;  // port 0, the one the device listens on

constexpr std::uint8_t kClassNav = 0x01;
constexpr std::uint8_t kIdNavPvt = 0x07;
constexpr std::uint8_t kIdNavClock = 0x22;
constexpr std::uint8_t kClassMon = 0x0A;
constexpr std::uint8_t kIdMonHw = 0x09;
constexpr std::uint8_t kValidDateTimeResolved = 0x07;
constexpr std::uint8_t kFix3d = 3;
constexpr std::uint8_t kGnssFixOk = 0x01;

volatile std::sig_atomic_t stopRequested = 0;
void requestStop(int) {
  stopRequested = 1;
}
volatile std::sig_atomic_t hung = 0;
void stopAnswering(int) {
  hung = 1;
}
void answerAgain(int) {
  hung = 0;
}
volatile std::sig_atomic_t silent = 0;
void stopSending(int) {
  silent = 1;
}
void sendAgain(int) {
  silent = 0;
}

Bytes ubxFrame(std::uint8_t messageClass, std::uint8_t id, const Bytes& payload) {
  constexpr std::uint8_t kSync1 = 0xB5;
  constexpr std::uint8_t kSync2 = 0x62;
  constexpr std::size_t kFraming = 8;  // sync bytes, class, ID, length; checksum
  Bytes frame(payload.size() + kFraming, 0);
  frame[0] = kSync1;
  frame[1] = kSync2;
  frame[2] = messageClass;
  frame[3] = id;
  writeU16Le(frame, 4, static_cast<std::uint16_t>(payload.size()));
  std::copy(payload.begin(), payload.end(), frame.begin() + 6);
  // Fletcher checksum over class, ID, length and payload.
  std::uint8_t a = 0;
  std::uint8_t b = 0;
  for (std::size_t i = 2; i < frame.size() - 2; ++i) {
    a = static_cast<std::uint8_t>(a + frame[i]);
    b = static_cast<std::uint8_t>(b + a);
  }
  frame[frame.size() - 2] = a;
  frame[frame.size() - 1] = b;
  return frame;
}

class Receiver {
 public:
  void setRate(std::uint8_t messageClass, std::uint8_t id, std::uint8_t rate) {
    rates_[{messageClass, id}] = rate;
  }
  [[nodiscard]] bool on(std::uint8_t messageClass, std::uint8_t id) const {
    const auto it = rates_.find({messageClass, id});
    return it != rates_.end() && it->second != 0;
  }

  // One navigation solution's worth of output, naming `second` (Unix time) or, without one,
  // the fixed moment.
  void solve(std::uint32_t iTow, std::optional<std::int64_t> second = std::nullopt) {
    if (on(kClassNav, kIdNavPvt)) {
      Bytes pvt(kPvtLength, 0);
      writeU32Le(pvt, kPvtITow, iTow);
      writeU16Le(pvt, kPvtYear, kYear);
      pvt[kPvtMonth] = kMonth;
      pvt[kPvtDay] = kDay;
      pvt[kPvtHour] = kHour;
      pvt[kPvtMinute] = kMinute;
      pvt[kPvtSecond] = kSecond;
      if (second) {
        const std::chrono::sys_seconds t{std::chrono::seconds{*second}};
        const auto day = std::chrono::floor<std::chrono::days>(t);
        const std::chrono::year_month_day date{day};
        const std::chrono::hh_mm_ss time{t - day};
        writeU16Le(pvt, kPvtYear, static_cast<std::uint16_t>(static_cast<int>(date.year())));
        pvt[kPvtMonth] = static_cast<std::uint8_t>(static_cast<unsigned>(date.month()));
        pvt[kPvtDay] = static_cast<std::uint8_t>(static_cast<unsigned>(date.day()));
        pvt[kPvtHour] = static_cast<std::uint8_t>(time.hours().count());
        pvt[kPvtMinute] = static_cast<std::uint8_t>(time.minutes().count());
        pvt[kPvtSecond] = static_cast<std::uint8_t>(time.seconds().count());
        pvt[kPvtFlags] = kGnssFixOk;
      }
      pvt[kPvtValid] = kValidDateTimeResolved;
      pvt[kPvtFixType] = kFix3d;
      writeI32Le(pvt, kPvtLon, kLongitude);
      writeI32Le(pvt, kPvtLat, kLatitude);
      writeI32Le(pvt, kPvtHMsl, kHeightMsl);
      append(ubxFrame(kClassNav, kIdNavPvt, pvt));
      pvtEnds_.push_back({written_, second.value_or(0)});
    }
    if (on(kClassNav, kIdNavClock)) {
      Bytes clock(kClockLength, 0);
      writeU32Le(clock, kClockITow, iTow);
      writeI32Le(clock, qvr::protocol::ubx::kClockDrift, qvr::kernel_test::kClockDrift);
      append(ubxFrame(kClassNav, kIdNavClock, clock));
    }
    if (on(kClassNav, kIdNavPvt)) {
      append(ubxFrame(kClassMon, kIdMonHw, Bytes(60, 0x5A)));  // not for the host to decode
    }
  }

  [[nodiscard]] bool empty() const { return stream_.empty(); }
  // Takes the next bytes of the stream into `out`; the seconds of the NAV-PVTs they complete
  // go to `completed`.
  std::size_t take(std::span<std::uint8_t> out, std::vector<std::int64_t>& completed) {
    const std::size_t n = std::min(out.size(), stream_.size());
    std::copy_n(stream_.begin(), n, out.begin());
    stream_.erase(stream_.begin(), stream_.begin() + static_cast<std::ptrdiff_t>(n));
    taken_ += n;
    while (!pvtEnds_.empty() && pvtEnds_.front().first <= taken_) {
      completed.push_back(pvtEnds_.front().second);
      pvtEnds_.pop_front();
    }
    return n;
  }

 private:
  void append(const Bytes& frame) {
    stream_.insert(stream_.end(), frame.begin(), frame.end());
    written_ += frame.size();
  }

  std::map<std::pair<std::uint8_t, std::uint8_t>, std::uint8_t> rates_;
  std::deque<std::uint8_t> stream_;
  std::uint64_t written_ = 0;                                   // stream bytes ever appended
  std::uint64_t taken_ = 0;                                     // ... and sent
  std::deque<std::pair<std::uint64_t, std::int64_t>> pvtEnds_;  // where each NAV-PVT ends
};

std::int64_t monotonicNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
      .count();
}

bool send(int fd, const uhid_event& event) {
  return write(fd, &event, sizeof event) == static_cast<ssize_t>(sizeof event);
}

bool create(int fd, std::span<const std::uint8_t> descriptor, const char* serial) {
  uhid_event event{};
  event.type = UHID_CREATE2;
  uhid_create2_req& req = event.u.create2;
  std::snprintf(reinterpret_cast<char*>(req.name), sizeof req.name, "%s", kProductName);
  std::snprintf(reinterpret_cast<char*>(req.uniq), sizeof req.uniq, "%s", serial);
  std::snprintf(reinterpret_cast<char*>(req.phys), sizeof req.phys, "qvr-uhid-responder");
  std::copy(descriptor.begin(), descriptor.end(), req.rd_data);
  req.rd_size = static_cast<std::uint16_t>(descriptor.size());
  // hidapi leaves devices on the virtual bus out of its enumeration.
  req.bus = BUS_USB;
  req.vendor = kVendorId;
  req.product = kProductId;
  req.version = 0x0108;
  return send(fd, event);
}

void logReport(std::FILE* log, std::span<const std::uint8_t> data) {
  for (std::size_t i = 0; i < data.size(); ++i) {
    std::fprintf(log, i == 0 ? "%02x" : " %02x", data[i]);
  }
  std::fputc('\n', log);
  std::fflush(log);
}

// The configuration the device reports; it keeps it whatever it is sent, so every start-up
// reads the same.
std::span<const std::uint8_t> configuration = kConfiguration;

void answerGetReport(int fd, const uhid_get_report_req& req) {
  uhid_event reply{};
  reply.type = UHID_GET_REPORT_REPLY;
  reply.u.get_report_reply.id = req.id;
  if (req.rtype != UHID_FEATURE_REPORT || req.rnum != 0) {
    reply.u.get_report_reply.err = EIO;
  } else {
    // The report ID 0 goes in front, as a USB device's driver puts it there.
    reply.u.get_report_reply.data[0] = 0;
    std::copy(configuration.begin(), configuration.end(), reply.u.get_report_reply.data + 1);
    reply.u.get_report_reply.size = kFeatureBytes + 1;
  }
  send(fd, reply);
}

void answerSetReport(int fd, const uhid_set_report_req& req, std::FILE* log, Receiver& receiver) {
  const std::span<const std::uint8_t> data(req.data,
                                           std::min<std::size_t>(req.size, UHID_DATA_MAX));
  logReport(log, data);
  if (req.rtype == UHID_FEATURE_REPORT && data.size() > kCfgMsgRate &&
      data[kCommandByte] == kCommandReceiverMessage &&
      std::equal(std::begin(kCfgMsg), std::end(kCfgMsg), data.begin() + kCommandByte + 1)) {
    receiver.setRate(data[kCfgMsgClass], data[kCfgMsgClass + 1], data[kCfgMsgRate]);
  }
  uhid_event reply{};
  reply.type = UHID_SET_REPORT_REPLY;
  reply.u.set_report_reply.id = req.id;
  reply.u.set_report_reply.err = 0;
  send(fd, reply);
}

void sendInputReport(int fd, Receiver& receiver, std::uint8_t& count, std::FILE* pvtLog) {
  uhid_event event{};
  event.type = UHID_INPUT2;
  // Always the full length: the kernel drops reports shorter than the descriptor says.
  event.u.input2.size = kInputBytes;
  std::uint8_t* report = event.u.input2.data;
  report[0] = kStatusSignalOk;
  if (receiver.empty()) {
    report[1] = 0;
    report[2] = count++;
  } else {
    report[1] = 1;
  }
  std::vector<std::int64_t> completed;
  receiver.take(std::span(report + 2, kReceiverBytesPerReport), completed);
  // Before the write: the kernel hands the report to a waiting reader within it.
  const std::int64_t sent = monotonicNs();
  send(fd, event);
  for (const std::int64_t second : completed) {
    if (pvtLog != nullptr) {
      std::fprintf(pvtLog, "%lld %lld\n", static_cast<long long>(second),
                   static_cast<long long>(sent));
      std::fflush(pvtLog);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  // With "short-input" the device's input reports are too short for receiver bytes; it then
  // sends none, since a host that behaves never reads them. With "changed-settings" it reports
  // the configuration its user changed; with "odd-serial" its serial number is kOddSerial.
  const std::string_view variant = argc == 3 ? argv[2] : "";
  const bool shortInput = variant == "short-input";
  const bool oddSerial = variant == "odd-serial";
  const bool clock = variant == "clock";
  constexpr std::string_view kDelay = "delay=";
  int delayMs = 0;
  const bool delayed =
      variant.starts_with(kDelay) &&
      std::from_chars(variant.data() + kDelay.size(), variant.data() + variant.size(), delayMs)
              .ec == std::errc{};
  const milliseconds answerDelay{delayMs};
  if (argc != 2 && !shortInput && !oddSerial && !clock && !delayed &&
      variant != "changed-settings") {
    std::fprintf(stderr, "usage: %s LOG [short-input|odd-serial|changed-settings|clock|delay=MS]\n",
                 argv[0]);
    return 2;
  }
  if (variant == "changed-settings") {
    configuration = kChangedConfiguration;
  }
  std::FILE* log = std::fopen(argv[1], "w");
  if (log == nullptr) {
    std::perror(argv[1]);
    return 1;
  }
  const std::string pvtLogPath = std::string(argv[1]) + ".pvt";
  std::FILE* pvtLog = clock ? std::fopen(pvtLogPath.c_str(), "w") : nullptr;
  std::FILE* opensLog = std::fopen((std::string(argv[1]) + ".opens").c_str(), "w");
  // Unix time in nanoseconds is this plus CLOCK_MONOTONIC, whatever is done to the clock later.
  const std::int64_t unixMinusMonotonic = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                              std::chrono::system_clock::now().time_since_epoch())
                                              .count() -
                                          monotonicNs();
  constexpr std::int64_t kNsPerSecond = 1'000'000'000;
  // The next whole Unix second, on the monotonic clock.
  const auto nextWholeSecond = [&] {
    const std::int64_t unix = monotonicNs() + unixMinusMonotonic;
    const std::int64_t second = unix / kNsPerSecond + 1;
    return std::pair{second, Clock::time_point{std::chrono::nanoseconds{second * kNsPerSecond -
                                                                        unixMinusMonotonic}}};
  };
  struct sigaction action {};
  action.sa_handler = requestStop;
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
  struct sigaction hang {};
  hang.sa_handler = stopAnswering;
  sigaction(SIGUSR1, &hang, nullptr);
  struct sigaction answer {};
  answer.sa_handler = answerAgain;
  sigaction(SIGUSR2, &answer, nullptr);
  struct sigaction quiet {};
  quiet.sa_handler = stopSending;
  sigaction(SIGRTMIN, &quiet, nullptr);
  struct sigaction talk {};
  talk.sa_handler = sendAgain;
  sigaction(SIGRTMIN + 1, &talk, nullptr);

  const int fd = open("/dev/uhid", O_RDWR | O_CLOEXEC);
  const std::span<const std::uint8_t> descriptor =
      shortInput ? std::span<const std::uint8_t>(kShortInputDescriptor) : kReportDescriptor;
  if (fd < 0 || !create(fd, descriptor, oddSerial ? kOddSerial : kSerial)) {
    std::perror("/dev/uhid");
    return 1;
  }

  Receiver receiver;
  int opened = 0;
  std::uint8_t count = 0;
  std::uint32_t iTow = 0;
  auto nextReport = Clock::now();
  auto [solutionSecond, nextSolution] =
      clock ? nextWholeSecond() : std::pair{std::int64_t{0}, Clock::now()};
  // Requests kept while hung or until their answer is due, oldest first.
  std::deque<std::pair<Clock::time_point, uhid_event>> unanswered;
  const auto reply = [&](const uhid_event& request) {
    if (request.type == UHID_GET_REPORT) {
      answerGetReport(fd, request.u.get_report);
    } else {
      answerSetReport(fd, request.u.set_report, log, receiver);
    }
  };
  const auto request = [&](const uhid_event& event) {
    if (hung == 0 && answerDelay.count() == 0) {
      reply(event);
    } else {
      unanswered.emplace_back(Clock::now() + answerDelay, event);
    }
  };
  while (stopRequested == 0) {
    while (hung == 0 && !unanswered.empty() && unanswered.front().first <= Clock::now()) {
      reply(unanswered.front().second);
      unanswered.pop_front();
    }
    const auto now = Clock::now();
    if (now >= nextSolution && clock) {
      receiver.solve(iTow, solutionSecond);
      std::tie(solutionSecond, nextSolution) = nextWholeSecond();
    } else if (now >= nextSolution) {
      receiver.solve(iTow);
      iTow += static_cast<std::uint32_t>(kSolutionPeriod.count());
      nextSolution += kSolutionPeriod;
    }
    if (now >= nextReport) {
      // Like a USB device, which the host polls only while somebody has the node open.
      if (opened > 0 && !shortInput && silent == 0) {
        sendInputReport(fd, receiver, count, pvtLog);
      }
      nextReport += kReportPeriod;
      if (nextReport < now) {
        nextReport = now + kReportPeriod;  // an emulated machine falls behind now and then
      }
    }
    auto wakeUp = std::min(nextReport, nextSolution);
    if (hung == 0 && !unanswered.empty()) {
      wakeUp = std::min(wakeUp, unanswered.front().first);
    }
    const auto wait = std::chrono::duration_cast<milliseconds>(wakeUp - Clock::now());
    pollfd p{fd, POLLIN, 0};
    const int ready = poll(&p, 1, static_cast<int>(std::max<milliseconds::rep>(wait.count(), 0)));
    if (ready <= 0) {
      continue;  // a timeout, or a signal asking to stop
    }
    uhid_event event{};
    if (read(fd, &event, sizeof event) <= 0) {
      break;
    }
    switch (event.type) {
      case UHID_OPEN:
        ++opened;
        if (opensLog != nullptr) {
          std::fputs("open\n", opensLog);
          std::fflush(opensLog);
        }
        break;
      case UHID_CLOSE:
        opened = std::max(0, opened - 1);
        break;
      case UHID_GET_REPORT:
      case UHID_SET_REPORT:
        request(event);
        break;
      default:
        break;  // start, stop, output reports: nothing to do
    }
  }

  uhid_event destroy{};
  destroy.type = UHID_DESTROY;
  send(fd, destroy);
  close(fd);
  std::fclose(log);
  if (pvtLog != nullptr) {
    std::fclose(pvtLog);
  }
  if (opensLog != nullptr) {
    std::fclose(opensLog);
  }
  return 0;
}
