#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>

#include "platform/system.h"

namespace qvr::platform::sim {

// System services on a virtual clock: sleeping advances the clock instead of blocking, and
// message boxes are reported to a listener instead of being shown.
class SimSystem final : public System {
 public:
  using MessageListener = std::function<void(const std::string& title, const std::string& text)>;
  using ClockListener = std::function<void(const UtcTime& time)>;
  using AddressListener = std::function<void(const std::string& address)>;

  [[nodiscard]] std::chrono::milliseconds now() const override { return now_; }
  void advance(std::chrono::milliseconds duration) { now_ += duration; }
  void setDecimalSeparator(char separator) { decimalSeparator_ = separator; }
  void setMessageListener(MessageListener listener) { messageListener_ = std::move(listener); }
  // Hears every request to set the computer's clock, which the simulation never does.
  void setClockListener(ClockListener listener) { clockListener_ = std::move(listener); }
  // From now on every request to set the clock is refused for `reason`, as a computer refuses
  // a user without the right; an empty reason accepts them again.
  void refuseClock(std::string reason) { clockRefusal_ = std::move(reason); }
  void setAddressListener(AddressListener listener) { addressListener_ = std::move(listener); }
  void setOperatingSystemVersion(std::string text) { osVersion_ = std::move(text); }

  void sleep(std::chrono::milliseconds duration) override { advance(duration); }
  bool setSystemTime(const UtcTime& time) override;
  [[nodiscard]] std::string clockRefusal() const override { return clockRefusal_; }
  void openAddress(const std::string& address) override;
  [[nodiscard]] std::string operatingSystemVersion() override { return osVersion_; }
  void messageBox(const std::string& title, const std::string& text) override;
  void doEvents() override {}
  [[nodiscard]] char decimalSeparator() override { return decimalSeparator_; }

 private:
  std::chrono::milliseconds now_{0};
  char decimalSeparator_ = '.';
  MessageListener messageListener_;
  ClockListener clockListener_;
  AddressListener addressListener_;
  std::string clockRefusal_;
  std::string osVersion_ = "Windows 10 (v10.0.19045)";
};

}  // namespace qvr::platform::sim
