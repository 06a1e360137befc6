#include "platform/sim/sim_system.h"

namespace qvr::platform::sim {

void SimSystem::messageBox(const std::string& title, const std::string& text) {
  if (messageListener_) {
    messageListener_(title, text);
  }
}

}  // namespace qvr::platform::sim
