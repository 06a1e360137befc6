#include "programs/win32-window/png_image.h"

#include <array>
#include <cstddef>
#include <string_view>

namespace qvr::platform::win32 {
namespace {

constexpr std::uint8_t kSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr std::uint8_t kBitDepth = 8;
constexpr std::uint8_t kColourTypeRgb = 2;
constexpr std::uint8_t kFilterNone = 0;
constexpr std::size_t kBytesPerPixel = 3;

// zlib: deflate with a 32 KiB window, no preset dictionary, and a header check value that
// makes the first two bytes a multiple of 31.
constexpr std::uint8_t kZlibHeader[] = {0x78, 0x01};
constexpr std::size_t kMaxStoredBlock = 0xFFFF;
constexpr std::uint8_t kStoredBlock = 0x00;
constexpr std::uint8_t kFinalStoredBlock = 0x01;
constexpr std::uint32_t kAdlerModulus = 65521;

constexpr std::uint32_t kCrcPolynomial = 0xEDB88320;  // reflected CRC-32, as PNG uses it

constexpr std::array<std::uint32_t, 256> makeCrcTable() {
  std::array<std::uint32_t, 256> table{};
  for (std::uint32_t n = 0; n < table.size(); ++n) {
    std::uint32_t c = n;
    for (int bit = 0; bit < 8; ++bit) {
      c = (c & 1) != 0 ? kCrcPolynomial ^ (c >> 1) : c >> 1;
    }
    table[n] = c;
  }
  return table;
}
constexpr auto kCrcTable = makeCrcTable();

void putBigEndian(std::vector<std::uint8_t>& out, std::uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) {
    out.push_back(static_cast<std::uint8_t>(value >> shift));
  }
}

// A chunk: length, type, data, and the CRC over type and data.
void putChunk(std::vector<std::uint8_t>& out, std::string_view type,
              std::span<const std::uint8_t> data) {
  putBigEndian(out, static_cast<std::uint32_t>(data.size()));
  const std::size_t typeStart = out.size();
  out.insert(out.end(), type.begin(), type.end());
  out.insert(out.end(), data.begin(), data.end());
  std::uint32_t crc = 0xFFFFFFFF;
  for (std::size_t i = typeStart; i < out.size(); ++i) {
    crc = kCrcTable[(crc ^ out[i]) & 0xFF] ^ (crc >> 8);
  }
  putBigEndian(out, crc ^ 0xFFFFFFFF);
}

// The raw scanlines (each a filter byte and the RGB bytes) in stored deflate blocks.
std::vector<std::uint8_t> zlibStored(std::span<const std::uint8_t> raw) {
  std::vector<std::uint8_t> out(std::begin(kZlibHeader), std::end(kZlibHeader));
  std::size_t offset = 0;
  do {
    const std::size_t length = std::min(kMaxStoredBlock, raw.size() - offset);
    const bool last = offset + length == raw.size();
    out.push_back(last ? kFinalStoredBlock : kStoredBlock);
    // LEN and its one's complement NLEN, both little-endian, unlike the rest of PNG.
    const auto len = static_cast<std::uint16_t>(length);
    const auto nlen = static_cast<std::uint16_t>(~len);
    out.insert(out.end(), {static_cast<std::uint8_t>(len), static_cast<std::uint8_t>(len >> 8),
                           static_cast<std::uint8_t>(nlen), static_cast<std::uint8_t>(nlen >> 8)});
    out.insert(out.end(), raw.begin() + static_cast<std::ptrdiff_t>(offset),
               raw.begin() + static_cast<std::ptrdiff_t>(offset + length));
    offset += length;
  } while (offset < raw.size());

  std::uint32_t a = 1;
  std::uint32_t b = 0;
  for (const std::uint8_t byte : raw) {
    a = (a + byte) % kAdlerModulus;
    b = (b + a) % kAdlerModulus;
  }
  putBigEndian(out, (b << 16) | a);
  return out;
}

}  // namespace

std::vector<std::uint8_t> encodePng(int width, int height, std::span<const std::uint32_t> pixels) {
  if (width <= 0 || height <= 0 ||
      pixels.size() != static_cast<std::size_t>(width) * static_cast<std::size_t>(height)) {
    return {};
  }
  const auto w = static_cast<std::size_t>(width);
  std::vector<std::uint8_t> raw;
  raw.reserve(static_cast<std::size_t>(height) * (1 + w * kBytesPerPixel));
  for (std::size_t row = 0; row < static_cast<std::size_t>(height); ++row) {
    raw.push_back(kFilterNone);
    for (const std::uint32_t pixel : pixels.subspan(row * w, w)) {
      raw.push_back(static_cast<std::uint8_t>(pixel >> 16));
      raw.push_back(static_cast<std::uint8_t>(pixel >> 8));
      raw.push_back(static_cast<std::uint8_t>(pixel));
    }
  }

  std::vector<std::uint8_t> header;
  putBigEndian(header, static_cast<std::uint32_t>(width));
  putBigEndian(header, static_cast<std::uint32_t>(height));
  header.insert(header.end(), {kBitDepth, kColourTypeRgb, 0, 0, 0});  // deflate, no interlace

  std::vector<std::uint8_t> png(std::begin(kSignature), std::end(kSignature));
  putChunk(png, "IHDR", header);
  putChunk(png, "IDAT", zlibStored(raw));
  putChunk(png, "IEND", {});
  return png;
}

}  // namespace qvr::platform::win32
