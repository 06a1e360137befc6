#include "protocol/report_descriptor.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace qvr::protocol {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Items spelled out once, so that a descriptor below reads like a descriptor.
const Bytes kVendorPage = {0x06, 0x00, 0xFF};             // Usage Page (vendor 0xFF00)
const Bytes kUsage1 = {0x09, 0x01};                       // Usage (1)
const Bytes kApplication = {0xA1, 0x01};                  // Collection (Application)
const Bytes kEnd = {0xC0};                                // End Collection
const Bytes kByteRange = {0x15, 0x00, 0x26, 0xFF, 0x00};  // Logical Minimum 0, Maximum 255
const Bytes kInput = {0x81, 0x02};                        // Input (Data, Variable, Absolute)
const Bytes kOutput = {0x91, 0x02};
const Bytes kFeature = {0xB1, 0x02};
const Bytes kPush = {0xA4};
const Bytes kPop = {0xB4};
Bytes size8(std::uint8_t bits) {
  return {0x75, bits};
}  // Report Size, one data byte
Bytes count8(std::uint8_t n) {
  return {0x95, n};
}  // Report Count, one data byte
Bytes count16(std::uint16_t n) {
  return {0x96, static_cast<std::uint8_t>(n & 0xFF), static_cast<std::uint8_t>(n >> 8)};
}
Bytes id(std::uint8_t reportId) {
  return {0x85, reportId};
}

Bytes join(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts) {
    all.insert(all.end(), part.begin(), part.end());
  }
  return all;
}

// The device's own layout: unnumbered 63-byte input and 39-byte feature reports.
Bytes deviceDescriptor() {
  return join({kVendorPage, kUsage1, kApplication, kByteRange, size8(8), count8(63), kUsage1,
               kInput, count8(39), kUsage1, kFeature, kEnd});
}

struct LengthCase {
  const char* name;
  Bytes descriptor;
  ReportLengths expected;
};

TEST(ReportDescriptor, LengthsAreTheLongestReportOfEachTypePlusTheReportIdByte) {
  const LengthCase cases[] = {
      {"the device's layout", deviceDescriptor(), {64, 0, 40, false}},
      {"empty: no reports at all", {}, {0, 0, 0, false}},
      {"only a collection", join({kUsage1, kApplication, kEnd}), {0, 0, 0, false}},
      // 3 + 5 bits fill one byte; 9 single bits round up to two.
      {"bit fields share bytes",
       join({size8(1), count8(3), kInput, size8(5), count8(1), kInput}),
       {2, 0, 0, false}},
      {"bits round up", join({size8(1), count8(9), kOutput}), {0, 3, 0, false}},
      {"two-byte count and sixteen-bit fields",
       join({size8(16), count16(300), kInput}),
       {601, 0, 0, false}},
      {"four-byte data item",
       join({{0x77, 0x20, 0x00, 0x00, 0x00}, count8(2), kFeature}),
       {0, 0, 9, false}},
      {"zero-bit fields add nothing", join({size8(0), count8(50), kInput}), {0, 0, 0, false}},
      // Each report ID is its own report; the longest one of a type sets its length.
      {"numbered reports",
       join({id(1), size8(8), count8(4), kInput, id(2), count8(10), kInput, id(3), size8(16),
             count8(2), kFeature}),
       {11, 0, 5, true}},
      {"fields of one report add up across main items",
       join({id(7), size8(8), count8(4), kInput, count8(6), kInput, id(8), count8(9), kInput}),
       {11, 0, 0, true}},
      {"types are counted apart",
       join({size8(8), count8(5), kInput, count8(7), kOutput, count8(2), kFeature, count8(1),
             kInput}),
       {7, 8, 3, false}},
      // ID 1 gets 4 + 4 bytes, ID 2 16 bytes. Without Pop restoring size and count the last
      // Input would add 16 bytes to ID 2; restoring them but not the ID, 4 bytes to ID 2.
      {"Pop restores the pushed globals",
       join({id(1), size8(8), count8(4), kInput, kPush, id(2), size8(16), count8(8), kInput, kPop,
             kInput}),
       {17, 0, 0, true}},
      // The long item's data looks like Report Count 255 and an Input item.
      {"long items are stepped over",
       join({size8(8),
             count8(2),
             {0xFE, 0x04, 0xF0, 0x95, 0xFF, 0x81, 0x02},
             kInput,
             {0xFE, 0x00, 0x01},
             kFeature}),
       {3, 0, 3, false}},
      // Usage Minimum/Maximum, Delimiter and a reserved item: no bearing on lengths.
      {"local and reserved items are ignored",
       join({{0x19, 0x01, 0x29, 0x08, 0xA9, 0x01, 0xA9, 0x00, 0x0C}, size8(1), count8(8), kInput}),
       {2, 0, 0, false}},
      {"nested collections",
       join({kApplication, {0xA1, 0x02}, size8(8), count8(3), kInput, kEnd, kEnd}),
       {4, 0, 0, false}},
      // The longest report the HID driver passes on: exactly 16384 bytes.
      {"largest report", join({size8(8), count16(8192), kInput, kInput}), {16385, 0, 0, false}},
  };
  for (const LengthCase& c : cases) {
    SCOPED_TRACE(c.name);
    const DescriptorParse parse = parseReportDescriptor(c.descriptor);
    ASSERT_TRUE(parse.ok()) << describe(parse.error) << " at " << parse.errorOffset;
    EXPECT_EQ(parse.lengths.input, c.expected.input);
    EXPECT_EQ(parse.lengths.output, c.expected.output);
    EXPECT_EQ(parse.lengths.feature, c.expected.feature);
    EXPECT_EQ(parse.lengths.numbered, c.expected.numbered);
  }
}

struct ErrorCase {
  const char* name;
  Bytes descriptor;
  DescriptorError error;
  std::size_t offset;
};

TEST(ReportDescriptor, MalformedDescriptorsFailAtTheOffendingItem) {
  const ErrorCase cases[] = {
      {"one-byte item without its byte", {0x75}, DescriptorError::TruncatedItem, 0},
      {"two-byte item with one byte", join({kUsage1, {0x96, 0x2C}}), DescriptorError::TruncatedItem,
       2},
      {"four-byte item with two bytes", {0x97, 0x01, 0x02}, DescriptorError::TruncatedItem, 0},
      {"long item without its tag", {0xFE, 0x05}, DescriptorError::TruncatedItem, 0},
      {"long item with short data", join({kUsage1, {0xFE, 0x05, 0x00, 0x01, 0x02}}),
       DescriptorError::TruncatedItem, 2},
      {"Pop first", kPop, DescriptorError::PopWithoutPush, 0},
      {"one Pop too many", join({kPush, kPop, kPop}), DescriptorError::PopWithoutPush, 2},
      {"five Push items deep", join({kPush, kPush, kPush, kPush, kPush}),
       DescriptorError::PushTooDeep, 4},
      {"report ID 0", id(0), DescriptorError::ReportIdZero, 0},
      {"report ID 256", {0x86, 0x00, 0x01}, DescriptorError::ReportIdTooLarge, 0},
      {"report size 257", {0x76, 0x01, 0x01}, DescriptorError::ReportSizeTooLarge, 0},
      {"report size 2^32 - 1",
       {0x77, 0xFF, 0xFF, 0xFF, 0xFF},
       DescriptorError::ReportSizeTooLarge,
       0},
      {"report count 12289", join({size8(1), count16(12289)}), DescriptorError::ReportCountTooLarge,
       2},
      {"one main item too long", join({{0x76, 0x00, 0x01}, count16(12288), kInput}),
       DescriptorError::ReportTooLong, 6},
      {"a bit beyond the largest report",
       join({size8(8), count16(8192), kInput, kInput, size8(1), count8(1), kInput}),
       DescriptorError::ReportTooLong, 13},
      {"End Collection first", kEnd, DescriptorError::EndCollectionUnopened, 0},
      {"collection left open", join({kUsage1, kApplication}), DescriptorError::CollectionUnclosed,
       4},
  };
  for (const ErrorCase& c : cases) {
    SCOPED_TRACE(c.name);
    const DescriptorParse parse = parseReportDescriptor(c.descriptor);
    EXPECT_EQ(parse.error, c.error) << describe(parse.error);
    EXPECT_EQ(parse.errorOffset, c.offset);
    EXPECT_FALSE(parse.ok());
  }
}

TEST(ReportDescriptor, EveryCutOfAValidDescriptorFailsWithoutReadingPastItsEnd) {
  // Each prefix lives in a buffer of exactly its own size, so that the sanitizer build catches
  // a single byte read beyond it.
  const Bytes full = join({deviceDescriptor(),
                           {0xFE, 0x02, 0x10, 0xAA, 0xBB},
                           count16(2),
                           {0x97, 0x08, 0x00, 0x00, 0x00}});
  // Cuts between whole items outside the collection leave a valid descriptor: nothing at all,
  // after Usage Page, after Usage, and after each item that follows End Collection.
  const std::set<std::size_t> validCuts = {0, 3, 5, 27, 32, 35};
  for (std::size_t cut = 0; cut < full.size(); ++cut) {
    const Bytes prefix(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(cut));
    const DescriptorParse parse = parseReportDescriptor(prefix);
    SCOPED_TRACE("cut at " + std::to_string(cut));
    EXPECT_EQ(parse.ok(), validCuts.contains(cut)) << describe(parse.error);
    EXPECT_LE(parse.errorOffset, cut);
  }
  EXPECT_TRUE(parseReportDescriptor(full).ok());
}

}  // namespace
}  // namespace qvr::protocol
