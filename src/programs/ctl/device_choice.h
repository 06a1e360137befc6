#pragma once

#include <optional>
#include <string>
#include <vector>

namespace qvr::ctl {

struct DeviceChoice {
  std::optional<std::string> serial;  // the device to open
  std::string refusal;                // why none was chosen; empty when one was
};

// The device a command talks to, out of the serial numbers present (in enumeration order, as
// the device link reads them: the low byte of each UTF-16 code unit): the one asked for, typed
// as `list` or `status` writes it, or the only one. With several and none asked for, nothing is
// guessed: the refusal lists them, each byte as the character of its number.
[[nodiscard]] DeviceChoice chooseDevice(const std::vector<std::string>& present,
                                        const std::optional<std::string>& wanted);

}  // namespace qvr::ctl
