#pragma once

#include <chrono>
#include <functional>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qvr::exporter {

// The levels and formats of the other Prometheus exporters' --log.level and --log.format.
enum class LogLevel { Debug, Info, Warn, Error };
enum class LogFormat { Logfmt, Json };

[[nodiscard]] std::optional<LogLevel> logLevelNamed(std::string_view name);
[[nodiscard]] std::optional<LogFormat> logFormatNamed(std::string_view name);

using LogFields = std::vector<std::pair<std::string, std::string>>;

// One line: time, level, message and fields, in logfmt
//   time=2026-12-09T12:28:44.123Z level=info msg="device found" serial=QVR000001
// or as one JSON object; the time is UTC to the millisecond.
[[nodiscard]] std::string logLine(LogFormat format, std::chrono::system_clock::time_point time,
                                  LogLevel level, std::string_view message,
                                  const LogFields& fields);

// Writes the lines of `level` and above to a stream (standard error, which the journal keeps
// under systemd), each line whole, from any thread.
class Logger {
 public:
  Logger(std::ostream& out, LogLevel level, LogFormat format);

  void log(LogLevel level, std::string_view message, const LogFields& fields = {});

 private:
  std::ostream& out_;
  LogLevel level_;
  LogFormat format_;
  std::mutex mutex_;
};

}  // namespace qvr::exporter
