#include "programs/ctl/arguments.h"

#include <array>
#include <charconv>
#include <string_view>

#include "programs/common/command_line.h"
#include "refclock/chrony_config.h"

namespace qvr::ctl {
namespace {

using std::chrono::milliseconds;

constexpr milliseconds kLongestWait{24LL * 60 * 60 * 1000};
// The poll cadence: a shorter interval would print the same line twice.
constexpr milliseconds kShortestWatch{10};
// The receiver names its time at least once a second.
constexpr milliseconds kShortestDuration{1000};

// Which options a command takes, besides --help and --version.
enum OptionBit : unsigned {
  kSimulate = 1U << 0,
  kSerial = 1U << 1,
  kJson = 1U << 2,
  kWatch = 1U << 3,
  kTimeout = 1U << 4,
  kSocketPattern = 1U << 5,
  kDuration = 1U << 6,
};

struct CommandRow {
  const char* name;
  Command command;
  unsigned options;
  const char* synopsis;  // after the program name
  const char* purpose;
  const char* details;  // the command's own options and notes, for its --help
  // It measures the computer's time against the receiver's, so simulated devices run on
  // real time.
  bool measuresTime = false;
};

constexpr unsigned kDevice = kSimulate | kSerial;

constexpr CommandRow kCommands[] = {
    {"list", Command::List, kJson, "list [--json]",
     "list the attached devices: path, serial number, firmware, whether they open",
     "  --json              one JSON object (see\n"
     "                      /usr/share/doc/qvr7130/qvr7130ctl-json.md)\n"
     "\n"
     "Lists the devices attached to this computer; it does not go with --simulate.\n"},
    {"status", Command::Status, kDevice | kJson | kWatch | kTimeout,
     "status [--serial S] [--json] [--watch [SECONDS]] [--timeout SECONDS]",
     "show the device, every setting and the receiver",
     "  --json              one JSON object (see\n"
     "                      /usr/share/doc/qvr7130/qvr7130ctl-json.md)\n"
     "  --watch [SECONDS]   then one line (with --json one object a line) every SECONDS\n"
     "                      (default 1) until interrupted, or until a line cannot be\n"
     "                      written (exit status 1); SECONDS is taken from the next\n"
     "                      word only when it starts with a digit or '.'\n"
     "  --timeout SECONDS   wait at most this long for the receiver's first NAV-PVT,\n"
     "                      NAV-CLOCK and NAV-SAT (default 3); what did not come is null\n"},
    {"set", Command::Set, kDevice, "set [--serial S] NAME=VALUE...",
     "change settings, all checked before anything is sent",
     "Settings, changed in this order with 10 ms between two changes:\n"
     "  outputs=on|off           the outputs enabled\n"
     "  out1-low-power=on|off    low output power on OUT1 (firmware 1.03 on)\n"
     "  out2-low-power=on|off    low output power on OUT2 (firmware 1.03 on)\n"
     "  out1=HZ                  OUT1's frequency, '.' as the decimal point, exponent allowed;\n"
     "  out2=HZ                  0.9 Hz up to, not including, 1600000001 Hz\n"
     "  fll=on|off               FLL mode\n"
     "  pps=on|off               1PPS on OUT1\n"
     "  nmea=on|off              NMEA sentences on OUT1 (firmware 1.08 on)\n"
     "  gnss=LIST|none           satellite systems, a comma-separated list of gps, sbas,\n"
     "                           galileo, beidou, glonass; beidou and glonass together only\n"
     "                           without gps, sbas and galileo (firmware 1.07 on)\n"
     "  dynamic-model=MODEL      stationary, portable or airborne (firmware 1.07 on)\n"
     "\n"
     "Each change is made as the window's user makes it, with what the window's\n"
     "rules do besides (1PPS or NMEA on clears low power on OUT1; either off reads\n"
     "the device back); a value already set sends nothing. A value that is refused,\n"
     "or a change the window would not allow now (1PPS while NMEA is on), sends\n"
     "nothing at all (exit status 2).\n"},
    {"factory-reset", Command::FactoryReset, kDevice, "factory-reset [--serial S]",
     "press the window's Factory reset button",
     "Outputs on, both outputs 10 MHz, FLL, 1PPS, NMEA and low power off, satellite systems\n"
     "GPS, SBAS, Galileo and GLONASS, dynamic model stationary, as far as the firmware has "
     "them.\n"},
    {"set-clock", Command::SetClock, kDevice | kTimeout,
     "set-clock [--serial S] [--timeout SECONDS]",
     "set this computer's clock from the receiver's time, once it is known fresh",
     "  --timeout SECONDS   wait at most this long for a valid time (default 60)\n"
     "\n"
     "A time counts once the next epoch confirms it: reports that waited while the\n"
     "program was stopped would set the clock back. A simulated device never sets it.\n"
     "\n"
     "On Linux, without the right to set the clock (root, or CAP_SYS_TIME), systemd's time\n"
     "service is asked: polkit asks for the administrator's password, and it refuses while\n"
     "automatic time synchronisation is on. On Windows, run it as administrator.\n"},
    {"diagnostics-url", Command::DiagnosticsUrl, kDevice | kTimeout,
     "diagnostics-url [--serial S] [--timeout SECONDS]",
     "print the diagnostics page's address with the device's state, without opening it",
     "  --timeout SECONDS   wait at most this long for the receiver (default 3)\n"},
    {"chrony-config", Command::ChronyConfig, kDevice | kSocketPattern,
     "chrony-config [--serial S] [--socket-pattern PATTERN]",
     "print chrony.conf lines for the devices as reference clocks",
     "  --socket-pattern PATTERN\n"
     "                      the exporter's --chrony.socket-pattern, when it is given one\n"
     "\n"
     "One SOCK refclock line for each device (all attached ones, or S), at the socket\n"
     "qvr7130_exporter sends its time samples to, with refids QVR1, QVR2, ... in the\n"
     "order of their serial numbers; then, commented out, the PPS refclock line of each\n"
     "for OUT1's 1PPS wired to a serial port's DCD line. Nothing is sent to a device.\n"},
    {"time-offset", Command::TimeOffset, kDevice | kDuration,
     "time-offset [--serial S] [--duration SECONDS]",
     "measure how late the receiver's time arrives, for chrony",
     "  --duration SECONDS  measure this long (default 10)\n"
     "\n"
     "Takes every navigation epoch with a valid time and a fix, and subtracts the time\n"
     "this computer's clock read when its report arrived from the time the receiver\n"
     "named. Prints the median and the interquartile range (the middle half of the\n"
     "samples lies within it) of that offset, and the offset to put on the device's\n"
     "refclock line (chrony) or as fudge time1 (ntpd): the median with its sign turned.\n"
     "This computer's clock must be right to within the accuracy wanted (synchronised\n"
     "over the network, say) while it measures.\n",
     /*measuresTime=*/true},
};

const CommandRow* findCommand(std::string_view name) {
  for (const CommandRow& row : kCommands) {
    if (name == row.name) {
      return &row;
    }
  }
  return nullptr;
}

const CommandRow* rowOf(Command command) {
  for (const CommandRow& row : kCommands) {
    if (row.command == command) {
      return &row;
    }
  }
  return nullptr;
}

// Seconds as digits with an optional fraction, to the millisecond (further digits are
// dropped); no sign, no exponent.
std::optional<milliseconds> parseSeconds(std::string_view text) {
  const std::size_t point = text.find('.');
  const std::string_view whole = text.substr(0, point);
  const std::string_view fraction =
      point == std::string_view::npos ? std::string_view() : text.substr(point + 1);
  if (whole.empty() && fraction.empty()) {
    return std::nullopt;
  }
  long long value = 0;
  for (const char c : whole) {
    if (c < '0' || c > '9') {
      return std::nullopt;
    }
    value = value * 10 + (c - '0');
    if (value > kLongestWait.count()) {
      return std::nullopt;
    }
  }
  long long ms = 0;
  int scale = 100;
  for (const char c : fraction) {
    if (c < '0' || c > '9') {
      return std::nullopt;
    }
    ms += static_cast<long long>(c - '0') * scale;
    scale /= 10;
  }
  const milliseconds result{value * 1000 + ms};
  if (result > kLongestWait) {
    return std::nullopt;
  }
  return result;
}

bool startsLikeSeconds(std::string_view text) {
  return !text.empty() && ((text[0] >= '0' && text[0] <= '9') || text[0] == '.');
}

struct GivenOption {
  std::string name;
  OptionBit bit;
};

}  // namespace

ParsedArguments parseArguments(const std::vector<std::string>& args) {
  ParsedArguments result;
  Options& options = result.options;
  const CommandRow* command = nullptr;
  std::vector<GivenOption> given;

  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg.rfind("--", 0) != 0) {
      if (arg.rfind('-', 0) == 0 && arg.size() > 1) {
        result.error = "unknown option '" + arg + "'";
        return result;
      }
      if (command == nullptr) {
        command = findCommand(arg);
        if (command == nullptr) {
          result.error = "unknown command '" + arg + "'";
          return result;
        }
        options.command = command->command;
      } else if (command->command == Command::Set) {
        options.assignments.push_back(arg);
      } else {
        result.error = "unexpected argument '" + arg + "'";
        return result;
      }
      continue;
    }

    platform::OptionArgument option(args, i);
    const std::string& name = option.name();
    auto seconds = [&](const std::string& text) {
      const auto parsed = parseSeconds(text);
      if (!parsed) {
        result.error = "'" + text + "' is not a number of seconds (0 to 86400)";
      }
      return parsed;
    };

    if ((name == "--help" || name == "--version" || name == "--json") && option.hasInlineValue()) {
      result.error = "option '" + name + "' takes no value";
      return result;
    }
    if (name == "--help") {
      options.help = true;
    } else if (name == "--version") {
      options.version = true;
    } else if (name == "--json") {
      options.json = true;
      given.push_back({name, kJson});
    } else if (name == "--simulate") {
      options.simulatedDevices = option.simulatedDevices(result.error);
      if (!options.simulatedDevices) {
        return result;
      }
      given.push_back({name, kSimulate});
    } else if (name == "--simulate-latency") {
      options.simulatedDelivery = option.simulatedDelivery(result.error);
      if (!options.simulatedDelivery) {
        return result;
      }
      given.push_back({name, kSimulate});
    } else if (name == "--serial") {
      const auto serial = option.value(result.error);
      if (!serial) {
        return result;
      }
      if (serial->empty()) {
        result.error = "option '--serial' needs a serial number";
        return result;
      }
      options.serial = *serial;
      given.push_back({name, kSerial});
    } else if (name == "--timeout") {
      const auto text = option.value(result.error);
      if (!text) {
        return result;
      }
      options.timeout = seconds(*text);
      if (!options.timeout) {
        return result;
      }
      given.push_back({name, kTimeout});
    } else if (name == "--socket-pattern") {
      options.socketPattern = option.value(result.error);
      if (!options.socketPattern) {
        return result;
      }
      if (options.socketPattern->find(refclock::kSerialPlaceholder) == std::string::npos) {
        result.error = "the socket pattern needs %s for the serial number";
        return result;
      }
      given.push_back({name, kSocketPattern});
    } else if (name == "--duration") {
      const auto text = option.value(result.error);
      if (!text) {
        return result;
      }
      const auto duration = seconds(*text);
      if (!duration) {
        return result;
      }
      if (*duration < kShortestDuration) {
        result.error = "the --duration must be at least 1 second";
        return result;
      }
      options.duration = *duration;
      given.push_back({name, kDuration});
    } else if (name == "--watch") {
      // The interval is optional: a following word is taken only when it looks like one.
      const auto text = option.optionalValue(startsLikeSeconds);
      options.watch = text ? seconds(*text) : kDefaultWatchInterval;
      if (!options.watch) {
        return result;
      }
      if (*options.watch < kShortestWatch) {
        result.error = "the --watch interval must be at least 0.01 seconds";
        return result;
      }
      given.push_back({name, kWatch});
    } else {
      result.error = "unknown option '" + arg + "'";
      return result;
    }
  }

  // A request for help or the version is answered whatever else the line lacks.
  if (options.help || options.version) {
    return result;
  }
  if (command == nullptr) {
    result.error = "no command given";
    return result;
  }
  for (const GivenOption& option : given) {
    if ((command->options & option.bit) == 0) {
      result.error = "option '" + option.name + "' does not go with '" + command->name + "'";
      return result;
    }
  }
  if (command->command == Command::Set && options.assignments.empty()) {
    result.error = "'set' needs at least one NAME=VALUE";
  } else if (options.simulatedDelivery && !options.simulatedDevices) {
    result.error = "option '--simulate-latency' goes only with '--simulate'";
  }
  return result;
}

bool runsOnRealTime(const Options& options) {
  const CommandRow* row = rowOf(options.command);
  return options.watch || options.simulatedDelivery || (row != nullptr && row->measuresTime);
}

std::chrono::milliseconds receiverTimeout(const Options& options) {
  if (options.timeout) {
    return *options.timeout;
  }
  return options.command == Command::SetClock ? kDefaultClockTimeout : kDefaultStatusTimeout;
}

std::string commandName(Command command) {
  const CommandRow* row = rowOf(command);
  return row != nullptr ? row->name : "";
}

std::string usageText(const std::string& program, Command command) {
  if (const CommandRow* row = rowOf(command)) {
    std::string text = "Usage: " + program + " " + row->synopsis + "\n";
    text += std::string(1, static_cast<char>(row->purpose[0] - 'a' + 'A')) + (row->purpose + 1) +
            ".\n\n";
    text += row->details;
    if ((row->options & kSimulate) != 0) {
      text +=
          "\n"
          "  --serial S          the device with serial number S; needed when several are\n"
          "                      attached\n"
          "  --simulate[=N]      talk to N simulated devices (default 1) instead of real ones\n"
          "  --simulate-latency L_MS[,J_MS]\n"
          "                      with --simulate: the simulated receivers' frames become\n"
          "                      readable L_MS after their epoch, give or take up to J_MS\n"
          "                      (J_MS < L_MS, L_MS + J_MS < 100), on this computer's clock\n";
    }
    return text;
  }
  std::string text = "Usage: " + program +
                     " COMMAND [options]\n"
                     "Configures and monitors a QVR-7130 GPSDO locked clock source from the "
                     "command line.\n\nCommands:\n";
  for (const CommandRow& row : kCommands) {
    std::string name = "  " + std::string(row.name);
    name.resize(20, ' ');
    text += name + row.purpose + "\n";
  }
  text +=
      "\n"
      "Options:\n"
      "  --serial S          the device with serial number S; needed when several are\n"
      "                      attached\n"
      "  --simulate[=N]      talk to N simulated devices (default 1, serial numbers\n"
      "                      QVR000001, QVR000002, ...) on a virtual clock; a watch, and\n"
      "                      a run with --simulate-latency, on this computer's clock\n"
      "  --simulate-latency L_MS[,J_MS]\n"
      "                      with --simulate: the receivers' frames become readable L_MS\n"
      "                      after their epoch, give or take up to J_MS\n"
      "  --help              show this help, or a command's with the command\n"
      "  --version           show the program's version\n"
      "\n"
      "Exit status: 0 done, 1 the device failed, the search for devices did not finish or\n"
      "the output could not be written, 2 bad usage or a refused value, 3 no such device\n"
      "or more than one to choose from.\n"
      "Run '" +
      program + " COMMAND --help' for a command's options.\n";
  return text;
}

}  // namespace qvr::ctl
