// System services that can be tried without changing the machine: SetSystemTime and
// ShellExecuteA are never called for real here.

#include "platform/win32/win32_system.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <regex>

namespace qvr::platform::win32 {
namespace {

TEST(Win32System, NamesTheRunningWindowsFromItsVersionRecord) {
  Win32System system;
  const std::string text = system.operatingSystemVersion();
  // Wine says Windows 7 SP1 (v6.1.7601) unless told otherwise; any Windows has this form.
  EXPECT_TRUE(std::regex_match(text, std::regex(R"(Windows [^()]+ \(v\d+\.\d+\.\d+\))"))) << text;
  const auto record = actualWindowsVersion();
  ASSERT_TRUE(record);
  EXPECT_NE(text.find("(v" + std::to_string(record->majorVersion) + "." +
                      std::to_string(record->minorVersion) + "." +
                      std::to_string(record->buildNumber) + ")"),
            std::string::npos)
      << text;
  EXPECT_GE(record->majorVersion, 6u);  // nothing older runs this program
}

TEST(Win32System, RefusesATimeThatIsNotOneWithoutSettingTheClock) {
  Win32System system;
  const UtcTime valid{2025, 3, 0, 7, 14, 5, 9, 250};
  struct Case {
    const char* field;
    UtcTime time;
  };
  auto with = [&valid](int UtcTime::*field, int value) {
    UtcTime t = valid;
    t.*field = value;
    return t;
  };
  // Each would become another, valid-looking time if it were cut to 16 bits.
  const Case cases[] = {
      {"month 13", with(&UtcTime::month, 13)},
      {"month 0", with(&UtcTime::month, 0)},
      {"day 0", with(&UtcTime::day, 0)},
      {"hour 24", with(&UtcTime::hour, 24)},
      {"minute 60", with(&UtcTime::minute, 60)},
      {"second -1", with(&UtcTime::second, -1)},
      {"millisecond 1000", with(&UtcTime::milliseconds, 1000)},
      {"year 65536 + 2025", with(&UtcTime::year, 65536 + 2025)},
      {"year 1600", with(&UtcTime::year, 1600)},
  };
  for (const Case& c : cases) {
    EXPECT_FALSE(system.setSystemTime(c.time)) << c.field;
  }
}

TEST(Win32System, HeadlessMessageBoxGoesToStandardError) {
  Win32System system;
  system.setHeadless(true);
  testing::internal::CaptureStderr();
  system.messageBox("Unsupported Hardware", "Firmware 0.9\r\nis not supported.");
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Unsupported Hardware: Firmware 0.9\r\nis not supported.\n");
}

TEST(Win32System, LettingEventsRunDeliversWhatIsQueuedAndKeepsTheQuit) {
  Win32System system;
  // A message-only window that counts what reaches it.
  static int delivered = 0;
  WNDCLASSEXW type{};
  type.cbSize = sizeof type;
  type.lpfnWndProc = [](HWND window, UINT message, WPARAM wParam, LPARAM lParam) -> LRESULT {
    if (message == WM_APP) {
      ++delivered;
      return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
  };
  type.hInstance = GetModuleHandleW(nullptr);
  type.lpszClassName = L"QvrEventsTest";
  RegisterClassExW(&type);
  const HWND window = CreateWindowExW(0, type.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                      nullptr, type.hInstance, nullptr);
  ASSERT_NE(window, nullptr);
  delivered = 0;
  PostMessageW(window, WM_APP, 0, 0);
  PostMessageW(window, WM_APP, 0, 0);
  PostQuitMessage(7);
  system.doEvents();
  EXPECT_EQ(delivered, 2);
  // The quit is for the message loop, which is what ends on it: it is still there for it.
  EXPECT_EQ(system.runMessageLoop(), 7);
  DestroyWindow(window);
}

}  // namespace
}  // namespace qvr::platform::win32
