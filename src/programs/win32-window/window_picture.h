#pragma once

#include <cstdint>
#include <vector>

namespace qvr::platform::win32 {

// A window's client area as drawn: 0x00RRGGBB pixels, rows top to bottom.
struct Picture {
  int width = 0;
  int height = 0;
  std::vector<std::uint32_t> pixels;
};

// The client area of a window (an HWND; void* keeps windows.h out of this header) with every
// control in it, painted into a bitmap as it would be on screen, whether it is shown or not.
[[nodiscard]] Picture printClientArea(void* window);

}  // namespace qvr::platform::win32
