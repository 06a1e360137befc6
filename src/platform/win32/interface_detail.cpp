#include "platform/win32/interface_detail.h"

#include <algorithm>

#include "protocol/bytes.h"

namespace qvr::platform::win32 {

void prepareDetailBuffer(std::vector<std::uint8_t>& buffer, std::uint32_t requiredSize,
                         std::uint32_t sizeField) {
  // Never shorter than the size field itself, whatever the first query said.
  const std::size_t size = std::max<std::size_t>(requiredSize, kDetailPathOffset) + 1;
  buffer.assign(size, 0);
  static_assert(kDetailPathOffset == sizeof sizeField, "the path follows the size field");
  protocol::writeU32Le(buffer, 0, sizeField);
}

std::string interfaceDetailPath(std::span<const std::uint8_t> record) {
  if (record.size() <= kDetailPathOffset) {
    return {};
  }
  const auto text = record.subspan(kDetailPathOffset);
  const auto end = std::find(text.begin(), text.end(), std::uint8_t{0});
  return std::string(text.begin(), end);
}

}  // namespace qvr::platform::win32
