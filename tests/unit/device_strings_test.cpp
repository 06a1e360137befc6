// Device strings between the kernel's UTF-8, the seam's UTF-16 buffer and the window's low-byte
// text. One seeded generator strings together characters and ill-formed pieces whose decoding
// is known, so every case carries its own expected result.

#include "protocol/device_strings.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace qvr::protocol {
namespace {

constexpr std::size_t kBufferBytes = 100;  // the seam's device string buffer
constexpr std::size_t kBufferUnits = kBufferBytes / 2;
using Buffer = std::array<std::uint8_t, kBufferBytes>;

// A piece of input and what it decodes to: one character in UTF-8 and UTF-16, or an ill-formed
// sequence and the U+FFFD (and following character) each maximal ill-formed part gives.
struct Piece {
  std::string utf8;
  std::u32string decoded;
  std::u16string utf16;  // of `decoded`
};

const Piece kCharacters[] = {
    {"A", U"A", u"A"},
    {"\n", U"\n", u"\n"},
    {"\x01", U"\x01", u"\x01"},
    {"\x7F", U"\x7F", u"\x7F"},
    {"\xC2\x80", U"\u0080", u"\u0080"},
    {"\xC3\xA9", U"\u00E9", u"\u00E9"},  // é
    {"\xC4\xB1", U"\u0131", u"\u0131"},  // ı: low byte 0x31
    {"\xC4\x80", U"\u0100", u"\u0100"},  // Ā: low byte 0, which ends the low-byte text
    {"\xDF\xBF", U"\u07FF", u"\u07FF"},
    {"\xE0\xA0\x80", U"\u0800", u"\u0800"},
    {"\xE2\x82\xAC", U"\u20AC", u"\u20AC"},  // €
    {"\xED\x9F\xBF", U"\uD7FF", u"\uD7FF"},
    {"\xEE\x80\x80", U"\uE000", u"\uE000"},
    {"\xEF\xBF\xBD", U"\uFFFD", u"\uFFFD"},
    {"\xEF\xBF\xBF", U"\uFFFF", u"\uFFFF"},
    {"\xF0\x90\x80\x80", U"\U00010000", u"\xD800\xDC00"},
    {"\xF0\x9F\x98\x80", U"\U0001F600", u"\xD83D\xDE00"},
    {"\xF4\x8F\xBF\xBF", U"\U0010FFFF", u"\xDBFF\xDFFF"},
};

// Each ill-formed piece is followed by nothing that could complete it, so pieces combine freely.
const Piece kIllFormed[] = {
    {"\x80", U"\uFFFD", u"\uFFFD"},                                  // stray continuation
    {"\xBF\xBF", U"\uFFFD\uFFFD", u"\uFFFD\uFFFD"},                  // two of them
    {"\xC0\xAF", U"\uFFFD\uFFFD", u"\uFFFD\uFFFD"},                  // overlong '/'
    {"\xC1\xBF", U"\uFFFD\uFFFD", u"\uFFFD\uFFFD"},                  // overlong
    {"\xE0\x80\xAF", U"\uFFFD\uFFFD\uFFFD", u"\uFFFD\uFFFD\uFFFD"},  // overlong, 3 bytes
    {"\xED\xA0\x80", U"\uFFFD\uFFFD\uFFFD", u"\uFFFD\uFFFD\uFFFD"},  // a surrogate
    {"\xF4\x90\x80\x80", U"\uFFFD\uFFFD\uFFFD\uFFFD", u"\uFFFD\uFFFD\uFFFD\uFFFD"},  // > U+10FFFF
    {"\xF5\x80", U"\uFFFD\uFFFD", u"\uFFFD\uFFFD"},                                  // no lead byte
    {"\xFF", U"\uFFFD", u"\uFFFD"},
    {"\xC3!", U"\uFFFD!", u"\uFFFD!"},      // cut short
    {"\xE2\x82!", U"\uFFFD!", u"\uFFFD!"},  // one part, not two
    {"\xF0\x9F\x98\n", U"\uFFFD\n", u"\uFFFD\n"},
    {"\xE2\xC3\xA9", U"\uFFFD\u00E9", u"\uFFFD\u00E9"},  // a lead breaks it
};

struct Generated {
  std::string utf8;
  std::u32string decoded;
  std::u16string utf16;
  bool wellFormed = true;
};

Generated generate(std::mt19937_64& random, bool withIllFormed) {
  Generated g;
  // Half of them end near the buffer's 50 units, where a text is cut.
  const bool nearTheEnd = std::bernoulli_distribution(0.5)(random);
  const std::size_t length =
      std::uniform_int_distribution<std::size_t>(nearTheEnd ? 44 : 0, nearTheEnd ? 52 : 70)(random);
  std::uniform_int_distribution<std::size_t> character(0, std::size(kCharacters) - 1);
  std::uniform_int_distribution<std::size_t> illFormed(0, std::size(kIllFormed) - 1);
  std::bernoulli_distribution broken(withIllFormed ? 0.2 : 0.0);
  for (std::size_t i = 0; i < length; ++i) {
    const bool bad = broken(random);
    const Piece& piece = bad ? kIllFormed[illFormed(random)] : kCharacters[character(random)];
    g.utf8 += piece.utf8;
    g.decoded += piece.decoded;
    g.utf16 += piece.utf16;
    g.wellFormed = g.wellFormed && !bad;
  }
  return g;
}

// What the buffer must hold for these code units: as many as fit, a pair never split, the rest
// zero.
std::u16string expectedUnits(const std::u16string& units) {
  std::u16string kept;
  for (std::size_t i = 0; i < units.size(); ++i) {
    const bool high = units[i] >= 0xD800 && units[i] <= 0xDBFF;
    if (kept.size() + (high ? 2 : 1) > kBufferUnits) {
      break;
    }
    kept += units.substr(i, high ? 2 : 1);
    i += high ? 1 : 0;
  }
  kept.resize(kBufferUnits, u'\0');
  return kept;
}

std::u16string unitsOf(const Buffer& buffer) {
  std::u16string units;
  for (std::size_t i = 0; i < buffer.size(); i += 2) {
    units.push_back(static_cast<char16_t>(buffer[i] | (buffer[i + 1] << 8)));
  }
  return units;
}

std::string lowBytes(const std::u16string& units) {
  std::string text;
  for (const char16_t unit : units) {
    if ((unit & 0xFF) == 0) {
      break;
    }
    text.push_back(static_cast<char>(unit & 0xFF));
  }
  return text;
}

TEST(DeviceStrings, Utf8ReachesTheBufferAndTheLowByteTextIntact) {
  std::mt19937_64 random(7130);
  for (int n = 0; n < 5000; ++n) {
    const Generated g = generate(random, n % 2 == 1);
    SCOPED_TRACE(::testing::PrintToString(g.utf8));
    const std::u32string decoded = decodeUtf8(g.utf8);
    ASSERT_EQ(decoded, g.decoded);
    const std::string encoded = encodeUtf8(decoded);
    if (g.wellFormed) {
      EXPECT_EQ(encoded, g.utf8);
    }
    // What a decoding made of garbage is well-formed and stays as it is.
    EXPECT_EQ(decodeUtf8(encoded), decoded);

    Buffer buffer;
    buffer.fill(0xEE);  // what an earlier query left behind
    encodeDeviceString(decoded, buffer);
    const std::u16string units = expectedUnits(g.utf16);
    ASSERT_EQ(unitsOf(buffer), units);
    EXPECT_EQ(deviceStringText(buffer), lowBytes(units));
  }
}

TEST(DeviceStrings, AnyBytesDecodeToScalarValuesWithoutGrowing) {
  std::mt19937_64 random(42);
  std::uniform_int_distribution<int> byte(0, 255);
  for (int n = 0; n < 20000; ++n) {
    std::string bytes(std::uniform_int_distribution<std::size_t>(0, 12)(random), '\0');
    for (char& b : bytes) {
      // Mostly the bytes around the ranges' edges, where decoders go wrong.
      b = static_cast<char>(n % 2 == 0 ? byte(random) : 0x7E + byte(random) % 0x82);
    }
    SCOPED_TRACE(::testing::PrintToString(bytes));
    const std::u32string decoded = decodeUtf8(bytes);
    EXPECT_LE(decoded.size(), bytes.size());
    for (const char32_t c : decoded) {
      EXPECT_TRUE(c <= 0x10FFFF && (c < 0xD800 || c > 0xDFFF)) << static_cast<std::uint32_t>(c);
    }
    EXPECT_EQ(decodeUtf8(encodeUtf8(decoded)), decoded);
  }
}

TEST(DeviceStrings, ValuesThatAreNoCharacterBecomeTheReplacement) {
  const struct {
    const char* name;
    std::u32string text;
    std::string utf8;
    std::u16string units;
  } cases[] = {
      {"a lone surrogate",
       U"a\xD800"
       U"b",
       "a\xEF\xBF\xBD"
       "b",
       u"a\uFFFD"
       u"b"},
      {"past U+10FFFF", U"\x110000", "\xEF\xBF\xBD", u"\uFFFD"},
      {"empty", U"", "", u""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(encodeUtf8(c.text), c.utf8);
    Buffer buffer;
    encodeDeviceString(c.text, buffer);
    EXPECT_EQ(unitsOf(buffer), expectedUnits(c.units));
  }
}

}  // namespace
}  // namespace qvr::protocol
