#include "programs/win32-window/window_picture.h"

#include <windows.h>

#include <algorithm>
#include <cwchar>
#include <string>
#include <vector>

namespace qvr::platform::win32 {
namespace {

// A drop-down list prints its frame and button but, on some systems, not the chosen item:
// that is drawn here from its selection, where the list shows it.
void printListSelection(HWND combo, HDC dc) {
  wchar_t className[16] = {};
  GetClassNameW(combo, className, static_cast<int>(std::size(className)));
  if (lstrcmpiW(className, L"ComboBox") != 0 ||
      (GetWindowLongPtrW(combo, GWL_STYLE) & CBS_DROPDOWNLIST) != CBS_DROPDOWNLIST) {
    return;
  }
  COMBOBOXINFO info{};
  info.cbSize = sizeof info;
  const auto selected = SendMessageW(combo, CB_GETCURSEL, 0, 0);
  if (!GetComboBoxInfo(combo, &info) || selected == CB_ERR) {
    return;
  }
  const auto length = SendMessageW(combo, CB_GETLBTEXTLEN, static_cast<WPARAM>(selected), 0);
  std::wstring text(static_cast<std::size_t>(std::max<LRESULT>(length, 0)) + 1, L'\0');
  SendMessageW(combo, CB_GETLBTEXT, static_cast<WPARAM>(selected),
               reinterpret_cast<LPARAM>(text.data()));
  text.resize(std::wcslen(text.c_str()));
  const bool enabled = IsWindowEnabled(combo) != 0;
  FillRect(dc, &info.rcItem, GetSysColorBrush(enabled ? COLOR_WINDOW : COLOR_BTNFACE));
  const HGDIOBJ previous =
      SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(combo, WM_GETFONT, 0, 0)));
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, GetSysColor(enabled ? COLOR_WINDOWTEXT : COLOR_GRAYTEXT));
  RECT textBox = info.rcItem;
  textBox.left += 2;
  DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &textBox,
            DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
  SelectObject(dc, previous);
}

// Each child paints its client area into a bitmap of its own, with its own children, and is
// copied into place back to front; its frame is drawn here. Asking control by control is what
// works everywhere: PrintWindow and PRF_CHILDREN leave the children out on some systems,
// controls clip themselves wrongly when printed through a moved viewport, and a window never
// shown has no screen to copy from.
void printChildren(HWND parent, HDC dc) {
  std::vector<HWND> frontToBack;
  for (HWND child = GetWindow(parent, GW_CHILD); child != nullptr;
       child = GetWindow(child, GW_HWNDNEXT)) {
    frontToBack.push_back(child);
  }
  for (auto it = frontToBack.rbegin(); it != frontToBack.rend(); ++it) {
    const HWND child = *it;
    // The style, not IsWindowVisible: in a hidden window every child counts as hidden.
    const LONG_PTR style = GetWindowLongPtrW(child, GWL_STYLE);
    if ((style & WS_VISIBLE) == 0) {
      continue;
    }
    RECT frame;
    GetWindowRect(child, &frame);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&frame), 2);
    RECT client;
    GetClientRect(child, &client);
    POINT clientAt{0, 0};
    ClientToScreen(child, &clientAt);
    ScreenToClient(parent, &clientAt);
    if (client.right > 0 && client.bottom > 0) {
      const HDC own = CreateCompatibleDC(dc);
      const HBITMAP bitmap = CreateCompatibleBitmap(dc, client.right, client.bottom);
      const HGDIOBJ previous = SelectObject(own, bitmap);
      SendMessageW(child, WM_PRINT, reinterpret_cast<WPARAM>(own), PRF_CLIENT | PRF_ERASEBKGND);
      printListSelection(child, own);
      printChildren(child, own);
      BitBlt(dc, clientAt.x, clientAt.y, client.right, client.bottom, own, 0, 0, SRCCOPY);
      SelectObject(own, previous);
      DeleteObject(bitmap);
      DeleteDC(own);
    }
    if ((GetWindowLongPtrW(child, GWL_EXSTYLE) & WS_EX_CLIENTEDGE) != 0) {
      DrawEdge(dc, &frame, EDGE_SUNKEN, BF_RECT);
    } else if ((style & WS_BORDER) != 0) {
      FrameRect(dc, &frame, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    }
  }
}

}  // namespace

Picture printClientArea(void* handle) {
  const auto window = static_cast<HWND>(handle);
  Picture picture;
  RECT client;
  GetClientRect(window, &client);
  picture.width = client.right;
  picture.height = client.bottom;
  if (picture.width <= 0 || picture.height <= 0) {
    return picture;
  }
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = picture.width;
  info.bmiHeader.biHeight = -picture.height;  // negative: rows top to bottom
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  const HDC screen = GetDC(window);
  const HDC memory = CreateCompatibleDC(screen);
  const HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  ReleaseDC(window, screen);
  if (bitmap == nullptr || memory == nullptr) {
    DeleteDC(memory);
    return {};
  }
  const HGDIOBJ previous = SelectObject(memory, bitmap);
  SendMessageW(window, WM_PRINT, reinterpret_cast<WPARAM>(memory), PRF_CLIENT | PRF_ERASEBKGND);
  printChildren(window, memory);
  GdiFlush();
  const auto* pixels = static_cast<const std::uint32_t*>(bits);
  const auto count =
      static_cast<std::size_t>(picture.width) * static_cast<std::size_t>(picture.height);
  picture.pixels.assign(pixels, pixels + count);
  for (std::uint32_t& pixel : picture.pixels) {
    pixel &= 0x00FFFFFF;  // the fourth byte of a 32-bit DIB is not alpha
  }
  SelectObject(memory, previous);
  DeleteObject(bitmap);
  DeleteDC(memory);
  return picture;
}

}  // namespace qvr::platform::win32
