#pragma once

namespace qvr::platform::win32 {

// A twip is 1/1440 inch; the window is laid out in twips and shown in the screen's pixels.
inline constexpr int kTwipsPerInch = 1440;
inline constexpr int kPointsPerInch = 72;
inline constexpr int kStandardDpi = 96;  // 15 twips per pixel

// Twips to pixels at `dpi` dots per inch, to the nearest pixel (halves away from zero).
[[nodiscard]] int twipsToPixels(int twips, int dpi);

struct PixelRect {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
  friend bool operator==(const PixelRect&, const PixelRect&) = default;
};

// The pixels a rectangle in twips covers. Its edges are converted rather than its size, so
// controls laid edge to edge in twips stay edge to edge on screen at every DPI; a size that
// would come out negative is 0.
[[nodiscard]] PixelRect pixelRect(int left, int top, int width, int height, int dpi);

// The height to ask CreateFont for a font of `points` at `dpi`: negative, so that it is the
// character height (without the internal leading), which is what a point size means.
[[nodiscard]] int fontHeight(double points, int dpi);

}  // namespace qvr::platform::win32
