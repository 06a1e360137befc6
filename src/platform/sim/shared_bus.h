#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "platform/hid.h"
#include "platform/sim/sim_hid.h"

namespace qvr::platform::sim {

// One thread's view of a simulated bus that several threads use: every call holds the bus's
// lock (except while a read waits for its device), and the view keeps the reason and the
// answering state of its own latest call, which another thread's call would otherwise
// overwrite on the bus.
class SharedBusView final : public Hid {
 public:
  SharedBusView(SimHid& bus, std::mutex& lock) : bus_(bus), lock_(lock) {}

  [[nodiscard]] bool presentInterfaces(std::vector<std::string>& paths) override;
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
  [[nodiscard]] bool answering() const override { return answering_; }
  [[nodiscard]] std::string lastErrorText() const override { return lastError_; }

 private:
  // Runs one call of the bus under its lock and keeps what a failure left behind.
  template <typename Call>
  auto locked(Call call);
  // Keeps what a call that returned `ok` left behind; under the lock.
  void keep(bool ok);

  SimHid& bus_;
  std::mutex& lock_;
  bool answering_ = true;
  std::string lastError_;
  ReadStamp readStamp_;
};

}  // namespace qvr::platform::sim
