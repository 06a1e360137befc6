#include "protocol/printable_text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

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
      {"a\nb\tc\r\x7f", TextBytes::Utf8, R"(a\u000ab\u0009c\u000d\u007f)"},
      {std::string("x\0y", 3), TextBytes::Utf8, R"(x\u0000y)"},
      // C1 in UTF-8 is CSI on some terminals; the characters around it are not controls.
      {"\xc2\x9b"
       "2J \xc2\xa0 \xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80",
       TextBytes::Utf8, "\\u009b2J \xc2\xa0 \xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80"},
      // Bytes that start no character: stray, cut short, an overlong ESC, a surrogate.
      {"\x9b"
       "2J",
       TextBytes::Utf8, R"(\x9b2J)"},
      {"\xe2\x82", TextBytes::Utf8, R"(\xe2\x82)"},
      {"\xc0\x9b", TextBytes::Utf8, R"(\xc0\x9b)"},
      {"\xed\xa0\x80", TextBytes::Utf8, R"(\xed\xa0\x80)"},
      // A device string's bytes are characters of their own: 0x9b is CSI, 0xe9 is e-acute.
      {"\x9b\xe9\xc2\x85\xff", TextBytes::Latin1, "\\u009b\xe9\xc2\\u0085\xff"},
      {"\x1b\x7f\x80\x9f\xa0", TextBytes::Latin1, "\\u001b\\u007f\\u0080\\u009f\xa0"},
      // A backslash is not doubled: Windows device paths are made of them.
      {R"(\\?\hid#vid_3a81&pid_5c17)", TextBytes::Utf8, R"(\\?\hid#vid_3a81&pid_5c17)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.shown);
    EXPECT_EQ(printableText(c.text, c.bytes), c.shown);
  }
}

// UTF-8 as the well-formed byte sequences of the Unicode standard's table, written apart from the
// decoder under test; nothing where a sequence is ill-formed.
std::optional<std::vector<char32_t>> referenceDecode(const std::string& text) {
  struct Form {
    unsigned char leadLow, leadHigh, secondLow, secondHigh;
    int length;
  };
  constexpr Form kForms[] = {
      {0x00, 0x7F, 0, 0, 1},       {0xC2, 0xDF, 0x80, 0xBF, 2}, {0xE0, 0xE0, 0xA0, 0xBF, 3},
      {0xE1, 0xEC, 0x80, 0xBF, 3}, {0xED, 0xED, 0x80, 0x9F, 3}, {0xEE, 0xEF, 0x80, 0xBF, 3},
      {0xF0, 0xF0, 0x90, 0xBF, 4}, {0xF1, 0xF3, 0x80, 0xBF, 4}, {0xF4, 0xF4, 0x80, 0x8F, 4},
  };
  constexpr char32_t kLeadMask[] = {0, 0x7F, 0x1F, 0x0F, 0x07};
  std::vector<char32_t> decoded;
  for (std::size_t i = 0; i < text.size();) {
    const auto at = [&](std::size_t k) { return static_cast<unsigned char>(text[i + k]); };
    const Form* form = nullptr;
    for (const Form& f : kForms) {
      if (at(0) >= f.leadLow && at(0) <= f.leadHigh) {
        form = &f;
      }
    }
    const auto length = static_cast<std::size_t>(form != nullptr ? form->length : 0);
    if (form == nullptr || i + length > text.size() ||
        (length > 1 && (at(1) < form->secondLow || at(1) > form->secondHigh))) {
      return std::nullopt;
    }
    char32_t c = at(0) & kLeadMask[length];
    for (std::size_t k = 1; k < length; ++k) {
      if ((at(k) & 0xC0) != 0x80) {
        return std::nullopt;
      }
      c = (c << 6) | (at(k) & 0x3F);
    }
    decoded.push_back(c);
    i += length;
  }
  return decoded;
}

std::string utf8Of(char32_t c) {
  std::string out;
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
  return out;
}

// The text an output stands for, for text without a backslash of its own: \uXXXX is that
// character (in UTF-8, or as its byte in a device string), \xHH that byte.
std::string unescaped(const std::string& shown, TextBytes bytes) {
  std::string text;
  for (std::size_t i = 0; i < shown.size();) {
    if (shown[i] != '\\') {
      text += shown[i++];
      continue;
    }
    const bool character = shown.at(i + 1) == 'u';
    const std::size_t digits = character ? 4 : 2;
    const auto value = static_cast<char32_t>(std::stoul(shown.substr(i + 2, digits), nullptr, 16));
    text += character && bytes == TextBytes::Utf8 ? utf8Of(value)
                                                  : std::string(1, static_cast<char>(value));
    i += 2 + digits;
  }
  return text;
}

bool isControl(char32_t c) {
  return c < 0x20 || (c >= 0x7F && c <= 0x9F);
}

// Random strings over all 256 byte values, mixed with well-formed UTF-8 for controls, C1 and
// characters around them, so that both the bytes that start nothing and the characters that
// are controls come often.
std::string randomText(std::mt19937& random) {
  constexpr char32_t kCharacters[] = {0x1B, 0x07, 0x0A,  0x7F,  0x80,  0x85,   0x9B,   0x9F,   0xA0,
                                      0xE9, 0xFF, 0x100, 0x7FF, 0x800, 0x20AC, 0xFFFD, 0x1F600};
  std::uniform_int_distribution<int> length(0, 24);
  std::uniform_int_distribution<int> kind(0, 2);
  std::uniform_int_distribution<int> anyByte(0, 255);
  std::uniform_int_distribution<int> printable(0x20, 0x7E);
  std::uniform_int_distribution<std::size_t> character(0, std::size(kCharacters) - 1);
  std::string text;
  for (int n = length(random); n > 0; --n) {
    switch (kind(random)) {
      case 0:
        text += static_cast<char>(anyByte(random));
        break;
      case 1:
        text += static_cast<char>(printable(random));
        break;
      default:
        text += utf8Of(kCharacters[character(random)]);
    }
  }
  return text;
}

TEST(PrintableText, NoControlReachesATerminalAndNothingIsLost) {
  std::mt19937 random(7130);
  for (int n = 0; n < 20000; ++n) {
    const std::string text = randomText(random);
    SCOPED_TRACE(::testing::PrintToString(text));

    const std::string shown = printableText(text);
    const bool ownBackslash = text.find('\\') != std::string::npos;
    // Well-formed UTF-8 is read as characters, never shown byte by byte.
    if (!ownBackslash && referenceDecode(text)) {
      EXPECT_EQ(shown.find("\\x"), std::string::npos) << shown;
    }
    const auto decoded = referenceDecode(shown);
    ASSERT_TRUE(decoded.has_value()) << "not UTF-8: " << ::testing::PrintToString(shown);
    for (const char32_t c : *decoded) {
      ASSERT_FALSE(isControl(c)) << "U+" << std::hex << static_cast<std::uint32_t>(c);
    }
    // What is already safe stays as it is.
    EXPECT_EQ(printableText(shown), shown);

    const std::string shownLatin1 = printableText(text, TextBytes::Latin1);
    for (const char b : shownLatin1) {
      // No C1 byte either, so no reading of the output, 8-bit or UTF-8, finds a control.
      ASSERT_FALSE(isControl(static_cast<unsigned char>(b)));
    }

    if (!ownBackslash) {
      EXPECT_EQ(unescaped(shown, TextBytes::Utf8), text);
      EXPECT_EQ(unescaped(shownLatin1, TextBytes::Latin1), text);
    }
  }
}

TEST(PrintableText, PrintableAsciiPassesUnchanged) {
  std::mt19937 random(1);
  std::uniform_int_distribution<int> printable(0x20, 0x7E);
  std::string all;
  for (char c = 0x20; c < 0x7F; ++c) {
    all += c;
  }
  for (int n = 0; n < 1000; ++n) {
    std::string text = n == 0 ? all : std::string();
    for (int k = n % 40; k > 0; --k) {
      text += static_cast<char>(printable(random));
    }
    EXPECT_EQ(printableText(text), text);
    EXPECT_EQ(printableText(text, TextBytes::Latin1), text);
  }
}

}  // namespace
}  // namespace qvr::protocol
