#pragma once

#include <string>

#include "platform/system.h"

namespace qvr::platform::hidraw {

// Sets CLOCK_REALTIME to `time`, UTC. False when it is not a valid time or the process lacks
// the right to set the clock (CAP_SYS_TIME).
[[nodiscard]] bool setRealTimeClock(const UtcTime& time);

// "Debian GNU/Linux 12 (bookworm) (v6.1.0-18-amd64)": os-release's name and the kernel release.
[[nodiscard]] std::string linuxVersion();

// The system services of a program without a window: sleeping blocks the thread, there is no
// browser to open and no dialog to show (message boxes go to standard error), and the decimal
// separator is the one of the user's LC_NUMERIC, read without changing the process's locale.
class ConsoleSystem final : public System {
 public:
  void sleep(std::chrono::milliseconds duration) override;
  [[nodiscard]] std::chrono::milliseconds now() const override { return steadyNow(); }
  bool setSystemTime(const UtcTime& time) override { return setRealTimeClock(time); }
  void openAddress(const std::string& address) override;
  [[nodiscard]] std::string operatingSystemVersion() override { return linuxVersion(); }
  void messageBox(const std::string& title, const std::string& text) override;
  void doEvents() override {}
  [[nodiscard]] char decimalSeparator() override;
};

}  // namespace qvr::platform::hidraw
