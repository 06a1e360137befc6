#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "diagnostics/os_version.h"
#include "platform/system.h"

namespace qvr::platform::win32 {

// System services from kernel32, user32, shell32 and ntdll. Message boxes and web pages belong
// to the main window once it exists. A headless run (the screenshot mode) has nobody to press
// OK, so its message boxes go to standard error instead of blocking.
class Win32System final : public System {
 public:
  // void*, which HWND is underneath, keeps windows.h out of this header.
  void setOwner(void* window) { owner_ = window; }
  void setHeadless(bool headless) { headless_ = headless; }
  // The window's message loop, until WM_QUIT; returns its exit code.
  int runMessageLoop();

  void sleep(std::chrono::milliseconds duration) override;
  [[nodiscard]] std::chrono::milliseconds now() const override { return steadyNow(); }
  bool setSystemTime(const UtcTime& time) override;
  [[nodiscard]] std::string clockRefusal() const override { return clockRefusal_; }
  void openAddress(const std::string& address) override;
  [[nodiscard]] std::string operatingSystemVersion() override;
  void messageBox(const std::string& title, const std::string& text) override;
  void doEvents() override;
  [[nodiscard]] char decimalSeparator() override;

 private:
  void* owner_ = nullptr;
  bool headless_ = false;
  std::string clockRefusal_;
};

// The version record from RtlGetVersion, which tells the truth whatever compatibility mode the
// program runs in; nothing when the call fails.
[[nodiscard]] std::optional<diagnostics::WindowsVersionRecord> actualWindowsVersion();

// The decimal separator out of the locale's LOCALE_SDECIMAL text: its only character when that
// is a single Latin-1 one, otherwise '.', which the number parser then falls back to as well.
[[nodiscard]] char separatorFromLocaleText(std::wstring_view text);

}  // namespace qvr::platform::win32
