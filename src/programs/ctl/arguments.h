#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "platform/sim/sim_receiver.h"
#include "programs/common/option_parser.h"

namespace qvr::ctl {

enum class Command {
  None,
  List,
  Status,
  Set,
  FactoryReset,
  SetClock,
  DiagnosticsUrl,
  ChronyConfig,
  TimeOffset,
  Log
};

inline constexpr std::chrono::milliseconds kDefaultStatusTimeout{3000};
// A receiver straight from a cold start may take half a minute and more to its first fix.
inline constexpr std::chrono::milliseconds kDefaultClockTimeout{60000};
inline constexpr std::chrono::milliseconds kDefaultWatchInterval{1000};
// Ten navigation epochs: enough for a median that one late report does not move.
inline constexpr std::chrono::milliseconds kDefaultOffsetDuration{10000};
// As the exporter's history keeps it.
inline constexpr std::chrono::milliseconds kDefaultLogInterval{10000};

struct Options {
  Command command = Command::None;
  bool help = false;
  bool version = false;
  std::optional<int> simulatedDevices;  // --simulate[=N]; without it the real devices
  std::optional<platform::sim::Delivery> simulatedDelivery;  // --simulate-latency
  std::optional<std::string> serial;
  bool json = false;
  std::optional<std::chrono::milliseconds> watch;    // the interval between two lines
  std::optional<std::chrono::milliseconds> timeout;  // as given; the command's default without
  std::vector<std::string> assignments;              // set: NAME=VALUE, in the order given
  std::optional<std::string> socketPattern;          // chrony-config: the exporter's pattern
  std::chrono::milliseconds duration = kDefaultOffsetDuration;  // time-offset's measurement
  std::chrono::milliseconds interval = kDefaultLogInterval;     // log: between two lines
  bool csv = false;                                             // log: CSV rather than JSON
};

struct ParsedArguments {
  Options options;
  std::string error;  // empty when the arguments were understood
};

// Arguments after the program name: options and the command in any order, then the command's
// operands. Each option is checked against the command it is given with.
[[nodiscard]] ParsedArguments parseArguments(const std::vector<std::string>& args);

// Whether simulated devices run on this computer's clock rather than a virtual one that the
// program's own waits advance: for a watch, whose lines are read as they come, for a command
// that measures time, and whenever the receivers are given a delivery latency.
[[nodiscard]] bool runsOnRealTime(const Options& options);

// The wait a command allows for the receiver, --timeout or the command's default.
[[nodiscard]] std::chrono::milliseconds receiverTimeout(const Options& options);

// The word a command is given by: "factory-reset"; empty for Command::None.
[[nodiscard]] std::string commandName(Command command);

// The usage of one command, or of the whole program for Command::None.
[[nodiscard]] std::string usageText(Command command);

// The program's options and commands, as it reads them and its help and completion show them.
[[nodiscard]] const platform::OptionParser& optionParser();

}  // namespace qvr::ctl
