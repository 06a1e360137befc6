// The window on the controller's thread must do exactly what the window on its own thread does:
// the same reports to every device, in the same order, the same message boxes and web pages, and
// in the end the same state in every control. Each case draws devices and a run of user input
// and ticks; the threaded window gets its input without waiting for the controller, with its
// changes delivered at random moments, as a busy window's thread would. QVR_THREAD_CASES sets
// the number of cases.
#include "ui/controller_thread.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "platform/sim/sim_hid.h"
#include "platform/sim/sim_system.h"
#include "ui/controls.h"
#include "ui/main_window.h"

namespace qvr::ui {

// A failure names what differs rather than dumping bytes.
void PrintTo(const Control& c, std::ostream* out) {
  const auto rgb = [](Rgb colour) {
    return std::to_string(colour.r) + "," + std::to_string(colour.g) + "," +
           std::to_string(colour.b);
  };
  *out << "{text '" << c.text << "' value " << c.value << " enabled " << c.enabled << " visible "
       << c.visible << " list " << c.listIndex << "/" << c.items.size() << " at " << c.left << ","
       << c.top << " " << c.width << "x" << c.height << " fore " << rgb(c.foreColor) << " back "
       << rgb(c.backColor) << (c.backOpaque ? " opaque" : "") << " border "
       << static_cast<int>(c.border) << " " << rgb(c.borderColor) << " caret " << c.selStart
       << " interval " << c.interval << " stack " << c.stackOrder << "}";
}

namespace {

using platform::sim::DeviceProfile;

constexpr int kDefaultCases = 150;
constexpr int kSteps = 80;

// What the user can reach: the settings, the links, the lists, the frequency boxes.
constexpr ControlId kClickable[] = {
    ctl::PPS,          ctl::NMEA,        ctl::Out1power, ctl::Out2power,    ctl::OUT1EN,
    ctl::FLL,          ctl::GNSS_GPS,    ctl::GNSS_SBAS, ctl::GNSS_Galileo, ctl::GNSS_BeiDou,
    ctl::GNSS_GLONASS, ctl::FindFreq,    ctl::FindFreq2, ctl::Factory,      ctl::Label13,
    ctl::UTC,          ctl::GPSposition, ctl::Image1,    ctl::Diagnostics};
constexpr ControlId kTextBoxes[] = {ctl::Out1Freq, ctl::Out2Freq};
constexpr ControlId kLists[] = {ctl::SerNo, ctl::dynmodel};
constexpr int kEnterKey = 13;

std::vector<DeviceProfile> drawDevices(std::mt19937_64& rng) {
  const std::uint16_t firmwares[] = {0x0108, 0x0108, 0x0105, 0x0200, 0x0090};
  std::vector<DeviceProfile> devices(1 + rng() % 3);
  for (std::size_t i = 0; i < devices.size(); ++i) {
    devices[i].serial = u"QVR00000" + std::u16string(1, static_cast<char16_t>(u'1' + i));
    devices[i].versionNumber = firmwares[rng() % std::size(firmwares)];
    devices[i].seed = rng();
  }
  return devices;
}

// One user action or tick, drawn once and played into both windows.
struct Step {
  enum class Kind { Tick, Click, Type, Enter, Choose } kind = Kind::Tick;
  ControlId id = kNoControl;
  std::string text;
  int index = 0;
};

std::vector<Step> drawSteps(std::mt19937_64& rng) {
  const char* const frequencies[] = {"10000000", "1", "24000000", "1000", "12,5", "x", ""};
  std::vector<Step> steps;
  for (int i = 0; i < kSteps; ++i) {
    const unsigned roll = rng() % 20;
    if (roll < 9) {
      steps.push_back({.kind = Step::Kind::Tick});
    } else if (roll < 15) {
      steps.push_back({.kind = Step::Kind::Click, .id = kClickable[rng() % std::size(kClickable)]});
    } else if (roll < 17) {
      steps.push_back({.kind = Step::Kind::Type,
                       .id = kTextBoxes[rng() % std::size(kTextBoxes)],
                       .text = frequencies[rng() % std::size(frequencies)]});
    } else if (roll < 18) {
      steps.push_back({.kind = Step::Kind::Enter, .id = kTextBoxes[rng() % std::size(kTextBoxes)]});
    } else {
      steps.push_back({.kind = Step::Kind::Choose,
                       .id = kLists[rng() % std::size(kLists)],
                       .index = static_cast<int>(rng() % 4)});
    }
  }
  return steps;
}

void play(FormInput& input, const Step& step) {
  switch (step.kind) {
    case Step::Kind::Click:
      input.userClick(step.id);
      break;
    case Step::Kind::Type:
      input.userType(step.id, step.text);
      break;
    case Step::Kind::Enter:
      input.userKey(step.id, kEnterKey);
      break;
    case Step::Kind::Choose:
      input.userChoose(step.id, step.index);
      break;
    case Step::Kind::Tick:
      break;
  }
}

// A bus and a system on one virtual clock, recording what reaches the user and the devices.
struct World {
  explicit World(const std::vector<DeviceProfile>& devices) {
    hid.setClock([this] { return system.now(); });
    for (const DeviceProfile& device : devices) {
      hid.attach(device);
    }
    system.setMessageListener([this](const std::string& title, const std::string& text) {
      seen.push_back(title + text);
    });
    system.setAddressListener([this](const std::string& address) { seen.push_back(address); });
  }
  [[nodiscard]] std::vector<std::vector<std::uint8_t>> received() const {
    std::vector<std::vector<std::uint8_t>> all;
    for (const auto& device : hid.devices()) {
      all.insert(all.end(), device->received().begin(), device->received().end());
      all.emplace_back();  // where one device's reports end
    }
    return all;
  }

  platform::sim::SimSystem system;
  platform::sim::SimHid hid;
  std::vector<std::string> seen;
};

// What native widgets would show: each control's state as far as the front end was told of it,
// property by property, so a change that is never announced stays unseen here as on a screen.
class Widgets final : public FormObserver {
 public:
  explicit Widgets(Form& form) : form_(form), shown_(form.controls()) { form.setObserver(this); }
  ~Widgets() override { form_.setObserver(nullptr); }
  Widgets(const Widgets&) = delete;
  Widgets& operator=(const Widgets&) = delete;
  [[nodiscard]] const Control& operator[](ControlId id) const { return shown_.at(id); }

  void controlChanged(ControlId id, Property property) override {
    const Control& now = form_[id];
    Control& shown = shown_.at(id);
    switch (property) {
      case Property::Text:
        shown.text = now.text;
        break;
      case Property::Value:
        shown.value = now.value;
        break;
      case Property::Caret:
        // Where the caret goes is the widget's own business while the user types.
        break;
      default: {
        // The properties a user's input changes are told of on their own.
        const Control kept = shown;
        shown = now;
        shown.text = kept.text;
        shown.value = kept.value;
        shown.selStart = kept.selStart;
        if (property == Property::ListIndex || property == Property::Items) {
          shown.text = now.text;
        }
      }
    }
  }
  void windowShown() override {}

 private:
  Form& form_;
  std::vector<Control> shown_;
};

TEST(ControllerThread, DoesWhatTheWindowOnItsOwnThreadDoes) {
  const char* configured = std::getenv("QVR_THREAD_CASES");
  const int cases = configured != nullptr ? std::atoi(configured) : kDefaultCases;
  for (int seed = 0; seed < cases; ++seed) {
    std::mt19937_64 rng(static_cast<std::uint64_t>(seed));
    const std::vector<DeviceProfile> devices = drawDevices(rng);
    const std::vector<Step> steps = drawSteps(rng);

    World inline_(devices);
    MainWindow window(inline_.hid, inline_.system);
    window.load();
    World threaded(devices);
    ControllerThread controller(threaded.hid, threaded.system, {});
    const Widgets widgets(controller.form());
    controller.load();

    for (const Step& step : steps) {
      if (step.kind == Step::Kind::Tick) {
        const std::chrono::milliseconds interval{window.form()[ctl::Timer].interval};
        inline_.system.advance(interval);
        window.tick();
        // The clock moves only while the controller rests, as it moves between real ticks.
        controller.drain();
        threaded.system.advance(interval);
        controller.tick();
      } else {
        play(window.form(), step);
        play(controller, step);
      }
      if (rng() % 3 == 0) {
        controller.deliver();
      }
    }
    window.unload();
    controller.unload();
    controller.drain();

    SCOPED_TRACE("seed " + std::to_string(seed));
    ASSERT_EQ(threaded.received(), inline_.received());
    ASSERT_EQ(threaded.seen, inline_.seen);
    for (ControlId id = 0; id < window.form().size(); ++id) {
      Control expected = window.form()[id];
      expected.selStart = widgets[id].selStart;
      ASSERT_EQ(widgets[id], expected) << window.form().nameOf(id);
    }
  }
}

TEST(ControllerThread, ClosingNeverWaitsForAMessageBoxNobodyWillSee) {
  // Firmware the window refuses: its start-up asks for a message box, which no window thread
  // delivers before this one goes.
  DeviceProfile device;
  device.serial = u"QVR000001";
  device.versionNumber = 0x0090;
  World world({device});
  {
    ControllerThread controller(world.hid, world.system, {});
    controller.load();
    controller.unload();
  }
  EXPECT_TRUE(world.seen.empty());
}

}  // namespace
}  // namespace qvr::ui
