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

ParsedArguments parseArguments(const std::vector<std::string>& args) {
  ParsedArguments result;
  Options& options = result.options;
  for (std::size_t index = 0; index < args.size() && result.error.empty(); ++index) {
    platform::OptionArgument option(args, index);
    const std::string& name = option.name();
    if ((name == "--help" || name == "-h") && !option.hasInlineValue()) {
      options.help = true;
    } else if (name == "--version" && !option.hasInlineValue()) {
      options.version = true;
    } else if (name == "--web.listen-address" || name == "--listen") {
      if (auto value = option.value(result.error)) {
        options.listenAddress = *value;
        try {
          checkListenAddress(*value);
        } catch (const ListenError& e) {
          result.error = e.what();
        }
      }
    } else if (name == "--web.config.file") {
      if (auto value = option.value(result.error)) {
        options.webConfigFile = *value;
      }
    } else if (name == "--web.telemetry-path") {
      if (auto value = option.value(result.error)) {
        readTelemetryPath(options, name, *value, result.error);
      }
    } else if (name == "--log.level") {
      if (auto value = option.value(result.error)) {
        readNamed(options.logLevel, logLevelNamed(*value), name, *value,
                  "debug, info, warn or error", result.error);
      }
    } else if (name == "--log.format") {
      if (auto value = option.value(result.error)) {
        readNamed(options.logFormat, logFormatNamed(*value), name, *value, "logfmt or json",
                  result.error);
      }
    } else if (name == "--simulate") {
      options.simulatedDevices = option.simulatedDevices(result.error);
    } else if (name == "--simulate.latency") {
      options.simulatedDelivery = option.simulatedDelivery(result.error);
    } else if (name == "--chrony.socket") {
      if (auto value = option.value(result.error)) {
        if (auto given = perDevice(name, *value, result.error)) {
          options.chronySockets[given->first] = given->second;
        }
      }
    } else if (name == "--chrony.socket-pattern") {
      if (auto value = option.value(result.error)) {
        options.chronySocketPattern = *value;
        if (!value->empty() && value->find(refclock::kSerialPlaceholder) == std::string::npos) {
          result.error =
              "'" + name + " " + *value + "': the pattern needs %s for the serial number";
        }
      }
    } else if (name == "--ntp.shm") {
      if (auto value = option.value(result.error)) {
        readNtpUnit(options, name, *value, result.error);
      }
    } else {
      result.error = "unknown argument: " + args[index];
    }
  }
  if (result.error.empty() && options.simulatedDelivery && !options.simulatedDevices) {
    result.error = "'--simulate.latency' goes only with '--simulate'";
  }
  return result;
}

std::string usageText() {
  return std::string("usage: ") + kProgram +
         " [--web.listen-address=ADDRESS:PORT] [--web.config.file=FILE]\n"
         "           [--web.telemetry-path=PATH] [--log.level=LEVEL] [--log.format=FORMAT]\n"
         "           [--simulate[=N] [--simulate.latency=L_MS[,J_MS]]]\n"
         "           [--chrony.socket SERIAL=PATH]... [--chrony.socket-pattern PATTERN]\n"
         "           [--ntp.shm SERIAL=UNIT]...\n"
         "       " +
         kProgram +
         " --help | --version\n"
         "\n"
         "Serves the state of every attached QVR-7130 to Prometheus: its metrics, /status.json\n"
         "and a page at /; gives each device's time to chronyd, and to ntpd when asked, as\n"
         "a reference clock. Only navigation-message requests are sent to the devices, never\n"
         "a setting.\n"
         "\n"
         "  --web.listen-address=ADDRESS:PORT, --listen ADDRESS:PORT\n"
         "                 where to serve (default " +
         kDefaultListenAddress +
         "; port 0 takes a free one)\n"
         "  --web.config.file=FILE\n"
         "                 TLS and basic authentication, in the web configuration file format\n"
         "                 of the Prometheus exporters (tls_server_config, basic_auth_users)\n"
         "  --web.telemetry-path=PATH\n"
         "                 where the metrics are served (default " +
         kDefaultTelemetryPath +
         ")\n"
         "  --log.level=LEVEL\n"
         "                 the least important lines logged: debug, info (default), warn or\n"
         "                 error\n"
         "  --log.format=FORMAT\n"
         "                 logfmt (default) or json, one line an event on standard error\n"
         "  --simulate[=N]  N simulated devices instead of the attached ones (default 1),\n"
         "                 on this computer's clock; SIGUSR1 unplugs the first one plugged\n"
         "                 in, SIGUSR2 plugs all back\n"
         "  --simulate.latency=L_MS[,J_MS]\n"
         "                 the simulated receivers' frames become readable L_MS after their\n"
         "                 epoch, give or take up to J_MS (J_MS < L_MS, L_MS + J_MS < 100;\n"
         "                 default 0)\n"
         "  --chrony.socket SERIAL=PATH\n"
         "                 the device's chronyd SOCK refclock socket\n"
         "  --chrony.socket-pattern PATTERN\n"
         "                 every other device's, %s standing for its serial number\n"
         "                 (default " +
         std::string(refclock::kDefaultChronySocketPattern) +
         "; '' for none). A sample a\n"
         "                 second while the receiver has a valid time and a fix, once\n"
         "                 chronyd has made the socket: qvr7130ctl chrony-config prints\n"
         "                 its refclock lines\n"
         "  --ntp.shm SERIAL=UNIT\n"
         "                 also ntpd's shared memory refclock UNIT, 0 to " +
         std::to_string(refclock::kHighestNtpUnit) +
         " (0 and 1 only\n"
         "                 when both run as root)\n"
         "  --help         this text\n"
         "  --version      the version\n";
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
