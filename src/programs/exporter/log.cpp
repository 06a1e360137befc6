#include "programs/exporter/log.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <ctime>

namespace qvr::exporter {
namespace {

constexpr std::array<std::string_view, 4> kLevelNames = {"debug", "info", "warn", "error"};
constexpr std::array<std::string_view, 2> kFormatNames = {"logfmt", "json"};

template <typename Value, std::size_t N>
std::optional<Value> named(const std::array<std::string_view, N>& names, std::string_view name) {
  for (std::size_t i = 0; i < N; ++i) {
    if (names[i] == name) {
      return static_cast<Value>(i);
    }
  }
  return std::nullopt;
}

std::string utcText(std::chrono::system_clock::time_point time) {
  const auto milliseconds =
      std::chrono::floor<std::chrono::milliseconds>(time.time_since_epoch()).count();
  const auto seconds = static_cast<std::time_t>(milliseconds / 1000);
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char text[32] = "";
  const std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
  char fraction[8] = "";
  std::snprintf(fraction, sizeof fraction, ".%03dZ", static_cast<int>(milliseconds % 1000));
  return std::string(text, length) + fraction;
}

// Escaped as between double quotes, in logfmt and JSON alike.
std::string escaped(std::string_view text) {
  std::string out;
  for (const char c : text) {
    if (c == '"' || c == '\\') {
      out.push_back('\\');
      out.push_back(c);
    } else if (c == '\n') {
      out += "\\n";
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char code[8] = "";
      std::snprintf(code, sizeof code, "\\u%04x", static_cast<unsigned>(c));
      out += code;
    } else {
      out.push_back(c);
    }
  }
  return out;
}

std::string logfmtValue(std::string_view value) {
  const bool plain = !value.empty() && value.find_first_of(" =\"\\") == std::string_view::npos &&
                     std::none_of(value.begin(), value.end(),
                                  [](char c) { return static_cast<unsigned char>(c) < 0x20; });
  return plain ? std::string(value) : '"' + escaped(value) + '"';
}

}  // namespace

std::optional<LogLevel> logLevelNamed(std::string_view name) {
  return named<LogLevel>(kLevelNames, name);
}

std::optional<LogFormat> logFormatNamed(std::string_view name) {
  return named<LogFormat>(kFormatNames, name);
}

std::string logLine(LogFormat format, std::chrono::system_clock::time_point time, LogLevel level,
                    std::string_view message, const LogFields& fields) {
  LogFields all = {{"time", utcText(time)},
                   {"level", std::string(kLevelNames[static_cast<std::size_t>(level)])},
                   {"msg", std::string(message)}};
  all.insert(all.end(), fields.begin(), fields.end());
  std::string line;
  for (const auto& [key, value] : all) {
    if (format == LogFormat::Json) {
      line += (line.empty() ? "{\"" : ",\"") + escaped(key) + "\":\"" + escaped(value) + '"';
    } else {
      line += (line.empty() ? "" : " ") + key + '=' + logfmtValue(value);
    }
  }
  return format == LogFormat::Json ? line + '}' : line;
}

Logger::Logger(std::ostream& out, LogLevel level, LogFormat format)
    : out_(out), level_(level), format_(format) {}

void Logger::log(LogLevel level, std::string_view message, const LogFields& fields) {
  if (level < level_) {
    return;
  }
  const std::string line =
      logLine(format_, std::chrono::system_clock::now(), level, message, fields);
  const std::lock_guard lock(mutex_);
  out_ << line << std::endl;
}

}  // namespace qvr::exporter
