// HID report descriptors as any device may present them.
#include <cstddef>
#include <cstdint>
#include <span>

#include "protocol/report_descriptor.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto parse = qvr::protocol::parseReportDescriptor(std::span(data, size));
  if (!parse.ok() && parse.errorOffset >= size + 1) {
    __builtin_trap();  // an error must point into the descriptor
  }
  return 0;
}
