#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "platform/sim/sim_receiver.h"
#include "programs/common/option_parser.h"

namespace qvr::platform {

inline constexpr const char* kWindowProgram = "qvr7130";
// A tick is one poll of the window's timer: 10 ms of the simulated devices' time while one is
// open (100 ms while the window looks for one). Three seconds' worth: a simulated receiver has
// its fix after one and has sent its messages again since, so a screenshot shows a working
// device.
inline constexpr int kDefaultScreenshotTicks = 300;

struct Options {
  bool help = false;
  bool version = false;
  bool listDevices = false;             // print what is attached and exit, no window
  std::optional<int> simulatedDevices;  // --simulate[=N]; without it the real devices
  std::optional<std::string> screenshot;
  int ticks = kDefaultScreenshotTicks;
};

// A whole number from 0 to `max`, digits only.
[[nodiscard]] std::optional<int> parseCount(std::string_view text, int max);

// The count of --simulate[=N], as every program reads it; nothing, with `error` set, for a count
// out of range.
[[nodiscard]] std::optional<int> simulatedDevices(const std::string& option,
                                                  const std::string& count, std::string& error);

// The simulated receivers' delivery, "LATENCY[,JITTER]" in whole milliseconds (the jitter 0
// when left out); nothing, with `error` set, for one no receiver could keep to.
[[nodiscard]] std::optional<sim::Delivery> simulatedDelivery(const std::string& option,
                                                             const std::string& text,
                                                             std::string& error);

// The options of --simulate, shared by the programs: "--simulate" is left out as "1".
[[nodiscard]] DeclaredOption simulateOption(std::string description);

struct ParsedCommandLine {
  Options options;
  std::string error;  // empty when the arguments were understood
};

// Arguments after the program name.
[[nodiscard]] ParsedCommandLine parseCommandLine(const std::vector<std::string>& args);

// Nothing when everything written to `out` has reached it (it is flushed first); otherwise the
// system's reason, or "write error" where it is not known any more.
[[nodiscard]] std::optional<std::string> outputFailure(std::ostream& out);

// The exit status of a program that has written its answer to `out`: `status`, or 1 when the
// answer did not all reach `out` (a full disk, a closed standard output, a reader that has
// gone), which is then said on `err`. An answer nobody got is a failure a script must see; a
// program that has already failed keeps its own status and message.
[[nodiscard]] int finishOutput(int status, std::ostream& out, std::ostream& err,
                               const std::string& program);

// The window's command line; qvr7130ctl and the exporter declare theirs beside their programs.
[[nodiscard]] const OptionParser& windowOptionParser();

// What both programs do before any window exists: a refused argument is told on `err` with a
// hint (exit status 2), --help prints the usage and --version the program's name and `version`
// on `out` (0, or 1 when they could not be written). Nothing when the program goes on.
[[nodiscard]] std::optional<int> answerWithoutWindow(const ParsedCommandLine& parsed,
                                                     const std::string& version, std::ostream& out,
                                                     std::ostream& err);

}  // namespace qvr::platform
