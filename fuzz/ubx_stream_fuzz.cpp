// The receiver's byte stream through the parser and the window's message handler: the bytes
// reach the window as a simulated device's input reports, exactly as from a real device.
#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/sim/sim_hid.h"
#include "platform/sim/sim_system.h"
#include "ui/main_window.h"

namespace {

struct Window {
  Window() : device(hid.attach({.serial = u"FUZZ", .receiver = false})), window(hid, system) {
    window.load();
    window.tick();
  }
  qvr::platform::sim::SimHid hid;
  qvr::platform::sim::SimSystem system;
  qvr::platform::sim::SimDevice& device;
  qvr::ui::MainWindow window;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // One window for the whole run: the parser keeps its state across inputs, as it does across
  // reads.
  static Window w;
  w.device.injectBytes(std::span(data, size));
  w.window.tick();
  return 0;
}
