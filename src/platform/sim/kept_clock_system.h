#pragma once

#include <chrono>
#include <string>

#include "platform/system.h"

namespace qvr::platform::sim {

// This computer's services for a program that shows simulated devices, except its clock: a
// simulated receiver's time is invented, and must never set the real one. A request to set it
// succeeds without touching anything, so the program behaves as after a real setting.
class KeptClockSystem : public System {
 public:
  explicit KeptClockSystem(System& real) : real_(real) {}

  void sleep(std::chrono::milliseconds duration) override { real_.sleep(duration); }
  [[nodiscard]] std::chrono::milliseconds now() const override { return real_.now(); }
  bool setSystemTime(const UtcTime& /*time*/) override { return true; }
  [[nodiscard]] std::string clockRefusal() const override { return {}; }
  void openAddress(const std::string& address) override { real_.openAddress(address); }
  [[nodiscard]] std::string operatingSystemVersion() override {
    return real_.operatingSystemVersion();
  }
  void messageBox(const std::string& title, const std::string& text) override {
    real_.messageBox(title, text);
  }
  void doEvents() override { real_.doEvents(); }
  [[nodiscard]] char decimalSeparator() override { return real_.decimalSeparator(); }

 protected:
  [[nodiscard]] System& real() const { return real_; }

 private:
  System& real_;
};

}  // namespace qvr::platform::sim
