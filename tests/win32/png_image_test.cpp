// The screenshot's PNG writer, read back by a reader written from the file format alone: every
// chunk's CRC (computed bit by bit, not from a table), the zlib framing, the stored blocks and
// their length checks, the Adler-32 sum, and the pixels themselves.

#include "programs/win32-window/png_image.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace qvr::platform::win32 {
namespace {

std::uint32_t bigEndian(const std::vector<std::uint8_t>& b, std::size_t at) {
  return (std::uint32_t{b[at]} << 24) | (std::uint32_t{b[at + 1]} << 16) |
         (std::uint32_t{b[at + 2]} << 8) | b[at + 3];
}

std::uint32_t crcBitwise(const std::vector<std::uint8_t>& b, std::size_t from, std::size_t to) {
  std::uint32_t crc = 0xFFFFFFFF;
  for (std::size_t i = from; i < to; ++i) {
    crc ^= b[i];
    for (int bit = 0; bit < 8; ++bit) {
      crc = (crc >> 1) ^ (0xEDB88320 & (0 - (crc & 1)));
    }
  }
  return ~crc;
}

struct Decoded {
  int width = 0;
  int height = 0;
  std::vector<std::uint32_t> pixels;
  std::size_t storedBlocks = 0;
};

// Fails the test and returns nothing at the first thing that is not as the format says.
std::optional<Decoded> decode(const std::vector<std::uint8_t>& png) {
  const std::vector<std::uint8_t> signature{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  if (png.size() < 8 || !std::equal(signature.begin(), signature.end(), png.begin())) {
    ADD_FAILURE() << "no PNG signature";
    return std::nullopt;
  }
  Decoded out;
  std::vector<std::uint8_t> idat;
  std::vector<std::string> types;
  for (std::size_t at = 8; at < png.size();) {
    if (at + 12 > png.size()) {
      ADD_FAILURE() << "chunk header cut off at " << at;
      return std::nullopt;
    }
    const std::uint32_t length = bigEndian(png, at);
    const std::string type(png.begin() + static_cast<std::ptrdiff_t>(at + 4),
                           png.begin() + static_cast<std::ptrdiff_t>(at + 8));
    const std::size_t data = at + 8;
    if (data + length + 4 > png.size()) {
      ADD_FAILURE() << type << " runs past the end";
      return std::nullopt;
    }
    EXPECT_EQ(bigEndian(png, data + length), crcBitwise(png, at + 4, data + length))
        << "CRC of " << type;
    types.push_back(type);
    if (type == "IHDR") {
      EXPECT_EQ(length, 13u);
      out.width = static_cast<int>(bigEndian(png, data));
      out.height = static_cast<int>(bigEndian(png, data + 4));
      EXPECT_EQ(png[data + 8], 8);   // bit depth
      EXPECT_EQ(png[data + 9], 2);   // truecolour
      EXPECT_EQ(png[data + 10], 0);  // deflate
      EXPECT_EQ(png[data + 11], 0);  // adaptive filtering
      EXPECT_EQ(png[data + 12], 0);  // no interlace
    } else if (type == "IDAT") {
      idat.insert(idat.end(), png.begin() + static_cast<std::ptrdiff_t>(data),
                  png.begin() + static_cast<std::ptrdiff_t>(data + length));
    }
    at = data + length + 4;
  }
  EXPECT_EQ(types.front(), "IHDR");
  EXPECT_EQ(types.back(), "IEND");

  // zlib: CMF and FLG, a multiple of 31 together, deflate with no preset dictionary.
  if (idat.size() < 6 || (idat[0] & 0x0F) != 8 || (idat[0] * 256 + idat[1]) % 31 != 0 ||
      (idat[1] & 0x20) != 0) {
    ADD_FAILURE() << "bad zlib header";
    return std::nullopt;
  }
  std::vector<std::uint8_t> raw;
  std::size_t at = 2;
  for (bool last = false; !last;) {
    const std::uint8_t header = idat.at(at);
    last = (header & 1) != 0;
    if ((header >> 1) != 0) {
      ADD_FAILURE() << "not a stored block";
      return std::nullopt;
    }
    const unsigned len = idat.at(at + 1) | (idat.at(at + 2) << 8);
    const unsigned nlen = idat.at(at + 3) | (idat.at(at + 4) << 8);
    EXPECT_EQ(len ^ 0xFFFF, nlen);
    raw.insert(raw.end(), idat.begin() + static_cast<std::ptrdiff_t>(at + 5),
               idat.begin() + static_cast<std::ptrdiff_t>(at + 5 + len));
    at += 5 + len;
    ++out.storedBlocks;
  }
  std::uint32_t a = 1;
  std::uint32_t b = 0;
  for (const std::uint8_t byte : raw) {
    a = (a + byte) % 65521;
    b = (b + a) % 65521;
  }
  EXPECT_EQ(bigEndian(idat, at), (b << 16) | a) << "Adler-32";
  EXPECT_EQ(at + 4, idat.size());

  const auto rowBytes = static_cast<std::size_t>(out.width) * 3 + 1;
  if (raw.size() != rowBytes * static_cast<std::size_t>(out.height)) {
    ADD_FAILURE() << "image data is " << raw.size() << " bytes";
    return std::nullopt;
  }
  for (std::size_t row = 0; row < static_cast<std::size_t>(out.height); ++row) {
    EXPECT_EQ(raw[row * rowBytes], 0) << "filter of row " << row;
    for (std::size_t x = 0; x < static_cast<std::size_t>(out.width); ++x) {
      const std::size_t p = row * rowBytes + 1 + 3 * x;
      out.pixels.push_back((std::uint32_t{raw[p]} << 16) | (std::uint32_t{raw[p + 1]} << 8) |
                           raw[p + 2]);
    }
  }
  return out;
}

std::vector<std::uint32_t> pattern(int width, int height) {
  std::vector<std::uint32_t> pixels;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      // Every channel differs from its neighbours, so a swapped channel or row shows.
      pixels.push_back((static_cast<std::uint32_t>(x * 7 + y) & 0xFF) << 16 |
                       (static_cast<std::uint32_t>(y * 13 + 1) & 0xFF) << 8 |
                       (static_cast<std::uint32_t>(x ^ y) & 0xFF));
    }
  }
  return pixels;
}

TEST(PngImage, ReadsBackAsTheSamePixels) {
  struct Case {
    int width;
    int height;
    std::size_t blocks;
  };
  const Case cases[] = {
      {1, 1, 1},
      {3, 2, 1},
      // 120 rows of 601 bytes: more than one stored block holds, split inside a row.
      {200, 120, 2},
      // The window: 600 rows of 1501 bytes.
      {500, 600, 14},
  };
  for (const Case& c : cases) {
    const auto pixels = pattern(c.width, c.height);
    const auto decoded = decode(encodePng(c.width, c.height, pixels));
    ASSERT_TRUE(decoded) << c.width << "x" << c.height;
    EXPECT_EQ(decoded->width, c.width);
    EXPECT_EQ(decoded->height, c.height);
    EXPECT_EQ(decoded->storedBlocks, c.blocks);
    EXPECT_EQ(decoded->pixels, pixels) << c.width << "x" << c.height;
  }
}

TEST(PngImage, TheFourthByteOfAPixelIsNotPartOfIt) {
  const std::vector<std::uint32_t> pixels{0xFF102030, 0x00102030};
  const auto decoded = decode(encodePng(2, 1, pixels));
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->pixels, (std::vector<std::uint32_t>{0x102030, 0x102030}));
}

TEST(PngImage, RefusesAPixelCountThatDoesNotMatchTheSize) {
  const std::vector<std::uint32_t> six(6, 0);
  EXPECT_TRUE(encodePng(2, 2, six).empty());
  EXPECT_TRUE(encodePng(0, 6, six).empty());
  EXPECT_TRUE(encodePng(-2, -3, six).empty());
  EXPECT_FALSE(encodePng(3, 2, six).empty());
}

}  // namespace
}  // namespace qvr::platform::win32
