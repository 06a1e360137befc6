#include "programs/ctl/device_choice.h"

#include <algorithm>

namespace qvr::ctl {
namespace {

std::string quotedList(const std::vector<std::string>& serials) {
  std::string list;
  for (const std::string& serial : serials) {
    list += (list.empty() ? "" : ", ") + ("'" + serial + "'");
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
      return {std::nullopt,
              "no QVR-7130 with serial number '" + *wanted + "'; attached: " + quotedList(present)};
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
