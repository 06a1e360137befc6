#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace qvr::platform {

struct Options {
  bool help = false;
  bool listDevices = false;             // print what is attached and exit, no window
  std::optional<int> simulatedDevices;  // --simulate[=N]; without it the real devices
  std::optional<std::string> screenshot;
  int ticks = 0;
};

struct ParsedCommandLine {
  Options options;
  std::string error;  // empty when the arguments were understood
};

// Arguments after the program name.
[[nodiscard]] ParsedCommandLine parseCommandLine(const std::vector<std::string>& args);

[[nodiscard]] std::string usageText(const std::string& program);

// What both programs do before any window exists: a refused argument is told on `err` with a
// hint (exit status 2), --help prints the usage on `out` (0). Nothing when the program goes on.
[[nodiscard]] std::optional<int> answerWithoutWindow(const ParsedCommandLine& parsed,
                                                     const std::string& program, std::ostream& out,
                                                     std::ostream& err);

}  // namespace qvr::platform
