#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "protocol/commands.h"

namespace qvr::protocol {

// Input report layout: report ID, status byte, data-present byte, then receiver bytes.
inline constexpr std::size_t kInputReportHeader = 3;

// The shortest reports this program can work with, report ID byte counted: an input report with
// room for one receiver byte after its header, and a feature report with room for a command
// code and one byte of data (every setting has at least one).
inline constexpr std::size_t kShortestUsableInput = kInputReportHeader + 1;
inline constexpr std::size_t kShortestUsableFeature = kCommandDataOffset + 1;

// Why a device with these report lengths (report ID byte counted, as the Windows HID class
// driver counts them) cannot be used, as a phrase to follow "cannot be used: "; nothing when
// it can. Such a device would be connected, read and written to no purpose.
[[nodiscard]] std::optional<std::string> reportLengthsProblem(std::size_t inputLength,
                                                              std::size_t featureLength);

}  // namespace qvr::protocol
