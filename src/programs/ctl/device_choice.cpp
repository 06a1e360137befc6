#include "programs/ctl/device_choice.h"

#include <algorithm>

#include "platform/hid.h"
#include "protocol/device_strings.h"
#include "protocol/printable_text.h"

namespace qvr::ctl {
namespace {

// Serial numbers are the device's own bytes, one character each, shown in UTF-8; the refusal
// goes to a terminal, so a control character among them is shown, not obeyed.
std::string quoted(const std::string& serial) {
  return "'" + protocol::printableText(serial, protocol::TextBytes::Latin1) + "'";
}

std::string quotedList(const std::vector<std::string>& serials) {
  std::string list;
  for (const std::string& serial : serials) {
    list += (list.empty() ? "" : ", ") + quoted(serial);
  }
  return list;
}

// The serial number as typed, in UTF-8, made into what the device link reads from a device with
// that serial number: through the device string buffer, low byte by low byte. Both the text
// `list` shows (the kernel's: an e-acute stays one, a euro sign stays one) and the one `status`
// shows (the low bytes as characters: the euro sign's low byte is the not sign) come out as the
// device's.
std::string asDeviceText(const std::string& typed) {
  platform::DeviceStringBuffer buffer{};
  protocol::encodeDeviceString(protocol::decodeUtf8(typed), buffer);
  return protocol::deviceStringText(buffer);
}

}  // namespace

DeviceChoice chooseDevice(const std::vector<std::string>& present,
                          const std::optional<std::string>& wanted) {
  if (present.empty()) {
    return {std::nullopt, "no QVR-7130 is attached (the 'list' command shows what is there)"};
  }
  if (wanted) {
    // The bytes as typed first: a serial number of plain ASCII, or the low bytes themselves.
    for (const std::string& candidate : {*wanted, asDeviceText(*wanted)}) {
      if (std::find(present.begin(), present.end(), candidate) != present.end()) {
        return {candidate, {}};
      }
    }
    return {std::nullopt, "no QVR-7130 with serial number '" + protocol::printableText(*wanted) +
                              "'; attached: " + quotedList(present)};
  }
  if (present.size() > 1) {
    return {std::nullopt,
            std::to_string(present.size()) +
                " devices are attached; choose one with --serial: " + quotedList(present)};
  }
  return {present.front(), {}};
}

}  // namespace qvr::ctl
