#pragma once

#include <optional>
#include <string_view>

namespace qvr::exporter {

// The exporter's own process, as every Prometheus client library reports it.
struct ProcessFacts {
  double cpuSeconds = 0.0;  // user and system
  double residentBytes = 0.0;
  double virtualBytes = 0.0;
  double openFds = 0.0;
  double maxFds = 0.0;
  double startTimeSeconds = 0.0;  // Unix time
};

// What /proc/PID/stat says, given the system's boot time (/proc/stat's btime), its clock ticks
// and page size; nothing when the text is not such a line.
struct ProcStat {
  double cpuSeconds = 0.0;
  double residentBytes = 0.0;
  double virtualBytes = 0.0;
  double startTimeSeconds = 0.0;
};
[[nodiscard]] std::optional<ProcStat> parseProcStat(std::string_view stat, double bootTime,
                                                    long ticksPerSecond, long pageSize);

// /proc/stat's "btime" line: the boot time in Unix seconds.
[[nodiscard]] std::optional<double> parseBootTime(std::string_view procStat);

// This process's facts, read from /proc/self; nothing when /proc cannot be read.
[[nodiscard]] std::optional<ProcessFacts> ownProcessFacts();

}  // namespace qvr::exporter
