// The command line over simulated devices on a virtual clock; what it sends for a change is
// checked against the window in equivalence_test.cpp.

#include "programs/ctl/program.h"

#include <gtest/gtest.h>

#include <functional>
#include <sstream>

#include "device/session.h"
#include "platform/sim/forwarding_hid.h"
#include "platform/sim/sim_hid.h"
#include "platform/sim/sim_system.h"
#include "programs/ctl/device_choice.h"
#include "ui/controls.h"
#include "ui/main_window.h"

namespace qvr::ctl {
namespace {

using platform::sim::DeviceProfile;
using platform::sim::SimDevice;
using platform::sim::SimHid;
using platform::sim::SimSystem;
using Reports = std::vector<std::vector<std::uint8_t>>;
namespace ids = ui::ctl;

DeviceProfile profile(std::uint16_t firmware = 0x0108, bool receiver = false) {
  return {.serial = u"QVR000001", .versionNumber = firmware, .receiver = receiver};
}

// One simulated device and the program run against it, on the system's virtual clock.
struct Bench {
  explicit Bench(const DeviceProfile& p = profile()) : device(hid.attach(p)) {
    hid.setClock([this] { return system.now(); });
  }
  int run(const std::vector<std::string>& args, std::function<bool()> interrupted = {}) {
    const ParsedArguments parsed = parseArguments(args);
    EXPECT_EQ(parsed.error, "");
    Environment env{.hid = hid,
                    .system = system,
                    .out = out,
                    .err = err,
                    .listDevices = [] { return Listing{}; },
                    .interrupted = std::move(interrupted),
                    .simulated = true,
                    .unixSeconds =
                        [this] {
                          return std::chrono::floor<std::chrono::seconds>(
                                     platform::sim::kVirtualStart + system.now())
                              .time_since_epoch()
                              .count();
                        }};
    return ctl::run(parsed.options, env);
  }
  SimHid hid;
  SimSystem system;
  SimDevice& device;
  std::ostringstream out;
  std::ostringstream err;
};

// The window on its own device of the same profile, started and with its start-up's reports
// forgotten.
struct WindowBench {
  explicit WindowBench(const DeviceProfile& p = profile()) : device(hid.attach(p)) {
    hid.setClock([this] { return system.now(); });
    window.load();
    device.clearReceived();
  }
  SimHid hid;
  SimSystem system;
  SimDevice& device;
  ui::MainWindow window{hid, system};
};

TEST(CtlProgram, ARefusedValueSendsNothingAtAll) {
  std::vector<std::uint8_t> nmeaOn = platform::sim::defaultConfiguration();
  nmeaOn[25] = 1;
  struct Case {
    std::uint16_t firmware;
    std::vector<std::string> args;
    const char* message;
    std::vector<std::uint8_t> configuration;  // empty: the default
  };
  const Case cases[] = {
      {0x0108, {"set", "fll=on", "out1=abc"}, "out1=abc: not a number"},
      {0x0108, {"set", "gnss=beidou,glonass,gps"}, "BeiDou and GLONASS go together"},
      {0x0107, {"set", "fll=on", "nmea=off"}, "nmea: firmware 1.07 has no NMEA setting"},
      {0x0102, {"set", "out2-low-power=on"}, "firmware 1.02 has no low-power setting"},
      {0x0106, {"set", "dynamic-model=portable"}, "firmware 1.06 has no dynamic-model"},
      // The window locks 1PPS while NMEA is on; the frequency goes first and is not sent either.
      {0x0108, {"set", "pps=on", "out2=5"}, "pps: OUT1 carries NMEA (nmea=off first)", nmeaOn},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    DeviceProfile p = profile(c.firmware);
    p.configuration = c.configuration;
    Bench b(p);
    EXPECT_EQ(b.run(c.args), kBadUsage);
    EXPECT_NE(b.err.str().find(c.message), std::string::npos) << b.err.str();
    EXPECT_NE(b.err.str().find("nothing was sent"), std::string::npos);
    EXPECT_TRUE(b.device.received().empty());
    EXPECT_EQ(b.out.str(), "");
    EXPECT_EQ(b.hid.openHandles(), 0);
  }
}

TEST(CtlProgram, StatusWaitsForTheFixAsLongAsItMay) {
  using platform::sim::Start;
  using std::chrono::milliseconds;
  struct Case {
    Start start;
    const char* timeout;
    milliseconds answeredFrom;  // on the virtual clock, the start-up's pauses included
    milliseconds answeredBefore;
    bool fixed;
  };
  // Messages come once a second, the fix 1 s (warm) or 3 s (cold) after power-up.
  const Case cases[] = {
      {Start::Warm, "3", milliseconds(1000), milliseconds(1100), true},
      {Start::Cold, "5", milliseconds(3000), milliseconds(3100), true},
      {Start::Cold, "2", milliseconds(2000), milliseconds(2100), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.timeout);
    DeviceProfile p = profile(0x0108, true);
    p.start = c.start;
    Bench b(p);
    EXPECT_EQ(b.run({"status", "--json", "--timeout", c.timeout}), kDone) << b.err.str();
    EXPECT_GE(b.system.now(), c.answeredFrom);
    EXPECT_LT(b.system.now(), c.answeredBefore);
    const std::string json = b.out.str();
    EXPECT_NE(json.find("\"missing\": []"), std::string::npos) << json;
    EXPECT_EQ(json.find("\"fix_ok\": true") != std::string::npos, c.fixed) << json;
    EXPECT_EQ(json.find("\"drift_ns_per_s\": null"), std::string::npos);
    EXPECT_EQ(b.err.str(), "");
    // The messages were switched off again, as the window leaves the device.
    const auto& last = b.device.received().back();
    EXPECT_EQ(last[1], static_cast<std::uint8_t>(protocol::Command::ReceiverMessage));
    EXPECT_EQ(last[2 + 4 + 2], 0);  // CFG-MSG rate
    EXPECT_EQ(b.hid.openHandles(), 0);
  }
}

TEST(CtlProgram, StatusSaysWhatDidNotComeAndLeavesItNull) {
  Bench b(profile(0x0108, false));
  EXPECT_EQ(b.run({"status", "--json", "--timeout", "0.5"}), kDone);
  // The wait itself, after the start-up's pauses between its requests.
  EXPECT_GE(b.system.now(), std::chrono::milliseconds(500));
  EXPECT_LT(b.system.now(), std::chrono::milliseconds(600));
  EXPECT_NE(b.err.str().find("no NAV-PVT, NAV-CLOCK, NAV-SAT within 0.5 s"), std::string::npos)
      << b.err.str();
  const std::string json = b.out.str();
  for (const char* field : {"\"utc\": null", "\"latitude_deg\": null", "\"drift_ns_per_s\": null",
                            "\"satellites\": null", "\"satellites_used\": null"}) {
    EXPECT_NE(json.find(field), std::string::npos) << field;
  }
  EXPECT_NE(json.find("\"missing\": [\n    \"NAV-PVT\",\n    \"NAV-CLOCK\",\n    \"NAV-SAT\"\n  ]"),
            std::string::npos)
      << json;
}

TEST(CtlProgram, WatchPrintsALinePerIntervalUntilInterrupted) {
  Bench b(profile(0x0108, true));
  int lines = 0;
  const auto stop = [&] {
    const std::string text = b.out.str();
    lines = static_cast<int>(std::count(text.begin(), text.end(), '\n'));
    return lines >= 4;
  };
  EXPECT_EQ(b.run({"status", "--watch", "2", "--json"}, stop), kDone);
  EXPECT_EQ(lines, 4);
  // The first line with the first complete set (about 1 s), then one every 2 s.
  EXPECT_GE(b.system.now(), std::chrono::milliseconds(6900));
  EXPECT_LE(b.system.now(), std::chrono::milliseconds(7600));
  std::istringstream text(b.out.str());
  for (std::string line; std::getline(text, line);) {
    EXPECT_EQ(line.rfind("{\"serial\":\"QVR000001\",\"receiver\":{", 0), 0u) << line;
  }
  EXPECT_EQ(b.hid.openHandles(), 0);
}

// A line an interval until interrupted, from a cold receiver: no fix, then the fix at 3 s.
TEST(CtlProgram, LogWritesALinePerIntervalInEitherForm) {
  struct Case {
    std::vector<std::string> args;
    std::vector<std::string> lines;  // each line's start
  };
  const Case cases[] = {
      {{"log", "--interval", "2", "--csv"},
       {"time,answering,fix_ok,locked,holdover,satellites_used,average_cno_dbhz,drift_ns_per_s,"
        "clock_bias_ns,time_accuracy_ns,gps_satellites,",
        "2026-12-08T12:00:02Z,1,0,0,0,0,0,", "2026-12-08T12:00:04Z,1,1,1,0,",
        "2026-12-08T12:00:06Z,1,1,1,0,"}},
      {{"log", "--interval=3"},
       {R"({"serial":"QVR000001","time":"2026-12-08T12:00:03Z","answering":1,"fix_ok":1,)",
        R"({"serial":"QVR000001","time":"2026-12-08T12:00:06Z","answering":1,"fix_ok":1,)"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.back());
    Bench b(profile(0x0108, true));
    const auto enough = [&] {
      const std::string text = b.out.str();
      return std::count(text.begin(), text.end(), '\n') >= std::ssize(c.lines);
    };
    EXPECT_EQ(b.run(c.args, enough), kDone) << b.err.str();
    std::istringstream text(b.out.str());
    for (const std::string& start : c.lines) {
      std::string line;
      std::getline(text, line);
      EXPECT_EQ(line.rfind(start, 0), 0U) << line;
    }
    EXPECT_EQ(b.hid.openHandles(), 0);
  }
}

TEST(CtlProgram, SetClockTakesTheNextValidTime) {
  Bench b(profile(0x0108, true));
  std::vector<platform::UtcTime> set;
  b.system.setClockListener([&](const platform::UtcTime& t) { set.push_back(t); });
  EXPECT_EQ(b.run({"set-clock"}), kDone) << b.err.str();
  ASSERT_EQ(set.size(), 1u);
  // The simulated receiver has a valid time from its fix on, three seconds after power-up.
  EXPECT_GE(b.system.now(), std::chrono::milliseconds(3000));
  EXPECT_NE(b.out.str().find("clock set to " + std::to_string(set[0].year) + "-"),
            std::string::npos)
      << b.out.str();
  // The simulated computer's clock is the receiver's, read a few milliseconds late.
  EXPECT_NE(b.out.str().find("\nclock moved by -0.00"), std::string::npos) << b.out.str();
  // Two quiet seconds, then the user is told what the program waits for.
  EXPECT_NE(b.err.str().find("waiting up to 5"), std::string::npos) << b.err.str();

  Bench mute(profile(0x0108, false));
  mute.system.setClockListener([&](const platform::UtcTime& t) { set.push_back(t); });
  EXPECT_EQ(mute.run({"set-clock", "--timeout", "2"}), kDeviceFailed);
  EXPECT_NE(mute.err.str().find("no valid time within 2 s"), std::string::npos);
  EXPECT_EQ(set.size(), 1u);
}

// A program stopped for a minute while it waits for the receiver (kill -STOP, kill -CONT)
// finds the reports of the past seconds waiting: the clock must still get the time it is now.
TEST(CtlProgram, SetClockAfterAStopIgnoresTheBacklog) {
  Bench b(profile(0x0108, true));
  std::optional<std::chrono::milliseconds> error;
  b.system.setClockListener([&](const platform::UtcTime& t) {
    const auto set = std::chrono::sys_days{std::chrono::year{t.year} / t.month / t.day} +
                     std::chrono::hours{t.hour} + std::chrono::minutes{t.minute} +
                     std::chrono::seconds{t.second} + std::chrono::milliseconds{t.milliseconds};
    error = set - (platform::sim::kVirtualStart + b.system.now());
  });
  bool stopped = false;
  const auto stopOnce = [&] {
    if (!stopped && b.system.now() > std::chrono::seconds{1}) {
      stopped = true;
      b.system.advance(std::chrono::seconds{60});
    }
    return false;
  };
  EXPECT_EQ(b.run({"set-clock", "--timeout", "120"}, stopOnce), kDone) << b.err.str();
  ASSERT_TRUE(stopped);
  ASSERT_TRUE(error.has_value());
  EXPECT_LT(std::abs(error->count()), 50) << error->count() << " ms";

  // The timeout is the clock's: a stop longer than it ends the wait.
  stopped = false;
  error.reset();
  EXPECT_EQ(b.run({"set-clock", "--timeout", "30"}, stopOnce), kDeviceFailed);
  EXPECT_FALSE(error.has_value());
}

TEST(CtlProgram, SetClockSaysWhyTheSystemRefused) {
  Bench b(profile(0x0108, true));
  b.system.refuseClock("automatic time synchronisation is on");
  EXPECT_EQ(b.run({"set-clock"}), kDeviceFailed);
  EXPECT_NE(b.err.str().find("could not be set to "), std::string::npos) << b.err.str();
  EXPECT_NE(b.err.str().find(": automatic time synchronisation is on"), std::string::npos)
      << b.err.str();
  EXPECT_EQ(b.out.str(), "");
}

TEST(CtlProgram, DiagnosticsAddressIsTheWindowsWithoutBlinking) {
  WindowBench w;
  std::string opened;
  w.system.setAddressListener([&](const std::string& address) { opened = address; });
  w.window.form().userClick(ids::Diagnostics);
  Bench b;
  EXPECT_EQ(b.run({"diagnostics-url", "--timeout=0"}), kDone);
  EXPECT_EQ(b.out.str(), opened + "\n");
  EXPECT_EQ(w.device.blinks(), 1);
  EXPECT_EQ(b.device.blinks(), 0);
}

TEST(CtlProgram, ADeviceThatGoesAwayIsAFailure) {
  Bench b(profile(0x0108, true));
  const auto unplug = [&] {
    if (b.system.now() >= std::chrono::milliseconds(300) && b.device.present()) {
      b.hid.unplug(b.device);
    }
    return false;
  };
  EXPECT_EQ(b.run({"status"}, unplug), kDeviceFailed);
  EXPECT_NE(b.err.str().find("the device went away"), std::string::npos) << b.err.str();
  EXPECT_EQ(b.hid.openHandles(), 0);
}

// A scan that did not finish is the device failing, with the reason, and never "no device":
// whatever the scan could not tell may be the very device asked for.
TEST(CtlProgram, AScanThatDidNotFinishIsAFailureNotAnEmptyBus) {
  class FailingListing final : public platform::sim::ForwardingHid {
   public:
    using ForwardingHid::ForwardingHid;
    bool presentInterfaces(std::vector<std::string>& paths) override {
      paths.clear();
      return false;
    }
    [[nodiscard]] std::string lastErrorText() const override { return "udev is gone"; }
  };
  const struct {
    const char* name;
    std::vector<const char16_t*> devices;
    bool failingListing;
    bool hangFirst;
    int exit;
    const char* message;
  } cases[] = {
      {"the listing failed",
       {u"A1"},
       true,
       false,
       kDeviceFailed,
       "could not look for devices: the HID interfaces could not be listed: udev is gone"},
      {"one device does not answer",
       {u"A1", u"B2"},
       false,
       true,
       kDeviceFailed,
       "could not look for devices: sim-hid:0 did not answer: the device does not answer"},
      {"nothing there",
       {},
       false,
       false,
       kNoDevice,
       "no QVR-7130 is attached (the 'list' command shows what is there)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SimHid bus;
    for (const char16_t* serial : c.devices) {
      bus.attach({.serial = serial, .receiver = false});
    }
    if (c.hangFirst) {
      bus.devices()[0]->hang();
    }
    FailingListing failing(bus);
    SimSystem system;
    std::ostringstream out;
    std::ostringstream err;
    Environment env{.hid = c.failingListing ? static_cast<platform::Hid&>(failing) : bus,
                    .system = system,
                    .out = out,
                    .err = err,
                    .listDevices = [] { return Listing{}; }};
    EXPECT_EQ(ctl::run(parseArguments({"status", "--serial", "B2"}).options, env), c.exit);
    EXPECT_EQ(err.str(), std::string("qvr7130ctl: ") + c.message + "\n");
    EXPECT_EQ(out.str(), "");
    EXPECT_EQ(bus.openHandles(), 0);
  }
}

TEST(CtlProgram, TheDeviceIsChosenOnlyWhenThereIsNoDoubt) {
  struct Case {
    std::vector<std::string> present;
    std::optional<std::string> wanted;
    std::optional<std::string> chosen;
    const char* refusal;
  };
  const Case cases[] = {
      {{"A"}, std::nullopt, "A", ""},
      {{"A"}, "A", "A", ""},
      {{"A", "B"}, "B", "B", ""},
      {{"A", "A"}, "A", "A", ""},
      {{}, std::nullopt, std::nullopt, "no QVR-7130 is attached"},
      {{"A"}, "B", std::nullopt, "no QVR-7130 with serial number 'B'; attached: 'A'"},
      {{"A", "B"},
       std::nullopt,
       std::nullopt,
       "2 devices are attached; choose one with --serial: "
       "'A', 'B'"},
      // The same serial number twice is still two devices: neither is guessed.
      {{"A", "A"}, std::nullopt, std::nullopt, "2 devices are attached"},
      // Serial numbers beyond ASCII, present as the device link reads them (low bytes), asked
      // for as `list` shows them (the kernel's UTF-8) or as `status` does (low bytes as
      // characters).
      {{"C4-\xE9\xAC"}, "C4-\xC3\xA9\xE2\x82\xAC", "C4-\xE9\xAC", ""},
      {{"B", "C4-\xE9\xAC"}, "C4-\xC3\xA9\xC2\xAC", "C4-\xE9\xAC", ""},
      {{"C3\nX", "C3"}, "C3\nX", "C3\nX", ""},
      {{"C4-\xE9\xAC"}, "C4-\xC3\xA9", std::nullopt, "attached: 'C4-\xC3\xA9\xC2\xAC'"},
  };
  for (const Case& c : cases) {
    const DeviceChoice choice = chooseDevice(c.present, c.wanted);
    EXPECT_EQ(choice.serial, c.chosen);
    EXPECT_NE(choice.refusal.find(c.refusal), std::string::npos) << choice.refusal;
  }
}

}  // namespace
}  // namespace qvr::ctl
