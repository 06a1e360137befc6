#pragma once

#include <string>

#include "platform/hid.h"

namespace qvr::platform::win32 {

// What `--list-devices` prints: one line per present interface with the QVR-7130's identity,
// in enumeration order, with its path, serial number, firmware and report lengths, or a line
// that says there is none.
[[nodiscard]] std::string listDevices(Hid& hid);

}  // namespace qvr::platform::win32
