#pragma once

#include <chrono>
#include <string>

namespace qvr::platform {

// Operating-system services other than HID. Time goes through here so that tests run on a
// virtual clock.
class System {
 public:
  virtual ~System() = default;

  // Blocks the window's thread; the poll timer does not run meanwhile.
  virtual void sleep(std::chrono::milliseconds duration) = 0;

  // Modal message box with an information icon and an OK button. Lines of `text` are
  // separated by "\r\n".
  virtual void messageBox(const std::string& title, const std::string& text) = 0;

  // Lets pending window events (paint, clicks, timer) run before returning.
  virtual void doEvents() = 0;

  // The user's decimal separator, for numbers shown to and typed by the user.
  [[nodiscard]] virtual char decimalSeparator() = 0;
};

}  // namespace qvr::platform
