#include "protocol/report_descriptor.h"

#include <array>
#include <vector>

#include "protocol/bytes.h"

namespace qvr::protocol {
namespace {

// Item prefix: bits 0-1 size code, bits 2-3 type, bits 4-7 tag.
constexpr std::uint8_t kSizeMask = 0x03;
constexpr int kTypeShift = 2;
constexpr std::uint8_t kTypeMask = 0x03;
constexpr int kTagShift = 4;
// A long item: prefix, data size, long tag, data. No long item tag is defined, so all of them
// are stepped over.
constexpr std::uint8_t kLongItemPrefix = 0xFE;
constexpr std::size_t kLongItemHeader = 3;
constexpr std::size_t kLongItemSizeOffset = 1;

enum ItemType : std::uint8_t { kMain = 0, kGlobal = 1, kLocal = 2, kReserved = 3 };

enum MainTag : std::uint8_t {
  kInput = 0x8,
  kOutput = 0x9,
  kCollection = 0xA,
  kFeature = 0xB,
  kEndCollection = 0xC,
};

enum GlobalTag : std::uint8_t {
  kReportSize = 0x7,
  kReportId = 0x8,
  kReportCount = 0x9,
  kPush = 0xA,
  kPop = 0xB,
};

// The limits of the Linux HID core, so that a descriptor accepted here is one the kernel
// accepts too, and no product of two fields can overflow the bit counts below.
constexpr std::uint32_t kMaxReportSizeBits = 256;
constexpr std::uint32_t kMaxReportCount = 12288;
constexpr std::uint32_t kMaxReportBytes = 16384;  // the most a hidraw node passes on
constexpr std::size_t kMaxPushDepth = 4;
constexpr std::uint32_t kMaxReportId = 255;
constexpr std::uint32_t kBitsPerByte = 8;

struct GlobalState {
  std::uint32_t reportSize = 0;
  std::uint32_t reportCount = 0;
  std::uint32_t reportId = 0;  // 0 until the descriptor numbers its reports
};

enum ReportType : std::size_t { kInputReport, kOutputReport, kFeatureReport, kReportTypes };

// Short item data: 0, 1, 2 or 4 bytes, little-endian.
constexpr std::array<std::size_t, 4> kDataBytes = {0, 1, 2, 4};

std::uint32_t itemData(std::span<const std::uint8_t> bytes) {
  switch (bytes.size()) {
    case 1:
      return bytes[0];
    case 2:
      return readU16Le(bytes, 0);
    case 4:
      return readU32Le(bytes, 0);
    default:
      return 0;
  }
}

std::uint16_t windowsLength(std::uint32_t bits) {
  if (bits == 0) {
    return 0;
  }
  // The report ID byte counts whether or not the device sends one.
  return static_cast<std::uint16_t>((bits + kBitsPerByte - 1) / kBitsPerByte + 1);
}

}  // namespace

DescriptorParse parseReportDescriptor(std::span<const std::uint8_t> descriptor) {
  DescriptorParse result;
  auto fail = [&result](DescriptorError error, std::size_t offset) {
    result.error = error;
    result.errorOffset = offset;
    return result;
  };

  GlobalState global;
  std::vector<GlobalState> pushed;
  std::size_t openCollections = 0;
  bool numbered = false;
  // Bits per report ID, for each report type.
  std::array<std::array<std::uint32_t, kMaxReportId + 1>, kReportTypes> bits{};

  std::size_t pos = 0;
  while (pos < descriptor.size()) {
    const std::size_t start = pos;
    const std::uint8_t prefix = descriptor[pos];
    const std::size_t remaining = descriptor.size() - pos;

    if (prefix == kLongItemPrefix) {
      if (remaining < kLongItemHeader) {
        return fail(DescriptorError::TruncatedItem, start);
      }
      const std::size_t dataBytes = descriptor[pos + kLongItemSizeOffset];
      if (remaining - kLongItemHeader < dataBytes) {
        return fail(DescriptorError::TruncatedItem, start);
      }
      pos += kLongItemHeader + dataBytes;
      continue;
    }

    const std::size_t dataBytes = kDataBytes[prefix & kSizeMask];
    if (remaining - 1 < dataBytes) {
      return fail(DescriptorError::TruncatedItem, start);
    }
    const std::uint32_t data = itemData(descriptor.subspan(pos + 1, dataBytes));
    const auto type = static_cast<std::uint8_t>((prefix >> kTypeShift) & kTypeMask);
    const auto tag = static_cast<std::uint8_t>(prefix >> kTagShift);
    pos += 1 + dataBytes;

    if (type == kGlobal) {
      switch (tag) {
        case kReportSize:
          if (data > kMaxReportSizeBits) {
            return fail(DescriptorError::ReportSizeTooLarge, start);
          }
          global.reportSize = data;
          break;
        case kReportCount:
          if (data > kMaxReportCount) {
            return fail(DescriptorError::ReportCountTooLarge, start);
          }
          global.reportCount = data;
          break;
        case kReportId:
          if (data == 0) {
            return fail(DescriptorError::ReportIdZero, start);
          }
          if (data > kMaxReportId) {
            return fail(DescriptorError::ReportIdTooLarge, start);
          }
          global.reportId = data;
          numbered = true;
          break;
        case kPush:
          if (pushed.size() == kMaxPushDepth) {
            return fail(DescriptorError::PushTooDeep, start);
          }
          pushed.push_back(global);
          break;
        case kPop:
          if (pushed.empty()) {
            return fail(DescriptorError::PopWithoutPush, start);
          }
          global = pushed.back();
          pushed.pop_back();
          break;
        default:
          break;  // usage page, logical and physical ranges, units: no bearing on lengths
      }
      continue;
    }
    if (type != kMain) {
      continue;  // local items name usages; reserved items mean nothing yet
    }

    std::size_t reportType = kReportTypes;
    switch (tag) {
      case kInput:
        reportType = kInputReport;
        break;
      case kOutput:
        reportType = kOutputReport;
        break;
      case kFeature:
        reportType = kFeatureReport;
        break;
      case kCollection:
        ++openCollections;
        break;
      case kEndCollection:
        if (openCollections == 0) {
          return fail(DescriptorError::EndCollectionUnopened, start);
        }
        --openCollections;
        break;
      default:
        break;
    }
    if (reportType == kReportTypes) {
      continue;
    }
    // Both factors are bounded above, so neither the product nor the sum can overflow.
    std::uint32_t& reportBits = bits[reportType][global.reportId];
    reportBits += global.reportSize * global.reportCount;
    if (reportBits > kMaxReportBytes * kBitsPerByte) {
      return fail(DescriptorError::ReportTooLong, start);
    }
  }

  if (openCollections != 0) {
    return fail(DescriptorError::CollectionUnclosed, descriptor.size());
  }

  auto longest = [&bits](std::size_t reportType) {
    std::uint32_t most = 0;
    for (const std::uint32_t b : bits[reportType]) {
      most = b > most ? b : most;
    }
    return windowsLength(most);
  };
  result.lengths.input = longest(kInputReport);
  result.lengths.output = longest(kOutputReport);
  result.lengths.feature = longest(kFeatureReport);
  result.lengths.numbered = numbered;
  return result;
}

const char* describe(DescriptorError error) {
  switch (error) {
    case DescriptorError::None:
      return "no error";
    case DescriptorError::TruncatedItem:
      return "item runs past the end";
    case DescriptorError::PopWithoutPush:
      return "Pop without Push";
    case DescriptorError::PushTooDeep:
      return "Push nested too deep";
    case DescriptorError::ReportIdZero:
      return "report ID 0";
    case DescriptorError::ReportIdTooLarge:
      return "report ID above 255";
    case DescriptorError::ReportSizeTooLarge:
      return "report size above 256 bits";
    case DescriptorError::ReportCountTooLarge:
      return "report count above 12288";
    case DescriptorError::ReportTooLong:
      return "report longer than 16384 bytes";
    case DescriptorError::EndCollectionUnopened:
      return "End Collection without Collection";
    case DescriptorError::CollectionUnclosed:
      return "collection left open";
  }
  return "unknown error";
}

}  // namespace qvr::protocol
