#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/sim/sim_receiver.h"

namespace qvr::exporter {

inline constexpr const char* kProgram = "qvr7130_exporter";
// In the range Prometheus exporters take their default ports from, and on the loopback address
// only: serving another machine is the administrator's choice.
inline constexpr const char* kDefaultListenAddress = "127.0.0.1:9713";

struct Options {
  std::string listenAddress = kDefaultListenAddress;
  std::optional<int> simulatedDevices;  // --simulate[=N]; without it the real devices
  std::optional<platform::sim::Delivery> simulatedDelivery;  // --simulate.latency
  bool help = false;
  bool version = false;
};

struct ParsedArguments {
  Options options;
  std::string error;  // empty when the arguments were understood
};

// Arguments after the program name.
[[nodiscard]] ParsedArguments parseArguments(const std::vector<std::string>& args);

[[nodiscard]] std::string usageText();

}  // namespace qvr::exporter
