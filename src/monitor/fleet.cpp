#include "monitor/fleet.h"

#include <algorithm>
#include <utility>

#include "device/device_link.h"

namespace qvr::monitor {

struct Fleet::Watched {
  std::unique_ptr<platform::Hid> hid;
  std::unique_ptr<DeviceMonitor> monitor;
  DeviceSnapshot published;  // guarded by the fleet's mutex
  std::uint64_t publishedRevision = 0;
};

std::vector<DeviceEvent> deviceEvents(const DeviceSnapshot& before, const DeviceSnapshot& after) {
  std::vector<DeviceEvent> events;
  const bool stayed = before.present && after.present;
  if (!before.present && after.present) {
    events.push_back(DeviceEvent::Found);
  }
  if (stayed && !before.answering && after.answering) {
    events.push_back(DeviceEvent::AnsweringAgain);
  }
  if (!before.up && after.up) {
    events.push_back(DeviceEvent::Configured);
  }
  if (stayed && before.answering && !after.answering) {
    events.push_back(DeviceEvent::NotAnswering);
  }
  if (before.present && !after.present) {
    events.push_back(DeviceEvent::Unplugged);
  }
  return events;
}

Fleet::Fleet(HidFactory hidFactory, platform::System& system, Timing timing,
             SampleListeners sampleListeners, EventListener eventListener)
    : hidFactory_(std::move(hidFactory)),
      system_(system),
      sampleListeners_(std::move(sampleListeners)),
      eventListener_(std::move(eventListener)),
      timing_(timing),
      scanHid_(hidFactory_()) {}

Fleet::~Fleet() {
  {
    const std::lock_guard lock(stopMutex_);
    stopping_ = true;
  }
  stopped_.notify_all();
  // The scan thread goes first: it is the one that starts device threads.
  if (scanThread_.joinable()) {
    scanThread_.join();
  }
  for (std::thread& thread : deviceThreads_) {
    thread.join();
  }
}

void Fleet::scan() {
  // The interfaces of the devices that are open are not looked at again: one whose firmware
  // hangs would keep every other device waiting for the scan, which is there to find new ones.
  std::vector<std::string> open;
  {
    const std::lock_guard lock(mutex_);
    for (const auto& watched : watched_) {
      if (watched->published.present && watched->published.identity) {
        open.push_back(watched->published.identity->path);
      }
    }
  }
  device::DeviceLink link(*scanHid_);
  link.shareUnusableDevices(unusable_);
  const device::Scan found = link.scanSerialNumbers(open);
  {
    const std::lock_guard lock(mutex_);
    scanFailure_ = found.failure;
  }
  // A scan that did not finish still names the devices it could tell; the ones it missed are
  // watched on by their own monitors, as every device ever seen is.
  for (const std::string& serial : found.serials) {
    const std::lock_guard lock(mutex_);
    const bool known = std::any_of(watched_.begin(), watched_.end(),
                                   [&](const auto& w) { return w->published.serial == serial; });
    if (known) {
      continue;
    }
    auto watched = std::make_unique<Watched>();
    watched->hid = hidFactory_();
    watched->monitor =
        std::make_unique<DeviceMonitor>(*watched->hid, system_, serial, timing_.read,
                                        sampleListeners_ ? sampleListeners_(serial) : nullptr);
    watched->monitor->shareUnusableDevices(unusable_);
    watched->published.serial = serial;
    Watched& added = *watched;
    watched_.push_back(std::move(watched));
    if (threaded_) {
      deviceThreads_.emplace_back([this, &added] { watch(added); });
    }
  }
}

void Fleet::publish(Watched& watched) {
  if (watched.monitor->revision() == watched.publishedRevision) {
    return;
  }
  watched.publishedRevision = watched.monitor->revision();
  const DeviceSnapshot& now = watched.monitor->snapshot();
  std::vector<DeviceEvent> events;
  {
    const std::lock_guard lock(mutex_);
    if (eventListener_) {
      events = deviceEvents(watched.published, now);
    }
    watched.published = now;
  }
  // Outside the lock: a listener that writes a log must not hold up a scrape.
  for (const DeviceEvent event : events) {
    eventListener_(now, event);
  }
}

void Fleet::stepDevices() {
  std::vector<Watched*> all;
  {
    const std::lock_guard lock(mutex_);
    for (const auto& watched : watched_) {
      all.push_back(watched.get());
    }
  }
  for (Watched* watched : all) {
    (void)watched->monitor->step();
    publish(*watched);
  }
}

void Fleet::start() {
  {
    const std::lock_guard lock(mutex_);
    threaded_ = true;
    for (const auto& watched : watched_) {
      Watched& w = *watched;
      deviceThreads_.emplace_back([this, &w] { watch(w); });
    }
  }
  scanThread_ = std::thread([this] {
    do {
      scan();
    } while (pause(timing_.scan));
  });
}

void Fleet::watch(Watched& watched) {
  do {
    const std::chrono::milliseconds started = system_.now();
    const DeviceMonitor::Step step = watched.monitor->step();
    publish(watched);
    // The step's read waited for the device, so the next one starts at once, unless the
    // device sends back to back. One that is not there, or does not answer, is tried at the
    // scan's pace instead: asking a hung device a hundred times a second tells nothing new.
    std::chrono::milliseconds next = timing_.poll - (system_.now() - started);
    if (step == DeviceMonitor::Step::Gone || !watched.monitor->snapshot().answering) {
      next = timing_.scan;
    }
    if (!pause(next)) {
      return;
    }
  } while (true);
}

bool Fleet::pause(std::chrono::milliseconds duration) {
  std::unique_lock lock(stopMutex_);
  return !stopped_.wait_for(lock, duration, [this] { return stopping_; });
}

std::string Fleet::scanFailure() const {
  const std::lock_guard lock(mutex_);
  return scanFailure_;
}

std::vector<DeviceSnapshot> Fleet::snapshots() const {
  std::vector<DeviceSnapshot> all;
  {
    const std::lock_guard lock(mutex_);
    all.reserve(watched_.size());
    for (const auto& watched : watched_) {
      all.push_back(watched->published);
    }
  }
  std::sort(all.begin(), all.end(),
            [](const DeviceSnapshot& a, const DeviceSnapshot& b) { return a.serial < b.serial; });
  return all;
}

}  // namespace qvr::monitor
