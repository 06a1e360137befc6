#pragma once

#include <string>

#include "platform/hid.h"

namespace qvr::protocol {

// Device strings arrive as UTF-16; the text keeps the low byte of each code unit as one ANSI
// character and ends at the first code unit whose low byte is zero.
[[nodiscard]] std::string deviceStringText(const platform::DeviceStringBuffer& buffer);

}  // namespace qvr::protocol
