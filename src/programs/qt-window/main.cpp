// The composition root: picks the backends, hands them to the window's controller and runs
// the Qt event loop.

#include <QApplication>
#include <QPixmap>
#include <QStyleFactory>
#include <chrono>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <utility>

#include "platform/linux/linux_hid.h"
#include "platform/linux/standard_streams.h"
#include "platform/linux/usb_sysfs.h"
#include "platform/qt/qt_system.h"
#include "platform/sim/kept_clock_system.h"
#include "platform/sim/sim_hid.h"
#include "platform/timed/timed_hid.h"
#include "programs/common/command_line.h"
#include "programs/qt-window/qt_window.h"
#include "ui/controller_thread.h"
#include "ui/controls.h"

namespace {

namespace platform = qvr::platform;
namespace ui = qvr::ui;

constexpr const char* kProgram = platform::kWindowProgram;

bool environmentSet(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0';
}

// Qt aborts the process when it cannot reach a display; say so in one line instead.
bool displayAvailable() {
  return environmentSet("DISPLAY") || environmentSet("WAYLAND_DISPLAY") ||
         environmentSet("QT_QPA_PLATFORM");
}

// Ticks on a virtual clock, each as long as the timer's interval, so a screenshot after a few
// hundred ticks shows a simulated receiver as it is after that much time, without waiting for
// it. A real device is read as it is, each tick waiting for its reports.
int takeScreenshot(ui::ControllerThread& controller, platform::qt::QtWindow& window,
                   std::chrono::milliseconds& virtualNow, const std::string& file, int ticks) {
  controller.drain();
  for (int i = 0; i < ticks; ++i) {
    virtualNow += std::chrono::milliseconds(controller.form()[ui::ctl::Timer].interval);
    controller.tick();
    controller.drain();
    QCoreApplication::processEvents();
  }
  QCoreApplication::processEvents();
  const QPixmap picture = window.grab();
  const bool saved = picture.save(QString::fromStdString(file), "PNG");
  window.close();
  if (!saved) {
    std::cerr << kProgram << ": could not write the screenshot to '" << file << "'\n";
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  platform::hidraw::holdClosedStandardStreams();
  const std::vector<std::string> args(argv + 1, argv + argc);
  const platform::ParsedCommandLine parsed = platform::parseCommandLine(args);
  if (const auto status =
          platform::answerWithoutWindow(parsed, QVR_VERSION, std::cout, std::cerr)) {
    return *status;
  }
  const platform::Options& options = parsed.options;
  if (options.listDevices) {
    std::cout << platform::hidraw::formatDeviceList(
        platform::hidraw::listDevices(), platform::hidraw::usbDevicesWithoutHidraw("/sys"));
    return platform::finishOutput(0, std::cout, std::cerr, kProgram);
  }
  if (options.screenshot) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  } else if (!displayAvailable()) {
    std::cerr << kProgram
              << ": no display (DISPLAY and WAYLAND_DISPLAY are not set); use --screenshot FILE "
                 "to draw the window into an image\n";
    return 1;
  }

  // Qt's own command-line options are not offered: only the program name is passed on.
  int qtArgc = 1;
  char* qtArgv[] = {argv[0], nullptr};
  QApplication app(qtArgc, qtArgv);
  // One style everywhere, so the window looks and measures the same on every desktop.
  if (QStyle* fusion = QStyleFactory::create(QStringLiteral("Fusion"))) {
    QApplication::setStyle(fusion);
  }

  std::chrono::milliseconds virtualNow{0};
  // Every call on a device thread with a deadline, so a device that stops answering never
  // freezes the window; the simulated bus too, so that --simulate runs the same way.
  std::unique_ptr<platform::Hid> backend;
  if (options.simulatedDevices) {
    backend = platform::sim::simulatedBus(
        *options.simulatedDevices, {.virtualNow = options.screenshot ? &virtualNow : nullptr});
  } else {
    backend = std::make_unique<platform::hidraw::LinuxHid>();
  }
  const auto hid = std::make_unique<platform::TimedHid>(std::move(backend));
  platform::qt::QtSystem system;
  system.setHeadless(options.screenshot.has_value());

  // A simulated receiver's invented time never reaches this computer's clock.
  platform::sim::KeptClockSystem keptClock(system);
  // The controller's changes come back to this thread as queued calls, which Qt drops once the
  // object they are addressed to is gone.
  QObject deliveries;
  std::unique_ptr<ui::ControllerThread> controller;
  controller = std::make_unique<ui::ControllerThread>(
      *hid,
      options.simulatedDevices ? static_cast<platform::System&>(keptClock)
                               : static_cast<platform::System&>(system),
      [&deliveries, &controller] {
        QMetaObject::invokeMethod(
            &deliveries, [&controller] { controller->deliver(); }, Qt::QueuedConnection);
      });
  platform::qt::QtWindow::Hooks hooks;
  hooks.unload = [&controller] { controller->unload(); };
  // A screenshot shows exactly the ticks asked for, not whatever the clock adds meanwhile.
  if (!options.screenshot) {
    hooks.tick = [&controller] { controller->tick(); };
  }
  platform::qt::QtWindow window(controller->form(), *controller, std::move(hooks));
  system.setDialogParent(&window);
  controller->load();

  if (options.screenshot) {
    return takeScreenshot(*controller, window, virtualNow, *options.screenshot, options.ticks);
  }
  return QApplication::exec();
}
