#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "platform/system.h"

namespace qvr::platform::sim {

// System services on a virtual clock: sleeping advances the clock instead of blocking, and
// message boxes are reported to a listener instead of being shown.
class SimSystem final : public System {
 public:
  using MessageListener = std::function<void(const std::string& title, const std::string& text)>;

  [[nodiscard]] std::chrono::milliseconds now() const { return now_; }
  void advance(std::chrono::milliseconds duration) { now_ += duration; }
  void setDecimalSeparator(char separator) { decimalSeparator_ = separator; }
  void setMessageListener(MessageListener listener) { messageListener_ = std::move(listener); }

  void sleep(std::chrono::milliseconds duration) override { advance(duration); }
  void messageBox(const std::string& title, const std::string& text) override;
  void doEvents() override {}
  [[nodiscard]] char decimalSeparator() override { return decimalSeparator_; }

 private:
  std::chrono::milliseconds now_{0};
  char decimalSeparator_ = '.';
  MessageListener messageListener_;
};

}  // namespace qvr::platform::sim
