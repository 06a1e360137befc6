#include "platform/linux/linux_system.h"

#include <sys/utsname.h>

#include <ctime>
#include <fstream>
#include <iostream>
#include <iterator>
#include <locale>
#include <stdexcept>
#include <thread>

#include "diagnostics/os_version.h"

namespace qvr::platform::hidraw {

bool setRealTimeClock(const UtcTime& time) {
  // timegm would quietly carry a 13th month into the next year: refuse what is not a time.
  const bool valid = time.year >= 1970 && time.month >= 1 && time.month <= 12 && time.day >= 1 &&
                     time.day <= 31 && time.hour >= 0 && time.hour < 24 && time.minute >= 0 &&
                     time.minute < 60 && time.second >= 0 && time.second <= 60 &&
                     time.milliseconds >= 0 && time.milliseconds < 1000;
  if (!valid) {
    return false;
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
    return false;
  }
  const timespec now{seconds, static_cast<long>(time.milliseconds) * 1'000'000L};
  return clock_settime(CLOCK_REALTIME, &now) == 0;
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
