#include <string>

#include "ui/controls.h"

namespace qvr::ui {
namespace {

const Font kDefaultFont{"Microsoft Sans Serif", 9.75};
const Font kFrequencyFont{"Microsoft Sans Serif", 13.5};
const Font kScaleFont{"Small Fonts", 6.75};

constexpr const char* kClockTip = "Click to set your computer local time from GPS";

struct Row {
  const char* name;
  ControlKind kind;
  int left, top, width, height;
  const char* text;
  const char* tooltip;
};

// The window as it is laid out. Captions that the start-up clears are still given, so that a
// front end shows the same thing as the form designer would before the load runs.
constexpr Row kRows[] = {
    {"Label5", ControlKind::Label, 200, 195, 1395, 270, "Device", ""},
    {"lblProduct", ControlKind::Label, 1815, 210, 3645, 330, "", ""},
    {"Label4", ControlKind::Label, 200, 600, 1395, 270, "Manufacturer", ""},
    {"lblManuf", ControlKind::Label, 1815, 600, 3540, 270, "", ""},
    {"Label3", ControlKind::Label, 200, 1005, 1395, 270, "Serial number", ""},
    {"lblSerialNumber", ControlKind::Label, 1815, 1005, 3300, 270, "S/N", ""},
    {"SerNo", ControlKind::ComboBox, 1815, 935, 2700, 360, "", ""},
    {"Label2", ControlKind::Label, 200, 1395, 1395, 270, "Firmware", ""},
    {"lblVersion", ControlKind::Label, 1815, 1395, 3435, 270, "", ""},
    {"Label13", ControlKind::Label, 200, 1800, 1395, 270, "UTC", kClockTip},
    {"UTC", ControlKind::Label, 1815, 1800, 3435, 270, "", kClockTip},
    {"Label12", ControlKind::Label, 200, 2205, 1395, 270, "GPS position",
     "Click to open in Google maps"},
    {"GPSposition", ControlKind::Label, 1815, 2205, 3435, 270, "", "Click to open Google Maps"},
    {"Label6", ControlKind::Label, 200, 2595, 1395, 270, "Status", ""},
    {"Status", ControlKind::Label, 1815, 2595, 3375, 270, " No GPS signal", ""},
    {"Image1", ControlKind::Image, 4830, 600, 2430, 750, "", ""},
    {"Label8", ControlKind::Label, 200, 3240, 600, 270, "OUT1", ""},
    {"Out1Freq", ControlKind::TextBox, 900, 3120, 2300, 480, "1000000000", ""},
    {"Label1", ControlKind::Label, 3300, 3240, 390, 270, "Hz", ""},
    {"FindFreq", ControlKind::Button, 3650, 3120, 1000, 480, "Set", ""},
    {"PPS", ControlKind::CheckBox, 4800, 2940, 990, 270, "1PPS",
     "1PPS output aligned to UTC second"},
    {"NMEA", ControlKind::CheckBox, 4800, 3255, 990, 270, "NMEA", ""},
    {"Out1power", ControlKind::CheckBox, 4800, 3570, 1400, 270, "Low power",
     "Reduce OUT1 power to +1dBm"},
    {"Label9", ControlKind::Label, 195, 4215, 600, 270, "OUT2", ""},
    {"Out2Freq", ControlKind::TextBox, 900, 4095, 2300, 480, "1000000000", ""},
    {"Label7", ControlKind::Label, 3300, 4215, 390, 270, "Hz", ""},
    {"FindFreq2", ControlKind::Button, 3650, 4095, 1000, 480, "Set", ""},
    {"Out2power", ControlKind::CheckBox, 4800, 4200, 1400, 270, "Low power",
     "Reduce OUT2 power to +1dBm"},
    {"OUT1EN", ControlKind::CheckBox, 200, 4755, 1935, 270, "Outputs enabled", ""},
    {"FLL", ControlKind::CheckBox, 200, 5250, 1935, 270, "FLL",
     "FLL enables better ADEV but lowers absolute precision"},
    {"PicSat", ControlKind::PictureBox, 200, 5775, 5580, 1500, "",
     "Satellite signal to noise ratio, dB"},
    {"Sat_average", ControlKind::Shape, 15, 1500, 225, 0, "", ""},
    {"GNSS_GPS", ControlKind::CheckBox, 5940, 5775, 1500, 240, "GPS", "GPS satellite system"},
    {"GNSS_SBAS", ControlKind::CheckBox, 5940, 6090, 1500, 240, "SBAS", "SBAS satellite system"},
    {"GNSS_Galileo", ControlKind::CheckBox, 5940, 6405, 1500, 240, "Galileo",
     "Galileo satellite system"},
    {"GNSS_BeiDou", ControlKind::CheckBox, 5940, 6720, 1500, 240, "BeiDou",
     "BeiDou satellite system"},
    {"GNSS_GLONASS", ControlKind::CheckBox, 5940, 7035, 1500, 240, "GLONASS",
     "GLONASS satellite system"},
    {"dynmodel_label", ControlKind::Label, 195, 7560, 1500, 270, "Dynamic model", ""},
    {"dynmodel", ControlKind::ComboBox, 1815, 7500, 2000, 360, "",
     "Satellite receiver dynamic model"},
    {"Diagnostics", ControlKind::Button, 200, 8115, 2000, 420, "Diagnostics",
     "Show diagnostics and blink front lights"},
    {"Factory", ControlKind::Button, 2500, 8115, 2000, 420, "Factory reset", ""},
    {"Timer", ControlKind::Timer, 0, 0, 0, 0, "", ""},
};
static_assert(std::size(kRows) == ctl::kPlainControlCount);

// The scale labels' box: wide enough for two digits of the small font, and an even height so
// that centring a label on its grid line lands on a whole twip.
constexpr int kScaleLabelWidth = 240;
constexpr int kScaleLabelHeight = 180;

Control fromRow(const Row& row) {
  Control c;
  c.name = row.name;
  c.kind = row.kind;
  c.left = row.left;
  c.top = row.top;
  c.width = row.width;
  c.height = row.height;
  c.text = row.text;
  c.tooltip = row.tooltip;
  c.font = kDefaultFont;
  c.foreColor = kBlack;
  c.backColor = kWhite;
  c.backOpaque = row.kind == ControlKind::TextBox || row.kind == ControlKind::PictureBox;
  return c;
}

Control arrayMember(const char* name, int index, ControlKind kind) {
  Control c;
  c.name = name;
  c.arrayIndex = index;
  c.kind = kind;
  c.parent = ctl::PicSat;
  c.font = kDefaultFont;
  return c;
}

}  // namespace

std::vector<Control> controlTable() {
  std::vector<Control> controls;
  controls.reserve(ctl::kControlCount);
  for (const Row& row : kRows) {
    controls.push_back(fromRow(row));
  }

  Control& status = controls[ctl::Status];
  status.backColor = kLightRed;
  status.backOpaque = true;
  controls[ctl::Out1Freq].font = kFrequencyFont;
  controls[ctl::Out2Freq].font = kFrequencyFont;
  controls[ctl::NMEA].enabled = false;
  controls[ctl::PicSat].border = BorderStyle::FixedSingle;
  Control& average = controls[ctl::Sat_average];
  average.parent = ctl::PicSat;
  average.backColor = kRed;
  average.borderColor = kRed;
  Control& timer = controls[ctl::Timer];
  timer.interval = 100;
  timer.enabled = false;

  for (int i = 0; i < ctl::kSatCount; ++i) {
    Control bar = arrayMember("Sat", i, ControlKind::Shape);
    bar.backColor = kDarkGrey;
    bar.borderColor = kDarkGrey;
    controls.push_back(bar);
  }
  for (int i = 0; i < ctl::kScaleCount; ++i) {
    Control label = arrayMember("CNoLbl", i, ControlKind::Label);
    label.text = "20";
    label.width = kScaleLabelWidth;
    label.height = kScaleLabelHeight;
    label.font = kScaleFont;
    label.foreColor = kDarkGrey;
    controls.push_back(label);
  }
  for (int i = 0; i < ctl::kScaleCount; ++i) {
    Control line = arrayMember("CNoLine", i, ControlKind::Line);
    line.borderColor = kLightGrey;
    controls.push_back(line);
  }
  return controls;
}

}  // namespace qvr::ui
