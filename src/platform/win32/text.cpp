#include "platform/win32/text.h"

namespace qvr::platform::win32 {
namespace {

constexpr wchar_t kLastLatin1 = 0xFF;
constexpr wchar_t kHighSurrogateFirst = 0xD800;
constexpr wchar_t kHighSurrogateLast = 0xDBFF;
constexpr wchar_t kLowSurrogateFirst = 0xDC00;
constexpr wchar_t kLowSurrogateLast = 0xDFFF;

}  // namespace

std::wstring widen(std::string_view text) {
  std::wstring wide;
  wide.reserve(text.size());
  for (const char c : text) {
    // Through unsigned char: a plain char above 0x7F is negative and would sign-extend.
    wide.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
  }
  return wide;
}

std::string narrow(std::wstring_view text) {
  std::string bytes;
  bytes.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const wchar_t unit = text[i];
    if (unit <= kLastLatin1) {
      bytes.push_back(static_cast<char>(static_cast<unsigned char>(unit)));
      continue;
    }
    bytes.push_back('?');
    const bool pairFollows = unit >= kHighSurrogateFirst && unit <= kHighSurrogateLast &&
                             i + 1 < text.size() && text[i + 1] >= kLowSurrogateFirst &&
                             text[i + 1] <= kLowSurrogateLast;
    if (pairFollows) {
      ++i;
    }
  }
  return bytes;
}

}  // namespace qvr::platform::win32
