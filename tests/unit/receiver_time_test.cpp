#include "device/receiver_time.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <random>
#include <string>

namespace qvr::device {
namespace {

using namespace std::chrono_literals;
using std::chrono::milliseconds;
using std::chrono::nanoseconds;

protocol::NavPvt pvtAt(std::chrono::sys_time<nanoseconds> t) {
  const auto day = std::chrono::floor<std::chrono::days>(t);
  const auto second = std::chrono::floor<std::chrono::seconds>(t);
  const std::chrono::year_month_day date{day};
  const std::chrono::hh_mm_ss time{second - day};
  protocol::NavPvt pvt;
  pvt.year = static_cast<std::uint16_t>(static_cast<int>(date.year()));
  pvt.month = static_cast<std::uint8_t>(static_cast<unsigned>(date.month()));
  pvt.day = static_cast<std::uint8_t>(static_cast<unsigned>(date.day()));
  pvt.hour = static_cast<std::uint8_t>(time.hours().count());
  pvt.minute = static_cast<std::uint8_t>(time.minutes().count());
  pvt.second = static_cast<std::uint8_t>(time.seconds().count());
  pvt.nano = static_cast<std::int32_t>((t - second).count());
  pvt.valid = 0x07;
  return pvt;
}

// A receiver with one solution a second, read by a program that now and then stops for a
// while (a stopped process, a sleeping laptop), so that reports wait in a queue of the
// system's that keeps the oldest and drops what does not fit, as hidraw does. Whatever the
// history, every time FreshTime vouches for must set the clock within 50 ms of the truth, and
// a program that runs again, with deliveries as usual, must get a time at once.
TEST(FreshTime, NeverVouchesForATimeThatWaitedInTheQueue) {
  const int seeds = 4000;
  for (int seed = 0; seed < seeds; ++seed) {
    std::mt19937_64 random(static_cast<std::uint64_t>(seed));
    const auto uniform = [&](std::int64_t low, std::int64_t high) {
      return std::uniform_int_distribution<std::int64_t>(low, high)(random);
    };
    // The receiver's epoch k is at truth k seconds; this computer's clocks have their own zeros.
    const auto utcZero = std::chrono::sys_days{std::chrono::year{2026} / 12 / 9} + 9h;
    const nanoseconds monotonicZero{uniform(0, 1'000'000'000'000)};
    const std::size_t queueReports = static_cast<std::size_t>(uniform(1, 6));
    FreshTime fresh;
    std::deque<nanoseconds> queued;  // delivery truths of the epochs waiting
    nanoseconds stoppedUntil{0};
    nanoseconds lastConfirmation{0};
    nanoseconds upsetAt{0};  // the latest slow delivery, or the end of the latest stop
    for (std::int64_t k = 1; k <= 120; ++k) {
      const nanoseconds epoch = std::chrono::seconds{k};
      // USB and the receiver's own output: a few milliseconds, now and then more.
      const bool slow = uniform(0, 9) == 0;
      const nanoseconds delivered = epoch + milliseconds{uniform(1, slow ? 30 : 15)};
      if (slow) {
        upsetAt = epoch;
      }
      if (uniform(0, 14) == 0) {
        stoppedUntil = delivered + milliseconds{uniform(100, 90'000)};
      }
      const auto take = [&](nanoseconds epochTruth, nanoseconds readTruth, bool newest) {
        const platform::ReadStamp stamp{utcZero.time_since_epoch() + readTruth,
                                        monotonicZero + readTruth};
        const auto sample = timeSampleOf(pvtAt(utcZero + epochTruth), stamp, newest);
        ASSERT_TRUE(sample.has_value());
        if (const auto confirmed = fresh.confirm(*sample)) {
          const platform::UtcTime set = clockTimeAt(*confirmed, monotonicZero + readTruth);
          const auto setTo =
              std::chrono::sys_days{std::chrono::year{set.year} / set.month / set.day} +
              std::chrono::hours{set.hour} + std::chrono::minutes{set.minute} +
              std::chrono::seconds{set.second} + milliseconds{set.milliseconds};
          const nanoseconds error = setTo - (utcZero + readTruth);
          ASSERT_LT(std::llabs(std::chrono::duration_cast<milliseconds>(error).count()), 50)
              << "seed " << seed << ", epoch " << k;
          lastConfirmation = readTruth;
        }
      };
      if (delivered < stoppedUntil) {
        if (queued.size() < queueReports) {
          queued.push_back(epoch);
        }
        continue;
      }
      // Running again: the backlog comes in one read, or in two when the buffer filled.
      if (!queued.empty()) {
        const bool split = queued.size() > 1 && uniform(0, 1) == 0;
        const nanoseconds readAt = stoppedUntil;
        for (std::size_t i = 0; i < queued.size(); ++i) {
          take(queued[i], readAt, !split || i + 1 == queued.size());
        }
        queued.clear();
        upsetAt = readAt;
      }
      take(epoch, delivered + nanoseconds{uniform(0, 300'000)}, true);
      // Two deliveries in a row that kept to their usual delay: the second vouches for the first.
      if (epoch - upsetAt > 2s) {
        ASSERT_GE(lastConfirmation, delivered - 3s) << "seed " << seed << ", epoch " << k;
      }
    }
  }
}

TEST(TimeSample, OnlyForAMomentThatExists) {
  const platform::ReadStamp read{1'000'000'000ns, 5ns};
  // 2024-02-29 23:59:60, a leap second as the receiver writes it.
  protocol::NavPvt good =
      pvtAt(std::chrono::sys_days{std::chrono::year{2024} / 2 / 29} + 23h + 59min + 59s);
  good.second = 60;
  struct Case {
    const char* what;
    void (*spoil)(protocol::NavPvt&);
    bool sampled;
  };
  const Case cases[] = {
      {"a leap second", [](protocol::NavPvt&) {}, true},
      {"not fully resolved", [](protocol::NavPvt& p) { p.valid = 0x03; }, false},
      {"no valid date", [](protocol::NavPvt& p) { p.valid = 0x06; }, false},
      {"month 13", [](protocol::NavPvt& p) { p.month = 13; }, false},
      {"before GNSS time", [](protocol::NavPvt& p) { p.year = 1979; }, false},
      {"past 64-bit nanoseconds", [](protocol::NavPvt& p) { p.year = 2262; }, false},
      {"the largest year", [](protocol::NavPvt& p) { p.year = 65535; }, false},
      {"February 30th", [](protocol::NavPvt& p) { p.day = 30; }, false},
      {"day 0", [](protocol::NavPvt& p) { p.day = 0; }, false},
      {"hour 24", [](protocol::NavPvt& p) { p.hour = 24; }, false},
      {"minute 60", [](protocol::NavPvt& p) { p.minute = 60; }, false},
      {"second 61", [](protocol::NavPvt& p) { p.second = 61; }, false},
      {"nano past a second", [](protocol::NavPvt& p) { p.nano = 1'000'000'001; }, false},
      {"nano a second back", [](protocol::NavPvt& p) { p.nano = -1'000'000'000; }, true},
  };
  for (const Case& c : cases) {
    protocol::NavPvt pvt = good;
    c.spoil(pvt);
    const auto sample = timeSampleOf(pvt, read, true);
    EXPECT_EQ(sample.has_value(), c.sampled) << c.what;
  }
  const auto sample = timeSampleOf(good, read, true);
  ASSERT_TRUE(sample);
  // 2024-03-01 00:00:00 UTC is 1709251200 s after the epoch; the read was 1 s after it.
  EXPECT_EQ(sample->offset(), std::chrono::seconds{1'709'251'200 - 1});
}

}  // namespace
}  // namespace qvr::device
