#include "platform/sim/sim_system.h"

namespace qvr::platform::sim {

bool SimSystem::setSystemTime(const UtcTime& time) {
  if (clockListener_) {
    clockListener_(time);
  }
  return clockRefusal_.empty();
}

void SimSystem::openAddress(const std::string& address) {
  if (addressListener_) {
    addressListener_(address);
  }
}

void SimSystem::messageBox(const std::string& title, const std::string& text) {
  if (messageListener_) {
    messageListener_(title, text);
  }
}

}  // namespace qvr::platform::sim
