#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace qvr::platform::win32 {

// A PNG file (8-bit RGB, no interlace) of `width` x `height` pixels, each 0x00RRGGBB, rows top
// to bottom: the layout GetDIBits gives for a top-down 32-bit bitmap. The image data is stored
// without compression: a screenshot of the window is under a megabyte that way, and the
// writer stays small enough to check by eye. Empty when the pixel count does not match.
[[nodiscard]] std::vector<std::uint8_t> encodePng(int width, int height,
                                                  std::span<const std::uint32_t> pixels);

}  // namespace qvr::platform::win32
