#include "protocol/printable_text.h"

#include <cstdint>

#include "protocol/device_strings.h"

namespace qvr::protocol {
namespace {

constexpr char32_t kFirstPrintable = 0x20;
constexpr char32_t kDelete = 0x7F;
constexpr char32_t kLastC1 = 0x9F;

bool isControl(char32_t c) {
  return c < kFirstPrintable || (c >= kDelete && c <= kLastC1);
}

void appendHex(std::string& out, const char* prefix, std::uint32_t value, int digits) {
  constexpr char kHex[] = "0123456789abcdef";
  out += prefix;
  for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4) {
    out.push_back(kHex[(value >> shift) & 0xF]);
  }
}

}  // namespace

std::string printableText(std::string_view text, TextBytes bytes) {
  if (bytes == TextBytes::Latin1) {
    return printableText(deviceTextAsUtf8(std::string(text)), TextBytes::Utf8);
  }
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t start = i;
    const std::optional<char32_t> c = nextUtf8(text, i);
    if (!c) {
      appendHex(out, "\\x", static_cast<unsigned char>(text[start]), 2);
    } else if (isControl(*c)) {
      appendHex(out, "\\u", *c, 4);
    } else {
      out.append(text.substr(start, i - start));
    }
  }
  return out;
}

}  // namespace qvr::protocol
