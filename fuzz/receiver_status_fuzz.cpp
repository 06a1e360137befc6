// Whatever a receiver sends, decoded and written out as the command line and the exporter write
// a device's status: every field of the NAV messages, in text and JSON.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "device/receiver.h"
#include "status/status_view.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  constexpr std::size_t kReportLength = 64;
  qvr::device::Receiver receiver;
  receiver.takeReports(
      std::span(data, size), kReportLength, [](std::uint8_t) {}, [](std::uint8_t) {});
  qvr::status::StatusView view;
  view.receiver = receiver.state();
  const std::string text = qvr::status::statusText(view);
  const std::string json = qvr::status::statusJson(view, {});
  // A JSON document ends its one object; anything else is a writer out of step.
  if (json.empty() || json.front() != '{' || json.rfind("}\n") != json.size() - 2) {
    __builtin_trap();
  }
  return static_cast<int>(text.empty());
}
