#pragma once

#include <optional>
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

}  // namespace qvr::platform
