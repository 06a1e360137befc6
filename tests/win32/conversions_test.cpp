// The pure pieces at the Windows edge: twips to pixels, the interface detail record, the
// window's text conversion and the locale's decimal separator.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/win32/interface_detail.h"
#include "platform/win32/text.h"
#include "platform/win32/win32_system.h"
#include "programs/win32-window/twips.h"

namespace qvr::platform::win32 {
namespace {

TEST(Twips, ConvertToTheNearestPixelAtTheScreensDpi) {
  struct Case {
    int twips;
    int dpi;
    int pixels;
  };
  const Case cases[] = {
      {0, 96, 0},
      {7, 96, 0},
      {8, 96, 1},
      {15, 96, 1},
      {22, 96, 1},
      {23, 96, 2},
      {7500, 96, 500},
      {9000, 96, 600},
      {7500, 120, 625},
      {9000, 144, 900},
      {1440, 96, 96},
      {6, 120, 1},
      {5, 120, 0},
      {-7, 96, 0},
      {-8, 96, -1},
      {-7500, 96, -500},
      // Far off screen at a high DPI: the product does not fit 32 bits.
      {20000000, 192, 2666667},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(twipsToPixels(c.twips, c.dpi), c.pixels) << c.twips << " twips at " << c.dpi;
  }
}

TEST(Twips, RectanglesKeepTheirEdgesSoNeighboursStayTouching) {
  struct Case {
    int left, top, width, height, dpi;
    PixelRect expected;
  };
  const Case cases[] = {
      // Label5 and Out1Freq as laid out, at the standard DPI.
      {200, 195, 1395, 270, 96, {13, 13, 93, 18}},
      {900, 3120, 2300, 480, 96, {60, 208, 153, 32}},
      {1815, 1005, 3300, 270, 96, {121, 67, 220, 18}},
      // Two 22-twip boxes side by side: 1.47 pixels each would round to 1 and 1, leaving a gap
      // or an overlap; by their edges they end and start on the same pixel.
      {0, 0, 22, 22, 96, {0, 0, 1, 1}},
      {22, 0, 22, 22, 96, {1, 0, 2, 1}},
      {7500, 0, 1500, 360, 120, {625, 0, 125, 30}},
      {100, 100, -50, 0, 96, {7, 7, 0, 0}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(pixelRect(c.left, c.top, c.width, c.height, c.dpi), c.expected)
        << c.left << "," << c.top << " " << c.width << "x" << c.height << " at " << c.dpi;
  }
}

TEST(Twips, FontHeightIsTheCharacterHeightInPixels) {
  struct Case {
    double points;
    int dpi;
    int height;
  };
  const Case cases[] = {
      {9.75, 96, -13}, {13.5, 96, -18}, {6.75, 96, -9}, {9.75, 120, -16}, {9.75, 144, -20},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(fontHeight(c.points, c.dpi), c.height) << c.points << " pt at " << c.dpi;
  }
}

std::vector<std::uint8_t> bytes(const std::string& text) {
  return {text.begin(), text.end()};
}

TEST(InterfaceDetail, PathIsTheTextAfterTheSizeFieldUpToItsEnd) {
  using namespace std::string_literals;
  struct Case {
    std::string record;
    std::string path;
  };
  const Case cases[] = {
      {"\x08\0\0\0\\\\?\\hid#vid_3a81&pid_5c17#1\0"s, "\\\\?\\hid#vid_3a81&pid_5c17#1"},
      // What follows the terminator is not part of the path.
      {"\x08\0\0\0ab\0cd"s, "ab"},
      // No terminator: the path ends with the record, never beyond it.
      {"\x05\0\0\0abc"s, "abc"},
      {"\x08\0\0\0\0"s, ""},
      {"\x08\0\0\0"s, ""},
      {"\x08\0"s, ""},
      {"", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(interfaceDetailPath(bytes(c.record)), c.path) << c.record.size() << " bytes";
  }
}

TEST(InterfaceDetail, BufferIsZeroedOneLongerThanAskedWithTheSizeFieldInFront) {
  std::vector<std::uint8_t> buffer(64, 0xEE);  // what the previous interface left
  prepareDetailBuffer(buffer, 40, 8);
  ASSERT_EQ(buffer.size(), 41u);
  EXPECT_EQ((std::vector<std::uint8_t>(buffer.begin(), buffer.begin() + 4)),
            (std::vector<std::uint8_t>{8, 0, 0, 0}));
  EXPECT_EQ(std::count(buffer.begin() + 4, buffer.end(), 0), 37);

  // A first query that reported nothing still leaves room for the size field and a terminator.
  prepareDetailBuffer(buffer, 0, 5);
  EXPECT_EQ(buffer, (std::vector<std::uint8_t>{5, 0, 0, 0, 0}));
  EXPECT_EQ(interfaceDetailPath(buffer), "");

  prepareDetailBuffer(buffer, 6, 0x01020304);
  EXPECT_EQ(buffer, (std::vector<std::uint8_t>{4, 3, 2, 1, 0, 0, 0}));
}

TEST(WindowText, SingleBytesAreLatin1BothWays) {
  struct Case {
    std::string bytes;
    std::wstring wide;
  };
  const Case cases[] = {
      {"", L""},
      {"Set", L"Set"},
      {" M\xFC"
       "ller \xB5Time",
       L" M\u00FCller \u00B5Time"},
      {"\xFF\x80\x01", L"\u00FF\u0080\u0001"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(widen(c.bytes), c.wide) << c.bytes;
    EXPECT_EQ(narrow(c.wide), c.bytes) << c.bytes;
  }
  std::string all;
  for (int b = 0; b < 256; ++b) {
    all.push_back(static_cast<char>(b));
  }
  EXPECT_EQ(narrow(widen(all)), all);
}

TEST(WindowText, WhatHasNoSingleByteBecomesOneQuestionMarkPerCharacter) {
  struct Case {
    std::wstring typed;
    std::string bytes;
  };
  const Case cases[] = {
      {L"10\u20AC", "10?"},
      {L"\u0100", "?"},
      // A character outside the basic plane is one character, typed as a surrogate pair.
      {L"a\xD83D\xDE00"
       L"b",
       "a?b"},
      // Halves of a pair on their own are one each.
      {L"\xD83D"
       L"a",
       "?a"},
      {L"\xDE00\xD83D", "??"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(narrow(c.typed), c.bytes) << c.bytes;
  }
}

TEST(DecimalSeparator, IsTheLocalesOnlyCharacterWhenItHasASingleByte) {
  struct Case {
    std::wstring text;
    char separator;
  };
  const Case cases[] = {
      {L".", '.'},         {L",", ','},
      {L"\u00B7", '\xB7'}, {L"", '.'},
      {L"\u066B", '.'},  // Arabic decimal separator: no single byte
      {L",,", '.'},        {std::wstring(1, L'\0'), '.'},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(separatorFromLocaleText(c.text), c.separator);
  }
}

}  // namespace
}  // namespace qvr::platform::win32
