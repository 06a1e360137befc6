#pragma once

#include <string>
#include <string_view>

#include "platform/hid.h"

namespace qvr::platform::hidraw {

// hidapi hands strings over as wchar_t, one code point each on Linux. The seam wants the
// UTF-16 little-endian buffer that Windows fills: zero-filled, at most 50 code units, and
// zero-terminated only when the text leaves room. A code point that needs a surrogate pair
// and has room for one unit only is left out rather than cut in half; a value that is no
// code point becomes U+FFFD.
void fillDeviceString(std::wstring_view text, DeviceStringBuffer& out);

// The same text as UTF-8, for printing to a terminal.
[[nodiscard]] std::string utf8(std::wstring_view text);

}  // namespace qvr::platform::hidraw
