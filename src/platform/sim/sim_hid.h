#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "platform/hid.h"

namespace qvr::platform::sim {

inline constexpr std::uint16_t kVendorId = 0x3A81;
inline constexpr std::uint16_t kProductId = 0x5C17;

// What a simulated device is made of. Strings are UTF-16, so characters above U+00FF can be
// given to exercise the host's low-byte rule.
struct DeviceSpec {
  std::u16string serial;
  std::u16string manufacturer = u"QVR Instruments";
  std::u16string product = u"QVR-7130 GPSDO";
  std::uint16_t vendorId = kVendorId;
  std::uint16_t productId = kProductId;
  std::uint16_t versionNumber = 0x0108;  // firmware 1.08
  // Deliberately different, so that a host mixing the two lengths up fails in tests.
  std::uint16_t inputLength = 64;
  std::uint16_t featureLength = 40;
  bool unreadableSerial = false;
  bool unopenable = false;
  std::vector<std::uint8_t> configuration;  // empty: a plausible default (format 1, 10 MHz)
};

// Format 1 with outputs enabled, both outputs at 10 MHz, GPS+SBAS+Galileo+GLONASS, stationary.
[[nodiscard]] std::vector<std::uint8_t> defaultConfiguration();

class SimDevice {
 public:
  explicit SimDevice(DeviceSpec spec);

  [[nodiscard]] const DeviceSpec& spec() const { return spec_; }
  [[nodiscard]] bool present() const { return present_; }
  [[nodiscard]] int openHandles() const { return openHandles_; }
  // Every feature report the device accepted, in order, each as long as its feature length.
  [[nodiscard]] const std::vector<std::vector<std::uint8_t>>& received() const { return received_; }

  // The configuration report from byte 0, zero-filled or cut to the feature report length.
  void setConfiguration(std::span<const std::uint8_t> report);
  [[nodiscard]] std::span<const std::uint8_t> configuration() const { return configuration_; }

  // Input reports wait here until the host reads them; each is cut or zero-filled to the
  // input report length.
  void queueInputReport(std::span<const std::uint8_t> report);
  [[nodiscard]] std::size_t queuedInputReports() const { return inputQueue_.size(); }

 private:
  friend class SimHid;
  DeviceSpec spec_;
  bool present_ = true;
  int openHandles_ = 0;
  std::uint64_t generation_ = 0;  // bumped by every unplug: older handles go stale
  std::vector<std::uint8_t> configuration_;
  std::deque<std::vector<std::uint8_t>> inputQueue_;
  std::vector<std::vector<std::uint8_t>> received_;
};

// A HID bus of simulated devices, listed in the order they were attached. Handles are counted
// per device so tests can prove that nothing leaks; a handle of an unplugged device fails
// every call, also after the device comes back.
class SimHid final : public Hid {
 public:
  using ReportListener = std::function<void(const SimDevice&, std::span<const std::uint8_t>)>;

  SimDevice& attach(DeviceSpec spec);
  void unplug(SimDevice& device);
  void plug(SimDevice& device);
  // The first device attached with this serial number, or nullptr.
  [[nodiscard]] SimDevice* find(const std::u16string& serial);
  [[nodiscard]] const std::vector<std::unique_ptr<SimDevice>>& devices() const { return devices_; }
  [[nodiscard]] int openHandles() const;
  // Called for every feature report a device accepts.
  void setReportListener(ReportListener listener) { listener_ = std::move(listener); }

  [[nodiscard]] std::vector<std::string> presentInterfaces() override;
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

 private:
  struct OpenHandle {
    SimDevice* device;
    std::uint64_t generation;
  };
  // The device behind a handle that is still valid, or nullptr.
  SimDevice* live(HidHandle handle);

  std::vector<std::unique_ptr<SimDevice>> devices_;
  std::map<HidHandle, OpenHandle> handles_;
  HidHandle nextHandle_ = 1;
  ReportListener listener_;
};

}  // namespace qvr::platform::sim
