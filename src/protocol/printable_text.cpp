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

std::optional<char32_t> nextUtf8(std::string_view text, std::size_t& i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  if (lead < 0x80) {
    ++i;
    return lead;
  }
  int length = 0;
  char32_t c = 0;
  char32_t lowest = 0;
  if ((lead & 0xE0) == 0xC0) {
    length = 2;
    c = lead & 0x1F;
    lowest = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3;
    c = lead & 0x0F;
    lowest = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4;
    c = lead & 0x07;
    lowest = 0x10000;
  }
  if (length == 0 || i + static_cast<std::size_t>(length) > text.size()) {
    ++i;
    return std::nullopt;
  }
  for (int k = 1; k < length; ++k) {
    const unsigned char next = byte(i + static_cast<std::size_t>(k));
    if ((next & 0xC0) != 0x80) {
      ++i;
      return std::nullopt;
    }
    c = (c << 6) | (next & 0x3F);
  }
  if (c < lowest || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
    ++i;
    return std::nullopt;
  }
  i += static_cast<std::size_t>(length);
  return c;
}

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
