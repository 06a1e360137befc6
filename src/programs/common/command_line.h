#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "platform/sim/sim_receiver.h"

namespace qvr::platform {

struct Options {
  bool help = false;
  bool version = false;
  bool listDevices = false;             // print what is attached and exit, no window
  std::optional<int> simulatedDevices;  // --simulate[=N]; without it the real devices
  std::optional<std::string> screenshot;
  int ticks = 0;
};

// A whole number from 0 to `max`, digits only.
[[nodiscard]] std::optional<int> parseCount(std::string_view text, int max);

// One "--name" or "--name=VALUE" argument, as every program's command line reads it.
class OptionArgument {
 public:
  // The argument at `index`; value() may move `index` on to the argument after it.
  OptionArgument(const std::vector<std::string>& args, std::size_t& index);

  [[nodiscard]] const std::string& name() const { return name_; }
  [[nodiscard]] bool hasInlineValue() const { return hasInlineValue_; }

  // The value of an option that needs one, both as "--name VALUE" and as "--name=VALUE";
  // nothing, with `error` set, when the line ends before it.
  [[nodiscard]] std::optional<std::string> value(std::string& error);

  // The value of an option whose value may be left out: given after '=', or the next argument
  // when `looksLikeValue(next)` says it is one; nothing when there is none.
  template <typename Predicate>
  [[nodiscard]] std::optional<std::string> optionalValue(Predicate&& looksLikeValue) {
    if (hasInlineValue_) {
      return inlineValue_;
    }
    if (index_ + 1 < args_.size() && looksLikeValue(args_[index_ + 1])) {
      return args_[++index_];
    }
    return std::nullopt;
  }

  // --simulate[=N]: N simulated devices, 1 without a count (which is only ever written after
  // '=', as it is optional); nothing, with `error` set, for a count out of range.
  [[nodiscard]] std::optional<int> simulatedDevices(std::string& error) const;

  // The simulated receivers' delivery, "LATENCY[,JITTER]" in whole milliseconds (the jitter 0
  // when left out); nothing, with `error` set, for one no receiver could keep to.
  [[nodiscard]] std::optional<sim::Delivery> simulatedDelivery(std::string& error);

 private:
  const std::vector<std::string>& args_;
  std::size_t& index_;
  std::string name_;
  bool hasInlineValue_ = false;
  std::string inlineValue_;
};

struct ParsedCommandLine {
  Options options;
  std::string error;  // empty when the arguments were understood
};

// Arguments after the program name.
[[nodiscard]] ParsedCommandLine parseCommandLine(const std::vector<std::string>& args);

[[nodiscard]] std::string usageText(const std::string& program);

// Nothing when everything written to `out` has reached it (it is flushed first); otherwise the
// system's reason, or "write error" where it is not known any more.
[[nodiscard]] std::optional<std::string> outputFailure(std::ostream& out);

// The exit status of a program that has written its answer to `out`: `status`, or 1 when the
// answer did not all reach `out` (a full disk, a closed standard output, a reader that has
// gone), which is then said on `err`. An answer nobody got is a failure a script must see; a
// program that has already failed keeps its own status and message.
[[nodiscard]] int finishOutput(int status, std::ostream& out, std::ostream& err,
                               const std::string& program);

// What both programs do before any window exists: a refused argument is told on `err` with a
// hint (exit status 2), --help prints the usage and --version the program's name and `version`
// on `out` (0, or 1 when they could not be written). Nothing when the program goes on.
[[nodiscard]] std::optional<int> answerWithoutWindow(const ParsedCommandLine& parsed,
                                                     const std::string& program,
                                                     const std::string& version, std::ostream& out,
                                                     std::ostream& err);

}  // namespace qvr::platform
