#include "platform/win32/win32_system.h"

#include <windows.h>
// After windows.h, which it builds on.
#include <shellapi.h>

#include <array>
#include <iostream>
#include <string>

// No mingw header declares it; ntdll exports it, and libntdll.a links it.
extern "C" __declspec(dllimport) LONG WINAPI RtlGetVersion(OSVERSIONINFOW* version);

namespace qvr::platform::win32 {
namespace {

constexpr LONG kStatusSuccess = 0;

// Tab moves between the controls as in a dialog; everything else is translated and sent on.
void dispatch(HWND dialog, MSG& message) {
  if (dialog != nullptr && IsDialogMessageW(dialog, &message)) {
    return;
  }
  TranslateMessage(&message);
  DispatchMessageW(&message);
}

bool toWord(int value, int least, int most, WORD& out) {
  if (value < least || value > most) {
    return false;
  }
  out = static_cast<WORD>(value);
  return true;
}

}  // namespace

std::optional<diagnostics::WindowsVersionRecord> actualWindowsVersion() {
  OSVERSIONINFOEXW info{};
  static_assert(sizeof info == 284);
  info.dwOSVersionInfoSize = sizeof info;
  // The extended record starts with the plain one; the size field tells the call which it got.
  if (RtlGetVersion(reinterpret_cast<OSVERSIONINFOW*>(&info)) != kStatusSuccess) {
    return std::nullopt;
  }
  return diagnostics::WindowsVersionRecord{
      .majorVersion = info.dwMajorVersion,
      .minorVersion = info.dwMinorVersion,
      .buildNumber = info.dwBuildNumber,
      .servicePackMajor = static_cast<std::int16_t>(info.wServicePackMajor),
      .servicePackMinor = static_cast<std::int16_t>(info.wServicePackMinor),
      .suiteMask = info.wSuiteMask,
      .productType = info.wProductType,
  };
}

char separatorFromLocaleText(std::wstring_view text) {
  constexpr wchar_t kLastLatin1 = 0xFF;
  if (text.size() != 1 || text.front() == L'\0' || text.front() > kLastLatin1) {
    return '.';
  }
  return static_cast<char>(static_cast<unsigned char>(text.front()));
}

void Win32System::sleep(std::chrono::milliseconds duration) {
  if (duration.count() > 0) {
    Sleep(static_cast<DWORD>(duration.count()));
  }
}

bool Win32System::setSystemTime(const UtcTime& time) {
  // A field out of its range would be cut to 16 bits into another valid-looking time.
  SYSTEMTIME system{};
  const bool fits =
      toWord(time.year, 1601, 30827, system.wYear) && toWord(time.month, 1, 12, system.wMonth) &&
      toWord(time.day, 1, 31, system.wDay) && toWord(time.hour, 0, 23, system.wHour) &&
      toWord(time.minute, 0, 59, system.wMinute) && toWord(time.second, 0, 59, system.wSecond) &&
      toWord(time.milliseconds, 0, 999, system.wMilliseconds);
  if (!fits) {
    clockRefusal_ = "the receiver's time is not a valid time";
    return false;
  }
  if (SetSystemTime(&system) == 0) {
    clockRefusal_ = "Windows refused to set the clock (error " + std::to_string(GetLastError()) +
                    "): it needs an elevated administrator (Run as administrator)";
    return false;
  }
  return true;
}

void Win32System::openAddress(const std::string& address) {
  // No parameters and no command line: the shell hands the address to the default browser.
  ShellExecuteA(static_cast<HWND>(owner_), "open", address.c_str(), nullptr, "", 0);
}

std::string Win32System::operatingSystemVersion() {
  return diagnostics::windowsVersionText(actualWindowsVersion());
}

void Win32System::messageBox(const std::string& title, const std::string& text) {
  if (headless_) {
    std::cerr << title << ": " << text << '\n';
    return;
  }
  MessageBoxA(static_cast<HWND>(owner_), text.c_str(), title.c_str(), MB_ICONINFORMATION | MB_OK);
}

void Win32System::doEvents() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      // Put back for the message loop, which is what ends on it.
      PostQuitMessage(static_cast<int>(message.wParam));
      return;
    }
    dispatch(static_cast<HWND>(owner_), message);
  }
}

int Win32System::runMessageLoop() {
  MSG message;
  BOOL got;
  while ((got = GetMessageW(&message, nullptr, 0, 0)) != 0) {
    if (got == -1) {
      return 1;
    }
    dispatch(static_cast<HWND>(owner_), message);
  }
  return static_cast<int>(message.wParam);
}

char Win32System::decimalSeparator() {
  // Four characters is LOCALE_SDECIMAL's documented maximum, terminator included.
  std::array<wchar_t, 4> text{};
  const int written = GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, text.data(),
                                     static_cast<int>(text.size()));
  if (written <= 1) {
    return '.';
  }
  return separatorFromLocaleText(
      std::wstring_view(text.data(), static_cast<std::size_t>(written - 1)));
}

}  // namespace qvr::platform::win32
