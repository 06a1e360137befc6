#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/hid.h"

namespace qvr::platform::sim {

// Passes every call on to another backend. Tests derive from it and override only the calls
// they watch or disturb; a scan's calls come through here one by one, so they see those too.
class ForwardingHid : public Hid {
 public:
  explicit ForwardingHid(Hid& inner) : inner_(inner) {}

  bool presentInterfaces(std::vector<std::string>& paths) override {
    return inner_.presentInterfaces(paths);
  }
  std::string plugIn(const std::string& path) override { return inner_.plugIn(path); }
  HidHandle open(const std::string& path, OpenMode mode) override {
    return inner_.open(path, mode);
  }
  bool close(HidHandle handle) override { return inner_.close(handle); }
  bool attributes(HidHandle handle, HidAttributes& out) override {
    return inner_.attributes(handle, out);
  }
  bool capabilities(HidHandle handle, HidCaps& out) override {
    return inner_.capabilities(handle, out);
  }
  bool serialNumber(HidHandle handle, DeviceStringBuffer& out) override {
    return inner_.serialNumber(handle, out);
  }
  bool manufacturer(HidHandle handle, DeviceStringBuffer& out) override {
    return inner_.manufacturer(handle, out);
  }
  bool product(HidHandle handle, DeviceStringBuffer& out) override {
    return inner_.product(handle, out);
  }
  bool getFeature(HidHandle handle, std::span<std::uint8_t> buffer) override {
    return inner_.getFeature(handle, buffer);
  }
  bool setFeature(HidHandle handle, std::span<const std::uint8_t> report) override {
    return inner_.setFeature(handle, report);
  }
  bool read(HidHandle handle, std::span<std::uint8_t> buffer, std::size_t& bytesRead,
            std::chrono::milliseconds firstReportWait) override {
    return inner_.read(handle, buffer, bytesRead, firstReportWait);
  }
  [[nodiscard]] ReadStamp readStamp() const override { return inner_.readStamp(); }
  [[nodiscard]] bool answering() const override { return inner_.answering(); }
  [[nodiscard]] std::string lastErrorText() const override { return inner_.lastErrorText(); }

 private:
  Hid& inner_;
};

}  // namespace qvr::platform::sim
