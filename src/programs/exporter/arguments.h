#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/sim/sim_receiver.h"
#include "programs/common/option_parser.h"
#include "programs/exporter/log.h"
#include "refclock/chrony_config.h"
#include "refclock/feed.h"

namespace qvr::exporter {

inline constexpr const char* kProgram = "qvr7130_exporter";
// In the range Prometheus exporters take their default ports from, and on the loopback address
// only: serving another machine is the administrator's choice.
inline constexpr const char* kDefaultListenAddress = "127.0.0.1:9713";
inline constexpr const char* kDefaultTelemetryPath = "/metrics";
// Long enough to ride out a passing shadow, short enough that outputs drifting on their own are
// noticed within the hour's first minutes.
inline constexpr int kDefaultHoldoverAlertSeconds = 300;
inline constexpr int kMaxHoldoverAlertSeconds = 7 * 24 * 3600;

struct Options {
  std::string listenAddress = kDefaultListenAddress;
  std::string webConfigFile;  // --web.config.file; empty: plain HTTP, no passwords
  std::string telemetryPath = kDefaultTelemetryPath;
  LogLevel logLevel = LogLevel::Info;
  LogFormat logFormat = LogFormat::Logfmt;
  // --holdover.alert-after, served as a metric for the alert rule to compare with, so that it is
  // set where the exporter runs rather than in a rule file an upgrade replaces.
  int holdoverAlertSeconds = kDefaultHoldoverAlertSeconds;
  std::optional<int> simulatedDevices;  // --simulate[=N]; without it the real devices
  std::optional<platform::sim::Delivery> simulatedDelivery;  // --simulate.latency
  std::map<std::string, std::string> chronySockets;          // --chrony.socket SERIAL=PATH
  // --chrony.socket-pattern: the socket of every device not named above; empty, none.
  std::string chronySocketPattern{refclock::kDefaultChronySocketPattern};
  std::map<std::string, int> ntpUnits;  // --ntp.shm SERIAL=UNIT
  bool help = false;
  bool version = false;
};

struct ParsedArguments {
  Options options;
  std::string error;  // empty when the arguments were understood
};

// Arguments after the program name.
[[nodiscard]] ParsedArguments parseArguments(const std::vector<std::string>& args);

// The program's options, as it reads them and its help and completion show them.
[[nodiscard]] const platform::OptionParser& optionParser();

// Where the options send this device's time samples.
[[nodiscard]] refclock::FeedTargets feedTargets(const Options& options, const std::string& serial);

}  // namespace qvr::exporter
