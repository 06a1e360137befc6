#include "programs/win32-window/logo.h"

#include <windows.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>

namespace qvr::platform::win32 {
namespace {

const COLORREF kNavy = RGB(16, 36, 84);
const COLORREF kSky = RGB(120, 180, 240);
const COLORREF kPanel = RGB(200, 214, 232);
const COLORREF kWhite = RGB(255, 255, 255);

// Arial is on every Windows; wine maps it onto Liberation Sans, which has its metrics.
constexpr wchar_t kBrandFace[] = L"Arial";

constexpr double kTiltDegrees = -30;  // the satellite leans back, its panels rising to the right

struct Point {
  double x;
  double y;
};

// A rectangle of the satellite's own drawing, turned by the tilt and placed at `centre`.
void drawTurnedRect(HDC dc, Point centre, double scale, double x, double y, double w, double h) {
  const double angle = kTiltDegrees * std::numbers::pi / 180.0;
  const double c = std::cos(angle);
  const double s = std::sin(angle);
  const std::array<Point, 4> corners{{{x, y}, {x + w, y}, {x + w, y + h}, {x, y + h}}};
  std::array<POINT, 4> turned{};
  for (std::size_t i = 0; i < corners.size(); ++i) {
    const double px = corners[i].x * scale;
    const double py = corners[i].y * scale;
    turned[i] = {static_cast<LONG>(std::lround(centre.x + px * c - py * s)),
                 static_cast<LONG>(std::lround(centre.y + px * s + py * c))};
  }
  Polygon(dc, turned.data(), static_cast<int>(turned.size()));
}

void drawSatellite(HDC dc, Point centre, double scale) {
  const HGDIOBJ oldPen = SelectObject(dc, GetStockObject(NULL_PEN));
  const HBRUSH panel = CreateSolidBrush(kPanel);
  const HBRUSH body = CreateSolidBrush(kWhite);
  HGDIOBJ oldBrush = SelectObject(dc, panel);
  drawTurnedRect(dc, centre, scale, -11, -2.5, 7, 5);
  drawTurnedRect(dc, centre, scale, 4, -2.5, 7, 5);
  SelectObject(dc, body);
  drawTurnedRect(dc, centre, scale, -3.5, -3.5, 7, 7);
  SelectObject(dc, oldBrush);
  DeleteObject(panel);
  DeleteObject(body);

  // Three arcs below and to the right, counter-clockwise from 80 to 20 degrees below the right.
  const HPEN wave = CreatePen(PS_SOLID, std::max(1, static_cast<int>(std::lround(scale))), kSky);
  SelectObject(dc, wave);
  oldBrush = SelectObject(dc, GetStockObject(NULL_BRUSH));
  const double from = 80 * std::numbers::pi / 180.0;
  const double to = 20 * std::numbers::pi / 180.0;
  for (int i = 1; i <= 3; ++i) {
    const double r = (3.0 + 4.0 * i) * scale;
    const auto at = [&](double a, double d) { return static_cast<int>(std::lround(a + d)); };
    Arc(dc, at(centre.x, -r), at(centre.y, -r), at(centre.x, r), at(centre.y, r),
        at(centre.x, r * std::cos(from)), at(centre.y, r * std::sin(from)),
        at(centre.x, r * std::cos(to)), at(centre.y, r * std::sin(to)));
  }
  SelectObject(dc, oldBrush);
  SelectObject(dc, oldPen);
  DeleteObject(wave);
}

HFONT brandFont(int pixelHeight, bool bold) {
  return CreateFontW(-pixelHeight, 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE,
                     DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, ANTIALIASED_QUALITY,
                     DEFAULT_PITCH | FF_SWISS, kBrandFace);
}

}  // namespace

void drawLogo(void* context, int width, int height) {
  const HDC dc = static_cast<HDC>(context);
  const double h = height;
  const int radius = std::max(2, height / 5);

  const HBRUSH plate = CreateSolidBrush(kNavy);
  const HGDIOBJ oldBrush = SelectObject(dc, plate);
  const HGDIOBJ oldPen = SelectObject(dc, GetStockObject(NULL_PEN));
  // A null pen draws nothing, and the fill stops one pixel short: one more each way fills all.
  RoundRect(dc, 0, 0, width + 1, height + 1, 2 * radius, 2 * radius);
  SelectObject(dc, oldPen);
  SelectObject(dc, oldBrush);
  DeleteObject(plate);

  SetBkMode(dc, TRANSPARENT);
  // The name takes the left two thirds and stays readable at the control's 50 pixels.
  const HFONT name = brandFont(static_cast<int>(std::lround(h * 0.5)), true);
  HGDIOBJ oldFont = SelectObject(dc, name);
  SetTextColor(dc, kWhite);
  RECT nameBox{static_cast<LONG>(h * 0.2), 0, static_cast<LONG>(width * 0.64),
               static_cast<LONG>(h * 0.72)};
  DrawTextW(dc, L"QVR", -1, &nameBox, DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
  SelectObject(dc, oldFont);
  DeleteObject(name);

  const HFONT tag = brandFont(std::max(6, static_cast<int>(std::lround(h * 0.18))), false);
  oldFont = SelectObject(dc, tag);
  SetTextColor(dc, kSky);
  RECT tagBox{static_cast<LONG>(h * 0.2), static_cast<LONG>(h * 0.62),
              static_cast<LONG>(h * 0.2 + width * 0.64), static_cast<LONG>(h * 0.92)};
  DrawTextW(dc, L"TIME & FREQUENCY", -1, &tagBox, DT_LEFT | DT_TOP | DT_SINGLELINE | DT_NOPREFIX);
  SelectObject(dc, oldFont);
  DeleteObject(tag);

  drawSatellite(dc, Point{width - h * 0.75, h * 0.42}, h / 40.0);
}

}  // namespace qvr::platform::win32
