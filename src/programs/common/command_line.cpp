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

std::optional<int> simulatedDevices(const std::string& option, const std::string& count,
                                    std::string& error) {
  const auto devices = parseCount(count, kMaxSimulatedDevices);
  if (!devices) {
    error = "'" + option + "=" + count + "': the number of devices must be 0 to " +
            std::to_string(kMaxSimulatedDevices);
  }
  return devices;
}

std::optional<sim::Delivery> simulatedDelivery(const std::string& option, const std::string& text,
                                               std::string& error) {
  const std::string_view given = text;
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
  error = "'" + text + "' for '" + option +
          "': a latency and a jitter in whole milliseconds, the jitter less than the latency and "
          "both together less than " +
          std::to_string(sim::SimReceiver::kEpoch.count());
  return std::nullopt;
}

DeclaredOption simulateOption(std::string description) {
  return {"--simulate", std::move(description), "N", ValueForm::AfterEquals, "1"};
}

const OptionParser& windowOptionParser() {
  static const OptionParser parser(
      kWindowProgram,
      {.synopsis = "[options]",
       .purpose = "Configures and monitors a QVR-7130 GPSDO locked clock source.",
       .options =
           {simulateOption("drive N simulated devices instead of real ones (serial numbers "
                           "QVR000001, QVR000002, ...); N is 1 when left out, 0 starts with no "
                           "device attached"),
            {"--screenshot", "draw the window off screen, save it to FILE as a PNG image and exit",
             "FILE", ValueForm::Required},
            {"--ticks",
             "with --screenshot: run N ticks before the picture is taken (default " +
                 std::to_string(kDefaultScreenshotTicks) +
                 "); a tick is one poll of the window's timer, 10 ms of the simulated "
                 "devices' time while one is open (100 ms while it looks for one); the "
                 "default is enough for a simulated receiver's fix",
             "N", ValueForm::Required},
            {"--list-devices",
             "list the attached QVR-7130 devices (path, serial number, firmware, whether they "
             "can be opened and why not) and exit"}},
       .notes = "Without --simulate the window drives the QVR-7130 devices attached to this\n"
                "computer.\n"
                "\n"
                "The diagnostics link opens the maker's diagnostics page in the web browser and\n"
                "sends it, in the page's address, the device's serial number, its position\n"
                "rounded to 0.01 degree and its altitude to the metre, its firmware and\n"
                "settings (frequencies, FLL, NMEA, satellite systems, dynamic model), the\n"
                "receiver's state (satellites used, signal strength, status, clock drift,\n"
                "antenna current), this program's version and this computer's operating system.\n"
                "\n"
                "Exit status: 0 done, 1 no display, or the screenshot or the output could not be\n"
                "written, 2 bad usage.\n"});
  return parser;
}

ParsedCommandLine parseCommandLine(const std::vector<std::string>& args) {
  ParsedCommandLine result;
  Options& options = result.options;
  ParsedLine line;
  try {
    line = windowOptionParser().parse(args);
  } catch (const UsageError& e) {
    result.error = e.what();
    return result;
  }
  options.help = line.given("--help");
  options.version = line.given("--version");
  options.listDevices = line.given("--list-devices");
  if (const auto count = line.last("--simulate")) {
    options.simulatedDevices = simulatedDevices("--simulate", *count, result.error);
    if (!options.simulatedDevices) {
      return result;
    }
  }
  if (const auto file = line.last("--screenshot")) {
    if (file->empty()) {
      result.error = "option '--screenshot' needs a file name";
      return result;
    }
    options.screenshot = *file;
  }
  if (const auto text = line.last("--ticks")) {
    const auto count = parseCount(*text, kMaxTicks);
    if (!count) {
      result.error = "'" + *text + "' is not a tick count (0 to " + std::to_string(kMaxTicks) + ")";
      return result;
    }
    options.ticks = *count;
  }

  if (line.given("--ticks") && !options.screenshot && !options.help) {
    result.error = "option '--ticks' only works together with '--screenshot'";
  } else if (options.listDevices && (options.simulatedDevices || options.screenshot)) {
    // It lists the real devices and opens no window, so neither option could mean anything.
    result.error = "option '--list-devices' goes with neither '--simulate' nor '--screenshot'";
  }
  return result;
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

std::optional<int> answerWithoutWindow(const ParsedCommandLine& parsed, const std::string& version,
                                       std::ostream& out, std::ostream& err) {
  return answerEarly(
      windowOptionParser(),
      {.error = parsed.error, .help = parsed.options.help, .version = parsed.options.version},
      version, out, err);
}

}  // namespace qvr::platform
