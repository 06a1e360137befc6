#include "protocol/printable_text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <optional>
#include <random>
#include <string>

namespace qvr::protocol {
namespace {

TEST(PrintableText, ControlsAreShownByNumberAndEverythingElsePasses) {
  struct Case {
    std::string text;
    TextBytes bytes;
    std::string shown;
  };
  const Case cases[] = {
      // What the device's serial number tried: retitle the terminal, then clear it.
      {"Q\x1b]0;owned\x07\x1b[2J", TextBytes::Utf8, R"(Q\u001b]0;owned\u0007\u001b[2J)"},
      {std::string("\n\0\x7f", 3), TextBytes::Utf8, R"(\u000a\u0000\u007f)"},
      // C1 in UTF-8; the characters around it are no controls.
      {"\xc2\x9bH \xc2\xa0\xc3\xa9\xe2\x82\xac", TextBytes::Utf8,
       "\\u009bH \xc2\xa0\xc3\xa9\xe2\x82\xac"},
      // Bytes that start no character: stray, cut short, an overlong ESC, a surrogate.
      {"\x9bH\xe2\x82", TextBytes::Utf8, R"(\x9bH\xe2\x82)"},
      {"\xc0\x9b\xed\xa0\x80", TextBytes::Utf8, R"(\xc0\x9b\xed\xa0\x80)"},
      // A device string's bytes are characters of their own: 0x9b is CSI, 0xe9 is e-acute.
      {"\x9b\xe9\xc2\x85", TextBytes::Latin1, "\\u009b\xc3\xa9\xc3\x82\\u0085"},
      // A backslash is not doubled: Windows device paths are made of them.
      {R"(\\?\hid#vid_3a81)", TextBytes::Utf8, R"(\\?\hid#vid_3a81)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.shown);
    EXPECT_EQ(printableText(c.text, c.bytes), c.shown);
  }
}

// UTF-8 by the table of well-formed byte sequences in the Unicode standard, apart from the
// decoder under test: the code points, or nothing where the text is ill-formed.
std::optional<std::u32string> referenceDecode(const std::string& text) {
  struct Form {
    int lead0, lead1, second0, second1, length;
  };
  constexpr Form kForms[] = {
      {0x00, 0x7F, 0, 0, 1},       {0xC2, 0xDF, 0x80, 0xBF, 2}, {0xE0, 0xE0, 0xA0, 0xBF, 3},
      {0xE1, 0xEC, 0x80, 0xBF, 3}, {0xED, 0xED, 0x80, 0x9F, 3}, {0xEE, 0xEF, 0x80, 0xBF, 3},
      {0xF0, 0xF0, 0x90, 0xBF, 4}, {0xF1, 0xF3, 0x80, 0xBF, 4}, {0xF4, 0xF4, 0x80, 0x8F, 4}};
  std::u32string decoded;
  for (std::size_t i = 0; i < text.size();) {
    const auto at = [&](std::size_t k) { return static_cast<unsigned char>(text.at(i + k)); };
    const Form* f = std::find_if(std::begin(kForms), std::end(kForms), [&](const Form& form) {
      return at(0) >= form.lead0 && at(0) <= form.lead1;
    });
    const auto length = static_cast<std::size_t>(f != std::end(kForms) ? f->length : 0);
    if (length == 0 || i + length > text.size() ||
        (length > 1 && (at(1) < f->second0 || at(1) > f->second1))) {
      return std::nullopt;
    }
    char32_t c = at(0) & (0xFF >> (length + (length > 1 ? 1 : 0)));
    for (std::size_t k = 1; k < length; ++k) {
      if ((at(k) & 0xC0) != 0x80) {
        return std::nullopt;
      }
      c = (c << 6) | (at(k) & 0x3F);
    }
    decoded += c;
    i += length;
  }
  return decoded;
}

bool isControl(char32_t c) {
  return c < 0x20 || (c >= 0x7F && c <= 0x9F);
}

// The text an output stands for, when the text had no backslash of its own: \uXXXX is that
// control character in UTF-8 (C1 is two bytes there), \xHH that byte.
std::string unescaped(const std::string& shown) {
  std::string text;
  for (std::size_t i = 0; i < shown.size(); ++i) {
    if (shown[i] != '\\') {
      text += shown[i];
      continue;
    }
    const std::size_t digits = shown.at(i + 1) == 'u' ? 4 : 2;
    const auto value = static_cast<char>(std::stoul(shown.substr(i + 2, digits), nullptr, 16));
    if (digits == 4 && static_cast<unsigned char>(value) >= 0x80) {
      text += '\xC2';
    }
    text += value;
    i += 1 + digits;
  }
  return text;
}

// Random strings over all 256 byte values, mixed with printable ASCII and with well-formed UTF-8
// for controls, C1 and the characters around them, so that bytes that start nothing and
// characters that are controls both come often.
TEST(PrintableText, NoControlReachesATerminalAndNothingIsLost) {
  const std::string kCharacters[] = {"\x1b",         "\x7f",         "\xc2\x80",        "\xc2\x9b",
                                     "\xc2\x9f",     "\xc2\xa0",     "\xc3\xa9",        "\xdf\xbf",
                                     "\xe0\xa0\x80", "\xe2\x82\xac", "\xf0\x9f\x98\x80"};
  std::mt19937 random(7130);
  std::uniform_int_distribution<int> length(0, 24);
  std::uniform_int_distribution<int> kind(0, 2);
  std::uniform_int_distribution<int> byte(0, 255);
  std::uniform_int_distribution<int> printable(0x20, 0x7E);
  std::uniform_int_distribution<std::size_t> character(0, std::size(kCharacters) - 1);
  for (int n = 0; n < 20000; ++n) {
    std::string text;
    std::string ascii;  // its printable ASCII alone
    for (int k = length(random); k > 0; --k) {
      const int pick = kind(random);
      const std::string piece = pick == 2   ? kCharacters[character(random)]
                                : pick == 1 ? std::string(1, static_cast<char>(printable(random)))
                                            : std::string(1, static_cast<char>(byte(random)));
      text += piece;
      ascii += pick == 1 ? piece : "";
    }
    SCOPED_TRACE(::testing::PrintToString(text));

    EXPECT_EQ(printableText(ascii), ascii);
    const std::string shown = printableText(text);
    const auto decoded = referenceDecode(shown);
    ASSERT_TRUE(decoded.has_value()) << "not UTF-8: " << ::testing::PrintToString(shown);
    EXPECT_EQ(std::count_if(decoded->begin(), decoded->end(), isControl), 0);
    // What is already safe stays as it is.
    EXPECT_EQ(printableText(shown), shown);

    // A device string: every byte one character, controls among them shown, in UTF-8.
    const std::string shownLatin1 = printableText(text, TextBytes::Latin1);
    const auto decodedLatin1 = referenceDecode(shownLatin1);
    ASSERT_TRUE(decodedLatin1.has_value()) << ::testing::PrintToString(shownLatin1);
    EXPECT_EQ(std::count_if(decodedLatin1->begin(), decodedLatin1->end(), isControl), 0);

    if (text.find('\\') == std::string::npos) {
      EXPECT_EQ(unescaped(shown), text);
      std::u32string characters;
      for (const char b : text) {
        characters += static_cast<unsigned char>(b);
      }
      EXPECT_EQ(referenceDecode(unescaped(shownLatin1)), characters);
      // Well-formed UTF-8 is read as characters, never shown byte by byte.
      if (referenceDecode(text)) {
        EXPECT_EQ(shown.find("\\x"), std::string::npos) << shown;
      }
    }
  }
}

}  // namespace
}  // namespace qvr::protocol
