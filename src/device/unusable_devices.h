#pragma once

#include <mutex>
#include <string>
#include <vector>

namespace qvr::device {

// A QVR-7130 that is attached but whose reports cannot carry the protocol.
struct UnusableDevice {
  std::string path;
  std::string plugIn;   // what told this plug-in from the next when it was decided
  std::string problem;  // why, as a phrase to follow "cannot be used: "
};

// The devices found unusable, each decided once per plug-in: opening one again tells nothing
// new, and a window that looks for a device ten times a second would otherwise open it all the
// time it is plugged in. A verdict holds while its path stays listed with the same plug-in mark
// (platform::Hid::plugIn); a listing without the path, or another mark, decides again. One is
// shared by every link of a program (the scan's and each device's), from any thread.
class UnusableDevices {
 public:
  // Forgets the verdicts on paths that are not in `paths`, a whole listing: their devices were
  // unplugged.
  void listed(const std::vector<std::string>& paths);
  [[nodiscard]] bool decided(const std::string& path, const std::string& plugIn) const;
  void decide(UnusableDevice device);
  [[nodiscard]] std::vector<UnusableDevice> all() const;

 private:
  mutable std::mutex mutex_;
  std::vector<UnusableDevice> devices_;
};

}  // namespace qvr::device
