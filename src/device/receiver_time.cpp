#include "device/receiver_time.h"

#include <cstdlib>

namespace qvr::device {

namespace {

using std::chrono::nanoseconds;

constexpr nanoseconds kSecond = std::chrono::seconds{1};
// GNSS time begins in 1980; a time in nanoseconds since 1970 in 64 bits ends in April 2262.
constexpr int kFirstYear = 1980;
constexpr int kLastYear = 2261;
constexpr int kLastHour = 23;
constexpr int kLastMinute = 59;
constexpr int kLeapSecond = 60;

}  // namespace

std::optional<TimeSample> timeSampleOf(const protocol::NavPvt& pvt, const platform::ReadStamp& read,
                                       bool newest) {
  const std::chrono::year_month_day date{std::chrono::year{pvt.year}, std::chrono::month{pvt.month},
                                         std::chrono::day{pvt.day}};
  if (!pvt.timeValid() || !date.ok() || pvt.year < kFirstYear || pvt.year > kLastYear ||
      pvt.hour > kLastHour || pvt.minute > kLastMinute || pvt.second > kLeapSecond ||
      std::abs(pvt.nano) > kSecond.count()) {
    return std::nullopt;
  }
  const auto time = std::chrono::sys_days{date} + std::chrono::hours{pvt.hour} +
                    std::chrono::minutes{pvt.minute} + std::chrono::seconds{pvt.second} +
                    nanoseconds{pvt.nano};
  return TimeSample{time, read, newest};
}

std::optional<TimeSample> FreshTime::confirm(const TimeSample& next) {
  std::optional<TimeSample> confirmed;
  if (candidate_ && candidate_->newest && next.newest) {
    const nanoseconds receiverStep = next.receiverTime - candidate_->receiverTime;
    const nanoseconds readStep = next.read.monotonic - candidate_->read.monotonic;
    const nanoseconds disagreement = receiverStep - readStep;
    if (receiverStep > nanoseconds{0} && disagreement <= kTolerance &&
        -disagreement <= kTolerance) {
      confirmed = candidate_;
    }
  }
  candidate_ = next;
  return confirmed;
}

platform::UtcTime clockTimeAt(const TimeSample& sample, nanoseconds monotonicNow) {
  const auto at = std::chrono::round<std::chrono::milliseconds>(
      sample.receiverTime + (monotonicNow - sample.read.monotonic));
  const auto day = std::chrono::floor<std::chrono::days>(at);
  const std::chrono::year_month_day date{day};
  const std::chrono::hh_mm_ss time{at - day};
  return platform::UtcTime{static_cast<int>(date.year()),
                           static_cast<int>(static_cast<unsigned>(date.month())),
                           static_cast<int>(std::chrono::weekday{day}.c_encoding()),
                           static_cast<int>(static_cast<unsigned>(date.day())),
                           static_cast<int>(time.hours().count()),
                           static_cast<int>(time.minutes().count()),
                           static_cast<int>(time.seconds().count()),
                           static_cast<int>(time.subseconds().count())};
}

}  // namespace qvr::device
