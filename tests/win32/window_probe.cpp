// qvr_window_probe TITLE WIDTHxHEIGHT TIMEOUT_SECONDS SETTLE_MILLISECONDS OUT.png
//
// Waits for a visible top-level window with this caption on the desktop it shares with it,
// lets it run a while, checks that its client area has the size given, copies the window from
// the screen as the user sees it (frame and caption included) into a PNG file, then closes it
// as the user would and waits for its program to end. Exit code 0 when all of that happened.

#include <windows.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "platform/win32/text.h"
#include "programs/win32-window/png_image.h"

namespace {

namespace win32 = qvr::platform::win32;

constexpr DWORD kExitWait = 10000;  // ms for the program to end once its window is closed

HWND waitForWindow(const std::wstring& title, DWORD timeout) {
  const DWORD start = GetTickCount();
  for (;;) {
    const HWND window = FindWindowW(nullptr, title.c_str());
    if (window != nullptr && IsWindowVisible(window)) {
      return window;
    }
    if (GetTickCount() - start > timeout) {
      return nullptr;
    }
    Sleep(100);
  }
}

bool saveFromScreen(const RECT& box, const std::string& file) {
  const int width = box.right - box.left;
  const int height = box.bottom - box.top;
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  const HDC screen = GetDC(nullptr);
  const HDC memory = CreateCompatibleDC(screen);
  const HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  const HGDIOBJ previous = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, width, height, screen, box.left, box.top, SRCCOPY);
  GdiFlush();
  const auto* first = static_cast<const std::uint32_t*>(bits);
  const std::vector<std::uint32_t> pixels(
      first, first + static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
  SelectObject(memory, previous);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);

  const std::vector<std::uint8_t> png = win32::encodePng(width, height, pixels);
  std::ofstream out(file, std::ios::binary);
  out.write(reinterpret_cast<const char*>(png.data()), static_cast<std::streamsize>(png.size()));
  return !png.empty() && static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
  int width = 0;
  int height = 0;
  if (argc != 6 || std::sscanf(argv[2], "%dx%d", &width, &height) != 2) {
    std::cerr << "usage: qvr_window_probe TITLE WIDTHxHEIGHT TIMEOUT_SECONDS SETTLE_MS OUT.png\n";
    return 2;
  }
  const std::wstring title = win32::widen(argv[1]);
  const HWND window = waitForWindow(title, static_cast<DWORD>(std::stoul(argv[3]) * 1000));
  if (window == nullptr) {
    std::cerr << "no visible window captioned '" << argv[1] << "' came up\n";
    return 1;
  }
  Sleep(static_cast<DWORD>(std::stoul(argv[4])));

  bool ok = true;
  RECT client;
  GetClientRect(window, &client);
  RECT frame;
  GetWindowRect(window, &frame);
  std::cout << "window '" << argv[1] << "': client " << client.right << "x" << client.bottom
            << ", frame " << frame.right - frame.left << "x" << frame.bottom - frame.top << " at "
            << frame.left << "," << frame.top << "\n";
  if (client.right != width || client.bottom != height) {
    std::cerr << "the client area is not " << width << "x" << height << "\n";
    ok = false;
  }
  if (!saveFromScreen(frame, argv[5])) {
    std::cerr << "could not save the picture to " << argv[5] << "\n";
    ok = false;
  }

  DWORD processId = 0;
  GetWindowThreadProcessId(window, &processId);
  const HANDLE process =
      OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
  PostMessageW(window, WM_CLOSE, 0, 0);
  DWORD exitCode = STILL_ACTIVE;
  if (process == nullptr || WaitForSingleObject(process, kExitWait) != WAIT_OBJECT_0 ||
      !GetExitCodeProcess(process, &exitCode)) {
    std::cerr << "the program did not end after its window was closed\n";
    ok = false;
  } else {
    std::cout << "closed; the program ended with exit code " << exitCode << "\n";
    ok = ok && exitCode == 0;
  }
  if (process != nullptr) {
    CloseHandle(process);
  }
  return ok ? 0 : 1;
}
