#include "programs/common/command_line.h"

#include <charconv>
#include <cstdio>

namespace qvr::platform {
namespace {

// More devices than this only slows the scan down; it shows nothing new.
constexpr int kMaxSimulatedDevices = 99;
constexpr int kMaxTicks = 1000000;

std::optional<int> parseCount(const std::string& text, int max) {
  int value = 0;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (text.empty() || ec != std::errc() || ptr != end || value < 0 || value > max) {
    return std::nullopt;
  }
  return value;
}

}  // namespace

ParsedCommandLine parseCommandLine(const std::vector<std::string>& args) {
  ParsedCommandLine result;
  Options& options = result.options;
  bool ticksGiven = false;

  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const std::size_t equals = arg.find('=');
    const std::string name = arg.substr(0, equals);
    const bool hasInlineValue = equals != std::string::npos;
    const std::string inlineValue = hasInlineValue ? arg.substr(equals + 1) : std::string();

    // Options that take a value accept it both as "--name VALUE" and as "--name=VALUE".
    auto value = [&](std::string& out) {
      if (hasInlineValue) {
        out = inlineValue;
        return true;
      }
      if (i + 1 < args.size()) {
        out = args[++i];
        return true;
      }
      result.error = "option '" + name + "' needs a value";
      return false;
    };

    if (name == "--help" && !hasInlineValue) {
      options.help = true;
    } else if (name == "--list-devices" && !hasInlineValue) {
      options.listDevices = true;
    } else if (name == "--simulate") {
      // The count is optional, so it is only ever written after '='.
      const auto count = hasInlineValue ? parseCount(inlineValue, kMaxSimulatedDevices) : 1;
      if (!count) {
        result.error = "'" + arg + "': the number of devices must be 0 to " +
                       std::to_string(kMaxSimulatedDevices);
        return result;
      }
      options.simulatedDevices = count;
    } else if (name == "--screenshot") {
      std::string file;
      if (!value(file)) {
        return result;
      }
      if (file.empty()) {
        result.error = "option '--screenshot' needs a file name";
        return result;
      }
      options.screenshot = file;
    } else if (name == "--ticks") {
      std::string text;
      if (!value(text)) {
        return result;
      }
      const auto count = parseCount(text, kMaxTicks);
      if (!count) {
        result.error =
            "'" + text + "' is not a tick count (0 to " + std::to_string(kMaxTicks) + ")";
        return result;
      }
      options.ticks = *count;
      ticksGiven = true;
    } else {
      result.error =
          (arg.rfind('-', 0) == 0 ? "unknown option '" : "unexpected argument '") + arg + "'";
      return result;
    }
  }

  if (ticksGiven && !options.screenshot && !options.help) {
    result.error = "option '--ticks' only works together with '--screenshot'";
  } else if (options.listDevices && (options.simulatedDevices || options.screenshot)) {
    // It lists the real devices and opens no window, so neither option could mean anything.
    result.error = "option '--list-devices' goes with neither '--simulate' nor '--screenshot'";
  }
  return result;
}

std::string usageText(const std::string& program) {
  return "Usage: " + program +
         " [options]\n"
         "Configures and monitors a QVR-7130 GPSDO locked clock source.\n"
         "\n"
         "Options:\n"
         "  --simulate[=N]      drive N simulated devices instead of real ones (serial\n"
         "                      numbers QVR000001, QVR000002, ...); N is 1 when left out,\n"
         "                      0 starts with no device attached\n"
         "  --screenshot FILE   draw the window off screen, save it to FILE as a PNG image\n"
         "                      and exit\n"
         "  --ticks N           with --screenshot: run N poll ticks before the picture is\n"
         "                      taken (default 0)\n"
         "  --list-devices      list the attached QVR-7130 devices (path, serial number,\n"
         "                      firmware, whether they can be opened and why not) and exit\n"
         "  --help              show this help and exit\n"
         "\n"
         "Without --simulate the window drives the QVR-7130 devices attached to this computer.\n";
}

std::optional<int> answerWithoutWindow(const ParsedCommandLine& parsed, const std::string& program,
                                       std::ostream& out, std::ostream& err) {
  if (!parsed.error.empty()) {
    err << program << ": " << parsed.error << "\nTry '" << program
        << " --help' for more information.\n";
    return 2;
  }
  if (parsed.options.help) {
    out << usageText(program);
    return 0;
  }
  return std::nullopt;
}

}  // namespace qvr::platform
