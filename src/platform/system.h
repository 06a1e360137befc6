#pragma once

#include <chrono>
#include <string>

namespace qvr::platform {

// A moment in UTC, field by field as the receiver reports it.
struct UtcTime {
  int year = 0;
  int month = 0;      // 1 to 12
  int dayOfWeek = 0;  // 0 is Sunday; not needed to set the clock
  int day = 0;
  int hour = 0;
  int minute = 0;
  int second = 0;
  int milliseconds = 0;
  friend bool operator==(const UtcTime&, const UtcTime&) = default;
};

// The steady clock in milliseconds, what a System on real time gives as now().
[[nodiscard]] inline std::chrono::milliseconds steadyNow() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now().time_since_epoch());
}

// Operating-system services other than HID. Time goes through here so that tests run on a
// virtual clock.
class System {
 public:
  virtual ~System() = default;

  // Blocks the window's thread; the poll timer does not run meanwhile.
  virtual void sleep(std::chrono::milliseconds duration) = 0;

  // A monotonic clock for measuring how long something took or has not happened: it never
  // goes back and does not follow changes to the computer's clock. Its zero is arbitrary, so
  // only differences mean anything. On a virtual clock, sleep() advances it.
  [[nodiscard]] virtual std::chrono::milliseconds now() const = 0;

  // Sets the computer's clock. Needs the right to change it, or someone who has it to agree,
  // which may take as long as they take to answer; false when it was refused or the time is not
  // a valid one. A window's System never waits for that answer: true then means the request is
  // on its way, and a refusal that comes later shows in clockRefusal().
  virtual bool setSystemTime(const UtcTime& time) = 0;

  // Why the latest clock setting failed, in words for the user: the window keeps quiet about a
  // refusal, but a script's user needs to know whether to type a password, turn automatic
  // synchronisation off or run as administrator. Empty before any refusal.
  [[nodiscard]] virtual std::string clockRefusal() const = 0;

  // Opens a web address in the user's default browser. Never through a shell: the address
  // may carry text that came from a device.
  virtual void openAddress(const std::string& address) = 0;

  // One line naming the operating system and its version, for the diagnostics page.
  [[nodiscard]] virtual std::string operatingSystemVersion() = 0;

  // Modal message box with an information icon and an OK button. Lines of `text` are
  // separated by "\r\n".
  virtual void messageBox(const std::string& title, const std::string& text) = 0;

  // Lets pending window events (paint, clicks, timer) run before returning.
  virtual void doEvents() = 0;

  // The user's decimal separator, for numbers shown to and typed by the user.
  [[nodiscard]] virtual char decimalSeparator() = 0;
};

}  // namespace qvr::platform
