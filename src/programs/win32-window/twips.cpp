#include "programs/win32-window/twips.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace qvr::platform::win32 {

int twipsToPixels(int twips, int dpi) {
  // In 64 bits: a window far off screen times a high DPI overflows 32.
  const std::int64_t scaled = static_cast<std::int64_t>(twips) * dpi;
  const std::int64_t half = kTwipsPerInch / 2;
  const std::int64_t pixels =
      scaled >= 0 ? (scaled + half) / kTwipsPerInch : -((-scaled + half) / kTwipsPerInch);
  return static_cast<int>(pixels);
}

PixelRect pixelRect(int left, int top, int width, int height, int dpi) {
  const int x = twipsToPixels(left, dpi);
  const int y = twipsToPixels(top, dpi);
  return {x, y, std::max(0, twipsToPixels(left + width, dpi) - x),
          std::max(0, twipsToPixels(top + height, dpi) - y)};
}

int fontHeight(double points, int dpi) {
  return -static_cast<int>(std::lround(points * dpi / kPointsPerInch));
}

}  // namespace qvr::platform::win32
