#include "platform/sim/shared_bus.h"

#include <type_traits>

namespace qvr::platform::sim {

void SharedBusView::keep(bool ok) {
  answering_ = ok || bus_.answering();
  if (!ok) {
    lastError_ = bus_.lastErrorText();
  }
}

template <typename Call>
auto SharedBusView::locked(Call call) {
  const std::lock_guard lock(lock_);
  auto result = call();
  if constexpr (std::is_same_v<decltype(result), HidHandle>) {
    keep(result != kInvalidHandle);
  } else {
    keep(result);
  }
  return result;
}

bool SharedBusView::presentInterfaces(std::vector<std::string>& paths) {
  return locked([&] { return bus_.presentInterfaces(paths); });
}
std::string SharedBusView::plugIn(const std::string& path) {
  const std::lock_guard lock(lock_);
  return bus_.plugIn(path);
}
HidHandle SharedBusView::open(const std::string& path, OpenMode mode) {
  return locked([&] { return bus_.open(path, mode); });
}
bool SharedBusView::close(HidHandle handle) {
  return locked([&] { return bus_.close(handle); });
}
bool SharedBusView::attributes(HidHandle handle, HidAttributes& out) {
  return locked([&] { return bus_.attributes(handle, out); });
}
bool SharedBusView::capabilities(HidHandle handle, HidCaps& out) {
  return locked([&] { return bus_.capabilities(handle, out); });
}
bool SharedBusView::serialNumber(HidHandle handle, DeviceStringBuffer& out) {
  return locked([&] { return bus_.serialNumber(handle, out); });
}
bool SharedBusView::manufacturer(HidHandle handle, DeviceStringBuffer& out) {
  return locked([&] { return bus_.manufacturer(handle, out); });
}
bool SharedBusView::product(HidHandle handle, DeviceStringBuffer& out) {
  return locked([&] { return bus_.product(handle, out); });
}
bool SharedBusView::getFeature(HidHandle handle, std::span<std::uint8_t> buffer) {
  return locked([&] { return bus_.getFeature(handle, buffer); });
}
bool SharedBusView::setFeature(HidHandle handle, std::span<const std::uint8_t> report) {
  return locked([&] { return bus_.setFeature(handle, report); });
}
bool SharedBusView::read(HidHandle handle, std::span<std::uint8_t> buffer, std::size_t& bytesRead,
                         std::chrono::milliseconds firstReportWait) {
  std::unique_lock lock(lock_);
  const bool ok = bus_.read(handle, buffer, bytesRead, firstReportWait, lock);
  if (ok) {
    readStamp_ = bus_.readStamp();
  }
  keep(ok);
  return ok;
}

}  // namespace qvr::platform::sim
