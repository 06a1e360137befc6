// A day in the life of the window, on the virtual clock: two simulated devices with live
// receivers, the open one unplugged and plugged back every five minutes, its firmware hanging
// and its reports stopping now and then, the user switching devices and changing settings.
// Afterwards nothing may have leaked, the memory in use must be where it was after the first hour,
// every read-back must show what was set, and the window must show what the receiver last said.
#include <gtest/gtest.h>
#include <malloc.h>

#include <chrono>
#include <cmath>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/sim/forwarding_hid.h"
#include "platform/sim/sim_hid.h"
#include "platform/sim/sim_system.h"
#include "protocol/commands.h"
#include "protocol/ubx_messages.h"
#include "protocol/ubx_parser.h"
#include "ui/controls.h"
#include "ui/main_window.h"

namespace qvr {
namespace {

using namespace std::chrono_literals;
namespace ctl = ui::ctl;

// Passes every call on to the simulated bus and decodes, on the side, every receiver byte the
// window is given: what the receiver last said, independently of the window.
class TappedHid final : public platform::sim::ForwardingHid {
 public:
  explicit TappedHid(platform::sim::SimHid& bus) : ForwardingHid(bus) {}

  std::optional<protocol::NavPvt> lastPvt;
  std::optional<std::int32_t> lastDrift;
  std::optional<int> lastUsedCount;

  bool capabilities(platform::HidHandle h, platform::HidCaps& out) override {
    const bool ok = ForwardingHid::capabilities(h, out);
    inputLength_ = ok ? out.inputReportByteLength : inputLength_;
    return ok;
  }
  bool read(platform::HidHandle h, std::span<std::uint8_t> buffer, std::size_t& bytesRead,
            std::chrono::milliseconds wait) override {
    const bool ok = ForwardingHid::read(h, buffer, bytesRead, wait);
    for (std::size_t r = 0; ok && r + inputLength_ <= bytesRead; r += inputLength_) {
      if (buffer[r + 2] != 0) {
        parser_.feed(buffer.subspan(r + 3, inputLength_ - 3), [this] { remember(); });
      }
    }
    return ok;
  }

 private:
  void remember() {
    if (parser_.messageClass() != protocol::kUbxClassNav) {
      return;
    }
    switch (parser_.messageId()) {
      case protocol::kUbxIdNavPvt:
        lastPvt = protocol::decodeNavPvt(parser_.payload());
        break;
      case protocol::kUbxIdNavClock:
        lastDrift = protocol::decodeNavClockDrift(parser_.payload());
        break;
      case protocol::kUbxIdNavSat:
        if (const auto sat = protocol::NavSat::decode(parser_.payload())) {
          int used = 0;
          for (int k = 0; k < sat->count(); ++k) {
            const auto s = sat->satellite(k);
            used += (s.cno > 0 && s.elev > 0 && s.used && used < ctl::kSatCount) ? 1 : 0;
          }
          lastUsedCount = used;
        }
        break;
      default:
        break;
    }
  }

  protocol::UbxParser parser_;
  std::size_t inputLength_ = 64;
};

// What the user last set on one device.
struct Settings {
  std::string out2Text = "10000000";
  int fll = 0;
  int dynmodelRow = 0;
};

class Day {
 public:
  Day() : tap_(bus_), window_(tap_, system_), form_(window_.form()) {
    bus_.setClock([this] { return system_.now(); });
    devices_.push_back(&bus_.attach({.serial = u"E1"}));
    devices_.push_back(&bus_.attach({.serial = u"E2"}));
    window_.load();
  }

  // One poll every 100 ms of virtual time, whatever the window's own interval: the reads take
  // whatever the device queued meanwhile.
  void tick() {
    system_.advance(100ms);
    window_.tick();
  }

  [[nodiscard]] std::string openSerial() const { return form_[ctl::SerNo].text; }
  [[nodiscard]] platform::sim::SimDevice& openDevice() {
    return *devices_[openSerial() == "E1" ? 0 : 1];
  }

  void replug() {
    platform::sim::SimDevice& device = openDevice();
    // The simulation's own log of received reports would be the only thing to grow.
    device.clearReceived();
    bus_.unplug(device);
    for (int i = 0; i < 5; ++i) {
      tick();
    }
    bus_.plug(device);
    tick();
    expectReadBack();
  }

  // The firmware stops answering for two seconds: the window says so, and once the device
  // answers again it reads it back as a fresh connection would.
  void hangAWhile() {
    platform::sim::SimDevice& device = openDevice();
    device.hang();
    for (int i = 0; i < 20; ++i) {
      tick();
    }
    EXPECT_EQ(form_[ctl::Status].text, " Device not answering");
    device.answer();
    tick();
    expectReadBack();
  }

  // No input reports for five seconds: the window says no data is coming, until it comes.
  void silenceAWhile() {
    platform::sim::SimDevice& device = openDevice();
    device.setSilent(true);
    for (int i = 0; i < 50; ++i) {
      tick();
    }
    EXPECT_EQ(form_[ctl::Status].text, " No data from the device");
    device.setSilent(false);
    for (int i = 0; i < 5; ++i) {
      tick();
    }
    EXPECT_NE(form_[ctl::Status].text, " No data from the device");
  }

  void switchDevice() {
    form_.userChoose(ctl::SerNo, openSerial() == "E1" ? 1 : 0);
    expectReadBack();
  }

  void changeSettings(int n) {
    Settings& s = settings_[openSerial()];
    s.out2Text = std::to_string(5'000'000 + n);
    form_.userType(ctl::Out2Freq, s.out2Text);
    form_.userClick(ctl::FindFreq2);
    form_.userClick(ctl::FLL);
    s.fll = form_[ctl::FLL].value;
    s.dynmodelRow = n % 3;
    form_.userChoose(ctl::dynmodel, s.dynmodelRow);
  }

  void expectReadBack() {
    ASSERT_TRUE(window_.connection().configured());
    const Settings& s = settings_[openSerial()];
    EXPECT_EQ(form_[ctl::Out2Freq].text, s.out2Text) << openSerial();
    EXPECT_EQ(form_[ctl::FLL].value, s.fll) << openSerial();
    EXPECT_EQ(form_[ctl::dynmodel].listIndex, s.dynmodelRow) << openSerial();
  }

  void expectWindowShowsTheReceiver() {
    const ui::DecodedValues& d = window_.decoded();
    ASSERT_TRUE(tap_.lastPvt && tap_.lastDrift && tap_.lastUsedCount);
    EXPECT_EQ(d.latitude, tap_.lastPvt->lat * 1e-7);
    EXPECT_EQ(d.longitude, tap_.lastPvt->lon * 1e-7);
    EXPECT_EQ(d.altitude, tap_.lastPvt->hMSL * 0.001);
    EXPECT_EQ(d.clockDrift, *tap_.lastDrift);
    EXPECT_EQ(d.satellitesUsed, *tap_.lastUsedCount);
    EXPECT_EQ(form_[ctl::Status].text, " GPS signal OK");
  }

  [[nodiscard]] int openHandles() const { return bus_.openHandles(); }

 private:
  platform::sim::SimHid bus_;
  platform::sim::SimSystem system_;
  TappedHid tap_;
  ui::MainWindow window_;
  ui::Form& form_;
  std::vector<platform::sim::SimDevice*> devices_;
  std::map<std::string, Settings> settings_;
};

std::size_t heapInUse() {
  return mallinfo2().uordblks;
}

TEST(Endurance, ADayOfMonitoringWithReplugsSwitchesAndSettings) {
  constexpr int kTicksPerMinute = 600;
  constexpr int kMinutes = 24 * 60;
  Day day;
  std::size_t afterFirstHour = 0;
  for (int minute = 1; minute <= kMinutes; ++minute) {
    for (int t = 0; t < kTicksPerMinute; ++t) {
      day.tick();
    }
    if (minute % 5 == 0) {
      day.replug();
    }
    if (minute % 37 == 0) {
      day.switchDevice();
    }
    if (minute % 13 == 0) {
      day.changeSettings(minute);
    }
    if (minute % 11 == 0) {
      day.hangAWhile();
    }
    if (minute % 17 == 0) {
      day.silenceAWhile();
    }
    if (minute == 60) {
      afterFirstHour = heapInUse();
    }
    if (::testing::Test::HasFailure()) {
      FAIL() << "at minute " << minute;
    }
  }
  // Let the receiver report once more after the last change, then look.
  for (int t = 0; t < 30; ++t) {
    day.tick();
  }
  day.expectWindowShowsTheReceiver();
  EXPECT_EQ(day.openHandles(), 2) << "only the open device's two handles";
  // A little room for the allocator's own bookkeeping; a leak per replug or per message would
  // be hundreds of kilobytes by now.
  EXPECT_LT(heapInUse(), afterFirstHour + 16 * 1024);
}

}  // namespace
}  // namespace qvr
