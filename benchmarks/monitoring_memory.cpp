// Resident memory of the window model during an hour of live monitoring on the virtual clock:
// it should be flat once the first minute has filled the buffers.
//   build/benchmarks/qvr_monitoring_memory
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>

#include "platform/sim/sim_hid.h"
#include "platform/sim/sim_system.h"
#include "ui/main_window.h"

namespace {

long residentKilobytes() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmRSS:", 0) == 0) {
      return std::stol(line.substr(6));
    }
  }
  return -1;
}

}  // namespace

int main() {
  using namespace std::chrono_literals;
  qvr::platform::sim::SimHid hid;
  qvr::platform::sim::SimSystem system;
  hid.setClock([&system] { return system.now(); });
  qvr::platform::sim::SimDevice& device = hid.attach({.serial = u"MEMORY"});
  qvr::ui::MainWindow window(hid, system);
  window.load();
  std::printf("after start-up: %ld KB resident\n", residentKilobytes());
  constexpr int kTicksPerMinute = 6000;  // the connected window polls every 10 ms
  for (int minute = 1; minute <= 60; ++minute) {
    for (int t = 0; t < kTicksPerMinute; ++t) {
      system.advance(10ms);
      window.tick();
    }
    device.clearReceived();  // the simulation's own log, not the window's memory
    if (minute == 1 || minute == 10 || minute == 60) {
      std::printf("after %2d min of monitoring: %ld KB resident\n", minute, residentKilobytes());
    }
  }
  return 0;
}
