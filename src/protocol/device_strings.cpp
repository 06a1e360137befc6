#include "protocol/device_strings.h"

#include <algorithm>
#include <optional>

#include "protocol/bytes.h"

namespace qvr::protocol {
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
constexpr unsigned kUtf8Continuation = 0x80;
constexpr unsigned kUtf8ContinuationLast = 0xBF;
constexpr unsigned kUtf8ContinuationMask = 0x3F;
constexpr int kUtf8BitsPerByte = 6;

// What a lead byte promises: how many continuation bytes follow, the range the first of them
// must lie in (narrower than 80..BF where a wider one would allow an overlong form, a surrogate
// or a value past U+10FFFF), and the payload bits of the lead byte itself. The well-formed
// sequences are exactly those of the Unicode standard's table of them.
struct Lead {
  unsigned first;  // lead bytes first..last
  unsigned last;
  int trailing;
  unsigned secondLow;
  unsigned secondHigh;
  unsigned payloadMask;
};
constexpr Lead kLeads[] = {
    {0xC2, 0xDF, 1, 0x80, 0xBF, 0x1F}, {0xE0, 0xE0, 2, 0xA0, 0xBF, 0x0F},
    {0xE1, 0xEC, 2, 0x80, 0xBF, 0x0F}, {0xED, 0xED, 2, 0x80, 0x9F, 0x0F},
    {0xEE, 0xEF, 2, 0x80, 0xBF, 0x0F}, {0xF0, 0xF0, 3, 0x90, 0xBF, 0x07},
    {0xF1, 0xF3, 3, 0x80, 0xBF, 0x07}, {0xF4, 0xF4, 3, 0x80, 0x8F, 0x07},
};

const Lead* leadOf(unsigned byte) {
  for (const Lead& lead : kLeads) {
    if (byte >= lead.first && byte <= lead.last) {
      return &lead;
    }
  }
  return nullptr;
}

bool scalarValue(char32_t c) {
  return c <= kLastCodePoint && (c < kSurrogateFirst || c > kSurrogateLast);
}

}  // namespace

std::string deviceStringText(std::span<const std::uint8_t> buffer) {
  std::string text;
  // Code units are little-endian, so the low byte is the first of each pair.
  for (std::size_t i = 0; i + 1 < buffer.size(); i += 2) {
    const char low = static_cast<char>(buffer[i]);
    if (low == '\0') {
      break;
    }
    text.push_back(low);
  }
  return text;
}

std::string deviceTextAsUtf8(const std::string& text) {
  constexpr unsigned kAscii = 0x80;
  std::string utf8;
  utf8.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < kAscii) {
      utf8.push_back(c);
    } else {
      utf8.push_back(static_cast<char>(0xC0 | (byte >> 6)));
      utf8.push_back(static_cast<char>(0x80 | (byte & 0x3F)));
    }
  }
  return utf8;
}

namespace {

// The character of well-formed UTF-8 at `i`, or nothing and the length of the maximal ill-formed
// piece there: the lead and the continuation bytes that fitted it, or the one byte that starts
// nothing. The byte that broke a sequence starts the next piece.
struct Utf8Piece {
  std::optional<char32_t> value;
  std::size_t length = 1;
};

Utf8Piece utf8PieceAt(std::string_view bytes, std::size_t i) {
  const auto byte = static_cast<unsigned char>(bytes[i]);
  if (byte < kUtf8Continuation) {
    return {byte, 1};
  }
  const Lead* lead = leadOf(byte);
  if (lead == nullptr) {
    return {std::nullopt, 1};
  }
  char32_t value = byte & lead->payloadMask;
  int taken = 0;
  while (taken < lead->trailing && i + 1 + taken < bytes.size()) {
    const auto next = static_cast<unsigned char>(bytes[i + 1 + taken]);
    const unsigned low = taken == 0 ? lead->secondLow : kUtf8Continuation;
    const unsigned high = taken == 0 ? lead->secondHigh : kUtf8ContinuationLast;
    if (next < low || next > high) {
      break;
    }
    value = (value << kUtf8BitsPerByte) | (next & kUtf8ContinuationMask);
    ++taken;
  }
  const std::size_t length = 1 + static_cast<std::size_t>(taken);
  return {taken == lead->trailing ? std::optional<char32_t>(value) : std::nullopt, length};
}

}  // namespace

std::u32string decodeUtf8(std::string_view bytes) {
  std::u32string text;
  text.reserve(bytes.size());
  for (std::size_t i = 0; i < bytes.size();) {
    const Utf8Piece piece = utf8PieceAt(bytes, i);
    text.push_back(piece.value.value_or(kReplacement));
    i += piece.length;
  }
  return text;
}

std::optional<char32_t> nextUtf8(std::string_view text, std::size_t& i) {
  const Utf8Piece piece = utf8PieceAt(text, i);
  i += piece.value ? piece.length : 1;
  return piece.value;
}

std::string encodeUtf8(std::u32string_view text) {
  std::string result;
  result.reserve(text.size());
  for (char32_t c : text) {
    if (!scalarValue(c)) {
      c = kReplacement;
    }
    // How many continuation bytes follow the lead byte.
    int trailing = 0;
    while (trailing < kUtf8MaxTrailing && c > kUtf8Largest[trailing]) {
      ++trailing;
    }
    result.push_back(static_cast<char>(kUtf8Lead[trailing] | (c >> (kUtf8BitsPerByte * trailing))));
    for (int k = trailing - 1; k >= 0; --k) {
      result.push_back(static_cast<char>(kUtf8Continuation |
                                         ((c >> (kUtf8BitsPerByte * k)) & kUtf8ContinuationMask)));
    }
  }
  return result;
}

void encodeDeviceString(std::u32string_view text, std::span<std::uint8_t> buffer) {
  std::fill(buffer.begin(), buffer.end(), std::uint8_t{0});
  const std::size_t units = buffer.size() / kBytesPerUnit;
  std::size_t unit = 0;
  auto put = [&buffer, &unit](char32_t value) {
    // Only code units reach here: a BMP character or one half of a surrogate pair.
    writeU16Le(buffer, unit * kBytesPerUnit, static_cast<std::uint16_t>(value));
    ++unit;
  };
  for (char32_t c : text) {
    if (!scalarValue(c)) {
      c = kReplacement;
    }
    if (c <= kLastBmp) {
      if (unit == units) {
        break;
      }
      put(c);
      continue;
    }
    if (units - unit < 2) {
      break;
    }
    const char32_t offset = c - kSupplementaryBase;
    put(kSurrogateFirst + (offset >> kSurrogateBits));
    put(kLowSurrogateFirst + (offset & kSurrogateMask));
  }
}

}  // namespace qvr::protocol
