// Device strings: any UTF-16 buffer a device may fill in.
#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "platform/hid.h"
#include "protocol/device_strings.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  qvr::platform::DeviceStringBuffer buffer{};
  std::copy_n(data, std::min(size, buffer.size()), buffer.begin());
  const std::string text = qvr::protocol::deviceStringText(buffer);
  // One character per code unit at most, and never a zero inside.
  if (text.size() > buffer.size() / 2 || text.find('\0') != std::string::npos) {
    __builtin_trap();
  }
  return 0;
}
