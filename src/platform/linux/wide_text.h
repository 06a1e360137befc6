#pragma once

#include <string>
#include <string_view>

namespace qvr::platform::hidraw {

// hidapi hands its reasons over as wchar_t, one code point each on Linux; this is the same text
// as UTF-8, for a message. A value that is no code point becomes U+FFFD.
[[nodiscard]] std::string utf8(std::wstring_view text);

}  // namespace qvr::platform::hidraw
