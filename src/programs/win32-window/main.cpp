// The composition root of qvr7130.exe: picks the backends, hands them to the window's controller
// and runs the Win32 message loop.

#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "platform/sim/kept_clock_system.h"
#include "platform/sim/sim_hid.h"
#include "platform/timed/timed_hid.h"
#include "platform/win32/device_list.h"
#include "platform/win32/win32_hid.h"
#include "platform/win32/win32_system.h"
#include "programs/common/command_line.h"
#include "programs/win32-window/png_image.h"
#include "programs/win32-window/win32_window.h"
#include "ui/controller_thread.h"
#include "ui/controls.h"

namespace {

namespace platform = qvr::platform;
namespace ui = qvr::ui;
namespace win32 = qvr::platform::win32;

constexpr const char* kProgram = platform::kWindowProgram;

// A window program started from a console gets none of its own; its output (--help, errors)
// goes to the console it was started from, unless it was redirected somewhere already.
void reachParentConsole() {
  const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  if (GetFileType(output) != FILE_TYPE_UNKNOWN || !AttachConsole(ATTACH_PARENT_PROCESS)) {
    return;
  }
  if (std::freopen("CONOUT$", "w", stdout) == nullptr ||
      std::freopen("CONOUT$", "w", stderr) == nullptr) {
    return;
  }
  std::cout.clear();
  std::cerr.clear();
}

bool writeFile(const std::string& file, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(file, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

// Ticks on a virtual clock, each as long as the timer's interval, so a screenshot after a few
// hundred ticks shows a simulated receiver as it is after that much time, without waiting for
// it. The window is never shown: it paints itself into a bitmap, saved as a PNG image.
int takeScreenshot(ui::ControllerThread& controller, win32::Win32Window& window,
                   platform::System& system, std::chrono::milliseconds& virtualNow,
                   const std::string& file, int ticks) {
  controller.drain();
  for (int i = 0; i < ticks; ++i) {
    virtualNow += std::chrono::milliseconds(controller.form()[ui::ctl::Timer].interval);
    controller.tick();
    controller.drain();
  }
  system.doEvents();
  const win32::Picture picture = window.capture();
  const std::vector<std::uint8_t> png =
      win32::encodePng(picture.width, picture.height, picture.pixels);
  SendMessageW(static_cast<HWND>(window.handle()), WM_CLOSE, 0, 0);
  if (png.empty() || !writeFile(file, png)) {
    std::cerr << kProgram << ": could not write the screenshot to '" << file << "'\n";
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  reachParentConsole();
  const std::vector<std::string> args(argv + 1, argv + argc);
  const platform::ParsedCommandLine parsed = platform::parseCommandLine(args);
  if (const auto status =
          platform::answerWithoutWindow(parsed, QVR_VERSION, std::cout, std::cerr)) {
    return *status;
  }
  const platform::Options& options = parsed.options;
  if (options.listDevices) {
    win32::Win32Hid hid;
    std::cout << win32::listDevices(hid);
    return platform::finishOutput(0, std::cout, std::cerr, kProgram);
  }

  std::chrono::milliseconds virtualNow{0};
  // Every call on a device thread with a deadline, so a device that stops answering never
  // freezes the window; the simulated bus too, so that --simulate runs the same way.
  std::unique_ptr<platform::Hid> backend;
  if (options.simulatedDevices) {
    backend = platform::sim::simulatedBus(
        *options.simulatedDevices, {.virtualNow = options.screenshot ? &virtualNow : nullptr});
  } else {
    backend = std::make_unique<win32::Win32Hid>();
  }
  const auto hid = std::make_unique<platform::TimedHid>(std::move(backend));
  win32::Win32System system;
  system.setHeadless(options.screenshot.has_value());

  // A simulated receiver's invented time never reaches this computer's clock.
  platform::sim::KeptClockSystem keptClock(system);
  // The controller's changes come back as a message to the window, once it exists and while it
  // does.
  std::atomic<void*> deliverTo{nullptr};
  ui::ControllerThread controller(*hid,
                                  options.simulatedDevices
                                      ? static_cast<platform::System&>(keptClock)
                                      : static_cast<platform::System&>(system),
                                  [&deliverTo] {
                                    if (void* window = deliverTo.load()) {
                                      win32::Win32Window::requestDelivery(window);
                                    }
                                  });
  win32::Win32Window::Hooks hooks;
  hooks.unload = [&controller] { controller.unload(); };
  hooks.closed = [&deliverTo] {
    deliverTo = nullptr;
    PostQuitMessage(0);
  };
  hooks.deliver = [&controller] { controller.deliver(); };
  // A screenshot shows exactly the ticks asked for, not whatever the clock adds meanwhile.
  if (!options.screenshot) {
    hooks.tick = [&controller] { controller.tick(); };
  }
  win32::Win32Window window(controller.form(), controller, std::move(hooks),
                            {.headless = options.screenshot.has_value()});
  system.setOwner(window.handle());
  deliverTo = window.handle();
  controller.load();

  if (options.screenshot) {
    return takeScreenshot(controller, window, system, virtualNow, *options.screenshot,
                          options.ticks);
  }
  return system.runMessageLoop();
}
