#pragma once

#include <optional>
#include <string>
#include <vector>

namespace qvr::ctl {

struct DeviceChoice {
  std::optional<std::string> serial;  // the device to open
  std::string refusal;                // why none was chosen; empty when one was
};

// The device a command talks to, out of the serial numbers present (in enumeration order):
// the one asked for, or the only one. With several and none asked for, nothing is guessed:
// the refusal lists them.
[[nodiscard]] DeviceChoice chooseDevice(const std::vector<std::string>& present,
                                        const std::optional<std::string>& wanted);

}  // namespace qvr::ctl
