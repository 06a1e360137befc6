#include "programs/common/command_line.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <system_error>

namespace qvr::platform {
namespace {

// More devices than this only slows the scan down; it shows nothing new.
constexpr int kMaxSimulatedDevices = 99;
constexpr int kMaxTicks = 1000000;

}  // namespace

std::optional<int> parseCount(std::string_view text, int max) {
  int value = 0;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (text.empty() || ec != std::errc() || ptr != end || value < 0 || value > max) {
    return std::nullopt;
  }
  return value;
}

OptionArgument::OptionArgument(const std::vector<std::string>& args, std::size_t& index)
    : args_(args), index_(index) {
  const std::string& arg = args[index];
  const std::size_t equals = arg.find('=');
  name_ = arg.substr(0, equals);
  hasInlineValue_ = equals != std::string::npos;
  if (hasInlineValue_) {
    inlineValue_ = arg.substr(equals + 1);
  }
}

std::optional<std::string> OptionArgument::value(std::string& error) {
  if (hasInlineValue_) {
    return inlineValue_;
  }
  if (index_ + 1 < args_.size()) {
    return args_[++index_];
  }
  error = "option '" + name_ + "' needs a value";
  return std::nullopt;
}

std::optional<int> OptionArgument::simulatedDevices(std::string& error) const {
  const auto count = hasInlineValue_ ? parseCount(inlineValue_, kMaxSimulatedDevices) : 1;
  if (!count) {
    error = "'" + args_[index_] + "': the number of devices must be 0 to " +
            std::to_string(kMaxSimulatedDevices);
  }
  return count;
}

std::optional<sim::Delivery> OptionArgument::simulatedDelivery(std::string& error) {
  const auto text = value(error);
  if (!text) {
    return std::nullopt;
  }
  const std::string_view given = *text;
  const std::size_t comma = given.find(',');
  // Neither can be a whole epoch.
  const auto epoch = static_cast<int>(sim::SimReceiver::kEpoch.count());
  const auto latency = parseCount(given.substr(0, comma), epoch);
  const auto jitter =
      comma == std::string_view::npos ? 0 : parseCount(given.substr(comma + 1), epoch);
  if (latency && jitter) {
    const sim::Delivery delivery{std::chrono::milliseconds(*latency),
                                 std::chrono::milliseconds(*jitter)};
    if (sim::SimReceiver::deliverable(delivery)) {
      return delivery;
    }
  }
  error = "'" + *text + "' for '" + name_ +
          "': a latency and a jitter in whole milliseconds, the jitter less than the latency and "
          "both together less than " +
          std::to_string(sim::SimReceiver::kEpoch.count());
  return std::nullopt;
}

ParsedCommandLine parseCommandLine(const std::vector<std::string>& args) {
  ParsedCommandLine result;
  Options& options = result.options;
  bool ticksGiven = false;

  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    OptionArgument option(args, i);
    const std::string& name = option.name();

    if (name == "--help" && !option.hasInlineValue()) {
      options.help = true;
    } else if (name == "--version" && !option.hasInlineValue()) {
      options.version = true;
    } else if (name == "--list-devices" && !option.hasInlineValue()) {
      options.listDevices = true;
    } else if (name == "--simulate") {
      options.simulatedDevices = option.simulatedDevices(result.error);
      if (!options.simulatedDevices) {
        return result;
      }
    } else if (name == "--screenshot") {
      const auto file = option.value(result.error);
      if (!file) {
        return result;
      }
      if (file->empty()) {
        result.error = "option '--screenshot' needs a file name";
        return result;
      }
      options.screenshot = *file;
    } else if (name == "--ticks") {
      const auto text = option.value(result.error);
      if (!text) {
        return result;
      }
      const auto count = parseCount(*text, kMaxTicks);
      if (!count) {
        result.error =
            "'" + *text + "' is not a tick count (0 to " + std::to_string(kMaxTicks) + ")";
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
         "  --version           show the program's version and exit\n"
         "\n"
         "Without --simulate the window drives the QVR-7130 devices attached to this computer.\n";
}

std::optional<std::string> outputFailure(std::ostream& out) {
  if (out.good()) {
    errno = 0;
    out.flush();
    // At once: anything after the failed write may set errno again.
    const int error = errno;
    if (out.good()) {
      return std::nullopt;
    }
    if (error != 0) {
      return std::generic_category().message(error);
    }
  }
  // An earlier write failed; its errno is gone.
  return "write error";
}

int finishOutput(int status, std::ostream& out, std::ostream& err, const std::string& program) {
  const std::optional<std::string> failure = outputFailure(out);
  if (!failure || status != 0) {
    return status;
  }
  err << program << ": cannot write to standard output: " << *failure << '\n';
  return 1;
}

std::optional<int> answerWithoutWindow(const ParsedCommandLine& parsed, const std::string& program,
                                       const std::string& version, std::ostream& out,
                                       std::ostream& err) {
  if (!parsed.error.empty()) {
    err << program << ": " << parsed.error << "\nTry '" << program
        << " --help' for more information.\n";
    return 2;
  }
  if (parsed.options.help) {
    out << usageText(program);
    return finishOutput(0, out, err, program);
  }
  if (parsed.options.version) {
    out << program << ' ' << version << '\n';
    return finishOutput(0, out, err, program);
  }
  return std::nullopt;
}

}  // namespace qvr::platform
