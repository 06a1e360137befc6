// The conversions the hidraw backend makes at its edge, without a device: reports from what
// hidraw hands over to what a Windows read delivers, hidapi's wide reasons to UTF-8, the device
// listing's text, and the reasons failed calls leave.

#include <gtest/gtest.h>

#include <cerrno>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "platform/linux/device_listing.h"
#include "platform/linux/input_reports.h"
#include "platform/linux/linux_hid.h"
#include "platform/linux/wide_text.h"

namespace qvr::platform::hidraw {
namespace {

using Bytes = std::vector<std::uint8_t>;
using std::chrono::milliseconds;

// A hidraw node's queue: one report per read, cut to the reader's buffer as hidraw does.
struct FakeNode {
  std::deque<Bytes> queued;
  int goneAfter = -1;  // reads that succeed before the device vanishes; -1: it stays
  std::vector<milliseconds> waits;
  std::vector<std::size_t> offered;

  ReportReader reader() {
    return [this](std::span<std::uint8_t> out, milliseconds wait) {
      waits.push_back(wait);
      offered.push_back(out.size());
      if (goneAfter == 0) {
        return -1;
      }
      if (goneAfter > 0) {
        --goneAfter;
      }
      if (queued.empty()) {
        return 0;
      }
      const Bytes report = queued.front();
      queued.pop_front();
      const std::size_t n = std::min(report.size(), out.size());
      std::copy_n(report.begin(), n, out.begin());
      return static_cast<int>(n);
    };
  }
};

Bytes report(std::size_t size, std::uint8_t first) {
  Bytes bytes(size);
  for (std::size_t i = 0; i < size; ++i) {
    bytes[i] = static_cast<std::uint8_t>(first + i);
  }
  return bytes;
}

struct ReadCase {
  const char* name;
  std::deque<Bytes> queued;
  int goneAfter;
  InputFraming framing;
  std::size_t bufferSize;
  bool ok;
  Bytes expected;                   // the buffer's first bytesRead bytes
  std::vector<milliseconds> waits;  // one per read of the node
  std::size_t leftQueued;
};

TEST(HidrawReads, ReportsComeBackToBackWithTheirReportIdByte) {
  const milliseconds first{20};
  const milliseconds none{0};
  const InputFraming unnumbered{5, false};
  const InputFraming numbered{5, true};
  const ReadCase cases[] = {
      {"three queued reports, then the queue is empty",
       {report(4, 0x10), report(4, 0x20), report(4, 0x30)},
       -1,
       unnumbered,
       100,
       true,
       {0, 0x10, 0x11, 0x12, 0x13, 0, 0x20, 0x21, 0x22, 0x23, 0, 0x30, 0x31, 0x32, 0x33},
       {first, none, none, none},
       0},
      {"only whole reports that fit: the third stays queued",
       {report(4, 0x10), report(4, 0x20), report(4, 0x30)},
       -1,
       unnumbered,
       14,
       true,
       {0, 0x10, 0x11, 0x12, 0x13, 0, 0x20, 0x21, 0x22, 0x23},
       {first, none},
       1},
      {"nothing arrives in time", {}, -1, unnumbered, 100, true, {}, {first}, 0},
      {"the device is gone", {report(4, 0x10)}, 0, unnumbered, 100, false, {}, {first}, 1},
      {"gone after one report: that one is delivered",
       {report(4, 0x10), report(4, 0x20)},
       1,
       unnumbered,
       100,
       true,
       {0, 0x10, 0x11, 0x12, 0x13},
       {first, none},
       1},
      {"a short report is zero-filled to the report length",
       {report(2, 0x10), report(4, 0x20)},
       -1,
       unnumbered,
       100,
       true,
       {0, 0x10, 0x11, 0, 0, 0, 0x20, 0x21, 0x22, 0x23},
       {first, none, none},
       0},
      {"a long report is cut to the report length",
       {report(6, 0x10)},
       -1,
       unnumbered,
       100,
       true,
       {0, 0x10, 0x11, 0x12, 0x13},
       {first, none},
       0},
      {"numbered reports arrive with their ID and are kept as they are",
       {{0x02, 0xA1, 0xA2, 0xA3, 0xA4}, {0x03, 0xB1}},
       -1,
       numbered,
       100,
       true,
       {0x02, 0xA1, 0xA2, 0xA3, 0xA4, 0x03, 0xB1, 0, 0, 0},
       {first, none, none},
       0},
      {"a buffer shorter than one report", {report(4, 0x10)}, -1, unnumbered, 4, false, {}, {}, 1},
      {"no input reports at all", {report(4, 0x10)}, -1, {0, false}, 100, false, {}, {}, 1},
  };
  for (const ReadCase& c : cases) {
    SCOPED_TRACE(c.name);
    FakeNode node{.queued = c.queued, .goneAfter = c.goneAfter};
    Bytes buffer(c.bufferSize, 0xEE);
    std::size_t bytesRead = 99;
    const bool ok = gatherInputReports(node.reader(), c.framing, buffer, bytesRead, first);
    EXPECT_EQ(ok, c.ok);
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(bytesRead)),
              c.expected);
    EXPECT_EQ(node.waits, c.waits);
    EXPECT_EQ(node.queued.size(), c.leftQueued);
    // The node is never offered more than one report's worth, minus the ID hidraw leaves out.
    for (const std::size_t offered : node.offered) {
      EXPECT_EQ(offered, c.framing.numbered ? c.framing.reportLength : c.framing.reportLength - 1);
    }
    if (bytesRead < buffer.size()) {
      EXPECT_EQ(buffer[bytesRead], 0xEE) << "wrote past the reports it delivered";
    }
  }
}

TEST(HidrawStrings, Utf8ForTheTerminal) {
  const struct {
    std::wstring text;
    std::string expected;
  } cases[] = {
      {L"QVR-7130", "QVR-7130"},
      {L"\u00E9", "\xC3\xA9"},
      {L"\u07FF\u0800", "\xDF\xBF\xE0\xA0\x80"},
      {L"\u20AC", "\xE2\x82\xAC"},
      {L"\U0001F600", "\xF0\x9F\x98\x80"},
      {std::wstring{static_cast<wchar_t>(0xDC00)}, "\xEF\xBF\xBD"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(utf8(c.text), c.expected);
  }
}

// The backend itself, without a device: what a failed call leaves as its reason.
TEST(LinuxHid, AFailedOpenLeavesTheSystemsReason) {
  const struct {
    const char* path;
    std::string reason;
  } cases[] = {
      {"/nonexistent/hidraw9", "No such file or directory"},
      {"/", "Is a directory"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    LinuxHid hid;
    EXPECT_EQ(hid.lastErrorText(), "");
    EXPECT_EQ(hid.open(c.path, OpenMode::Device), kInvalidHandle);
    EXPECT_EQ(hid.lastErrorText(), c.reason);
  }
}

TEST(LinuxHid, EveryCallOnAHandleThatIsNotOpenSaysSo) {
  LinuxHid hid;
  HidAttributes attributes;
  HidCaps caps;
  DeviceStringBuffer text{};
  Bytes report(40, 0);
  std::size_t bytesRead = 0;
  const struct {
    const char* name;
    std::function<bool()> call;
  } cases[] = {
      {"close", [&] { return hid.close(7); }},
      {"attributes", [&] { return hid.attributes(7, attributes); }},
      {"capabilities", [&] { return hid.capabilities(7, caps); }},
      {"serial number", [&] { return hid.serialNumber(7, text); }},
      {"manufacturer", [&] { return hid.manufacturer(7, text); }},
      {"product", [&] { return hid.product(7, text); }},
      {"get feature", [&] { return hid.getFeature(kInvalidHandle, report); }},
      {"set feature", [&] { return hid.setFeature(kInvalidHandle, report); }},
      {"read", [&] { return hid.read(kInvalidHandle, report, bytesRead, milliseconds(0)); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    (void)hid.open("/nonexistent/hidraw9", OpenMode::Device);  // a different reason before
    EXPECT_FALSE(c.call());
    EXPECT_EQ(hid.lastErrorText(), "no such handle");
  }
}

ListedDevice openable(std::string path, std::string serial) {
  ListedDevice device{.path = std::move(path), .serial = std::move(serial)};
  device.versionNumber = 0x0108;
  device.descriptorRead = true;
  device.descriptor.lengths = {64, 0, 40, false};
  return device;
}

TEST(DeviceListing, SaysForEachDeviceWhetherItOpensAndWhyNot) {
  ListedDevice refused{.path = "/dev/hidraw4", .serial = "QVR000002", .openError = EACCES};
  refused.versionNumber = 0x011A;
  ListedDevice vanished{.path = "/dev/hidraw5", .openError = ENOENT};
  ListedDevice noDescriptor = openable("/dev/hidraw6", "QVR000003");
  noDescriptor.descriptorRead = false;
  ListedDevice malformed = openable("/dev/hidraw7", "QVR000004");
  malformed.descriptor.error = protocol::DescriptorError::PopWithoutPush;
  malformed.descriptor.errorOffset = 17;

  const struct {
    const char* name;
    std::vector<ListedDevice> devices;
    std::string expected;
  } cases[] = {
      {"none", {}, "No QVR-7130 found (USB vendor 3a81, product 5c17).\n"},
      {"one that opens",
       {openable("/dev/hidraw3", "QVR000001")},
       "/dev/hidraw3: serial 'QVR000001', firmware 1.08, opens (input reports 64 bytes, feature "
       "reports 40 bytes)\n"},
      {"refused for lack of permission: the udev rule is named",
       {openable("/dev/hidraw3", "QVR000001"), refused},
       "/dev/hidraw3: serial 'QVR000001', firmware 1.08, opens (input reports 64 bytes, feature "
       "reports 40 bytes)\n"
       "/dev/hidraw4: serial 'QVR000002', firmware 1.1A, cannot be opened: Permission denied\n"
       "The device node is not yours to open: install the udev rule 70-qvr7130.rules (see the "
       "README) and plug the device in again.\n"},
      {"gone meanwhile: no hint about permissions",
       {vanished},
       "/dev/hidraw5: serial unreadable, firmware 0.00, cannot be opened: No such file or "
       "directory\n"},
      {"descriptor trouble",
       {noDescriptor, malformed},
       "/dev/hidraw6: serial 'QVR000003', firmware 1.08, opens, but its report descriptor cannot "
       "be read\n"
       "/dev/hidraw7: serial 'QVR000004', firmware 1.08, opens, but its report descriptor is "
       "malformed (Pop without Push at byte 17)\n"},
      {"a serial number that would retitle and clear the terminal is shown, not obeyed",
       {openable("/dev/hidraw3",
                 "Q\x1b]0;owned\x07\x1b[2J\xc2\x9b"
                 "2J\x7f")},
       "/dev/hidraw3: serial 'Q\\u001b]0;owned\\u0007\\u001b[2J\\u009b2J\\u007f', firmware 1.08, "
       "opens (input reports 64 bytes, feature reports 40 bytes)\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(formatDeviceList(c.devices), c.expected);
  }
}

TEST(DeviceListing, SaysWhyADeviceWhoseReportsCannotCarryTheProtocolIsOfNoUse) {
  const struct {
    std::uint16_t input;
    std::uint16_t feature;
    std::string expected;
  } cases[] = {
      {0, 40, "no input reports"},
      {3, 40, "input reports of 3 bytes carry no receiver data"},
      {64, 2, "feature reports of 2 bytes hold no command"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.expected);
    ListedDevice device = openable("/dev/hidraw3", "QVR000001");
    device.descriptor.lengths = {c.input, 0, c.feature, false};
    EXPECT_EQ(formatDeviceList({device}),
              "/dev/hidraw3: serial 'QVR000001', firmware 1.08, opens, but cannot be used: " +
                  c.expected + "\n");
  }
}

}  // namespace
}  // namespace qvr::platform::hidraw
