#include "platform/linux/wide_text.h"

#include <cstdint>

#include "protocol/bytes.h"

namespace qvr::platform::hidraw {
namespace {

constexpr char32_t kReplacement = 0xFFFD;
constexpr char32_t kSurrogateFirst = 0xD800;
constexpr char32_t kSurrogateLast = 0xDFFF;
constexpr char32_t kLowSurrogateFirst = 0xDC00;
constexpr char32_t kLastBmp = 0xFFFF;
constexpr char32_t kLastCodePoint = 0x10FFFF;
constexpr char32_t kSupplementaryBase = 0x10000;
constexpr int kSurrogateBits = 10;
constexpr char32_t kSurrogateMask = 0x3FF;
constexpr std::size_t kBytesPerUnit = 2;

// UTF-8: the largest code point that fits with 0, 1 and 2 continuation bytes, the lead byte's
// marker for each count, and the six payload bits of every continuation byte.
constexpr int kUtf8MaxTrailing = 3;
constexpr char32_t kUtf8Largest[kUtf8MaxTrailing] = {0x7F, 0x7FF, 0xFFFF};
constexpr char32_t kUtf8Lead[kUtf8MaxTrailing + 1] = {0x00, 0xC0, 0xE0, 0xF0};
constexpr char32_t kUtf8Continuation = 0x80;
constexpr char32_t kUtf8ContinuationMask = 0x3F;
constexpr int kUtf8BitsPerByte = 6;

char32_t codePoint(wchar_t c) {
  // wchar_t is signed on some targets; a negative value is no code point either.
  // The check takes wchar_t for a character type; here it is a code unit whose sign is tested.
  const std::int64_t value = c;  // NOLINT(bugprone-signed-char-misuse)
  if (value < 0 || value > kLastCodePoint ||
      (value >= kSurrogateFirst && value <= kSurrogateLast)) {
    return kReplacement;
  }
  return static_cast<char32_t>(value);
}

}  // namespace

void fillDeviceString(std::wstring_view text, DeviceStringBuffer& out) {
  out.fill(0);
  constexpr std::size_t kUnits = kDeviceStringBytes / kBytesPerUnit;
  std::size_t unit = 0;
  auto put = [&out, &unit](char32_t value) {
    // Only code units reach here: a BMP character or one half of a surrogate pair.
    protocol::writeU16Le(out, unit * kBytesPerUnit, static_cast<std::uint16_t>(value));
    ++unit;
  };
  for (const wchar_t c : text) {
    const char32_t cp = codePoint(c);
    if (cp <= kLastBmp) {
      if (unit == kUnits) {
        break;
      }
      put(cp);
      continue;
    }
    if (kUnits - unit < 2) {
      break;
    }
    const char32_t offset = cp - kSupplementaryBase;
    put(kSurrogateFirst + (offset >> kSurrogateBits));
    put(kLowSurrogateFirst + (offset & kSurrogateMask));
  }
}

std::string utf8(std::wstring_view text) {
  std::string result;
  for (const wchar_t c : text) {
    const char32_t cp = codePoint(c);
    // How many continuation bytes follow the lead byte.
    int trailing = 0;
    while (trailing < kUtf8MaxTrailing && cp > kUtf8Largest[trailing]) {
      ++trailing;
    }
    result.push_back(
        static_cast<char>(kUtf8Lead[trailing] | (cp >> (kUtf8BitsPerByte * trailing))));
    for (int k = trailing - 1; k >= 0; --k) {
      result.push_back(static_cast<char>(kUtf8Continuation |
                                         ((cp >> (kUtf8BitsPerByte * k)) & kUtf8ContinuationMask)));
    }
  }
  return result;
}

}  // namespace qvr::platform::hidraw
