#include "refclock/chrony_config.h"

#include <algorithm>
#include <utility>

namespace qvr::refclock {
namespace {

constexpr std::size_t kRefidLength = 4;

bool pathSafe(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
         c == '-' || c == '_';
}

}  // namespace

std::string chronySocketPath(std::string_view pattern, std::string_view serial) {
  std::string safe(serial);
  std::replace_if(
      safe.begin(), safe.end(), [](char c) { return !pathSafe(c); }, '_');
  std::string path;
  for (std::size_t at = 0;;) {
    const std::size_t found = pattern.find(kSerialPlaceholder, at);
    path += pattern.substr(at, found - at);
    if (found == std::string_view::npos) {
      return path;
    }
    path += safe;
    at = found + kSerialPlaceholder.size();
  }
}

std::string refid(std::string_view prefix, std::size_t number) {
  const std::string digits = std::to_string(number);
  const std::size_t room = kRefidLength - std::min(digits.size(), kRefidLength);
  return std::string(prefix.substr(0, room)) + digits;
}

std::vector<ChronyRefclock> numberedRefclocks(std::vector<std::string> serials) {
  std::sort(serials.begin(), serials.end());
  std::vector<ChronyRefclock> refclocks;
  refclocks.reserve(serials.size());
  for (std::string& serial : serials) {
    refclocks.push_back({std::move(serial), refclocks.size() + 1});
  }
  return refclocks;
}

std::string chronyConfig(const std::vector<ChronyRefclock>& refclocks, std::string_view pattern) {
  std::string text =
      "# QVR-7130s as chrony reference clocks, fed by qvr7130_exporter; set each offset\n"
      "# to what 'qvr7130ctl time-offset --serial S' recommends for that device.\n";
  for (const ChronyRefclock& r : refclocks) {
    text += "refclock SOCK " + chronySocketPath(pattern, r.serial) + " refid " +
            refid("QVR", r.number) + " delay 0.01 offset 0.0\n";
  }
  text +=
      "#\n"
      "# A device whose OUT1 1PPS (qvr7130ctl set pps=on) is wired to a serial port's DCD\n"
      "# line, made a PPS device by the kernel's pps-ldisc (ldattach pps /dev/ttyS0 gives\n"
      "# /dev/pps0), is good to microseconds: add noselect to its SOCK line, which then only\n"
      "# numbers the pulses, and take its PPS line in.\n";
  for (std::size_t i = 0; i < refclocks.size(); ++i) {
    const std::size_t number = refclocks[i].number;
    text += "#refclock PPS /dev/pps" + std::to_string(i) + " lock " + refid("QVR", number) +
            " refid " + refid("PPS", number) + "\n";
  }
  return text;
}

}  // namespace qvr::refclock
