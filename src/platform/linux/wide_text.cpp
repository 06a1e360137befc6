#include "platform/linux/wide_text.h"

#include <cstdint>

#include "protocol/device_strings.h"

namespace qvr::platform::hidraw {

std::string utf8(std::wstring_view text) {
  constexpr char32_t kReplacement = 0xFFFD;
  std::u32string codePoints;
  codePoints.reserve(text.size());
  for (const wchar_t c : text) {
    // wchar_t is signed on some targets; a negative value is no code point either. The check
    // takes wchar_t for a character type; here it is a code unit whose sign is tested.
    const std::int64_t value = c;  // NOLINT(bugprone-signed-char-misuse)
    codePoints.push_back(value < 0 ? kReplacement : static_cast<char32_t>(value));
  }
  return protocol::encodeUtf8(codePoints);
}

}  // namespace qvr::platform::hidraw
