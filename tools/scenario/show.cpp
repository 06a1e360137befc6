#include "scenario/show.h"

#include <charconv>
#include <cstdio>

#include "ui/controls.h"

namespace qvr::scenario {
namespace {

using ui::Control;
using ui::ControlKind;

std::string boolText(bool b) {
  return b ? "true" : "false";
}

std::string colourText(ui::Rgb c) {
  char buffer[8];
  std::snprintf(buffer, sizeof buffer, "%02X%02X%02X", c.r, c.g, c.b);
  return buffer;
}

// Shortest text that reads back as the same double, always with a "." whatever the locale.
std::string numberText(double value) {
  char buffer[32];
  const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value);
  return error == std::errc() ? std::string(buffer, end) : std::string("?");
}

// Collects "key=value" pairs in the order they are added.
class Pairs {
 public:
  explicit Pairs(std::string head) : line_(std::move(head)) {}
  Pairs& add(const char* key, const std::string& value) {
    line_ += ' ';
    line_ += key;
    line_ += '=';
    line_ += value;
    return *this;
  }
  Pairs& add(const char* key, bool value) { return add(key, boolText(value)); }
  Pairs& add(const char* key, int value) { return add(key, std::to_string(value)); }
  [[nodiscard]] std::string line() const { return line_; }

 private:
  std::string line_;
};

void addGeometry(Pairs& pairs, const Control& c) {
  pairs.add("left", c.left).add("top", c.top).add("width", c.width).add("height", c.height);
}

std::string borderText(ui::BorderStyle border) {
  return border == ui::BorderStyle::None ? "none" : "single";
}

std::string joinedItems(const std::vector<std::string>& items) {
  std::string joined;
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i > 0) {
      joined += '|';
    }
    joined += items[i];
  }
  return joined;
}

}  // namespace

std::string quoted(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
    }
    out += c;
  }
  out += '"';
  return out;
}

std::string describeControl(const ui::Form& form, ui::ControlId id) {
  const Control& c = form[id];
  Pairs pairs(form.nameOf(id) + ":");
  const bool focused = form.focus() == id;
  switch (c.kind) {
    case ControlKind::Label:
      pairs.add("enabled", c.enabled).add("visible", c.visible).add("caption", quoted(c.text));
      pairs.add("back", c.backOpaque ? colourText(c.backColor) : std::string("transparent"));
      pairs.add("border", borderText(c.border));
      addGeometry(pairs, c);
      break;
    case ControlKind::Image:
      pairs.add("enabled", c.enabled).add("visible", c.visible);
      addGeometry(pairs, c);
      break;
    case ControlKind::CheckBox:
      pairs.add("enabled", c.enabled).add("visible", c.visible).add("caption", quoted(c.text));
      pairs.add("value", c.value);
      break;
    case ControlKind::ComboBox:
      pairs.add("enabled", c.enabled).add("visible", c.visible).add("text", quoted(c.text));
      pairs.add("index", c.listIndex).add("items", quoted(joinedItems(c.items)));
      break;
    case ControlKind::TextBox:
      pairs.add("enabled", c.enabled).add("visible", c.visible).add("text", quoted(c.text));
      pairs.add("back", colourText(c.backColor)).add("focus", focused);
      break;
    case ControlKind::Button:
      pairs.add("enabled", c.enabled).add("visible", c.visible).add("caption", quoted(c.text));
      pairs.add("focus", focused);
      break;
    case ControlKind::PictureBox:
      pairs.add("enabled", c.enabled).add("visible", c.visible);
      addGeometry(pairs, c);
      pairs.add("back", colourText(c.backColor)).add("border", borderText(c.border));
      break;
    case ControlKind::Shape:
      pairs.add("visible", c.visible);
      addGeometry(pairs, c);
      pairs.add("back", colourText(c.backColor));
      break;
    case ControlKind::Line:
      pairs.add("visible", c.visible);
      addGeometry(pairs, c);
      break;
    case ControlKind::Timer:
      pairs.add("enabled", c.enabled).add("interval", c.interval);
      break;
  }
  return pairs.line();
}

std::string describeState(const ui::MainWindow& window, const platform::sim::SimHid& hid) {
  const device::ConnectionState& s = window.connection();
  const Control& timer = window.form()[ui::ctl::Timer];
  const ui::DecodedValues& d = window.decoded();
  char status[8];
  std::snprintf(status, sizeof status, "%02x", static_cast<unsigned>(d.statusByte));
  Pairs state("state:");
  state.add("found", s.found())
      .add("configured", s.configured())
      .add("listready", s.deviceListReady)
      .add("pending", window.selectionPending())
      .add("fw", s.firmwareText)
      .add("interval", timer.interval)
      .add("timer", timer.enabled)
      .add("handles", hid.openHandles())
      // Latitude and longitude have no value at all before the first position.
      .add("lat", d.latitude ? numberText(*d.latitude) : std::string())
      .add("lon", d.longitude ? numberText(*d.longitude) : std::string())
      .add("alt", numberText(d.altitude))
      .add("known", d.positionKnown)
      .add("drift", static_cast<int>(d.clockDrift))
      .add("sats", d.satellitesUsed)
      .add("cno", d.averageCno)
      .add("clockreq", d.setClockRequested)
      .add("status", std::string(status));
  return state.line();
}

}  // namespace qvr::scenario
