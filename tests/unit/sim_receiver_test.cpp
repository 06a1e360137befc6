#include "platform/sim/sim_receiver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdlib>
#include <optional>
#include <random>
#include <set>
#include <span>
#include <utility>
#include <vector>

#include "platform/sim/sim_hid.h"
#include "protocol/commands.h"
#include "protocol/ubx_messages.h"
#include "protocol/ubx_parser.h"

namespace qvr::platform::sim {
namespace {

using namespace std::chrono_literals;
using protocol::Command;
using protocol::kUbxClassNav;
using protocol::kUbxIdNavClock;
using protocol::kUbxIdNavPvt;
using protocol::kUbxIdNavSat;
using std::chrono::milliseconds;
using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kHostReadSize = 13'000;
constexpr std::uint8_t kStatusNoSignal = 0x04;
constexpr std::uint8_t kStatusSignalOk = 0x05;
constexpr std::uint8_t kValidFixed = 0x37;
constexpr std::size_t kSatGnssId = 8;  // first byte of block k, at 8 + 12k
constexpr std::size_t kSatBlock = 12;
constexpr std::uint8_t kAllSystems = 0x4F;

struct Frame {
  milliseconds epoch;  // the solution's time: the latest epoch before it was read
  milliseconds readAt;
  std::uint8_t messageClass;
  std::uint8_t messageId;
  Bytes payload;
};

struct Read {
  milliseconds at;
  std::size_t bytes;
  std::uint8_t firstStatus;
  bool idle;  // the first report carries no receiver bytes
};

// The host's side: reads every 10 ms of virtual time as the window's poll does, checks each
// report's layout and feeds the receiver bytes to its own parser.
class Host {
 public:
  explicit Host(DeviceProfile made = {.serial = u"RX1"}, milliseconds start = 0ms) : now(start) {
    hid.setClock([this] { return now; });
    device = &hid.attach(std::move(made));
    open();
  }

  void open() {
    std::vector<std::string> paths;
    ASSERT_TRUE(hid.presentInterfaces(paths));
    handle = hid.open(paths.at(0), OpenMode::Device);
  }

  void send(Command command, std::span<const std::uint8_t> data) {
    const auto report =
        protocol::buildCommandReport(command, data, device->profile().featureLength);
    ASSERT_TRUE(report.has_value());
    EXPECT_TRUE(hid.setFeature(handle, *report));
  }
  void setRate(std::uint8_t id, std::uint8_t rate) {
    send(Command::ReceiverMessage, protocol::messageRateData(kUbxClassNav, id, rate));
  }
  void setRates(std::uint8_t rate) {
    for (const std::uint8_t id : {kUbxIdNavSat, kUbxIdNavClock, kUbxIdNavPvt}) {
      setRate(id, rate);
    }
  }

  void readOnce(std::size_t bufferSize = kHostReadSize) {
    Bytes buffer(bufferSize, 0xEE);
    std::size_t n = 0;
    ASSERT_TRUE(hid.read(handle, buffer, n, 0ms));
    const std::size_t length = device->profile().inputLength;
    ASSERT_EQ(n % length, 0u);
    reads.push_back({now, n, n > 0 ? buffer[1] : std::uint8_t{0}, n == 0 || buffer[2] == 0});
    for (std::size_t r = 0; r < n; r += length) {
      EXPECT_EQ(buffer[r], 0) << "report ID";
      if (buffer[r + 2] == 0) {
        EXPECT_TRUE(std::all_of(buffer.begin() + static_cast<std::ptrdiff_t>(r + 3),
                                buffer.begin() + static_cast<std::ptrdiff_t>(r + length),
                                [](std::uint8_t b) { return b == 0; }));
        continue;
      }
      for (std::size_t i = r + 3; i < r + length; ++i) {
        stream.push_back(buffer[i]);
        if (parser.feed(buffer[i])) {
          const auto payload = parser.payload();
          frames.push_back({now / SimReceiver::kEpoch * SimReceiver::kEpoch, now,
                            parser.messageClass(), parser.messageId(),
                            Bytes(payload.begin(), payload.end())});
        }
      }
    }
  }

  void run(milliseconds duration, milliseconds every = 10ms) {
    for (const milliseconds end = now + duration; now < end;) {
      now += every;
      readOnce();
    }
  }

  std::vector<const Frame*> framesOf(std::uint8_t messageClass, std::uint8_t messageId) const {
    std::vector<const Frame*> found;
    for (const Frame& f : frames) {
      if (f.messageClass == messageClass && f.messageId == messageId) {
        found.push_back(&f);
      }
    }
    return found;
  }

  SimHid hid;
  milliseconds now;
  SimDevice* device = nullptr;
  HidHandle handle = kInvalidHandle;
  protocol::UbxParser parser;
  std::vector<Frame> frames;
  std::vector<Read> reads;
  Bytes stream;  // every receiver byte, zero fill included
};

TEST(SimReceiver, SilentUntilAskedWhileIdleReportsCarryTheStatus) {
  Host host;
  host.run(5s);
  EXPECT_TRUE(host.frames.empty());
  EXPECT_TRUE(host.stream.empty());
  for (const Read& read : host.reads) {
    SCOPED_TRACE(read.at.count());
    EXPECT_EQ(read.bytes, host.device->profile().inputLength) << "one idle report per read";
    EXPECT_EQ(read.firstStatus,
              read.at < SimReceiver::kTimeToFix ? kStatusNoSignal : kStatusSignalOk);
  }
  host.device->setStatusByte(0x00);  // say, a shorted antenna
  host.run(10ms);
  EXPECT_EQ(host.reads.back().firstStatus, 0x00);
  host.device->setStatusByte(std::nullopt);
  host.run(10ms);
  EXPECT_EQ(host.reads.back().firstStatus, kStatusSignalOk);
}

TEST(SimReceiver, MessagesGoOutAtTheirCfgMsgRatesUntilRateZero) {
  struct Case {
    std::uint8_t pvt, clock, sat;
  };
  for (const Case c : {Case{1, 10, 0}, Case{10, 1, 5}, Case{0, 0, 1}, Case{2, 0, 10}}) {
    SCOPED_TRACE(testing::Message() << int{c.pvt} << "/" << int{c.clock} << "/" << int{c.sat});
    Host host;
    host.run(1s);
    host.setRate(kUbxIdNavPvt, c.pvt);
    host.setRate(kUbxIdNavClock, c.clock);
    host.setRate(kUbxIdNavSat, c.sat);
    host.run(3s);
    // Nobody reads for a second: its solutions were made before the rates go back to 0.
    host.now += 1s;
    host.setRates(0);
    host.run(2s);
    const auto expected = [](std::uint8_t rate) { return rate == 0 ? 0u : 40u / rate; };
    EXPECT_EQ(host.framesOf(kUbxClassNav, kUbxIdNavPvt).size(), expected(c.pvt));
    EXPECT_EQ(host.framesOf(kUbxClassNav, kUbxIdNavClock).size(), expected(c.clock));
    EXPECT_EQ(host.framesOf(kUbxClassNav, kUbxIdNavSat).size(), expected(c.sat));
    const auto acks = host.framesOf(0x05, 0x01);
    ASSERT_EQ(acks.size(), 6u) << "every CFG-MSG is acknowledged";
    EXPECT_EQ(acks[0]->payload, (Bytes{protocol::kUbxClassCfg, protocol::kUbxIdCfgMsg}));
  }
}

TEST(SimReceiver, PvtTimeFollowsTheClockAcrossMidnight) {
  // Powered up mid-epoch, 2.5 s before midnight UTC of the first day.
  constexpr milliseconds kStart = 11h + 59min + 57s + 456ms;
  Host host({.serial = u"RX1"}, kStart);
  host.setRate(kUbxIdNavPvt, 1);
  host.run(5s);
  const auto pvts = host.framesOf(kUbxClassNav, kUbxIdNavPvt);
  ASSERT_EQ(pvts.size(), 50u);
  for (const Frame* frame : pvts) {
    SCOPED_TRACE(frame->epoch.count());
    ASSERT_EQ(frame->payload.size(), 92u);
    const auto pvt = protocol::decodeNavPvt(frame->payload);
    ASSERT_TRUE(pvt.has_value());
    const auto utc = std::chrono::sys_days{std::chrono::year{2026} / 12 / 8} + 12h + frame->epoch;
    const auto day = std::chrono::floor<std::chrono::days>(utc);
    const std::chrono::year_month_day date{day};
    const std::chrono::hh_mm_ss time{std::chrono::floor<std::chrono::seconds>(utc) - day};
    EXPECT_EQ(int{pvt->year}, static_cast<int>(date.year()));
    EXPECT_EQ(unsigned{pvt->month}, static_cast<unsigned>(date.month()));
    EXPECT_EQ(unsigned{pvt->day}, static_cast<unsigned>(date.day()));
    EXPECT_EQ(pvt->hour, time.hours().count());
    EXPECT_EQ(pvt->minute, time.minutes().count());
    EXPECT_EQ(pvt->second, time.seconds().count());
    EXPECT_NEAR(pvt->nano, (frame->epoch % 1s).count() * 1'000'000, 100);
    const milliseconds sincePowerUp = frame->epoch - kStart;
    if (sincePowerUp >= SimReceiver::kTimeToFix) {
      EXPECT_EQ(pvt->valid, kValidFixed);
      EXPECT_NEAR(pvt->lat * 1e-7, 47.3769, 2e-5);
      EXPECT_NEAR(pvt->lon * 1e-7, 8.5417, 3e-5);
      EXPECT_NEAR(pvt->hMSL, 408'000, 3'000);
    } else {
      EXPECT_FALSE(pvt->timeValid());
      EXPECT_EQ(int{pvt->valid}, sincePowerUp < 1s ? 0x00 : 0x03);
      EXPECT_EQ(pvt->lat, 0);
    }
  }
}

// Each epoch's frames become readable their latency, give or take the jitter, after it: never
// sooner, never later, never in another order, and the same on every run with the same seed.
TEST(SimReceiver, EpochsAreDeliveredTheirLatencyGiveOrTakeTheJitterAfter) {
  std::mt19937_64 random(7130);
  for (int run = 0; run < 24; ++run) {
    const milliseconds latency{std::uniform_int_distribution<int>(0, 99)(random)};
    const auto widest = std::min(latency.count() - 1, 99 - latency.count());
    const milliseconds jitter{
        widest <= 0 ? 0 : std::uniform_int_distribution<int>(0, static_cast<int>(widest))(random)};
    const std::uint64_t seed = random();
    SCOPED_TRACE(testing::Message()
                 << latency.count() << "," << jitter.count() << " seed " << seed);
    ASSERT_TRUE(SimReceiver::deliverable({latency, jitter}));
    const auto delays = [&] {
      Host host({.serial = u"RX1", .seed = seed, .delivery = {latency, jitter}});
      host.setRate(kUbxIdNavPvt, 1);
      host.run(3s, 1ms);
      std::vector<milliseconds> found;
      for (const Frame* frame : host.framesOf(kUbxClassNav, kUbxIdNavPvt)) {
        found.push_back(frame->readAt - frame->epoch);
      }
      return found;
    };
    const std::vector<milliseconds> first = delays();
    EXPECT_EQ(first, delays());
    ASSERT_GE(first.size(), 29u);
    const auto [least, most] = std::minmax_element(first.begin(), first.end());
    EXPECT_GE(*least, latency - jitter);
    EXPECT_LE(*most, latency + jitter);
    // Thirty draws spread over most of the range.
    if (jitter >= 2ms) {
      EXPECT_GE(*most - *least, jitter);
    }
  }
}

TEST(SimReceiver, OnlyTheSelectedSystemsAppear) {
  struct Case {
    std::optional<std::uint8_t> selection;  // none: the configuration's 0x47
    std::set<std::uint8_t> gnssIds;
    bool fix;
  };
  const Case cases[] = {
      {std::nullopt, {0, 1, 2, 6}, true},
      {0x01, {0}, true},
      {kAllSystems, {0, 1, 2, 3, 6}, true},
      {0x44, {2, 6}, true},
      {0x02, {1}, false},
      {0x00, {}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(int{c.selection.value_or(0xFF)});
    Host host;
    if (c.selection) {
      host.send(Command::SatelliteSystems, std::array{*c.selection});
    }
    host.setRate(kUbxIdNavSat, 1);
    host.run(4s);
    const auto sats = host.framesOf(kUbxClassNav, kUbxIdNavSat);
    ASSERT_EQ(sats.size(), 40u);
    const Bytes& payload = sats.back()->payload;
    const auto navSat = protocol::NavSat::decode(payload);
    ASSERT_TRUE(navSat.has_value());
    EXPECT_EQ(payload.size(), 8u + kSatBlock * static_cast<std::size_t>(navSat->count()));
    std::set<std::uint8_t> seen;
    bool used = false;
    for (int k = 0; k < navSat->count(); ++k) {
      seen.insert(payload[kSatGnssId + kSatBlock * static_cast<std::size_t>(k)]);
      used = used || navSat->satellite(k).used;
    }
    EXPECT_EQ(seen, c.gnssIds);
    EXPECT_EQ(used, c.fix);
    EXPECT_EQ(host.reads.back().firstStatus, c.fix ? kStatusSignalOk : kStatusNoSignal);
  }
}

TEST(SimReceiver, SatellitesAndDriftChangeSlowlyWithinRealisticBounds) {
  Host host;
  host.setRates(1);
  host.run(60s);
  bool unusedTracked = false;
  bool belowHorizon = false;
  std::optional<protocol::NavSat> previous;
  for (const Frame* frame : host.framesOf(kUbxClassNav, kUbxIdNavSat)) {
    const auto sat = protocol::NavSat::decode(frame->payload);
    ASSERT_TRUE(sat.has_value());
    EXPECT_GE(sat->count(), 20);
    EXPECT_LE(sat->count(), 40);
    for (int k = 0; k < sat->count(); ++k) {
      const protocol::SatelliteSignal s = sat->satellite(k);
      EXPECT_TRUE(s.cno == 0 || (s.cno >= 15 && s.cno <= 50)) << int{s.cno};
      EXPECT_TRUE(!s.used || (s.cno > 0 && s.elev > 0));
      unusedTracked = unusedTracked || (!s.used && s.cno > 0);
      belowHorizon = belowHorizon || s.elev < 0;
      if (previous && frame->epoch >= SimReceiver::kTimeToFix + 100ms) {
        const protocol::SatelliteSignal p = previous->satellite(k);
        EXPECT_LE(std::abs(s.elev - p.elev), 1);
        if (s.cno > 0 && p.cno > 0) {
          EXPECT_LE(std::abs(s.cno - p.cno), 2);
        }
      }
    }
    previous = sat;
  }
  EXPECT_TRUE(unusedTracked);
  EXPECT_TRUE(belowHorizon);

  std::vector<std::int32_t> drifts;
  for (const Frame* frame : host.framesOf(kUbxClassNav, kUbxIdNavClock)) {
    ASSERT_EQ(frame->payload.size(), 20u);
    drifts.push_back(protocol::decodeNavClockDrift(frame->payload).value());
  }
  for (std::size_t i = 0; i < drifts.size(); ++i) {
    EXPECT_LE(std::abs(drifts[i]), 50);
    EXPECT_LE(std::abs(drifts[i] - drifts[i == 0 ? 0 : i - 1]), 1);
  }
  EXPECT_GT(*std::max_element(drifts.begin(), drifts.end()),
            *std::min_element(drifts.begin(), drifts.end()))
      << "the drift wanders";
}

TEST(SimReceiver, EveryFramePassesTheChecksumAndOtherClassesAppear) {
  Host host({.serial = u"RX1", .inputLength = 23});  // frames cross many reports
  host.send(Command::SatelliteSystems, std::array{kAllSystems});
  host.setRates(1);
  host.run(12s);
  // Walk the stream by its length fields: the fill between frames is zero.
  std::size_t framesInStream = 0;
  for (std::size_t i = 0; i < host.stream.size();) {
    if (host.stream[i] == 0) {
      ++i;
      continue;
    }
    ASSERT_LE(i + 6, host.stream.size());
    ASSERT_EQ(host.stream[i], 0xB5) << i;
    ASSERT_EQ(host.stream[i + 1], 0x62) << i;
    i += 8u + host.stream[i + 4] + (std::size_t{host.stream[i + 5]} << 8);
    ++framesInStream;
  }
  EXPECT_EQ(host.frames.size(), framesInStream);
  std::set<std::pair<int, int>> kinds;
  for (const Frame& f : host.frames) {
    kinds.insert({f.messageClass, f.messageId});
  }
  const std::set<std::pair<int, int>> expected = {{0x01, 0x03}, {0x01, 0x07}, {0x01, 0x22},
                                                  {0x01, 0x35}, {0x05, 0x01}, {0x0A, 0x09}};
  EXPECT_EQ(kinds, expected);
}

TEST(SimReceiver, ShortReadBuffersKeepTheRestAndAFullBufferDropsTheOldest) {
  Host whole;
  Host piecemeal;
  for (Host* host : {&whole, &piecemeal}) {
    host->setRates(1);
  }
  whole.run(5s);
  piecemeal.now += 5s;
  // One report per read: same seed and serial, so the same stream, only cut differently.
  do {
    piecemeal.readOnce(piecemeal.device->profile().inputLength);
    ASSERT_LT(piecemeal.reads.size(), 10'000u);
  } while (!piecemeal.reads.back().idle);
  ASSERT_EQ(piecemeal.frames.size(), whole.frames.size());
  for (std::size_t i = 0; i < whole.frames.size(); ++i) {
    EXPECT_EQ(piecemeal.frames[i].messageId, whole.frames[i].messageId);
    EXPECT_EQ(piecemeal.frames[i].payload, whole.frames[i].payload);
  }

  // A minute unread is far more than the device keeps.
  whole.now += 60s;
  whole.frames.clear();
  whole.readOnce(2 * SimDevice::kInputBufferReports * whole.device->profile().inputLength);
  EXPECT_EQ(whole.reads.back().bytes,
            SimDevice::kInputBufferReports * whole.device->profile().inputLength);
  EXPECT_FALSE(whole.framesOf(kUbxClassNav, kUbxIdNavSat).empty()) << "the parser finds its way";
}

TEST(SimReceiver, QueuedReportsComeFirstThenInjectedBytesAsTheyAre) {
  Host host({.serial = u"Q", .receiver = false});
  host.readOnce();
  EXPECT_EQ(host.reads.back().bytes, 0u) << "without a receiver nothing comes by itself";

  const Bytes clock = {0, 0, 0, 0, 0, 0, 0, 0, 0xEF, 0xFF, 0xFF, 0xFF};  // clkD -17
  const Bytes frame = protocol::ubxFrame(kUbxClassNav, kUbxIdNavClock, clock);
  host.device->queueInputReport(Bytes{0, 0x81, 0});
  Bytes broken = frame;
  broken.back() ^= 0xFF;  // checksum B
  host.device->injectBytes(broken);
  host.device->injectBytes(frame);
  host.readOnce();
  const std::size_t length = host.device->profile().inputLength;
  ASSERT_EQ(host.reads.back().bytes, 2 * length);
  EXPECT_EQ(host.reads.back().firstStatus, 0x81) << "the queued report, verbatim";
  ASSERT_EQ(host.frames.size(), 1u);
  EXPECT_EQ(protocol::decodeNavClockDrift(host.frames[0].payload).value(), -17);
}

TEST(SimReceiver, ReplugRestartsTheReceiverFromPowerUp) {
  Host host;
  host.setRates(1);
  host.run(4s);
  ASSERT_FALSE(host.frames.empty());
  host.hid.unplug(*host.device);
  std::size_t n = 0;
  Bytes buffer(kHostReadSize);
  EXPECT_FALSE(host.hid.read(host.handle, buffer, n, 0ms));
  EXPECT_TRUE(host.hid.close(host.handle));

  host.now += 1s;
  const milliseconds plugged = host.now;
  host.hid.plug(*host.device);
  host.open();
  host.frames.clear();
  host.run(2s);
  EXPECT_TRUE(host.frames.empty()) << "rates are off until the host asks again";
  EXPECT_EQ(host.reads.back().firstStatus, kStatusNoSignal);

  host.setRate(kUbxIdNavPvt, 1);
  host.run(2s);
  const auto pvts = host.framesOf(kUbxClassNav, kUbxIdNavPvt);
  ASSERT_EQ(pvts.size(), 20u);
  for (const Frame* frame : pvts) {
    const bool fixed = frame->epoch - plugged >= SimReceiver::kTimeToFix;
    EXPECT_EQ(protocol::decodeNavPvt(frame->payload)->timeValid(), fixed) << frame->epoch.count();
  }
  EXPECT_EQ(host.reads.back().firstStatus, kStatusSignalOk);
}

}  // namespace
}  // namespace qvr::platform::sim
