#include "device/unusable_devices.h"

#include <algorithm>
#include <utility>

namespace qvr::device {

void UnusableDevices::listed(const std::vector<std::string>& paths) {
  const std::lock_guard lock(mutex_);
  std::erase_if(devices_, [&](const UnusableDevice& device) {
    return std::find(paths.begin(), paths.end(), device.path) == paths.end();
  });
}

bool UnusableDevices::decided(const std::string& path, const std::string& plugIn) const {
  const std::lock_guard lock(mutex_);
  return std::any_of(devices_.begin(), devices_.end(), [&](const UnusableDevice& device) {
    return device.path == path && device.plugIn == plugIn;
  });
}

void UnusableDevices::decide(UnusableDevice device) {
  const std::lock_guard lock(mutex_);
  // A device plugged in again under the same path replaces the verdict on the one before.
  std::erase_if(devices_, [&](const UnusableDevice& d) { return d.path == device.path; });
  devices_.push_back(std::move(device));
}

std::vector<UnusableDevice> UnusableDevices::all() const {
  const std::lock_guard lock(mutex_);
  return devices_;
}

}  // namespace qvr::device
