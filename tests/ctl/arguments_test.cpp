#include "programs/ctl/arguments.h"

#include <gtest/gtest.h>

namespace qvr::ctl {
namespace {

using std::chrono::milliseconds;

TEST(CtlArguments, ReadsCommandsAndOptionsAndRefusesWhatDoesNotFit) {
  struct Case {
    std::vector<std::string> args;
    std::string errorPart;  // empty: accepted
    Command command = Command::None;
    std::optional<int> devices;
    std::optional<std::string> serial;
    std::optional<milliseconds> watch;
    std::optional<milliseconds> timeout;
    std::size_t assignments = 0;
    std::optional<std::string> socketPattern;
    milliseconds duration = kDefaultOffsetDuration;
  };
  const Case cases[] = {
      {{"status"}, "", Command::Status},
      {{"--simulate", "status"}, "", Command::Status, 1},
      {{"status", "--simulate=3", "--serial", "QVR000002"}, "", Command::Status, 3, "QVR000002"},
      {{"--serial=A", "factory-reset"}, "", Command::FactoryReset, {}, "A"},
      {{"status", "--watch"}, "", Command::Status, {}, {}, milliseconds(1000)},
      {{"status", "--watch", "2.5"}, "", Command::Status, {}, {}, milliseconds(2500)},
      {{"status", "--watch=.25", "--json"}, "", Command::Status, {}, {}, milliseconds(250)},
      // Only a word that looks like seconds is taken for the interval.
      {{"--watch", "status"}, "", Command::Status, {}, {}, milliseconds(1000)},
      {{"status", "--watch", "--json"}, "", Command::Status, {}, {}, milliseconds(1000)},
      {{"status", "--watch=0.001"}, "at least 0.01", Command::Status},
      {{"status", "--watch", "1x"}, "not a number of seconds", Command::Status},
      {{"status", "--timeout", "0"}, "", Command::Status, {}, {}, {}, milliseconds(0)},
      {{"set-clock", "--timeout=90"}, "", Command::SetClock, {}, {}, {}, milliseconds(90000)},
      {{"status", "--timeout", "-1"}, "not a number of seconds", Command::Status},
      {{"status", "--timeout", "86401"}, "not a number of seconds", Command::Status},
      {{"status", "--timeout"}, "needs a value", Command::Status},
      {{"status", "--serial="}, "needs a serial number", Command::Status},
      {{"set", "out1=10e6", "fll=on"}, "", Command::Set, {}, {}, {}, {}, 2},
      // A negative value is the setting's business, not an option.
      {{"set", "out1=-5"}, "", Command::Set, {}, {}, {}, {}, 1},
      {{"set"}, "needs at least one NAME=VALUE", Command::Set},
      {{"status", "extra"}, "unexpected argument 'extra'", Command::Status},
      {{"list", "--json"}, "", Command::List},
      {{"list", "--simulate"}, "'--simulate' does not go with 'list'", Command::List, 1},
      {{"list", "--serial", "A"}, "'--serial' does not go with 'list'", Command::List},
      {{"set", "--json", "fll=on"}, "'--json' does not go with 'set'", Command::Set},
      {{"diagnostics-url", "--watch"}, "'--watch' does not go with", Command::DiagnosticsUrl},
      {{"chrony-config", "--simulate=2"}, "", Command::ChronyConfig, 2},
      {{"chrony-config", "--socket-pattern", "/tmp/c.%s.sock"},
       "",
       Command::ChronyConfig,
       {},
       {},
       {},
       {},
       0,
       "/tmp/c.%s.sock"},
      {{"chrony-config", "--socket-pattern=/tmp/c.sock"}, "needs %s", Command::ChronyConfig},
      {{"time-offset", "--duration", "30"},
       "",
       Command::TimeOffset,
       {},
       {},
       {},
       {},
       0,
       {},
       milliseconds(30000)},
      {{"time-offset", "--duration=0.5"}, "at least 1 second", Command::TimeOffset},
      {{"time-offset", "--timeout=5"}, "'--timeout' does not go with", Command::TimeOffset},
      {{"status", "--duration=5"}, "'--duration' does not go with", Command::Status},
      {{"frobnicate"}, "unknown command 'frobnicate'"},
      {{"status", "-v"}, "unknown option '-v'", Command::Status},
      {{"status", "--json=yes"}, "takes no value", Command::Status},
      {{"--simulate=100", "status"}, "0 to 99"},
      {{"--simulate", "--simulate-latency", "20,2", "status"}, "", Command::Status, 1},
      {{"set-clock", "--simulate=2", "--simulate-latency=5"}, "", Command::SetClock, 2},
      {{"status", "--simulate-latency=20"}, "goes only with '--simulate'", Command::Status},
      {{"status", "--simulate", "--simulate-latency=20,20"}, "the jitter less than"},
      {{"list", "--simulate-latency=20"}, "does not go with 'list'", Command::List},
      {{}, "no command given"},
      {{"--simulate"}, "no command given", Command::None, 1},
      // Help and the version are answered whatever else is missing.
      {{"--help"}, ""},
      {{"set", "--help"}, "", Command::Set},
      {{"--version"}, ""},
  };
  for (const Case& c : cases) {
    std::string joined;
    for (const std::string& arg : c.args) {
      joined += arg + ' ';
    }
    SCOPED_TRACE(joined);
    const ParsedArguments parsed = parseArguments(c.args);
    if (c.errorPart.empty()) {
      EXPECT_EQ(parsed.error, "");
    } else {
      EXPECT_NE(parsed.error.find(c.errorPart), std::string::npos) << parsed.error;
      continue;
    }
    const Options& o = parsed.options;
    EXPECT_EQ(o.command, c.command);
    EXPECT_EQ(o.simulatedDevices, c.devices);
    EXPECT_EQ(o.serial, c.serial);
    EXPECT_EQ(o.watch, c.watch);
    EXPECT_EQ(o.timeout, c.timeout);
    EXPECT_EQ(o.assignments.size(), c.assignments);
    EXPECT_EQ(o.socketPattern, c.socketPattern);
    EXPECT_EQ(o.duration, c.duration);
  }
}

TEST(CtlArguments, EachCommandWaitsForTheReceiverAsLongAsItNeeds) {
  EXPECT_EQ(receiverTimeout(parseArguments({"status"}).options), milliseconds(3000));
  EXPECT_EQ(receiverTimeout(parseArguments({"diagnostics-url"}).options), milliseconds(3000));
  // A valid time needs a fix, which takes longer than the first messages.
  EXPECT_EQ(receiverTimeout(parseArguments({"set-clock"}).options), milliseconds(60000));
  EXPECT_EQ(receiverTimeout(parseArguments({"set-clock", "--timeout=0.5"}).options),
            milliseconds(500));
}

// A simulated status comes at once on a virtual clock; lines read as they come, and a latency
// that means something only against the computer's clock, need real time.
TEST(CtlArguments, SimulatedDevicesRunOnRealTimeForAWatchOrALatency) {
  const auto realTime = [](std::vector<std::string> args) {
    return runsOnRealTime(parseArguments(args).options);
  };
  EXPECT_FALSE(realTime({"--simulate", "status"}));
  EXPECT_FALSE(realTime({"--simulate", "set-clock"}));
  EXPECT_TRUE(realTime({"--simulate", "status", "--watch"}));
  EXPECT_TRUE(realTime({"--simulate", "--simulate-latency=20,2", "set-clock"}));
}

TEST(CtlArguments, EveryCommandHasItsOwnHelp) {
  const std::string overview = usageText(Command::None);
  for (const Command command :
       {Command::List, Command::Status, Command::Set, Command::FactoryReset, Command::SetClock,
        Command::DiagnosticsUrl, Command::ChronyConfig, Command::TimeOffset}) {
    const std::string name = commandName(command);
    SCOPED_TRACE(name);
    EXPECT_NE(overview.find("  " + name + " "), std::string::npos);
    EXPECT_NE(usageText(command).find("Usage: qvr7130ctl " + name), std::string::npos);
  }
}

}  // namespace
}  // namespace qvr::ctl
