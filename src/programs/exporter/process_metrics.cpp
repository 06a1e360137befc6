#include "programs/exporter/process_metrics.h"

#include <sys/resource.h>
#include <unistd.h>

#include <charconv>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace qvr::exporter {
namespace {

// Fields of /proc/PID/stat counted from the one after the command's closing parenthesis
// ("state", field 3 in proc(5)), so a command with spaces or parentheses cannot shift them.
constexpr std::size_t kUserTicks = 11;      // utime, field 14
constexpr std::size_t kSystemTicks = 12;    // stime, field 15
constexpr std::size_t kStartTicks = 19;     // starttime, field 22: ticks after boot
constexpr std::size_t kVirtualSize = 20;    // vsize, field 23: bytes
constexpr std::size_t kResidentPages = 21;  // rss, field 24: pages

std::optional<double> number(std::string_view text) {
  double value = 0.0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc{} || end != text.data() + text.size()) {
    return std::nullopt;
  }
  return value;
}

std::string fileText(const char* path) {
  std::ifstream file(path);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

}  // namespace

std::optional<ProcStat> parseProcStat(std::string_view stat, double bootTime, long ticksPerSecond,
                                      long pageSize) {
  const std::size_t close = stat.rfind(')');
  if (close == std::string_view::npos || ticksPerSecond <= 0) {
    return std::nullopt;
  }
  std::vector<double> fields;
  std::string_view rest = stat.substr(close + 1);
  while (!rest.empty()) {
    const std::size_t start = rest.find_first_not_of(" \n");
    if (start == std::string_view::npos) {
      break;
    }
    rest.remove_prefix(start);
    const std::string_view field = rest.substr(0, rest.find_first_of(" \n"));
    rest.remove_prefix(field.size());
    // The state is a letter; every later field is a number.
    const auto value = fields.empty() ? std::optional<double>(0.0) : number(field);
    if (!value) {
      return std::nullopt;
    }
    fields.push_back(*value);
  }
  if (fields.size() <= kResidentPages) {
    return std::nullopt;
  }
  const auto ticks = static_cast<double>(ticksPerSecond);
  return ProcStat{
      .cpuSeconds = (fields[kUserTicks] + fields[kSystemTicks]) / ticks,
      .residentBytes = fields[kResidentPages] * static_cast<double>(pageSize),
      .virtualBytes = fields[kVirtualSize],
      .startTimeSeconds = bootTime + fields[kStartTicks] / ticks,
  };
}

std::optional<double> parseBootTime(std::string_view procStat) {
  constexpr std::string_view kKey = "\nbtime ";
  const std::size_t at = procStat.find(kKey);
  if (at == std::string_view::npos) {
    return std::nullopt;
  }
  const std::string_view rest = procStat.substr(at + kKey.size());
  return number(rest.substr(0, rest.find('\n')));
}

std::optional<ProcessFacts> ownProcessFacts() {
  const auto bootTime = parseBootTime(fileText("/proc/stat"));
  const auto stat = parseProcStat(fileText("/proc/self/stat"), bootTime.value_or(0.0),
                                  sysconf(_SC_CLK_TCK), sysconf(_SC_PAGESIZE));
  std::error_code error;
  std::filesystem::directory_iterator fds("/proc/self/fd", error);
  if (!bootTime || !stat || error) {
    return std::nullopt;
  }
  double open = 0.0;
  for (auto it = fds; it != std::filesystem::directory_iterator(); it.increment(error)) {
    if (error) {
      return std::nullopt;
    }
    ++open;
  }
  rlimit files{};
  getrlimit(RLIMIT_NOFILE, &files);
  return ProcessFacts{
      .cpuSeconds = stat->cpuSeconds,
      .residentBytes = stat->residentBytes,
      .virtualBytes = stat->virtualBytes,
      .openFds = open,
      .maxFds = static_cast<double>(files.rlim_cur),
      .startTimeSeconds = stat->startTimeSeconds,
  };
}

}  // namespace qvr::exporter
