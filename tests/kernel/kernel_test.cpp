// Runs inside a virtual machine on a real Linux kernel, as root, against a QVR-7130 played by
// the UHID responder: the hidraw backend and then the whole window controller go through the
// kernel's HID core, hidraw and hidapi exactly as with the real device.
//
//   qvr-kernel-test RESPONDER QVR7130CTL [gtest options]
//
// Each test starts its own responder, so that each begins with a freshly plugged device.
// Timing is real: the responder sends a report every 10 ms, and the checks wait for what they
// expect with generous deadlines, since an emulated machine runs slowly.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "device/session.h"
#include "monitor/fleet.h"
#include "platform/linux/linux_hid.h"
#include "platform/system.h"
#include "platform/timed/timed_hid.h"
#include "protocol/device_strings.h"
#include "uhid_device.h"
#include "ui/controller_thread.h"
#include "ui/controls.h"
#include "ui/main_window.h"

extern char** environ;

namespace qvr::kernel_test {
namespace {

using Bytes = std::vector<std::uint8_t>;
using platform::hidraw::LinuxHid;
using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

std::string responderPath;  // from the command line
std::string ctlPath;        // the command-line program, from the command line
std::string exporterPath;   // the Prometheus exporter, from the command line

constexpr milliseconds kDeviceDeadline{5000};
constexpr milliseconds kSignalTaken{50};
constexpr milliseconds kStreamDeadline{10000};
constexpr std::size_t kHostInputLength = kInputBytes + 1;
constexpr std::size_t kHostFeatureLength = kFeatureBytes + 1;
constexpr std::size_t kReadBufferBytes = 13000;

// Waits until `done` holds, trying again every few milliseconds; false after the deadline.
bool eventually(const std::function<bool()>& done, milliseconds deadline) {
  const auto end = Clock::now() + deadline;
  while (!done()) {
    if (Clock::now() > end) {
      return false;
    }
    std::this_thread::sleep_for(milliseconds(5));
  }
  return true;
}

// The responder as a child process: started with the device plugged in, stopped (the device
// unplugged) by stop() or at the end of the test.
class Responder {
 public:
  explicit Responder(const std::string& name, std::string variant = {})
      : log_("/tmp/" + name + ".log"), variant_(std::move(variant)) {
    std::vector<char*> argv = {responderPath.data(), log_.data()};
    if (!variant_.empty()) {
      argv.push_back(variant_.data());
    }
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, responderPath.c_str(), nullptr, nullptr, argv.data(), environ) != 0) {
      pid_ = -1;
    }
  }
  ~Responder() { stop(); }
  Responder(const Responder&) = delete;
  Responder& operator=(const Responder&) = delete;

  [[nodiscard]] bool running() const { return pid_ > 0; }

  // The firmware stops answering feature requests / answers again, the kept ones first.
  // The responder takes these signals in its loop: the pause lets it run on the guest's one
  // processor before the test goes on.
  void hang() const {
    kill(pid_, SIGUSR1);
    std::this_thread::sleep_for(kSignalTaken);
  }
  void answer() const {
    kill(pid_, SIGUSR2);
    std::this_thread::sleep_for(kSignalTaken);
  }
  // The device stops sending input reports, still answering requests / sends them again.
  void silence() const {
    kill(pid_, SIGRTMIN);
    std::this_thread::sleep_for(kSignalTaken);
  }
  void talk() const {
    kill(pid_, SIGRTMIN + 1);
    std::this_thread::sleep_for(kSignalTaken);
  }

  // Destroys the UHID device, which the kernel sees as the device being unplugged.
  void stop() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      int status = 0;
      waitpid(pid_, &status, 0);
      pid_ = -1;
    }
  }

  // With "clock": each NAV-PVT's Unix second and the CLOCK_MONOTONIC nanosecond of the input
  // report that completed it.
  [[nodiscard]] std::map<std::int64_t, std::int64_t> navPvtsSent() const {
    std::map<std::int64_t, std::int64_t> sent;
    std::ifstream in(log_ + ".pvt");
    std::int64_t second = 0;
    std::int64_t at = 0;
    while (in >> second >> at) {
      sent[second] = at;
    }
    return sent;
  }

  // How often the host opened the device (a first open of its node) since it was plugged in.
  [[nodiscard]] int opens() const {
    std::ifstream in(log_ + ".opens");
    return static_cast<int>(
        std::count(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>(), '\n'));
  }

  // Every feature report the device took, in order, as the bytes hidraw passed on.
  [[nodiscard]] std::vector<Bytes> received() const {
    std::vector<Bytes> reports;
    std::ifstream in(log_);
    std::string line;
    while (std::getline(in, line)) {
      std::istringstream hex(line);
      Bytes report;
      unsigned value = 0;
      while (hex >> std::hex >> value) {
        report.push_back(static_cast<std::uint8_t>(value));
      }
      reports.push_back(report);
    }
    return reports;
  }

 private:
  std::string log_;
  std::string variant_;
  pid_t pid_ = -1;
};

std::vector<std::string> waitForInterfaces(platform::Hid& hid, std::size_t count) {
  std::vector<std::string> paths;
  eventually([&] { return hid.presentInterfaces(paths) && paths.size() == count; },
             kDeviceDeadline);
  return paths;
}

// A feature report as the host sends it: report ID 0, the bytes given, zeros to the length.
Bytes featureReport(std::initializer_list<std::uint8_t> bytes) {
  Bytes report(kHostFeatureLength, 0);
  std::copy(bytes.begin(), bytes.end(), report.begin());
  return report;
}

// The three message-rate commands of the connection start-up (rate 10) and of the window's
// unload (rate 0): CFG-MSG for NAV-SAT, NAV-CLOCK and NAV-PVT, in this order.
std::vector<Bytes> messageRates(std::uint8_t rate) {
  std::vector<Bytes> reports;
  for (const std::uint8_t id : {0x35, 0x22, 0x07}) {
    reports.push_back(featureReport({0x00, 0x08, 0x06, 0x01, 0x08, 0x00, 0x01, id, rate}));
  }
  return reports;
}

std::string text(const ui::MainWindow& window, ui::ControlId id) {
  return window.form()[id].text;
}

// System services for a window without a screen: real pauses, everything else recorded.
class TestSystem final : public platform::System {
 public:
  void sleep(milliseconds duration) override { std::this_thread::sleep_for(duration); }
  [[nodiscard]] milliseconds now() const override { return platform::steadyNow(); }
  bool setSystemTime(const platform::UtcTime&) override { return false; }
  [[nodiscard]] std::string clockRefusal() const override { return "not in this test"; }
  void openAddress(const std::string&) override {}
  [[nodiscard]] std::string operatingSystemVersion() override { return "Linux"; }
  void messageBox(const std::string& title, const std::string&) override {
    messages.push_back(title);
  }
  void doEvents() override {}
  [[nodiscard]] char decimalSeparator() override { return '.'; }

  std::vector<std::string> messages;
};

TEST(HidrawBackend, ListsOpensAndTalksToTheDeviceUntilItIsUnplugged) {
  Responder responder("backend");
  ASSERT_TRUE(responder.running());
  LinuxHid hid;
  const std::vector<std::string> paths = waitForInterfaces(hid, 1);
  ASSERT_EQ(paths.size(), 1u) << "no hidraw node of the right identity appeared";
  EXPECT_EQ(paths[0].rfind("/dev/hidraw", 0), 0u) << paths[0];

  const platform::HidHandle handle = hid.open(paths[0], platform::OpenMode::Device);
  ASSERT_NE(handle, platform::kInvalidHandle);
  platform::HidAttributes attributes;
  ASSERT_TRUE(hid.attributes(handle, attributes));
  EXPECT_EQ(attributes.vendorId, kVendorId);
  EXPECT_EQ(attributes.productId, kProductId);
  // UHID gives hidapi no USB device to read a release number or a manufacturer from.
  EXPECT_EQ(attributes.versionNumber, 0);

  platform::DeviceStringBuffer buffer{};
  ASSERT_TRUE(hid.serialNumber(handle, buffer));
  EXPECT_EQ(protocol::deviceStringText(buffer), kSerial);
  EXPECT_EQ(buffer[1], 0) << "UTF-16 little-endian";
  EXPECT_EQ(buffer[2 * std::string(kSerial).size()], 0) << "zero-terminated";
  EXPECT_FALSE(hid.manufacturer(handle, buffer));

  // The lengths come from the report descriptor, with the report ID byte counted.
  platform::HidCaps caps;
  ASSERT_TRUE(hid.capabilities(handle, caps));
  EXPECT_EQ(caps.inputReportByteLength, kHostInputLength);
  EXPECT_EQ(caps.featureReportByteLength, kHostFeatureLength);

  Bytes configuration(kHostFeatureLength, 0xEE);
  configuration[0] = 0;
  ASSERT_TRUE(hid.getFeature(handle, configuration));
  Bytes expected(kHostFeatureLength, 0);
  std::copy(kConfiguration.begin(), kConfiguration.end(), expected.begin() + 1);
  EXPECT_EQ(configuration, expected);
  Bytes wrongLength(kHostInputLength, 0);
  EXPECT_FALSE(hid.getFeature(handle, wrongLength));

  const Bytes fllOn = featureReport({0x00, 0x0B, 0x01});
  ASSERT_TRUE(hid.setFeature(handle, fllOn));
  EXPECT_EQ(responder.received(), std::vector<Bytes>{fllOn});

  // The string handle is a second open of the same node.
  const platform::HidHandle strings = hid.open(paths[0], platform::OpenMode::Strings);
  ASSERT_NE(strings, platform::kInvalidHandle);
  ASSERT_TRUE(hid.product(strings, buffer));
  EXPECT_EQ(protocol::deviceStringText(buffer), kProductName);
  EXPECT_TRUE(hid.close(strings));
  EXPECT_FALSE(hid.close(strings));
  EXPECT_FALSE(hid.product(strings, buffer)) << "a closed handle fails every call";

  // Empty the node's queue, which holds 64 reports and takes no more once full, let a few
  // reports queue up, then take them all in one read: whole reports, each with the report ID
  // byte 0 in front and the status byte behind it, counting up without a gap.
  Bytes reports(kReadBufferBytes, 0xEE);
  std::size_t bytesRead = 0;
  for (int drained = 0; drained < 100; ++drained) {
    ASSERT_TRUE(hid.read(handle, reports, bytesRead, milliseconds(0)));
    if (bytesRead == 0) {
      break;
    }
  }
  std::fill(reports.begin(), reports.end(), 0xEE);
  std::this_thread::sleep_for(milliseconds(100));
  ASSERT_TRUE(hid.read(handle, reports, bytesRead, milliseconds(500)));
  ASSERT_GE(bytesRead, 2 * kHostInputLength) << "expected several queued reports";
  EXPECT_EQ(bytesRead % kHostInputLength, 0u);
  for (std::size_t at = 0; at < bytesRead; at += kHostInputLength) {
    SCOPED_TRACE("report at " + std::to_string(at));
    EXPECT_EQ(reports[at], 0);
    EXPECT_EQ(reports[at + 1], kStatusSignalOk);
    EXPECT_EQ(reports[at + 2], 0) << "no receiver bytes before any message is switched on";
    if (at > 0) {
      EXPECT_EQ(reports[at + 3], static_cast<std::uint8_t>(reports[at + 3 - kHostInputLength] + 1));
    }
  }
  EXPECT_EQ(reports[bytesRead], 0xEE);

  // Unplugged: the next reads fail (a report or two still queued may come first), and the
  // device is no longer listed.
  responder.stop();
  bool failed = false;
  for (int attempt = 0; attempt < 100 && !failed; ++attempt) {
    failed = !hid.read(handle, reports, bytesRead, milliseconds(50));
  }
  EXPECT_TRUE(failed) << "reads went on succeeding after the device was destroyed";
  EXPECT_NE(hid.lastErrorText(), "") << "a failed read names no reason";
  EXPECT_TRUE(waitForInterfaces(hid, 0).empty());
  EXPECT_FALSE(hid.setFeature(handle, fllOn));
  EXPECT_NE(hid.lastErrorText(), "") << "a failed send names no reason";
  EXPECT_TRUE(hid.close(handle));
  EXPECT_EQ(hid.open(paths[0], platform::OpenMode::Device), platform::kInvalidHandle);
  EXPECT_EQ(hid.lastErrorText(), "No such file or directory");
}

// What --list-devices prints, as a user without root sees it: run in a child process that gave
// up root, since root may open any node.
std::string listingAsNobody() {
  constexpr uid_t kNobody = 65534;
  int fds[2];
  if (pipe(fds) != 0) {
    return "pipe failed";
  }
  const pid_t child = fork();
  if (child == 0) {
    close(fds[0]);
    const std::string text =
        setgid(kNobody) == 0 && setuid(kNobody) == 0
            ? platform::hidraw::formatDeviceList(platform::hidraw::listDevices())
            : "could not give up root\n";
    const bool written =
        write(fds[1], text.data(), text.size()) == static_cast<ssize_t>(text.size());
    _exit(written ? 0 : 1);
  }
  close(fds[1]);
  std::string text;
  char chunk[256];
  for (ssize_t n; (n = read(fds[0], chunk, sizeof chunk)) > 0;) {
    text.append(chunk, static_cast<std::size_t>(n));
  }
  close(fds[0]);
  int status = 0;
  waitpid(child, &status, 0);
  return text;
}

TEST(HidrawBackend, ListsTheDeviceAndSaysWhyItCannotBeOpened) {
  Responder responder("listing");
  ASSERT_TRUE(responder.running());
  LinuxHid hid;
  const std::vector<std::string> paths = waitForInterfaces(hid, 1);
  ASSERT_EQ(paths.size(), 1u);

  // The node belongs to root, as it does until a udev rule says otherwise.
  EXPECT_EQ(platform::hidraw::formatDeviceList(platform::hidraw::listDevices()),
            paths[0] + ": serial '" + kSerial +
                "', firmware 0.00, opens (input reports 64 bytes, feature reports 40 bytes)\n");
  EXPECT_EQ(listingAsNobody(),
            paths[0] + ": serial '" + kSerial +
                "', firmware 0.00, cannot be opened: Permission denied\n"
                "The device node is not yours to open: install the udev rule 70-qvr7130.rules "
                "(see the README) and plug the device in again.\n");
}

// Ticks the window the way its timer would, until `done` holds.
bool tickUntil(ui::MainWindow& window, const std::function<bool()>& done, milliseconds deadline) {
  const auto end = Clock::now() + deadline;
  while (!done()) {
    if (Clock::now() > end) {
      return false;
    }
    window.tick();
    std::this_thread::sleep_for(milliseconds(window.form()[ui::ctl::Timer].interval));
  }
  return true;
}

TEST(Window, ConnectsConfiguresMonitorsAndSetsAFrequency) {
  Responder responder("window");
  ASSERT_TRUE(responder.running());
  LinuxHid hid;
  ASSERT_EQ(waitForInterfaces(hid, 1).size(), 1u);
  TestSystem system;
  ui::MainWindow window(hid, system);
  window.load();

  const device::ConnectionState& connection = window.connection();
  ASSERT_TRUE(connection.found());
  EXPECT_TRUE(connection.configured());
  EXPECT_TRUE(system.messages.empty()) << system.messages[0];
  EXPECT_EQ(connection.caps.inputReportByteLength, kHostInputLength);
  EXPECT_EQ(connection.caps.featureReportByteLength, kHostFeatureLength);
  EXPECT_EQ(text(window, ui::ctl::lblSerialNumber), std::string(" ") + kSerial);
  EXPECT_EQ(text(window, ui::ctl::lblProduct), std::string(" ") + kProductName);
  // Under UHID the release number reads 0, and firmware 0.00 is accepted like any 1.x.
  EXPECT_EQ(text(window, ui::ctl::lblVersion), " 0.00");
  // The configuration report came back through GET_REPORT.
  EXPECT_EQ(text(window, ui::ctl::Out1Freq), "10.5");
  EXPECT_EQ(text(window, ui::ctl::Out2Freq), "-0.5");
  EXPECT_EQ(responder.received(), messageRates(10));

  // The receiver now sends NAV-PVT and NAV-CLOCK, split across input reports.
  const ui::DecodedValues& decoded = window.decoded();
  ASSERT_TRUE(tickUntil(
      window, [&] { return decoded.positionKnown && decoded.clockDrift != 0; }, kStreamDeadline))
      << "no NAV-PVT and NAV-CLOCK decoded";
  ASSERT_TRUE(decoded.latitude && decoded.longitude);
  EXPECT_NEAR(*decoded.latitude, 47.3769, 1e-9);
  EXPECT_NEAR(*decoded.longitude, 8.5417, 1e-9);
  EXPECT_NEAR(decoded.altitude, 408.0, 1e-9);
  EXPECT_EQ(decoded.clockDrift, kClockDrift);
  EXPECT_EQ(decoded.statusByte, kStatusSignalOk);
  EXPECT_EQ(text(window, ui::ctl::Status), " GPS signal OK");
  EXPECT_EQ(text(window, ui::ctl::GPSposition), " 47.376900, 8.541700, 408");
  EXPECT_EQ(text(window, ui::ctl::UTC), " 2025.03.07 14:05:09");
  EXPECT_EQ(window.form()[ui::ctl::Timer].interval, 10);

  // A frequency typed and set goes out at once as command 6 in 32.32 fixed point.
  window.form().userType(ui::ctl::Out1Freq, "12.345678");
  window.form().userClick(ui::ctl::FindFreq);
  std::vector<Bytes> expected = messageRates(10);
  expected.push_back(featureReport({0x00, 0x06, 0x79, 0x5A, 0x7E, 0x58, 0x0C}));
  EXPECT_EQ(responder.received(), expected);

  // Closing the window switches the periodic messages off before letting go of the device.
  window.unload();
  for (const Bytes& report : messageRates(0)) {
    expected.push_back(report);
  }
  EXPECT_EQ(responder.received(), expected);
}

TEST(Window, NoticesAnUnpluggedDeviceAndTakesTheNextOne) {
  LinuxHid hid;
  TestSystem system;
  ui::MainWindow window(hid, system);
  Responder first("unplug-first");
  ASSERT_EQ(waitForInterfaces(hid, 1).size(), 1u);
  window.load();
  ASSERT_TRUE(window.connection().configured());
  ASSERT_TRUE(tickUntil(
      window, [&] { return window.decoded().statusByte != 0; }, kStreamDeadline));

  first.stop();
  ASSERT_TRUE(tickUntil(
      window, [&] { return !window.connection().found(); }, kDeviceDeadline))
      << "the window went on reading a device that is gone";
  EXPECT_FALSE(window.connection().configured());
  EXPECT_EQ(window.form()[ui::ctl::Timer].interval, 100);
  // The next tick searches, finds nothing and disables the device's controls.
  window.tick();
  EXPECT_FALSE(window.form()[ui::ctl::Out1Freq].enabled);

  Responder second("unplug-second");
  ASSERT_TRUE(tickUntil(
      window, [&] { return window.connection().configured(); }, kDeviceDeadline))
      << "the plugged-in device was not taken up";
  EXPECT_TRUE(window.form()[ui::ctl::Out1Freq].enabled);
  EXPECT_EQ(second.received(), messageRates(10));
  window.unload();
}

// A device whose reports cannot carry the protocol is opened at most once per plug-in (a scan
// reads who it is from sysfs), however often the window looks for a device, and the status row
// says why; plugged in again, it is decided again.
TEST(Window, LeavesADeviceWhoseInputReportsCarryNoReceiverData) {
  constexpr int kTicks = 20;  // two seconds of looking
  const char* const problem = "input reports of 3 bytes carry no receiver data";
  auto responder = std::make_unique<Responder>("short-input", "short-input");
  ASSERT_TRUE(responder->running());
  LinuxHid linuxHid;
  const std::vector<std::string> paths = waitForInterfaces(linuxHid, 1);
  ASSERT_EQ(paths.size(), 1u);
  EXPECT_EQ(platform::hidraw::formatDeviceList(platform::hidraw::listDevices()),
            paths[0] + ": serial '" + kSerial +
                "', firmware 0.00, opens, but cannot be used: " + problem + "\n");

  const int listingOpens = responder->opens();
  platform::TimedHid hid(std::make_unique<LinuxHid>());
  TestSystem system;
  ui::MainWindow window(hid, system);
  const auto look = [&] {
    for (int tick = 0; tick < kTicks; ++tick) {
      window.tick();
      std::this_thread::sleep_for(milliseconds(window.form()[ui::ctl::Timer].interval));
    }
  };
  window.load();
  look();
  EXPECT_FALSE(window.connection().found());
  EXPECT_EQ(text(window, ui::ctl::lblSerialNumber), "");
  EXPECT_EQ(text(window, ui::ctl::Status),
            std::string(" QVR-7130 attached, but cannot be used: ") + problem);
  EXPECT_TRUE(system.messages.empty());
  EXPECT_LE(responder->opens() - listingOpens, 1);
  EXPECT_TRUE(responder->received().empty()) << "the device was configured";

  responder.reset();
  responder = std::make_unique<Responder>("short-input-again", "short-input");
  ASSERT_EQ(waitForInterfaces(linuxHid, 1).size(), 1u);
  look();
  EXPECT_LE(responder->opens(), 1);
  EXPECT_EQ(text(window, ui::ctl::Status),
            std::string(" QVR-7130 attached, but cannot be used: ") + problem);
  window.unload();
}

// The longest HID call the window thread made through it.
class MeasuredHid final : public platform::Hid {
 public:
  explicit MeasuredHid(platform::TimedHid& hid) : hid_(hid) {}
  [[nodiscard]] milliseconds deadline() const { return hid_.deadline(); }
  [[nodiscard]] double longestMs() const { return longest_; }
  void restart() { longest_ = 0; }

  template <typename Call>
  auto timed(Call call) {
    const auto start = Clock::now();
    auto result = call();
    longest_ =
        std::max(longest_, std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    return result;
  }

  // A scan's calls come through here one by one (the default scan), so each is measured.
  bool presentInterfaces(std::vector<std::string>& paths) override {
    return timed([&] { return hid_.presentInterfaces(paths); });
  }
  platform::HidHandle open(const std::string& path, platform::OpenMode mode) override {
    return timed([&] { return hid_.open(path, mode); });
  }
  bool close(platform::HidHandle h) override {
    return timed([&] { return hid_.close(h); });
  }
  bool attributes(platform::HidHandle h, platform::HidAttributes& out) override {
    return timed([&] { return hid_.attributes(h, out); });
  }
  bool capabilities(platform::HidHandle h, platform::HidCaps& out) override {
    return timed([&] { return hid_.capabilities(h, out); });
  }
  bool serialNumber(platform::HidHandle h, platform::DeviceStringBuffer& out) override {
    return timed([&] { return hid_.serialNumber(h, out); });
  }
  bool manufacturer(platform::HidHandle h, platform::DeviceStringBuffer& out) override {
    return timed([&] { return hid_.manufacturer(h, out); });
  }
  bool product(platform::HidHandle h, platform::DeviceStringBuffer& out) override {
    return timed([&] { return hid_.product(h, out); });
  }
  bool getFeature(platform::HidHandle h, std::span<std::uint8_t> buffer) override {
    return timed([&] { return hid_.getFeature(h, buffer); });
  }
  bool setFeature(platform::HidHandle h, std::span<const std::uint8_t> report) override {
    return timed([&] { return hid_.setFeature(h, report); });
  }
  bool read(platform::HidHandle h, std::span<std::uint8_t> buffer, std::size_t& bytesRead,
            milliseconds firstReportWait) override {
    return timed([&] { return hid_.read(h, buffer, bytesRead, firstReportWait); });
  }
  std::string lastErrorText() const override { return hid_.lastErrorText(); }
  bool answering() const override { return hid_.answering(); }
  platform::ReadStamp readStamp() const override { return hid_.readStamp(); }

 private:
  platform::TimedHid& hid_;
  double longest_ = 0;
};

// How long one window operation held the window thread, its longest HID call, and the deadline
// its calls had; printed. A device that answered late before has a longer deadline.
struct Held {
  double operationMs = 0;
  double longestCallMs = 0;
  double deadlineMs = 0;
};

Held hold(const char* what, MeasuredHid& hid, const std::function<void()>& operation) {
  hid.restart();
  const auto deadline = static_cast<double>(hid.deadline().count());
  const auto start = Clock::now();
  operation();
  const Held held{std::chrono::duration<double, std::milli>(Clock::now() - start).count(),
                  hid.longestMs(), deadline};
  std::printf(
      "hung device: %-16s held the window %7.1f ms, longest HID call %7.1f ms (deadline %4.0f "
      "ms)\n",
      what, held.operationMs, held.longestCallMs, held.deadlineMs);
  return held;
}

// A device whose firmware stops answering never holds the window for long: every call goes
// through the device thread's deadline, and nothing queues behind the request the kernel
// waits seconds for. Answering again, the device is set up anew and decoded within a second.
TEST(Window, StaysResponsiveWhileTheDeviceDoesNotAnswerAndRecovers) {
  // Past a call's deadline, the time the device thread takes to hand it back.
  constexpr double kHandBackMs = 100;
  constexpr double kGenerousOperationMs = 1000;
  Responder responder("hang");
  ASSERT_TRUE(responder.running());
  platform::TimedHid timed(std::make_unique<LinuxHid>());
  MeasuredHid hid(timed);
  ASSERT_EQ(waitForInterfaces(hid, 1).size(), 1u);
  responder.hang();
  TestSystem system;
  ui::MainWindow window(hid, system);

  std::vector<Held> held;
  held.push_back(hold("start-up", hid, [&] { window.load(); }));
  const device::ConnectionState& connection = window.connection();
  EXPECT_TRUE(connection.found());
  EXPECT_FALSE(connection.configured()) << "configured without its configuration";
  EXPECT_TRUE(connection.notAnswering);
  held.push_back(hold("a tick", hid, [&] { window.tick(); }));
  EXPECT_EQ(text(window, ui::ctl::Status), " Device not answering");
  held.push_back(hold("a frequency set", hid, [&] {
    window.form().userType(ui::ctl::Out1Freq, "12.345678");
    window.form().userClick(ui::ctl::FindFreq);
  }));
  held.push_back(hold("a factory reset", hid, [&] { window.form().userClick(ui::ctl::Factory); }));
  // The operation as a whole also pauses between requests and works on a slow emulated
  // machine, so only a generous bound is held against it.
  for (const Held& h : held) {
    EXPECT_LT(h.longestCallMs, h.deadlineMs + kHandBackMs);
    EXPECT_LT(h.operationMs, h.deadlineMs + kGenerousOperationMs);
  }

  responder.answer();
  const auto answered = Clock::now();
  EXPECT_TRUE(tickUntil(
      window, [&] { return connection.configured() && window.decoded().positionKnown; },
      milliseconds(1000)))
      << "not configured and decoding a second after the device answered again";
  std::printf("hung device: configured and decoding %.1f ms after it answered again\n",
              std::chrono::duration<double, std::milli>(Clock::now() - answered).count());
  EXPECT_EQ(text(window, ui::ctl::Out1Freq), "10.5") << "the configuration was not read again";

  // Hung again, and this time a setting is the first to find out: its own call waits out the
  // deadline. Then the device answers, and hangs once more for the factory reset and closing.
  std::vector<Held> afresh;
  responder.hang();
  afresh.push_back(hold("a frequency set*", hid, [&] {
    window.form().userType(ui::ctl::Out1Freq, "12.345678");
    window.form().userClick(ui::ctl::FindFreq);
  }));
  responder.answer();
  EXPECT_TRUE(tickUntil(
      window, [&] { return connection.configured() && !connection.notAnswering; },
      milliseconds(1000)));
  responder.hang();
  afresh.push_back(
      hold("a factory reset*", hid, [&] { window.form().userClick(ui::ctl::Factory); }));
  afresh.push_back(hold("closing", hid, [&] { window.unload(); }));
  for (const Held& h : afresh) {
    EXPECT_LT(h.operationMs, h.deadlineMs + kGenerousOperationMs);
    EXPECT_LT(h.longestCallMs, h.deadlineMs + kHandBackMs);
  }
  responder.answer();
}

// A device that still answers but sends no input reports is not shown as healthy: after a few
// seconds the status row says that no data is coming, and the receiver's status is back as
// soon as reports come again.
TEST(Window, TellsWhenTheDeviceSendsNothing) {
  Responder responder("silent");
  ASSERT_TRUE(responder.running());
  platform::TimedHid hid(std::make_unique<LinuxHid>());
  ASSERT_EQ(waitForInterfaces(hid, 1).size(), 1u);
  TestSystem system;
  ui::MainWindow window(hid, system);
  window.load();
  ASSERT_TRUE(tickUntil(
      window, [&] { return text(window, ui::ctl::Status) == " GPS signal OK"; }, kStreamDeadline));

  responder.silence();
  EXPECT_TRUE(tickUntil(
      window, [&] { return text(window, ui::ctl::Status) == " No data from the device"; },
      milliseconds(6000)));
  EXPECT_TRUE(window.connection().configured()) << "a silent device is still the open one";

  responder.talk();
  EXPECT_TRUE(tickUntil(
      window, [&] { return text(window, ui::ctl::Status) == " GPS signal OK"; },
      milliseconds(1000)));
  window.unload();
}

// Each read is stamped as it returns on the device thread: the stamp of the read that
// completed a NAV-PVT follows the moment the responder sent that report by the time the
// kernel takes to pass it on, which the figures below measure.
TEST(HidrawBackend, StampsEachReadAsItReturns) {
  Responder responder("stamps", "clock");
  ASSERT_TRUE(responder.running());
  platform::TimedHid hid(std::make_unique<LinuxHid>());
  ASSERT_EQ(waitForInterfaces(hid, 1).size(), 1u);
  TestSystem system;
  device::Session session(hid, system);
  ASSERT_TRUE(session.open(kSerial));
  ASSERT_TRUE(session.startUp().configuration.has_value());
  std::map<std::int64_t, std::int64_t> stamped;  // Unix second -> CLOCK_MONOTONIC ns of the read
  const auto end = Clock::now() + milliseconds(8000);
  while (Clock::now() < end) {
    ASSERT_TRUE(session.poll(
        [](std::uint8_t) {},
        [&](std::uint8_t id) {
          const auto sample = id == protocol::kUbxIdNavPvt ? session.timeSample() : std::nullopt;
          if (sample) {
            const auto second = std::chrono::floor<std::chrono::seconds>(sample->receiverTime);
            stamped[second.time_since_epoch().count()] = sample->read.monotonic.count();
          }
        }));
  }
  session.close();
  std::vector<double> delays;  // ms from the responder's send to the read's stamp
  for (const auto& [second, sentAt] : responder.navPvtsSent()) {
    if (const auto it = stamped.find(second); it != stamped.end()) {
      delays.push_back(static_cast<double>(it->second - sentAt) / 1e6);
    }
  }
  ASSERT_GE(delays.size(), 5u);
  std::sort(delays.begin(), delays.end());
  const double median = delays[delays.size() / 2];
  std::printf(
      "stamps on the UHID path, %zu NAV-PVTs: send to stamp min %.3f ms, median %.3f ms, "
      "max %.3f ms\n",
      delays.size(), delays.front(), median, delays.back());
  EXPECT_GE(delays.front(), 0.0) << "a read stamped before its report was sent";
  EXPECT_LT(median, 10.0);
  EXPECT_LT(delays.back(), 50.0);
}

// A program as a script runs it: its exit status and what it printed on stdout.
struct CommandRun {
  int status = -1;
  std::string out;
};

CommandRun runCommand(const std::string& command) {
  CommandRun run;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) {
    return run;
  }
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
    run.out.append(buffer, n);
  }
  const int status = pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

CommandRun runCtl(const std::string& arguments) {
  return runCommand(ctlPath + " " + arguments + " 2>/tmp/ctl.err");
}

std::string ctlErrors() {
  std::ifstream in("/tmp/ctl.err");
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(CommandLine, ReadsTheStatusAsJsonAndSetsAFrequency) {
  Responder responder("ctl");
  ASSERT_TRUE(responder.running());
  LinuxHid hid;
  ASSERT_EQ(waitForInterfaces(hid, 1).size(), 1u);

  // The responder sends no NAV-SAT: the status says so and still gives the rest.
  const CommandRun status = runCtl("status --json --timeout 3");
  EXPECT_EQ(status.status, 0) << ctlErrors();
  for (const std::string& field :
       {std::string("\"serial\": \"") + kSerial + "\"", std::string("\"firmware\": \"0.00\""),
        std::string("\"out1_frequency_hz\": \"10.5\""),
        std::string("\"out2_frequency_hz\": \"-0.5\""),
        "\"drift_ns_per_s\": " + std::to_string(kClockDrift),
        std::string("\"latitude_deg\": 47.3769"), std::string("\"status_text\": \"GPS signal OK\""),
        std::string("\"missing\": [\n    \"NAV-SAT\"")}) {
    EXPECT_NE(status.out.find(field), std::string::npos) << field << " in\n" << status.out;
  }
  // Its start-up asked for the messages and its end switched them off, as the window's do.
  std::vector<Bytes> expected = messageRates(10);
  for (const Bytes& report : messageRates(0)) {
    expected.push_back(report);
  }
  EXPECT_EQ(responder.received(), expected);

  const CommandRun set = runCtl("set out1=12.345678");
  EXPECT_EQ(set.status, 0) << ctlErrors();
  const std::vector<Bytes> received = responder.received();
  ASSERT_FALSE(received.empty());
  EXPECT_EQ(received.back(), featureReport({0x00, 0x06, 0x79, 0x5A, 0x7E, 0x58, 0x0C}));
}

// What the device took while `action` ran.
std::vector<Bytes> receivedDuring(const Responder& responder, const std::function<void()>& action) {
  const std::size_t before = responder.received().size();
  action();
  std::vector<Bytes> all = responder.received();
  all.erase(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(before));
  return all;
}

// From a configuration its user changed, a setting and the factory reset reach the device as
// the same bytes from the window and from the command line, start-ups after 1PPS and NMEA and
// their message requests included.
TEST(CommandLine, ChangesSettingsWithTheWindowsBytes) {
  Responder responder("settings", "changed-settings");
  ASSERT_TRUE(responder.running());
  LinuxHid hid;
  ASSERT_EQ(waitForInterfaces(hid, 1).size(), 1u);
  TestSystem system;
  struct Change {
    const char* command;
    ui::ControlId control;
  };
  for (const Change& change :
       {Change{"set pps=on", ui::ctl::PPS}, Change{"factory-reset", ui::ctl::Factory}}) {
    SCOPED_TRACE(change.command);
    std::vector<Bytes> byWindow;
    {
      ui::MainWindow window(hid, system);
      window.load();
      byWindow = receivedDuring(responder, [&] { window.form().userClick(change.control); });
      window.unload();
    }
    CommandRun run;
    const std::vector<Bytes> byCommand =
        receivedDuring(responder, [&] { run = runCtl(change.command); });
    EXPECT_EQ(run.status, 0) << ctlErrors();
    EXPECT_FALSE(byWindow.empty());
    EXPECT_EQ(byCommand, byWindow);
  }
}

// set-clock stopped while it waits for the receiver and continued ten seconds later (kill
// -STOP, kill -CONT) finds the queue full of reports of that second and must still set the
// clock to the receiver's time of now. The guest's clock is the one set; it ends up behind by
// the time the responder takes to send a NAV-PVT after its second (two reports, 10 to 20 ms),
// as behind a real receiver, whose delay a time server's offset setting corrects.
TEST(CommandLine, SetsTheClockRightAfterAStop) {
  Responder responder("setclock", "clock");
  ASSERT_TRUE(responder.running());
  LinuxHid hid;
  ASSERT_EQ(waitForInterfaces(hid, 1).size(), 1u);
  const auto unixNow = [] { return std::chrono::system_clock::now().time_since_epoch(); };
  const auto monotonicNow = [] { return Clock::now().time_since_epoch(); };
  const auto unixMinusMonotonic = unixNow() - monotonicNow();
  // Started just after a whole second and stopped before the next, so that the first NAV-PVT
  // arrives while it is stopped.
  ASSERT_TRUE(eventually(
      [&] {
        const auto intoSecond = unixNow() % std::chrono::seconds{1};
        return intoSecond > milliseconds(50) && intoSecond < milliseconds(150);
      },
      milliseconds(2000)));
  pid_t pid = -1;
  posix_spawn_file_actions_t files;
  posix_spawn_file_actions_init(&files);
  posix_spawn_file_actions_addopen(&files, STDOUT_FILENO, "/tmp/setclock.out",
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&files, STDERR_FILENO, "/tmp/ctl.err",
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  std::string command = "set-clock";
  std::string timeout = "--timeout=60";
  std::vector<char*> argv = {ctlPath.data(), command.data(), timeout.data(), nullptr};
  const int spawned = posix_spawn(&pid, ctlPath.c_str(), &files, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&files);
  ASSERT_EQ(spawned, 0);
  std::this_thread::sleep_for(milliseconds(600));
  kill(pid, SIGSTOP);
  std::this_thread::sleep_for(milliseconds(10000));
  kill(pid, SIGCONT);
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << ctlErrors();
  const auto error = std::chrono::duration_cast<std::chrono::microseconds>(
      unixNow() - (monotonicNow() + unixMinusMonotonic));
  std::printf("set-clock after a 10 s stop: the clock is %.3f ms off\n",
              static_cast<double>(error.count()) / 1e3);
  EXPECT_LT(std::abs(error.count()), 50'000);
  // The guest's clock back where it was, for the tests after this one.
  const auto back = unixMinusMonotonic + monotonicNow();
  const timespec ts{static_cast<time_t>(back.count() / 1'000'000'000),
                    static_cast<long>(back.count() % 1'000'000'000)};
  clock_settime(CLOCK_REALTIME, &ts);
}

// A serial number beyond ASCII and with a line break in it comes from the kernel whole: listed as
// its characters, taken by --serial as `list` shows it, and reported by its low bytes.
TEST(CommandLine, ListsAndOpensADeviceWhoseSerialNumberIsNoPlainText) {
  Responder responder("odd", "odd-serial");
  ASSERT_TRUE(responder.running());
  LinuxHid hid;
  const std::vector<std::string> paths = waitForInterfaces(hid, 1);
  ASSERT_EQ(paths.size(), 1u);
  const platform::HidHandle handle = hid.open(paths[0], platform::OpenMode::Device);
  platform::DeviceStringBuffer buffer{};
  ASSERT_TRUE(hid.serialNumber(handle, buffer)) << hid.lastErrorText();
  EXPECT_EQ(protocol::deviceStringText(buffer), "C4-\xE9\xAC\nX");
  EXPECT_TRUE(hid.close(handle));

  const CommandRun list = runCtl("list --json");
  EXPECT_EQ(list.status, 0) << ctlErrors();
  EXPECT_NE(list.out.find(R"("serial": "C4-\u00e9\u20ac\nX")"), std::string::npos) << list.out;
  // The shell's printf makes the argument: octal escapes for the UTF-8 bytes, a real line break.
  const CommandRun status =
      runCtl(R"sh(status --json --timeout 1 --serial "$(printf 'C4-\303\251\342\202\254\nX')")sh");
  EXPECT_EQ(status.status, 0) << ctlErrors();
  EXPECT_NE(status.out.find(R"("serial": "C4-\u00e9\u00ac\nX")"), std::string::npos) << status.out;
}

// What a scrape of the exporter on the guest's loopback brings back; empty while it serves none.
std::string scrape(const std::string& address) {
  return runCommand("wget -q -O - http://" + address + "/metrics 2>/dev/null").out;
}

// A device whose firmware hangs at the start-up holds up nobody's search for another: a device
// plugged in after it is found within a second and a half of its node appearing, by the
// exporter's fleet (whose thread for the hung device waits on it meanwhile) and by a window that
// starts while another program's request to the hung device is out. The node itself may appear
// only seconds after the plug, and opening it may wait as long: the kernel adds no hidraw node
// and opens none while a feature request to any of them is out, which for a hung device is until
// the kernel gives up on it (5 s).
TEST(Exporter, FindsANewDeviceWhileAnotherHangs) {
  constexpr milliseconds kFound{1500};
  Responder hung("hung-first");
  ASSERT_TRUE(hung.running());
  LinuxHid linuxHid;
  ASSERT_EQ(waitForInterfaces(linuxHid, 1).size(), 1u);
  hung.hang();
  TestSystem system;
  auto fleet = std::make_unique<monitor::Fleet>(
      [] { return std::make_unique<platform::TimedHid>(std::make_unique<LinuxHid>()); }, system,
      monitor::Fleet::Timing{});
  fleet->start();
  const auto hungOpen = [&fleet] {
    const std::vector<monitor::DeviceSnapshot> all = fleet->snapshots();
    return std::any_of(all.begin(), all.end(), [](const monitor::DeviceSnapshot& s) {
      return s.serial == kSerial && s.present && !s.answering;
    });
  };
  ASSERT_TRUE(eventually(hungOpen, kDeviceDeadline)) << "the hung device was not opened";

  Responder fresh("found-next", "odd-serial");
  ASSERT_TRUE(fresh.running());
  const auto since = [](Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  };
  const auto plugged = Clock::now();
  std::vector<std::string> paths;
  ASSERT_TRUE(eventually([&] { return linuxHid.presentInterfaces(paths) && paths.size() == 2; },
                         kDeviceDeadline + kDeviceDeadline))
      << "the kernel gave the new device no node";
  const double nodeMs = since(plugged);
  const auto appeared = Clock::now();
  // Its serial number as the window and the exporter read it (by the low-byte rule) is not
  // kOddSerial's UTF-8: any device but the hung one is the new one.
  const auto foundNew = [&fleet] {
    const std::vector<monitor::DeviceSnapshot> all = fleet->snapshots();
    return std::any_of(all.begin(), all.end(),
                       [](const monitor::DeviceSnapshot& s) { return s.serial != kSerial; });
  };
  const bool found = eventually(foundNew, kFound + kFound);
  const double foundMs = since(appeared);
  std::printf(
      "hung device beside: the new device's node appeared %.1f ms after it was plugged, the "
      "fleet found it %.1f ms after that (scan: '%s')\n",
      nodeMs, foundMs, fleet->scanFailure().c_str());
  EXPECT_TRUE(found && foundMs < static_cast<double>(kFound.count()));
  fleet.reset();

  // The window in a program of its own, as it is: another program's request to the hung device
  // is out while it starts (hidapi's lock, which each program has for itself, is not held by
  // another thread of the same one).
  platform::TimedHid otherHid(std::make_unique<LinuxHid>());
  device::Session other(otherHid, system);
  ASSERT_TRUE(eventually([&] { return other.open(kSerial); }, kDeviceDeadline + kDeviceDeadline));
  EXPECT_FALSE(other.startUp().configuration.has_value());
  platform::TimedHid windowHid(std::make_unique<LinuxHid>());
  ui::MainWindow window(windowHid, system);
  const auto started = Clock::now();
  window.load();
  const double loadMs = since(started);
  const std::vector<std::string>& listed = window.form()[ui::ctl::SerNo].items;
  std::printf("hung device beside: the window listed %zu devices in %.1f ms\n", listed.size(),
              loadMs);
  EXPECT_EQ(listed.size(), 2u);
  EXPECT_LT(loadMs, static_cast<double>(kFound.count()));
  window.unload();
  hung.answer();
}

TEST(Exporter, ServesTheDeviceAndSendsNothingButMessageRequests) {
  Responder responder("exporter");
  ASSERT_TRUE(responder.running());
  LinuxHid hid;
  ASSERT_EQ(waitForInterfaces(hid, 1).size(), 1u);

  const std::string address = "127.0.0.1:9713";
  std::string listen = "--web.listen-address=" + address;
  std::vector<char*> argv = {exporterPath.data(), listen.data(), nullptr};
  posix_spawn_file_actions_t files;
  posix_spawn_file_actions_init(&files);
  posix_spawn_file_actions_addopen(&files, 2, "/tmp/exporter.err", O_WRONLY | O_CREAT, 0644);
  pid_t exporter = -1;
  ASSERT_EQ(posix_spawn(&exporter, exporterPath.c_str(), &files, nullptr, argv.data(), environ), 0);
  posix_spawn_file_actions_destroy(&files);

  // A scrape now and then: the emulated machine has one slow processor to share.
  const std::string up = std::string("qvr7130_up{serial=\"") + kSerial + "\"} 1";
  const std::string drift =
      std::string("qvr7130_clock_drift_seconds_per_second{serial=\"") + kSerial + "\"} ";
  std::string metrics;
  const auto end = Clock::now() + kStreamDeadline;
  do {
    std::this_thread::sleep_for(milliseconds(200));
    metrics = scrape(address);
  } while ((metrics.find(up) == std::string::npos || metrics.find(drift) == std::string::npos) &&
           Clock::now() < end);
  kill(exporter, SIGTERM);
  int status = -1;
  waitpid(exporter, &status, 0);

  EXPECT_NE(metrics.find(up), std::string::npos) << metrics;
  EXPECT_NE(metrics.find(drift), std::string::npos) << metrics;
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "exit status " << status;
  // It asked for the messages and changed nothing else, not even the rates when it ended.
  EXPECT_EQ(responder.received(), messageRates(10));
}

// The window's thread while the controller's thread works a device that answers each request
// after a given time, or never: this thread ticks every interval and takes the controller's
// changes when woken, as the window's event loop does, and once the device is configured clicks
// the factory reset (a dozen requests) and goes on for a while. Every call it makes is timed.
struct WindowThreadRun {
  double longestMs = 0;                 // the longest single call on the window's thread
  std::optional<double> configuredMs;   // when the device's controls were enabled
  std::vector<std::string> statusRows;  // each status row shown, in order, repeats left out
  bool boxesGuessed = false;            // a settings box enabled before the start-up had finished
};

WindowThreadRun runWindowThread(milliseconds limit, bool factoryReset) {
  platform::TimedHid hid(std::make_unique<LinuxHid>());
  WindowThreadRun run;
  if (waitForInterfaces(hid, 1).size() != 1) {
    return run;
  }
  TestSystem system;
  std::atomic<bool> woken{false};
  ui::ControllerThread controller(hid, system, [&woken] { woken = true; });
  ui::Form& form = controller.form();
  // What the window looks like counts from when it is shown, as the load's last step.
  struct Shown final : ui::FormObserver {
    void controlChanged(ui::ControlId, ui::Property) override {}
    void windowShown() override { shown = true; }
    bool shown = false;
  } window;
  form.setObserver(&window);
  const auto start = Clock::now();
  const auto timed = [&run](const std::function<void()>& call) {
    const auto begin = Clock::now();
    call();
    run.longestMs = std::max(
        run.longestMs, std::chrono::duration<double, std::milli>(Clock::now() - begin).count());
  };
  timed([&] { controller.load(); });
  auto nextTick = Clock::now();
  std::optional<Clock::time_point> stopAt;
  while (Clock::now() - start < limit && (!stopAt || Clock::now() < *stopAt)) {
    if (woken.exchange(false)) {
      timed([&] { controller.deliver(); });
    }
    if (Clock::now() >= nextTick) {
      timed([&] { controller.tick(); });
      nextTick += milliseconds(std::max(form[ui::ctl::Timer].interval, 1));
    }
    if (!window.shown) {
      std::this_thread::sleep_for(milliseconds(1));
      continue;
    }
    const std::string& status = form[ui::ctl::Status].text;
    if (run.statusRows.empty() || run.statusRows.back() != status) {
      run.statusRows.push_back(status);
    }
    // The device's controls are enabled once a start-up is done, and its settings too once the
    // device has answered it.
    const bool configured = form[ui::ctl::Label1].enabled && form[ui::ctl::FLL].enabled;
    // Before the first configuration (a factory reset's own start-ups come later).
    run.boxesGuessed = run.boxesGuessed || (!run.configuredMs && !form[ui::ctl::Label1].enabled &&
                                            form[ui::ctl::FLL].enabled);
    if (configured && !run.configuredMs) {
      run.configuredMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
      if (factoryReset) {
        timed([&] { controller.userClick(ui::ctl::Factory); });
      }
      stopAt = Clock::now() + (factoryReset ? milliseconds(4000) : milliseconds(500));
    }
    std::this_thread::sleep_for(milliseconds(1));
  }
  timed([&] { controller.unload(); });
  controller.drain();
  form.setObserver(nullptr);
  return run;
}

std::string joined(const std::vector<std::string>& rows) {
  std::string all;
  for (const std::string& row : rows) {
    all += (all.empty() ? "\"" : " / \"") + row + "\"";
  }
  return all;
}

// The window's thread never waits on a device, however slowly it answers: no call on it takes
// more than a few milliseconds, a factory reset included. A device that answers late is
// configured all the same, and one that never answers is said to be so.
TEST(Window, ItsThreadNeverWaitsOnASlowOrHungDevice) {
  // The goal is 20 ms; an emulated machine's own hiccups are allowed for.
  constexpr double kLongestCallMs = 60;
  constexpr std::size_t kFactoryResetReports = 10;
  struct Case {
    int delayMs;  // -1: never answers
    bool factoryReset;
    milliseconds limit;
  };
  const Case cases[] = {{0, true, milliseconds(6000)},     {50, true, milliseconds(6000)},
                        {190, true, milliseconds(8000)},   {250, false, milliseconds(8000)},
                        {600, false, milliseconds(14000)}, {-1, false, milliseconds(3000)}};
  std::printf("window's thread: answer after | longest call | configured after | status rows\n");
  for (const Case& c : cases) {
    SCOPED_TRACE("answers after " + std::to_string(c.delayMs) + " ms");
    Responder responder("window-thread",
                        c.delayMs >= 0 ? "delay=" + std::to_string(c.delayMs) : std::string());
    ASSERT_TRUE(responder.running());
    if (c.delayMs < 0) {
      LinuxHid probe;
      ASSERT_EQ(waitForInterfaces(probe, 1).size(), 1u);
      responder.hang();
    }
    const WindowThreadRun run = runWindowThread(c.limit, c.factoryReset);
    std::printf(
        "window's thread: %12s | %9.1f ms | %16s | %s%s\n",
        c.delayMs < 0 ? "never" : (std::to_string(c.delayMs) + " ms").c_str(), run.longestMs,
        run.configuredMs ? (std::to_string(static_cast<int>(*run.configuredMs)) + " ms").c_str()
                         : "never",
        joined(run.statusRows).c_str(), c.factoryReset ? " (factory reset clicked)" : "");
    EXPECT_LT(run.longestMs, kLongestCallMs);
    EXPECT_FALSE(run.boxesGuessed) << "settings enabled before the device's were read";
    if (c.delayMs < 0) {
      EXPECT_FALSE(run.configuredMs);
      EXPECT_EQ(run.statusRows.back(), " Device not answering");
      responder.answer();
      continue;
    }
    EXPECT_TRUE(run.configuredMs);
    EXPECT_NE(run.statusRows.back(), " Device not answering");
    if (c.factoryReset) {
      // The start-up's three message requests, then the reset's own.
      EXPECT_GE(responder.received().size(), 3 + kFactoryResetReports) << "no factory reset sent";
    }
  }
}

}  // namespace
}  // namespace qvr::kernel_test

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s RESPONDER QVR7130CTL EXPORTER [gtest options]\n", argv[0]);
    return 2;
  }
  qvr::kernel_test::responderPath = argv[1];
  qvr::kernel_test::ctlPath = argv[2];
  qvr::kernel_test::exporterPath = argv[3];
  return RUN_ALL_TESTS();
}
