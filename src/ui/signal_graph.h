#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "ui/form.h"

namespace qvr::ui {

// Geometry of the satellite signal graph, computed once from the picture box's size and the
// screen's twips per pixel.
struct GraphGeometry {
  int barPitch = 0;    // twips
  int barWidth = 0;    // twips
  int restingTop = 0;  // twips

  [[nodiscard]] static GraphGeometry compute(int outerWidth, int outerHeight, int twipsPerPixel);
};

// The display operations of the status line, the time and position rows and the signal graph.
class SignalGraph {
 public:
  SignalGraph(Form& form, int twipsPerPixel);

  void layOut();
  [[nodiscard]] const GraphGeometry& geometry() const { return geometry_; }

  void showStatus(std::uint8_t statusByte);
  // The device has sent nothing for a while, so the last status no longer says anything.
  void showNoData();
  // The status row while the device does not answer, in place of the receiver's status.
  void showNotAnswering();
  // While no device is open: a QVR-7130 is attached but cannot be used, and why (a phrase to
  // follow "cannot be used: ", as the device listing words it); nothing hides the row.
  void showUnusable(const std::optional<std::string>& problem);
  void showPosition(double latitude, double longitude, double altitude, char decimalSeparator);
  void showTime(int year, int month, int day, int hour, int minute, int second);
  void showUnknownTime();

  void setBar(int n, int cno);
  void restBar(int n);
  void setAverageHeight(int sum, int n);
  void hideAverage();
  void setAverageColour(int averageCno);
  void placeAverage();

 private:
  [[nodiscard]] int outerHeight() const;
  [[nodiscard]] int innerHeight() const;

  Form& form_;
  int twipsPerPixel_;
  GraphGeometry geometry_;
  std::string text_;  // reused, so the texts shown many times a second need no new memory
};

}  // namespace qvr::ui
