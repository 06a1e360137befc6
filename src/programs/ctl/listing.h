#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "protocol/printable_text.h"

namespace qvr::ctl {

using protocol::TextBytes;

// One attached device as `list` reports it, whichever backend found it.
struct AttachedDevice {
  std::string path;
  std::optional<std::string> serial;  // nothing when unreadable
  TextBytes serialBytes = TextBytes::Utf8;
  std::string firmware;                  // "1.08"
  std::optional<std::string> openError;  // why it does not open; nothing when it opens
  std::optional<std::string> problem;    // why it is of no use although it opens
  std::optional<std::uint16_t> inputReportBytes;
  std::optional<std::uint16_t> featureReportBytes;
};

struct Listing {
  std::string text;  // what the window's --list-devices prints
  std::vector<AttachedDevice> devices;
};

// The devices attached to this computer, from this platform's backend.
[[nodiscard]] Listing attachedDevices();

// `list --json`: {"devices": [...]}, indented, with a final line break.
[[nodiscard]] std::string listJson(const std::vector<AttachedDevice>& devices);

}  // namespace qvr::ctl
