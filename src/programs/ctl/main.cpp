// The composition root of qvr7130ctl: picks the backends and runs one command.

#include <atomic>
#include <chrono>
#include <csignal>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "platform/sim/kept_clock_system.h"
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
// status comes back at once with what a second of a real device would have said. A command that
// runs on real time (ctl::runsOnRealTime) has this computer's clock instead.
class VirtualClockSystem final : public platform::sim::KeptClockSystem {
 public:
  explicit VirtualClockSystem(platform::System& real) : KeptClockSystem(real) {}

  [[nodiscard]] const std::chrono::milliseconds* clock() const { return &now_; }
  [[nodiscard]] std::chrono::milliseconds now() const override { return now_; }
  void sleep(std::chrono::milliseconds duration) override { now_ += duration; }
  void doEvents() override {}

 private:
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

  VirtualClockSystem virtualClock(console);
  platform::sim::KeptClockSystem realClock(console);
  std::unique_ptr<platform::Hid> backend;
  platform::System* system = &console;
  if (options.simulatedDevices) {
    const bool realTime = ctl::runsOnRealTime(options);
    backend = platform::sim::simulatedBus(
        *options.simulatedDevices,
        {.virtualNow = realTime ? nullptr : virtualClock.clock(),
         .delivery = options.simulatedDelivery.value_or(platform::sim::Delivery{})});
    system = realTime ? static_cast<platform::System*>(&realClock) : &virtualClock;
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
