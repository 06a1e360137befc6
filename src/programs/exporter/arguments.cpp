#include "programs/exporter/arguments.h"

#include "programs/common/command_line.h"
#include "programs/exporter/http_server.h"

namespace qvr::exporter {
namespace {

// "SERIAL=VALUE", split at its first '='; nothing, with `error` set, when either side is empty.
std::optional<std::pair<std::string, std::string>> perDevice(const std::string& option,
                                                             const std::string& text,
                                                             std::string& error) {
  const std::size_t equals = text.find('=');
  if (equals == std::string::npos || equals == 0 || equals + 1 == text.size()) {
    error = "'" + option + " " + text + "': expected SERIAL=VALUE";
    return std::nullopt;
  }
  return std::pair{text.substr(0, equals), text.substr(equals + 1)};
}

void readNtpUnit(Options& options, const std::string& option, const std::string& text,
                 std::string& error) {
  const auto given = perDevice(option, text, error);
  if (!given) {
    return;
  }
  const auto unit = platform::parseCount(given->second, refclock::kHighestNtpUnit);
  if (!unit) {
    error = "'" + option + " " + text + "': the unit must be 0 to " +
            std::to_string(refclock::kHighestNtpUnit);
    return;
  }
  for (const auto& [serial, taken] : options.ntpUnits) {
    if (taken == *unit && serial != given->first) {
      error =
          "ntpd's unit " + given->second + " is given to both " + serial + " and " + given->first;
      return;
    }
  }
  options.ntpUnits[given->first] = *unit;
}

// A path of its own for the metrics: the page and the status keep theirs.
void readTelemetryPath(Options& options, const std::string& option, const std::string& path,
                       std::string& error) {
  if (path.size() < 2 || path.front() != '/' || path.find_first_of("?# ") != std::string::npos ||
      path == "/status.json") {
    error = "'" + option + " " + path +
            "': the metrics need a path of their own that starts with '/', such as /metrics";
    return;
  }
  options.telemetryPath = path;
}

template <typename Value>
void readNamed(Value& into, std::optional<Value> named, const std::string& option,
               const std::string& text, const char* choices, std::string& error) {
  if (named) {
    into = *named;
  } else {
    error = "'" + option + " " + text + "': expected " + choices;
  }
}

}  // namespace

const platform::OptionParser& optionParser() {
  using platform::ValueForm;
  static const platform::OptionParser parser(
      kProgram,
      {.synopsis = "[options]",
       .purpose =
           "Serves the state of every attached QVR-7130 to Prometheus: its metrics, /status.json "
           "and a page at /; gives each device's time to chronyd, and to ntpd when asked, as a "
           "reference clock. Only navigation-message requests are sent to the devices, never a "
           "setting.",
       .options =
           {{"--web.listen-address,--listen",
             std::string("where to serve (default ") + kDefaultListenAddress +
                 "; port 0 takes a free one): an IPv4 address, an IPv6 address in brackets, "
                 "a host name, or nothing for every interface",
             "ADDRESS:PORT", ValueForm::Required},
            {"--web.config.file",
             "TLS and basic authentication, in the web configuration file format of the "
             "Prometheus exporters (tls_server_config, basic_auth_users)",
             "FILE", ValueForm::Required},
            {"--web.telemetry-path",
             std::string("where the metrics are served (default ") + kDefaultTelemetryPath + ")",
             "PATH", ValueForm::Required},
            {"--log.level",
             "the least important lines logged: debug, info (default), warn or error", "LEVEL",
             ValueForm::Required},
            {"--log.format", "logfmt (default) or json, one line an event on standard error",
             "FORMAT", ValueForm::Required},
            {"--holdover.alert-after",
             "how long a holdover may last before the QVR7130Holdover alert fires (default " +
                 std::to_string(kDefaultHoldoverAlertSeconds) +
                 "), served as qvr7130_holdover_alert_after_seconds",
             "SECONDS", ValueForm::Required},
            platform::simulateOption(
                "N simulated devices instead of the attached ones (default 1), on this "
                "computer's clock; SIGUSR1 unplugs the first one plugged in, SIGUSR2 plugs all "
                "back"),
            {"--simulate.latency",
             "with --simulate: the simulated receivers' frames become readable L_MS after their "
             "epoch, give or take up to J_MS (J_MS < L_MS, L_MS + J_MS < 100; default 0)",
             "L_MS[,J_MS]", ValueForm::Required},
            {"--chrony.socket", "the device's chronyd SOCK refclock socket", "SERIAL=PATH",
             ValueForm::Required},
            {"--chrony.socket-pattern",
             "every other device's, %s standing for its serial number (default " +
                 std::string(refclock::kDefaultChronySocketPattern) +
                 "; '' for none). A sample a second while the receiver has a valid time and a "
                 "fix, once chronyd has made the socket: qvr7130ctl chrony-config prints its "
                 "refclock lines",
             "PATTERN", ValueForm::Required},
            {"--ntp.shm",
             "also ntpd's shared memory refclock UNIT, 0 to " +
                 std::to_string(refclock::kHighestNtpUnit) +
                 " (0 and 1 only when both run as root)",
             "SERIAL=UNIT", ValueForm::Required}},
       .notes = "Exit status: 0 stopped by SIGTERM or SIGINT, 1 the web configuration could not\n"
                "be used, the address could not be listened on or the output of --help or\n"
                "--version could not be written, 2 bad usage.\n"});
  return parser;
}

ParsedArguments parseArguments(const std::vector<std::string>& args) {
  ParsedArguments result;
  Options& options = result.options;
  platform::ParsedLine line;
  try {
    line = optionParser().parse(args);
  } catch (const platform::UsageError& e) {
    result.error = e.what();
    return result;
  }
  std::string& error = result.error;
  options.help = line.given("--help");
  options.version = line.given("--version");
  if (const auto address = line.last("--web.listen-address")) {
    options.listenAddress = *address;
    try {
      checkListenAddress(*address);
    } catch (const ListenError& e) {
      error = e.what();
      return result;
    }
  }
  options.webConfigFile = line.last("--web.config.file").value_or("");
  if (const auto path = line.last("--web.telemetry-path")) {
    readTelemetryPath(options, "--web.telemetry-path", *path, error);
  }
  if (const auto level = line.last("--log.level"); level && error.empty()) {
    readNamed(options.logLevel, logLevelNamed(*level), "--log.level", *level,
              "debug, info, warn or error", error);
  }
  if (const auto format = line.last("--log.format"); format && error.empty()) {
    readNamed(options.logFormat, logFormatNamed(*format), "--log.format", *format, "logfmt or json",
              error);
  }
  if (const auto after = line.last("--holdover.alert-after"); after && error.empty()) {
    const auto seconds = platform::parseCount(*after, kMaxHoldoverAlertSeconds);
    if (seconds && *seconds > 0) {
      options.holdoverAlertSeconds = *seconds;
    } else {
      error = "'--holdover.alert-after " + *after + "': whole seconds from 1 to " +
              std::to_string(kMaxHoldoverAlertSeconds);
    }
  }
  if (const auto count = line.last("--simulate"); count && error.empty()) {
    options.simulatedDevices = platform::simulatedDevices("--simulate", *count, error);
  }
  if (const auto delivery = line.last("--simulate.latency"); delivery && error.empty()) {
    options.simulatedDelivery = platform::simulatedDelivery("--simulate.latency", *delivery, error);
  }
  for (const std::string& given : line.values["--chrony.socket"]) {
    if (auto socket = error.empty() ? perDevice("--chrony.socket", given, error) : std::nullopt) {
      options.chronySockets[socket->first] = socket->second;
    }
  }
  if (const auto pattern = line.last("--chrony.socket-pattern"); pattern && error.empty()) {
    options.chronySocketPattern = *pattern;
    if (!pattern->empty() && pattern->find(refclock::kSerialPlaceholder) == std::string::npos) {
      error =
          "'--chrony.socket-pattern " + *pattern + "': the pattern needs %s for the serial number";
    }
  }
  for (const std::string& given : line.values["--ntp.shm"]) {
    if (error.empty()) {
      readNtpUnit(options, "--ntp.shm", given, error);
    }
  }
  if (error.empty() && options.simulatedDelivery && !options.simulatedDevices) {
    error = "'--simulate.latency' goes only with '--simulate'";
  }
  return result;
}

refclock::FeedTargets feedTargets(const Options& options, const std::string& serial) {
  refclock::FeedTargets targets;
  if (const auto named = options.chronySockets.find(serial); named != options.chronySockets.end()) {
    targets.chronySocket = named->second;
  } else if (!options.chronySocketPattern.empty()) {
    targets.chronySocket = refclock::chronySocketPath(options.chronySocketPattern, serial);
  }
  if (const auto unit = options.ntpUnits.find(serial); unit != options.ntpUnits.end()) {
    targets.ntpUnit = unit->second;
  }
  return targets;
}

}  // namespace qvr::exporter
