#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "device/unusable_devices.h"
#include "monitor/device_monitor.h"
#include "platform/hid.h"
#include "platform/system.h"

namespace qvr::monitor {

// Makes the HID backend one device's calls go through. Each device gets one of its own, so a
// device whose calls block holds up nothing but its own thread.
using HidFactory = std::function<std::unique_ptr<platform::Hid>()>;

// Makes the listener of one device's time samples when the device is first seen. The listener
// is its own: it is called on that device's thread only, so what it keeps needs no lock.
using SampleListeners = std::function<SampleListener(const std::string& serial)>;

// What happened to a device, as a log tells it.
enum class DeviceEvent { Found, AnsweringAgain, Configured, NotAnswering, Unplugged };

// The events between two snapshots of one device, in the order they happen: a device opened and
// configured in one step is found, then configured.
[[nodiscard]] std::vector<DeviceEvent> deviceEvents(const DeviceSnapshot& before,
                                                    const DeviceSnapshot& after);

// Told of each event on the thread that saw it (the device's own, once start() ran), with the
// device's snapshot just after it.
using EventListener = std::function<void(const DeviceSnapshot& now, DeviceEvent event)>;

// Every attached device at once, each watched by a DeviceMonitor. A device that appears is
// picked up at the next scan; one that goes away stays listed, down, and is opened again when
// it comes back.
//
// Run it either step by step on one thread (scan(), stepDevices(): tests on a virtual clock) or
// with start(), which gives the scan and every device a thread of their own on real time.
class Fleet {
 public:
  struct Timing {
    // How long a device's thread waits in a read for the device's next report. The receiver
    // speaks in bursts once a second, so the thread sleeps in the read until one comes and
    // takes it the moment it does: its read time is then the report's arrival, give or take
    // the system's wake-up. The fleet stops within this wait (and a backend's deadline).
    std::chrono::milliseconds read{1200};
    // The shortest time from one read to the next, for a device that sends its reports back
    // to back: it is read no more often than the window reads it.
    std::chrono::milliseconds poll{10};
    std::chrono::milliseconds scan{1000};  // looking for new devices, and for gone ones back
  };

  // `system` must be safe to call from several threads once start() ran (its sleep and now).
  Fleet(HidFactory hidFactory, platform::System& system, Timing timing,
        SampleListeners sampleListeners = {}, EventListener eventListener = {});
  // Stops the threads: each finishes the call it is in, which a backend with deadlines bounds.
  ~Fleet();
  Fleet(const Fleet&) = delete;
  Fleet& operator=(const Fleet&) = delete;

  // One look for devices not watched yet; a monitor is added for each.
  void scan();
  // One step of every monitor, on the caller's thread.
  void stepDevices();

  // From now on the scan and each device run on threads of their own until the fleet ends.
  void start();

  // Every device seen so far, by serial number; safe from any thread at any time, and never
  // waits for a device.
  [[nodiscard]] std::vector<DeviceSnapshot> snapshots() const;
  // Why the latest scan did not finish; empty when it did. Safe from any thread.
  [[nodiscard]] std::string scanFailure() const;

 private:
  struct Watched;
  void watch(Watched& watched);
  // Copies the monitor's snapshot for readers when it changed.
  void publish(Watched& watched);
  // Waits until `duration` passed or the fleet stops; false once it stops.
  bool pause(std::chrono::milliseconds duration);

  HidFactory hidFactory_;
  platform::System& system_;
  SampleListeners sampleListeners_;
  EventListener eventListener_;
  Timing timing_;
  std::unique_ptr<platform::Hid> scanHid_;
  // Shared by the scan and every device's link, so each unusable device is opened once.
  std::shared_ptr<device::UnusableDevices> unusable_ = std::make_shared<device::UnusableDevices>();

  mutable std::mutex mutex_;  // guards watched_'s list and every published snapshot
  std::vector<std::unique_ptr<Watched>> watched_;
  std::string scanFailure_;  // guarded by mutex_
  bool threaded_ = false;    // guarded by mutex_

  std::mutex stopMutex_;
  std::condition_variable stopped_;
  bool stopping_ = false;
  std::thread scanThread_;
  std::vector<std::thread> deviceThreads_;  // guarded by mutex_; joined before anything goes
};

}  // namespace qvr::monitor
