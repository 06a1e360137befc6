#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <ostream>
#include <string>

#include "platform/hid.h"
#include "platform/system.h"
#include "programs/ctl/arguments.h"
#include "programs/ctl/listing.h"

namespace qvr::ctl {

inline constexpr const char* kProgram = "qvr7130ctl";

// Exit statuses.
inline constexpr int kDone = 0;
inline constexpr int kDeviceFailed = 1;
inline constexpr int kBadUsage = 2;  // also a refused value
inline constexpr int kNoDevice = 3;  // also a choice the program will not guess

// What a run is given by its composition root.
struct Environment {
  platform::Hid& hid;
  platform::System& system;  // every wait goes through its sleep, so tests run on a virtual clock
  std::ostream& out;         // data
  std::ostream& err;         // messages
  std::function<Listing()> listDevices;
  std::function<bool()> interrupted;  // true once the user asked the program to stop
  bool simulated = false;             // the devices are simulated: the clock is left alone
  // UTC now, in whole seconds since 1970, for the lines of a log.
  std::function<std::int64_t()> unixSeconds = [] {
    return std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now())
        .time_since_epoch()
        .count();
  };
};

// Bad arguments (2), --help and --version (0) are answered here, before any device is looked
// for; nothing when the command is to run.
[[nodiscard]] std::optional<int> answerWithoutDevice(const ParsedArguments& parsed,
                                                     const std::string& version, std::ostream& out,
                                                     std::ostream& err);

// Runs the command; the exit status.
[[nodiscard]] int run(const Options& options, Environment& env);

}  // namespace qvr::ctl
