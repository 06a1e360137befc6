#pragma once

#include <QPointer>
#include <QWidget>

#include <memory>
#include <mutex>
#include <string>

#include "platform/system.h"

namespace qvr::platform::qt {

// System services for the Qt front end. Message boxes are modal to the main window once it
// exists; a headless run (the screenshot mode) has nobody to press OK, so there they go to
// standard error instead of blocking.
class QtSystem final : public System {
 public:
  void setDialogParent(QWidget* parent) { dialogParent_ = parent; }
  void setHeadless(bool headless) { headless_ = headless; }

  void sleep(std::chrono::milliseconds duration) override;
  [[nodiscard]] std::chrono::milliseconds now() const override { return steadyNow(); }
  bool setSystemTime(const UtcTime& time) override;
  [[nodiscard]] std::string clockRefusal() const override;
  void openAddress(const std::string& address) override;
  [[nodiscard]] std::string operatingSystemVersion() override;
  void messageBox(const std::string& title, const std::string& text) override;
  void doEvents() override;
  [[nodiscard]] char decimalSeparator() override;

 private:
  // What a request to the time service leaves behind; shared with the thread that waits for it,
  // which may outlive the window when the user closes it with the prompt still open.
  struct ClockRequest {
    std::mutex mutex;
    bool waiting = false;
    std::string refusal;
  };

  QPointer<QWidget> dialogParent_;
  bool headless_ = false;
  std::shared_ptr<ClockRequest> clock_ = std::make_shared<ClockRequest>();
};

}  // namespace qvr::platform::qt
