#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/linux/time_service.h"
#include "platform/system.h"

namespace qvr::platform::hidraw {

// `time` in microseconds since 1970; nothing when it is not a valid time (a 13th month would
// otherwise be carried quietly into the next year).
[[nodiscard]] std::optional<std::int64_t> utcMicroseconds(const UtcTime& time);

// Sets CLOCK_REALTIME to `time`, UTC. A process with the right to (root, or CAP_SYS_TIME given
// to it alone) sets it itself; any other asks systemd's time service, so that no program with a
// window ever needs a privilege: a GUI toolkit loads too much of its user's environment to be
// trusted with one. That request may block for as long as the administrator's prompt is open.
[[nodiscard]] ClockResult setRealTimeClock(const UtcTime& time);

// The first half of setRealTimeClock, for a caller that must not wait for the administrator: the
// clock set or refused by the kernel (`done`), or else the offset to ask the time service for,
// measured now.
struct ClockAttempt {
  std::optional<ClockResult> done;
  std::int64_t offsetMicroseconds = 0;
};
[[nodiscard]] ClockAttempt setRealTimeClockDirectly(const UtcTime& time);

// "Debian GNU/Linux 12 (bookworm) (v6.1.0-18-amd64)": os-release's name and the kernel release.
[[nodiscard]] std::string linuxVersion();

// The system services of a program without a window: sleeping blocks the thread, there is no
// browser to open and no dialog to show (message boxes go to standard error), and the decimal
// separator is the one of the user's LC_NUMERIC, read without changing the process's locale.
class ConsoleSystem final : public System {
 public:
  void sleep(std::chrono::milliseconds duration) override;
  [[nodiscard]] std::chrono::milliseconds now() const override { return steadyNow(); }
  bool setSystemTime(const UtcTime& time) override;
  [[nodiscard]] std::string clockRefusal() const override { return clockRefusal_; }
  void openAddress(const std::string& address) override;
  [[nodiscard]] std::string operatingSystemVersion() override { return linuxVersion(); }
  void messageBox(const std::string& title, const std::string& text) override;
  void doEvents() override {}
  [[nodiscard]] char decimalSeparator() override;

 private:
  std::string clockRefusal_;
};

}  // namespace qvr::platform::hidraw
