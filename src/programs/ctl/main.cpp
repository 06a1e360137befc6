// The composition root of qvr7130ctl: picks the backends and runs one command.

#include <atomic>
#include <chrono>
#include <csignal>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "platform/sim/sim_hid.h"
#include "platform/timed/timed_hid.h"
#include "programs/common/command_line.h"
#include "programs/ctl/program.h"
#ifdef _WIN32
#include "platform/win32/win32_hid.h"
#include "platform/win32/win32_system.h"
#else
#include "platform/linux/linux_hid.h"
#include "platform/linux/linux_system.h"
#include "platform/linux/standard_streams.h"
#endif

namespace {

namespace platform = qvr::platform;
namespace ctl = qvr::ctl;

std::atomic<bool> interruptRequested{false};

extern "C" void onInterrupt(int /*signalNumber*/) {
  interruptRequested = true;
}

// The simulated devices run on a virtual clock that the program's own waits advance, so that a
// status comes back at once with what a second of a real device would have said; or, when the
// command runs on real time (ctl::runsOnRealTime), on this computer's clock. The computer's
// clock is never set for a simulated receiver; everything else is this computer's.
class SimulatedSystem final : public platform::System {
 public:
  SimulatedSystem(platform::System& real, bool realTime) : real_(real), realTime_(realTime) {}

  // How the simulated bus keeps the same time as this system.
  [[nodiscard]] platform::sim::SimTiming timing(platform::sim::Delivery delivery) const {
    return {.virtualNow = realTime_ ? nullptr : &now_, .delivery = delivery};
  }
  [[nodiscard]] std::chrono::milliseconds now() const override {
    return realTime_ ? real_.now() : now_;
  }

  void sleep(std::chrono::milliseconds duration) override {
    if (realTime_) {
      real_.sleep(duration);
    } else {
      now_ += duration;
    }
  }
  bool setSystemTime(const platform::UtcTime& /*time*/) override { return true; }
  [[nodiscard]] std::string clockRefusal() const override { return {}; }
  void openAddress(const std::string& address) override { real_.openAddress(address); }
  [[nodiscard]] std::string operatingSystemVersion() override {
    return real_.operatingSystemVersion();
  }
  void messageBox(const std::string& title, const std::string& text) override {
    real_.messageBox(title, text);
  }
  void doEvents() override {}
  [[nodiscard]] char decimalSeparator() override { return real_.decimalSeparator(); }

 private:
  platform::System& real_;
  bool realTime_;
  std::chrono::milliseconds now_{0};
};

int runCommand(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  const ctl::ParsedArguments parsed = ctl::parseArguments(args);
  if (const auto status = ctl::answerWithoutDevice(parsed, QVR_VERSION, std::cout, std::cerr)) {
    return *status;
  }
  const ctl::Options& options = parsed.options;
  // Ctrl-C ends a watch between two polls, so the device is left as the window leaves it.
  std::signal(SIGINT, onInterrupt);

#ifdef _WIN32
  platform::win32::Win32System console;
  // Nobody is there to press OK: message boxes go to standard error.
  console.setHeadless(true);
  const auto realHid = [] { return std::make_unique<platform::win32::Win32Hid>(); };
#else
  platform::hidraw::ConsoleSystem console;
  const auto realHid = [] { return std::make_unique<platform::hidraw::LinuxHid>(); };
#endif

  SimulatedSystem simulated(console, ctl::runsOnRealTime(options));
  std::unique_ptr<platform::Hid> backend;
  platform::System* system = &console;
  if (options.simulatedDevices) {
    backend = platform::sim::simulatedBus(
        *options.simulatedDevices,
        simulated.timing(options.simulatedDelivery.value_or(platform::sim::Delivery{})));
    system = &simulated;
  } else {
    backend = realHid();
  }
  // Every call on a device thread with a deadline: a device that stops answering makes a call
  // fail after a quarter of a second instead of holding the program for seconds.
  const auto hid = std::make_unique<platform::TimedHid>(std::move(backend));

  ctl::Environment env{.hid = *hid,
                       .system = *system,
                       .out = std::cout,
                       .err = std::cerr,
                       .listDevices = ctl::attachedDevices,
                       .interrupted = [] { return interruptRequested.load(); },
                       .simulated = options.simulatedDevices.has_value()};
  return ctl::run(options, env);
}

}  // namespace

int main(int argc, char** argv) {
#ifndef _WIN32
  platform::hidraw::holdClosedStandardStreams();
#endif
  // Checked once the command is over and the device closed: a failed write never cuts a
  // command short between two reports it sends.
  return platform::finishOutput(runCommand(argc, argv), std::cout, std::cerr, ctl::kProgram);
}
