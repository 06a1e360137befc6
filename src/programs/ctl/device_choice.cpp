#include "programs/ctl/device_choice.h"

#include <algorithm>

#include "protocol/printable_text.h"

namespace qvr::ctl {
namespace {

// Serial numbers are the device's own bytes, one character each; the refusal goes to a terminal.
std::string quoted(const std::string& serial) {
  return "'" + protocol::printableText(serial, protocol::TextBytes::Latin1) + "'";
}

std::string quotedList(const std::vector<std::string>& serials) {
  std::string list;
  for (const std::string& serial : serials) {
    list += (list.empty() ? "" : ", ") + quoted(serial);
  }
  return list;
}

}  // namespace

DeviceChoice chooseDevice(const std::vector<std::string>& present,
                          const std::optional<std::string>& wanted) {
  if (present.empty()) {
    return {std::nullopt, "no QVR-7130 is attached (the 'list' command shows what is there)"};
  }
  if (wanted) {
    if (std::find(present.begin(), present.end(), *wanted) == present.end()) {
      return {std::nullopt, "no QVR-7130 with serial number '" + protocol::printableText(*wanted) +
                                "'; attached: " + quotedList(present)};
    }
    return {wanted, {}};
  }
  if (present.size() > 1) {
    return {std::nullopt,
            std::to_string(present.size()) +
                " devices are attached; choose one with --serial: " + quotedList(present)};
  }
  return {present.front(), {}};
}

}  // namespace qvr::ctl
