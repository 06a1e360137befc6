#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace qvr::protocol {

// Report lengths as the Windows HID class driver counts them: the longest report of each type,
// in whole bytes, plus one for the report ID byte, which a buffer always starts with even when
// the device numbers no reports. A type the device has no report of has length 0.
struct ReportLengths {
  std::uint16_t input = 0;
  std::uint16_t output = 0;
  std::uint16_t feature = 0;
  // The device numbers its reports, so each one travels with its ID in front; unnumbered
  // reports go without it on the wire.
  bool numbered = false;
  friend bool operator==(const ReportLengths&, const ReportLengths&) = default;
};

enum class DescriptorError : std::uint8_t {
  None,
  TruncatedItem,          // an item's data runs past the end of the descriptor
  PopWithoutPush,         // Pop with no pushed global state to return to
  PushTooDeep,            // more nested Push items than any device needs
  ReportIdZero,           // report ID 0 is reserved for devices that number no reports
  ReportIdTooLarge,       // report IDs are one byte on the wire
  ReportSizeTooLarge,     // more bits per field than a field can have
  ReportCountTooLarge,    // more fields in one main item than a report can carry
  ReportTooLong,          // a report longer than the HID driver passes on
  EndCollectionUnopened,  // End Collection without a Collection
  CollectionUnclosed,     // the descriptor ends inside a collection
};

struct DescriptorParse {
  ReportLengths lengths;  // meaningful only without an error
  DescriptorError error = DescriptorError::None;
  std::size_t errorOffset = 0;  // where the offending item starts
  [[nodiscard]] bool ok() const { return error == DescriptorError::None; }
};

// Reads a HID report descriptor far enough to know its report lengths: the global items that
// size fields (Report Size, Report Count, Report ID, Push, Pop), the main items that place them
// (Input, Output, Feature) and the collection nesting. Local items and long items are stepped
// over. Never reads past the end of `descriptor`; malformed input gives an error instead.
[[nodiscard]] DescriptorParse parseReportDescriptor(std::span<const std::uint8_t> descriptor);

// A short English phrase for messages, e.g. "item runs past the end".
[[nodiscard]] const char* describe(DescriptorError error);

}  // namespace qvr::protocol
