#include "platform/linux/linux_system.h"

#include <sys/utsname.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iostream>
#include <iterator>
#include <locale>
#include <stdexcept>
#include <thread>
#include <utility>

#include "diagnostics/os_version.h"

namespace qvr::platform::hidraw {

std::optional<std::int64_t> utcMicroseconds(const UtcTime& time) {
  const bool valid = time.year >= 1970 && time.month >= 1 && time.month <= 12 && time.day >= 1 &&
                     time.day <= 31 && time.hour >= 0 && time.hour < 24 && time.minute >= 0 &&
                     time.minute < 60 && time.second >= 0 && time.second <= 60 &&
                     time.milliseconds >= 0 && time.milliseconds < 1000;
  if (!valid) {
    return std::nullopt;
  }
  std::tm fields{};
  fields.tm_year = time.year - 1900;
  fields.tm_mon = time.month - 1;
  fields.tm_mday = time.day;
  fields.tm_hour = time.hour;
  fields.tm_min = time.minute;
  fields.tm_sec = time.second;
  const std::time_t seconds = timegm(&fields);
  if (seconds == static_cast<std::time_t>(-1)) {
    return std::nullopt;
  }
  return static_cast<std::int64_t>(seconds) * 1'000'000 +
         static_cast<std::int64_t>(time.milliseconds) * 1'000;
}

ClockAttempt setRealTimeClockDirectly(const UtcTime& time) {
  const std::optional<std::int64_t> target = utcMicroseconds(time);
  if (!target) {
    return {ClockResult{false, "the receiver's time is not a valid time"}};
  }
  const timespec to{static_cast<std::time_t>(*target / 1'000'000),
                    static_cast<long>(*target % 1'000'000) * 1'000L};
  if (clock_settime(CLOCK_REALTIME, &to) == 0) {
    return {ClockResult{true, {}}};
  }
  if (errno != EPERM) {
    return {ClockResult{
        false, std::string("the system refused to set the clock: ") + std::strerror(errno)}};
  }
  // Trying is the one sure test of the right: the service is asked only when the kernel said no.
  return {std::nullopt, *target - realTimeMicroseconds()};
}

ClockResult setRealTimeClock(const UtcTime& time) {
  const ClockAttempt attempt = setRealTimeClockDirectly(time);
  return attempt.done ? *attempt.done : askTimeServiceToShift({}, attempt.offsetMicroseconds);
}

bool ConsoleSystem::setSystemTime(const UtcTime& time) {
  ClockResult result = setRealTimeClock(time);
  clockRefusal_ = std::move(result.refusal);
  return result.set;
}

std::string linuxVersion() {
  utsname names{};
  const std::string kernel = uname(&names) == 0 ? names.release : "";
  std::string osRelease;
  for (const char* path : {"/etc/os-release", "/usr/lib/os-release"}) {
    std::ifstream file(path);
    if (file) {
      osRelease.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
      break;
    }
  }
  return diagnostics::linuxVersionText(diagnostics::osReleasePrettyName(osRelease), kernel);
}

void ConsoleSystem::sleep(std::chrono::milliseconds duration) {
  if (duration.count() > 0) {
    std::this_thread::sleep_for(duration);
  }
}

void ConsoleSystem::openAddress(const std::string& address) {
  // Nothing here opens a browser; whoever asked gets the address to open it themselves.
  std::cerr << address << '\n';
}

void ConsoleSystem::messageBox(const std::string& title, const std::string& text) {
  std::string body = text;
  for (std::size_t at = body.find("\r\n"); at != std::string::npos; at = body.find("\r\n", at)) {
    body.replace(at, 2, "\n");
  }
  std::cerr << title << ": " << body << '\n';
}

char ConsoleSystem::decimalSeparator() {
  // The user's locale is only looked at, never installed: the program's own number texts stay
  // those of the C locale.
  try {
    const char point = std::use_facet<std::numpunct<char>>(std::locale("")).decimal_point();
    return point == '\0' ? '.' : point;
  } catch (const std::runtime_error&) {
    // A LANG or LC_* naming a locale that is not installed.
    return '.';
  }
}

}  // namespace qvr::platform::hidraw
