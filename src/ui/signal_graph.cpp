#include "ui/signal_graph.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <string>

#include "protocol/number_text.h"
#include "ui/controls.h"

namespace qvr::ui {
namespace {

// The graph's vertical scale: bars use the full 54 dB-Hz over the outer height, the grid uses
// tens of dB-Hz over the inner height.
constexpr double kFullScaleCno = 54.0;
constexpr double kFullScaleTens = 5.4;
constexpr int kPitchesPerGraph = 34;  // 32 bars and two pitches for the scale at the left
constexpr double kRestingTopShare = 0.95;
constexpr double kScaleLabelClearance = 1.4;  // grid lines start clear of the scale labels
constexpr double kAverageWidthShare = 1.5;

// Bar geometry and the average's colour round half to even, as the rest of the window does.
int roundEven(double value) {
  return static_cast<int>(std::nearbyint(value));
}

constexpr std::uint8_t kAntennaOk = 0x04;
constexpr std::uint8_t kSignalOk = 0x01;

}  // namespace

GraphGeometry GraphGeometry::compute(int outerWidth, int outerHeight, int twipsPerPixel) {
  GraphGeometry g;
  const int pitchPixels = roundEven(outerWidth / static_cast<double>(twipsPerPixel) /
                                    static_cast<double>(kPitchesPerGraph));
  g.barPitch = roundEven(static_cast<double>(pitchPixels) * twipsPerPixel);
  g.barWidth = g.barPitch - twipsPerPixel;  // one pixel of gap between bars
  g.restingTop = roundEven(kRestingTopShare * outerHeight);
  return g;
}

SignalGraph::SignalGraph(Form& form, int twipsPerPixel)
    : form_(form), twipsPerPixel_(twipsPerPixel) {}

int SignalGraph::outerHeight() const {
  return form_[ctl::PicSat].height;
}

int SignalGraph::innerHeight() const {
  const Control& box = form_[ctl::PicSat];
  return box.border == BorderStyle::FixedSingle ? box.height - 2 * twipsPerPixel_ : box.height;
}

void SignalGraph::layOut() {
  const int w = form_[ctl::PicSat].width;
  const int h = innerHeight();
  geometry_ = GraphGeometry::compute(w, outerHeight(), twipsPerPixel_);

  const int lineStart = roundEven(kScaleLabelClearance * form_[ctl::CNoLbl(0)].width);
  for (int i = 0; i < ctl::kScaleCount; ++i) {
    const ControlId line = ctl::CNoLine(i);
    const int y = roundEven(h - (i + 1) * h / kFullScaleTens);
    form_.setBorderColor(line, kLightGrey);
    form_.setLeft(line, lineStart);
    form_.setTop(line, y);
    form_.setWidth(line, w - lineStart);
    form_.setHeight(line, 0);
    form_.setVisible(line, true);

    const ControlId label = ctl::CNoLbl(i);
    form_.setTop(label, roundEven(y - form_[label].height / 2.0));
    form_.setLeft(label, twipsPerPixel_);
    form_.setText(label, std::to_string((i + 1) * 10));
    form_.setVisible(label, true);
    form_.bringToFront(label);
  }
  form_.setLeft(ctl::CNoLbl(0), 0);

  for (int i = 0; i < ctl::kSatCount; ++i) {
    const ControlId bar = ctl::Sat(i);
    form_.setLeft(bar, (i + 2) * geometry_.barPitch);
    form_.setWidth(bar, geometry_.barWidth);
    form_.setVisible(bar, true);
    form_.setHeight(bar, 0);
    form_.setTop(bar, geometry_.restingTop);
    form_.bringToFront(bar);
    form_.setBackColor(bar, kDarkGrey);
    form_.setBorderColor(bar, kDarkGrey);
  }

  form_.setLeft(ctl::Sat_average, twipsPerPixel_);
  form_.setWidth(ctl::Sat_average, roundEven(kAverageWidthShare * geometry_.barWidth));
  form_.setHeight(ctl::Sat_average, 0);
}

void SignalGraph::showStatus(std::uint8_t statusByte) {
  if ((statusByte & kAntennaOk) == 0) {
    form_.setText(ctl::Status, " GPS antenna shorted");
    form_.setBackColor(ctl::Status, kLightRed, true);
  } else if ((statusByte & kSignalOk) == 0) {
    form_.setText(ctl::Status, " No GPS signal");
    form_.setBackColor(ctl::Status, kLightRed, true);
  } else {
    form_.setText(ctl::Status, " GPS signal OK");
    form_.setBackColor(ctl::Status, kLightRed, false);
  }
}

void SignalGraph::showNoData() {
  form_.setText(ctl::Status, " No data from the device");
  form_.setBackColor(ctl::Status, kLightRed, true);
}

void SignalGraph::showNotAnswering() {
  form_.setText(ctl::Status, " Device not answering");
  form_.setBackColor(ctl::Status, kLightRed, true);
}

void SignalGraph::showUnusable(const std::optional<std::string>& problem) {
  form_.setVisible(ctl::Status, problem.has_value());
  form_.setText(ctl::Status, problem ? " QVR-7130 attached, but cannot be used: " + *problem : "");
  if (problem) {
    form_.setBackColor(ctl::Status, kLightRed, true);
  }
}

void SignalGraph::showPosition(double latitude, double longitude, double altitude,
                               char decimalSeparator) {
  text_.assign(" ");
  const bool ok =
      protocol::appendFixed(text_, latitude, 6, decimalSeparator) &&
      (text_.append(", "), protocol::appendFixed(text_, longitude, 6, decimalSeparator)) &&
      (text_.append(", "), protocol::appendFixed(text_, altitude, 0, decimalSeparator));
  if (ok) {
    form_.setText(ctl::GPSposition, text_);
  }
}

void SignalGraph::showTime(int year, int month, int day, int hour, int minute, int second) {
  using protocol::appendTwoDigits;
  text_.assign(" ");
  std::array<char, 12> digits{};
  text_.append(digits.data(),
               std::to_chars(digits.data(), digits.data() + digits.size(), year).ptr);
  text_.push_back('.');
  appendTwoDigits(text_, month);
  text_.push_back('.');
  appendTwoDigits(text_, day);
  text_.push_back(' ');
  appendTwoDigits(text_, hour);
  text_.push_back(':');
  appendTwoDigits(text_, minute);
  text_.push_back(':');
  appendTwoDigits(text_, second);
  form_.setText(ctl::UTC, text_);
}

void SignalGraph::showUnknownTime() {
  form_.setText(ctl::UTC, " Unknown");
}

void SignalGraph::setBar(int n, int cno) {
  const int big = outerHeight();
  const double height = cno * big / kFullScaleCno;
  form_.setHeight(ctl::Sat(n), roundEven(height));
  form_.setTop(ctl::Sat(n), roundEven(big - height));
}

void SignalGraph::restBar(int n) {
  form_.setHeight(ctl::Sat(n), 0);
  form_.setTop(ctl::Sat(n), geometry_.restingTop);
}

void SignalGraph::setAverageHeight(int sum, int n) {
  form_.setHeight(ctl::Sat_average, roundEven(sum * outerHeight() / (n * kFullScaleCno)));
}

void SignalGraph::hideAverage() {
  form_.setHeight(ctl::Sat_average, 0);
}

void SignalGraph::setAverageColour(int averageCno) {
  // Red at 10 dB-Hz and below, yellow near 27, green from 45 up.
  const int g = roundEven((averageCno - 10) / 35.0 * 500);
  const int r = 500 - g;
  const Rgb colour{static_cast<std::uint8_t>(std::clamp(r, 0, 255)),
                   static_cast<std::uint8_t>(std::clamp(g, 0, 255)), 0};
  form_.setBackColor(ctl::Sat_average, colour);
  form_.setBorderColor(ctl::Sat_average, colour);
}

void SignalGraph::placeAverage() {
  form_.setTop(ctl::Sat_average, outerHeight() - form_[ctl::Sat_average].height);
}

}  // namespace qvr::ui
