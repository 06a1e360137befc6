#pragma once

#include <vector>

#include "ui/form.h"

namespace qvr::ui {

// Control identifiers, in the control table's order; the members of the signal graph's three
// control arrays follow the plain controls.
namespace ctl {
enum : ControlId {
  Label5,
  lblProduct,
  Label4,
  lblManuf,
  Label3,
  lblSerialNumber,
  SerNo,
  Label2,
  lblVersion,
  Label13,
  UTC,
  Label12,
  GPSposition,
  Label6,
  Status,
  Image1,
  Label8,
  Out1Freq,
  Label1,
  FindFreq,
  PPS,
  NMEA,
  Out1power,
  Label9,
  Out2Freq,
  Label7,
  FindFreq2,
  Out2power,
  OUT1EN,
  FLL,
  PicSat,
  Sat_average,
  GNSS_GPS,
  GNSS_SBAS,
  GNSS_Galileo,
  GNSS_BeiDou,
  GNSS_GLONASS,
  dynmodel_label,
  dynmodel,
  Diagnostics,
  Factory,
  Timer,
  kPlainControlCount
};

inline constexpr int kSatCount = 32;
inline constexpr int kScaleCount = 5;

constexpr ControlId Sat(int i) {
  return kPlainControlCount + static_cast<ControlId>(i);
}
constexpr ControlId CNoLbl(int i) {
  return Sat(kSatCount) + static_cast<ControlId>(i);
}
constexpr ControlId CNoLine(int i) {
  return CNoLbl(kScaleCount) + static_cast<ControlId>(i);
}
inline constexpr ControlId kControlCount = CNoLine(kScaleCount);

// The satellite-system boxes; GPS, SBAS and Galileo (the G boxes) combine freely.
inline constexpr ControlId kGnssBoxes[] = {GNSS_GPS, GNSS_SBAS, GNSS_Galileo, GNSS_BeiDou,
                                           GNSS_GLONASS};
inline constexpr ControlId kGBoxes[] = {GNSS_GPS, GNSS_SBAS, GNSS_Galileo};
}  // namespace ctl

inline constexpr Rgb kRed{255, 0, 0};
inline constexpr Rgb kWhite{255, 255, 255};
inline constexpr Rgb kBlack{0, 0, 0};
inline constexpr Rgb kLightRed{255, 128, 128};
inline constexpr Rgb kDarkGrey{64, 64, 64};
inline constexpr Rgb kLightGrey{176, 176, 176};

inline constexpr int kTwipsPerPixel = 15;
inline constexpr int kClientWidth = 7500;
inline constexpr int kClientHeight = 9000;
inline constexpr const char* kWindowCaption = "QVR-7130 GPSDO Locked Clock Source";

// Every control of the main window as it is laid out, before the window load runs.
[[nodiscard]] std::vector<Control> controlTable();

}  // namespace qvr::ui
