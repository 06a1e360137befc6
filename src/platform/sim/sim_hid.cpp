#include "platform/sim/sim_hid.h"

#include <algorithm>

namespace qvr::platform::sim {
namespace {

constexpr const char* kPathPrefix = "sim-hid:";

std::size_t deviceIndexOf(const std::string& path) {
  return static_cast<std::size_t>(std::stoul(path.substr(std::string(kPathPrefix).size())));
}

void fitTo(std::vector<std::uint8_t>& bytes, std::span<const std::uint8_t> source,
           std::size_t length) {
  bytes.assign(length, 0);
  std::copy_n(source.begin(), std::min(length, source.size()), bytes.begin());
}

bool putString(const std::u16string& text, DeviceStringBuffer& out) {
  out.fill(0);
  // As the HID class driver does: as many code units as fit, zero-terminated only when the
  // terminator fits too.
  for (std::size_t i = 0; i < text.size() && 2 * i + 1 < out.size(); ++i) {
    out[2 * i] = static_cast<std::uint8_t>(text[i] & 0xFF);
    out[2 * i + 1] = static_cast<std::uint8_t>(text[i] >> 8);
  }
  return true;
}

void putLittleEndian32(std::vector<std::uint8_t>& report, std::size_t offset, std::uint32_t v) {
  for (std::size_t i = 0; i < 4; ++i) {
    report[offset + i] = static_cast<std::uint8_t>(v >> (8 * i));
  }
}

}  // namespace

std::vector<std::uint8_t> defaultConfiguration() {
  constexpr std::uint32_t kTenMegahertz = 10'000'000;
  std::vector<std::uint8_t> report(26, 0);
  report[1] = 1;     // two-output format
  report[2] = 0x20;  // outputs enabled, 1PPS off
  putLittleEndian32(report, 7, kTenMegahertz);
  putLittleEndian32(report, 15, kTenMegahertz);
  report[22] = 0x47;  // GPS, SBAS, Galileo, GLONASS
  report[23] = 2;     // stationary
  report[24] = 12;    // antenna current
  return report;
}

SimDevice::SimDevice(DeviceSpec spec) : spec_(std::move(spec)) {
  setConfiguration(spec_.configuration.empty() ? defaultConfiguration() : spec_.configuration);
}

void SimDevice::setConfiguration(std::span<const std::uint8_t> report) {
  fitTo(configuration_, report, spec_.featureLength);
}

void SimDevice::queueInputReport(std::span<const std::uint8_t> report) {
  std::vector<std::uint8_t> fitted;
  fitTo(fitted, report, spec_.inputLength);
  inputQueue_.push_back(std::move(fitted));
}

SimDevice& SimHid::attach(DeviceSpec spec) {
  devices_.push_back(std::make_unique<SimDevice>(std::move(spec)));
  return *devices_.back();
}

void SimHid::unplug(SimDevice& device) {
  device.present_ = false;
  ++device.generation_;
  device.inputQueue_.clear();
  // The handles stay open on the host's side until it closes them; they just stop working.
}

void SimHid::plug(SimDevice& device) {
  device.present_ = true;
}

SimDevice* SimHid::find(const std::u16string& serial) {
  for (const auto& device : devices_) {
    if (device->spec().serial == serial) {
      return device.get();
    }
  }
  return nullptr;
}

int SimHid::openHandles() const {
  int total = 0;
  for (const auto& device : devices_) {
    total += device->openHandles();
  }
  return total;
}

std::vector<std::string> SimHid::presentInterfaces() {
  std::vector<std::string> paths;
  for (std::size_t i = 0; i < devices_.size(); ++i) {
    if (devices_[i]->present()) {
      paths.push_back(kPathPrefix + std::to_string(i));
    }
  }
  return paths;
}

HidHandle SimHid::open(const std::string& path, OpenMode /*mode*/) {
  if (!path.starts_with(kPathPrefix)) {
    return kInvalidHandle;
  }
  const std::size_t index = deviceIndexOf(path);
  if (index >= devices_.size()) {
    return kInvalidHandle;
  }
  SimDevice& device = *devices_[index];
  if (!device.present() || device.spec().unopenable) {
    return kInvalidHandle;
  }
  const HidHandle handle = nextHandle_++;
  handles_[handle] = OpenHandle{&device, device.generation_};
  ++device.openHandles_;
  return handle;
}

bool SimHid::close(HidHandle handle) {
  const auto it = handles_.find(handle);
  if (it == handles_.end()) {
    return false;
  }
  --it->second.device->openHandles_;
  handles_.erase(it);
  return true;
}

SimDevice* SimHid::live(HidHandle handle) {
  const auto it = handles_.find(handle);
  if (it == handles_.end()) {
    return nullptr;
  }
  SimDevice* device = it->second.device;
  return device->present() && device->generation_ == it->second.generation ? device : nullptr;
}

bool SimHid::attributes(HidHandle handle, HidAttributes& out) {
  const SimDevice* device = live(handle);
  if (device == nullptr) {
    return false;
  }
  out = HidAttributes{device->spec().vendorId, device->spec().productId,
                      device->spec().versionNumber};
  return true;
}

bool SimHid::capabilities(HidHandle handle, HidCaps& out) {
  const SimDevice* device = live(handle);
  if (device == nullptr) {
    return false;
  }
  out = HidCaps{device->spec().inputLength, device->spec().featureLength};
  return true;
}

bool SimHid::serialNumber(HidHandle handle, DeviceStringBuffer& out) {
  const SimDevice* device = live(handle);
  return device != nullptr && !device->spec().unreadableSerial &&
         putString(device->spec().serial, out);
}

bool SimHid::manufacturer(HidHandle handle, DeviceStringBuffer& out) {
  const SimDevice* device = live(handle);
  return device != nullptr && putString(device->spec().manufacturer, out);
}

bool SimHid::product(HidHandle handle, DeviceStringBuffer& out) {
  const SimDevice* device = live(handle);
  return device != nullptr && putString(device->spec().product, out);
}

bool SimHid::getFeature(HidHandle handle, std::span<std::uint8_t> buffer) {
  const SimDevice* device = live(handle);
  // The class driver refuses a buffer of another length than the device's feature reports.
  if (device == nullptr || buffer.size() != device->spec().featureLength || buffer[0] != 0) {
    return false;
  }
  std::copy(device->configuration_.begin(), device->configuration_.end(), buffer.begin());
  return true;
}

bool SimHid::setFeature(HidHandle handle, std::span<const std::uint8_t> report) {
  SimDevice* device = live(handle);
  if (device == nullptr || report.size() != device->spec().featureLength) {
    return false;
  }
  device->received_.emplace_back(report.begin(), report.end());
  if (listener_) {
    listener_(*device, report);
  }
  return true;
}

bool SimHid::read(HidHandle handle, std::span<std::uint8_t> buffer, std::size_t& bytesRead,
                  std::chrono::milliseconds /*firstReportWait*/) {
  bytesRead = 0;
  SimDevice* device = live(handle);
  if (device == nullptr || buffer.size() < device->spec().inputLength) {
    return false;
  }
  // Whole reports only, as many as fit, oldest first. Nothing queued: the wait runs out at
  // once on the virtual clock.
  while (!device->inputQueue_.empty() &&
         bytesRead + device->inputQueue_.front().size() <= buffer.size()) {
    const auto& report = device->inputQueue_.front();
    std::copy(report.begin(), report.end(),
              buffer.begin() + static_cast<std::ptrdiff_t>(bytesRead));
    bytesRead += report.size();
    device->inputQueue_.pop_front();
  }
  return true;
}

}  // namespace qvr::platform::sim
