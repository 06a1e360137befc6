#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/hid.h"
#include "platform/linux/device_listing.h"
#include "platform/linux/usb_sysfs.h"
#include "protocol/report_descriptor.h"

// hidapi's handle type, declared here so that users of this header need no hidapi include path.
struct hid_device_;

// The folder is linux/, the namespace hidraw: GNU language modes predefine `linux` as a macro.
namespace qvr::platform::hidraw {

// The HID seam over hidapi's hidraw backend. Only interfaces with the QVR-7130's vendor and
// product ID are listed: the core would skip the others anyway, and opening every keyboard and
// mouse on each reconnect tick would be slow and, where the user may not open them, noisy.
class LinuxHid final : public Hid {
 public:
  LinuxHid();
  ~LinuxHid() override;
  LinuxHid(const LinuxHid&) = delete;
  LinuxHid& operator=(const LinuxHid&) = delete;

  [[nodiscard]] bool presentInterfaces(std::vector<std::string>& paths) override;
  // The HID device's sysfs folder behind the node, whose name the kernel numbers afresh for
  // every device it adds ("0003:VVVV:PPPP.NNNN").
  [[nodiscard]] std::string plugIn(const std::string& path) override;
  [[nodiscard]] HidHandle open(const std::string& path, OpenMode mode) override;
  bool close(HidHandle handle) override;
  [[nodiscard]] bool attributes(HidHandle handle, HidAttributes& out) override;
  [[nodiscard]] bool capabilities(HidHandle handle, HidCaps& out) override;
  [[nodiscard]] bool serialNumber(HidHandle handle, DeviceStringBuffer& out) override;
  [[nodiscard]] bool manufacturer(HidHandle handle, DeviceStringBuffer& out) override;
  [[nodiscard]] bool product(HidHandle handle, DeviceStringBuffer& out) override;
  [[nodiscard]] bool getFeature(HidHandle handle, std::span<std::uint8_t> buffer) override;
  [[nodiscard]] bool setFeature(HidHandle handle, std::span<const std::uint8_t> report) override;
  [[nodiscard]] bool read(HidHandle handle, std::span<std::uint8_t> buffer, std::size_t& bytesRead,
                          std::chrono::milliseconds firstReportWait) override;
  [[nodiscard]] ReadStamp readStamp() const override { return readStamp_; }
  [[nodiscard]] std::string lastErrorText() const override { return lastError_; }

 private:
  struct OpenDevice {
    hid_device_* device = nullptr;
    std::string path;
    // Read from the report descriptor when first needed: a scan opens every device only for
    // its identity. Empty when the descriptor could not be read or made no sense; then the
    // report lengths are unknown, and so is how to split a read.
    std::optional<protocol::ReportLengths> lengths;
    bool descriptorTried = false;
    std::string descriptorProblem;               // why `lengths` is empty
    std::optional<KernelDeviceStrings> strings;  // read when first asked for
  };
  // The open device behind a handle, or nullptr after recording that there is none.
  [[nodiscard]] OpenDevice* find(HidHandle handle);
  [[nodiscard]] static const std::optional<protocol::ReportLengths>& reportLengths(
      OpenDevice& open);
  // Why a feature report of this size cannot go to or come from the device; empty if it can.
  [[nodiscard]] static std::string featureLengthProblem(OpenDevice& open, std::size_t size);
  // One of the device's strings, as the seam hands strings over.
  bool deviceString(HidHandle handle, std::optional<std::string> KernelDeviceStrings::*which,
                    DeviceStringBuffer& out);
  // Records why the call fails and returns what a failed call returns.
  bool fail(std::string reason);
  // True for no problem; otherwise records it and fails.
  bool succeeded(std::string problem);

  std::map<HidHandle, OpenDevice> handles_;
  HidHandle nextHandle_ = 1;
  std::string lastError_;
  ReadStamp readStamp_;
};

// Every present device of the right identity, whether or not this user may open it; each one
// is tried and closed again.
[[nodiscard]] std::vector<ListedDevice> listDevices();

}  // namespace qvr::platform::hidraw
