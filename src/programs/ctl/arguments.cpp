#include "programs/ctl/arguments.h"

#include <string_view>

#include "programs/common/command_line.h"
#include "programs/ctl/program.h"
#include "refclock/chrony_config.h"

namespace qvr::ctl {
namespace {

using platform::DeclaredOption;
using platform::ValueForm;
using std::chrono::milliseconds;

constexpr milliseconds kLongestWait{24LL * 60 * 60 * 1000};
// The poll cadence: a shorter interval would print the same line twice.
constexpr milliseconds kShortestWatch{10};
// The receiver names its time at least once a second.
constexpr milliseconds kShortestDuration{1000};

struct CommandRow {
  const char* name;
  Command command;
  // It measures the computer's time against the receiver's, so simulated devices run on
  // real time.
  bool measuresTime = false;
};

constexpr CommandRow kCommands[] = {
    {"list", Command::List},
    {"status", Command::Status},
    {"set", Command::Set},
    {"factory-reset", Command::FactoryReset},
    {"set-clock", Command::SetClock},
    {"diagnostics-url", Command::DiagnosticsUrl},
    {"chrony-config", Command::ChronyConfig},
    {"time-offset", Command::TimeOffset, /*measuresTime=*/true},
    {"log", Command::Log, /*measuresTime=*/true},
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

DeclaredOption jsonOption() {
  return {"--json", "one JSON object (see /usr/share/doc/qvr7130/qvr7130ctl-json.md)"};
}

DeclaredOption timeoutOption(const std::string& description) {
  return {"--timeout", description, "SECONDS", ValueForm::Required};
}

// The options of every command that talks to a device, and of the program itself.
std::vector<DeclaredOption> deviceOptions(std::vector<DeclaredOption> own, bool realTimeNote) {
  own.push_back({"--serial", "the device with serial number S; needed when several are attached",
                 "S", ValueForm::Required});
  own.push_back(platform::simulateOption(
      realTimeNote ? "talk to N simulated devices (default 1, serial numbers QVR000001, "
                     "QVR000002, ...) on a virtual clock; a watch, and a run with "
                     "--simulate-latency, on this computer's clock"
                   : "talk to N simulated devices (default 1) instead of real ones"));
  own.push_back({"--simulate-latency",
                 "with --simulate: the simulated receivers' frames become readable L_MS after "
                 "their epoch, give or take up to J_MS (J_MS < L_MS, L_MS + J_MS < 100), on this "
                 "computer's clock",
                 "L_MS[,J_MS]", ValueForm::Required});
  return own;
}

platform::DeclaredCommand command(const char* name, std::string synopsis, std::string purpose,
                                  std::vector<DeclaredOption> options, std::string notes = {},
                                  bool takesOperands = false) {
  return {.name = name,
          .synopsis = std::move(synopsis),
          .purpose = std::move(purpose),
          .options = std::move(options),
          .notes = std::move(notes),
          .takesOperands = takesOperands};
}

std::vector<platform::DeclaredCommand> commandDeclarations() {
  return {
      command("list", "list [--json]",
              "List the attached devices: path, serial number, firmware, whether they open.",
              {jsonOption()},
              "Lists the devices attached to this computer; it does not go with --simulate.\n"),
      command("status", "status [--serial S] [--json] [--watch [SECONDS]] [--timeout SECONDS]",
              "Show the device, every setting and the receiver.",
              deviceOptions(
                  {jsonOption(),
                   {"--watch",
                    "then one line (with --json one object a line) every SECONDS (default 1) "
                    "until interrupted, or until a line cannot be written (exit status 1); "
                    "SECONDS is taken from the next word only when it starts with a digit or '.'",
                    "SECONDS", ValueForm::NextIfLike, "1", startsLikeSeconds},
                   timeoutOption("wait at most this long for the receiver's NAV-PVT, "
                                 "NAV-CLOCK and NAV-SAT and its fix (default 3); what did not "
                                 "come is null")},
                  false)),
      command("set", "set [--serial S] [--] NAME=VALUE...",
              "Change settings, all checked before anything is sent.", deviceOptions({}, false),
              "Settings, changed in this order with 10 ms between two changes:\n"
              "  outputs=on|off           the outputs enabled\n"
              "  out1-low-power=on|off    low output power on OUT1 (firmware 1.03 on)\n"
              "  out2-low-power=on|off    low output power on OUT2 (firmware 1.03 on)\n"
              "  out1=HZ                  OUT1's frequency, '.' as the decimal point, exponent\n"
              "  out2=HZ                  allowed; 0.9 Hz up to, not including, 1600000001 Hz\n"
              "  fll=on|off               FLL mode\n"
              "  pps=on|off               1PPS on OUT1\n"
              "  nmea=on|off              NMEA sentences on OUT1 (firmware 1.08 on)\n"
              "  gnss=LIST|none           satellite systems, a comma-separated list of gps,\n"
              "                           sbas, galileo, beidou, glonass; beidou and glonass\n"
              "                           together only without gps, sbas and galileo\n"
              "                           (firmware 1.07 on)\n"
              "  dynamic-model=MODEL      stationary, portable or airborne (firmware 1.07 on)\n"
              "\n"
              "Each change is made as the window's user makes it, with what the window's\n"
              "rules do besides (1PPS or NMEA on clears low power on OUT1; either off reads\n"
              "the device back); a value already set sends nothing. A value that is refused,\n"
              "or a change the window would not allow now (1PPS while NMEA is on), sends\n"
              "nothing at all (exit status 2).\n",
              /*takesOperands=*/true),
      command("factory-reset", "factory-reset [--serial S]",
              "Press the window's Factory reset button.", deviceOptions({}, false),
              "Outputs on, both outputs 10 MHz, FLL, 1PPS, NMEA and low power off, satellite\n"
              "systems GPS, SBAS, Galileo and GLONASS, dynamic model stationary, as far as the\n"
              "firmware has them.\n"),
      command("set-clock", "set-clock [--serial S] [--timeout SECONDS]",
              "Set this computer's clock from the receiver's time, once it is known fresh.",
              deviceOptions({timeoutOption("wait at most this long for a valid time (default 60)")},
                            false),
              "A time counts once the next epoch confirms it: reports that waited while the\n"
              "program was stopped would set the clock back. A simulated device never sets it.\n"
              "\n"
              "On Linux, without the right to set the clock (root, or CAP_SYS_TIME), systemd's\n"
              "time service is asked: polkit asks for the administrator's password, and it\n"
              "refuses while automatic time synchronisation is on. On Windows, run it as\n"
              "administrator.\n"),
      command("diagnostics-url", "diagnostics-url [--serial S] [--timeout SECONDS]",
              "Print the diagnostics page's address with the device's state, without opening "
              "it.",
              deviceOptions({timeoutOption("wait at most this long for the receiver (default 3)")},
                            false),
              "The address carries, to the maker's site when it is opened, the device's serial\n"
              "number, its position rounded to 0.01 degree and its altitude to the metre, its\n"
              "firmware and settings (frequencies, FLL, NMEA, satellite systems, dynamic\n"
              "model), the receiver's state (satellites used, signal strength, status, clock\n"
              "drift, antenna current), this program's version and this computer's operating\n"
              "system.\n"),
      command("chrony-config", "chrony-config [--serial S] [--socket-pattern PATTERN]",
              "Print chrony.conf lines for the devices as reference clocks.",
              deviceOptions({{"--socket-pattern",
                              "the exporter's --chrony.socket-pattern, when it is given one",
                              "PATTERN", ValueForm::Required}},
                            false),
              "One SOCK refclock line for each device (all attached ones, or S), at the socket\n"
              "qvr7130_exporter sends its time samples to, with refids QVR1, QVR2, ... in the\n"
              "order of their serial numbers; then, commented out, the PPS refclock line of\n"
              "each for OUT1's 1PPS wired to a serial port's DCD line. Nothing is sent to a\n"
              "device.\n"),
      command("time-offset", "time-offset [--serial S] [--duration SECONDS]",
              "Measure how late the receiver's time arrives, for chrony.",
              deviceOptions({{"--duration", "measure this long (default 10)", "SECONDS",
                              ValueForm::Required}},
                            false),
              "Takes every navigation epoch with a valid time and a fix, and subtracts the time\n"
              "this computer's clock read when its report arrived from the time the receiver\n"
              "named. Prints the median and the interquartile range (the middle half of the\n"
              "samples lies within it) of that offset, and the offset to put on the device's\n"
              "refclock line (chrony) or as fudge time1 (ntpd): the median with its sign\n"
              "turned. This computer's clock must be right to within the accuracy wanted\n"
              "(synchronised over the network, say) while it measures.\n"),
      command("log", "log [--serial S] [--interval SECONDS] [--csv]",
              "Write the receiver's state, one line every interval, until interrupted.",
              deviceOptions(
                  {{"--interval", "between two lines (default 10)", "SECONDS", ValueForm::Required},
                   {"--csv", "CSV with a header line, rather than a JSON object a line"}},
                  false),
              "For long-term logging without Prometheus: the columns of the exporter's\n"
              "history (UTC, answering, fix, lock, holdover, satellites used, average C/N0,\n"
              "drift, clock bias, time accuracy, satellites per system), empty or null where\n"
              "the device did not say. Ends on Ctrl-C, or with exit status 1 when a line\n"
              "cannot be written.\n"),
  };
}

}  // namespace

const platform::OptionParser& optionParser() {
  static const platform::OptionParser parser(
      kProgram,
      {.synopsis = "COMMAND [options]",
       .purpose = "Configures and monitors a QVR-7130 GPSDO locked clock source from the command "
                  "line.",
       .options = deviceOptions({}, true),
       .notes = "Exit status: 0 done, 1 the device failed, the search for devices did not finish\n"
                "or the output could not be written, 2 bad usage or a refused value, 3 no such\n"
                "device or more than one to choose from.\n"
                "Run 'qvr7130ctl COMMAND --help' for a command's options.\n"},
      commandDeclarations());
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
    if (const CommandRow* row = findCommand(e.command())) {
      options.command = row->command;
    }
    return result;
  }
  const CommandRow* command = findCommand(line.command);
  if (command != nullptr) {
    options.command = command->command;
  }
  options.help = line.given("--help");
  options.version = line.given("--version");
  options.json = line.given("--json");
  options.serial = line.last("--serial");
  options.socketPattern = line.last("--socket-pattern");
  options.assignments = line.operands;
  // An option's seconds, no fewer than `shortest`: nothing when it is not given, or when the line
  // is refused, by it or by an option read before it (the first refusal is the one said).
  const auto secondsOption = [&](const std::string& name, milliseconds shortest,
                                 const std::string& tooShort) -> std::optional<milliseconds> {
    const auto text = line.last(name);
    if (!text || !result.error.empty()) {
      return std::nullopt;
    }
    const auto parsed = parseSeconds(*text);
    if (!parsed) {
      result.error = "'" + *text + "' is not a number of seconds (0 to 86400)";
    } else if (*parsed < shortest) {
      result.error = tooShort;
    }
    return result.error.empty() ? parsed : std::nullopt;
  };
  const auto fail = [&](std::string error) {
    result.error = std::move(error);
    return result;
  };

  if (const auto count = line.last("--simulate")) {
    options.simulatedDevices = platform::simulatedDevices("--simulate", *count, result.error);
    if (!options.simulatedDevices) {
      return result;
    }
  }
  if (const auto delivery = line.last("--simulate-latency")) {
    options.simulatedDelivery =
        platform::simulatedDelivery("--simulate-latency", *delivery, result.error);
    if (!options.simulatedDelivery) {
      return result;
    }
  }
  if (options.serial && options.serial->empty()) {
    return fail("option '--serial' needs a serial number");
  }
  options.timeout = secondsOption("--timeout", milliseconds{0}, "");
  if (!result.error.empty()) {
    return result;
  }
  if (options.socketPattern &&
      options.socketPattern->find(refclock::kSerialPlaceholder) == std::string::npos) {
    return fail("the socket pattern needs %s for the serial number");
  }
  options.duration =
      secondsOption("--duration", kShortestDuration, "the --duration must be at least 1 second")
          .value_or(options.duration);
  options.interval =
      secondsOption("--interval", kShortestDuration, "the --interval must be at least 1 second")
          .value_or(options.interval);
  options.watch = secondsOption("--watch", kShortestWatch,
                                "the --watch interval must be at least 0.01 seconds");
  if (!result.error.empty()) {
    return result;
  }
  options.csv = line.given("--csv");

  // A request for help or the version is answered whatever else the line lacks.
  if (options.help || options.version) {
    return result;
  }
  if (command == nullptr) {
    return fail("no command given");
  }
  if (command->command == Command::Set && options.assignments.empty()) {
    return fail("'set' needs at least one NAME=VALUE");
  }
  if (options.simulatedDelivery && !options.simulatedDevices) {
    return fail("option '--simulate-latency' goes only with '--simulate'");
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

std::string usageText(Command command) {
  return optionParser().help(commandName(command));
}

}  // namespace qvr::ctl
