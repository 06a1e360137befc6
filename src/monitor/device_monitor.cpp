#include "monitor/device_monitor.h"

#include <utility>

#include "protocol/ubx_messages.h"

namespace qvr::monitor {

DeviceMonitor::DeviceMonitor(platform::Hid& hid, platform::System& system, std::string serial,
                             std::chrono::milliseconds readWait, SampleListener onSample)
    : hid_(hid), system_(system), readWait_(readWait), onSample_(std::move(onSample)) {
  snapshot_.serial = std::move(serial);
}

DeviceMonitor::~DeviceMonitor() {
  if (session_) {
    session_->link().closeHandles();
  }
}

DeviceMonitor::Step DeviceMonitor::step() {
  if (!snapshot_.present && !connect()) {
    publish();
    return Step::Gone;
  }
  heard_ = false;
  poll();
  publish();
  if (!snapshot_.present) {
    return Step::Gone;
  }
  return heard_ && snapshot_.answering ? Step::Heard : Step::Waiting;
}

bool DeviceMonitor::connect() {
  session_.emplace(hid_, system_);
  session_->link().shareUnusableDevices(unusable_);
  if (!session_->open(snapshot_.serial)) {
    // Failures of a device that is not there are no news; only the open ones count.
    session_.reset();
    return false;
  }
  if (everOpened_) {
    ++earlier_.reconnects;
  }
  everOpened_ = true;
  snapshot_.present = true;
  changed_ = true;
  snapshot_.receiver = {};
  snapshot_.lastFixAt.reset();
  freshTime_.forget();
  startUp();
  return true;
}

void DeviceMonitor::startUp() {
  const device::Session::StartUp result = session_->startUp();
  snapshot_.refused = result.refused;
  snapshot_.identity = session_->identity();
  snapshot_.configuration = result.configuration;
  changed_ = true;
  // The messages were just asked for: give them their time before asking again.
  lastMessageAt_ = system_.now();
  lastRequestAt_ = lastMessageAt_;
}

void DeviceMonitor::disconnect() {
  session_->link().closeHandles();
  snapshot_.lock.unplugged(system_.now());
  addSessionCounts(earlier_);
  // Why it went stays readable while it is away.
  snapshot_.lastFailure = session_->state().lastFailure;
  session_.reset();
  snapshot_.present = false;
  changed_ = true;
}

void DeviceMonitor::poll() {
  device::Session& session = *session_;
  // A device that hung comes back as from a new start: its configuration is read and its
  // messages asked for again, as the window does.
  if (session.state().notAnswering && hid_.answering() && !snapshot_.refused) {
    startUp();
  }
  const std::uint64_t framesBefore = session.receiver().counts().frames();
  const bool read = session.poll([&](std::uint8_t /*status*/) { changed_ = true; },
                                 [this](std::uint8_t id) { decoded(id); }, readWait_);
  // The status byte comes in every report; the receiver's frames only in its bursts.
  heard_ = session.receiver().counts().frames() != framesBefore;
  const bool answering = hid_.answering();
  // A failed read is news too: one more failure, and its reason.
  changed_ = changed_ || !read || answering != snapshot_.answering;
  snapshot_.answering = answering;
  if (!read && answering) {
    disconnect();
    return;
  }
  const std::chrono::milliseconds now = system_.now();
  const device::LockFigures before = snapshot_.lock.figures(now);
  snapshot_.lock.update(now, answering, session.receiver().state());
  const device::LockFigures after = snapshot_.lock.figures(now);
  changed_ = changed_ || before.locked != after.locked || before.holdover != after.holdover;
  if (!read || snapshot_.refused || now - lastMessageAt_ < kMessageSilence ||
      now - lastRequestAt_ < kMessageSilence) {
    return;
  }
  lastRequestAt_ = now;
  if (session.state().configured()) {
    ++earlier_.messageRequests;
    changed_ = true;
    (void)session.requestMessages();
  } else {
    // A start-up that could not read the configuration or ask for the messages is tried
    // again, as a device that answers again is.
    startUp();
  }
}

void DeviceMonitor::decoded(std::uint8_t id) {
  ++earlier_.navMessages;
  lastMessageAt_ = system_.now();
  const auto& pvt = session_->receiver().state().pvt;
  if (id != protocol::kUbxIdNavPvt || !pvt || !pvt->fixOk()) {
    return;
  }
  snapshot_.lastFixAt = lastMessageAt_;
  // Only times the next epoch vouches for: a backlog read after the program was stopped would
  // tell a time server that the computer's clock is ahead by as long.
  const auto sample = session_->timeSample();
  if (!onSample_ || !sample) {
    return;
  }
  if (const auto fresh = freshTime_.confirm(*sample)) {
    onSample_(*fresh);
  }
}

void DeviceMonitor::publish() {
  if (!changed_) {
    return;
  }
  changed_ = false;
  ++revision_;
  DeviceSnapshot& s = snapshot_;
  s.counters = earlier_;
  if (!session_) {
    s.up = false;
    return;
  }
  const device::Session& session = *session_;
  s.up = s.present && s.answering && session.state().configured();
  s.receiver = session.receiver().state();
  s.lastFailure = session.state().lastFailure;
  addSessionCounts(s.counters);
}

void DeviceMonitor::addSessionCounts(DeviceCounters& counters) const {
  const device::ReceiverCounts counts = session_->receiver().counts();
  counters.checkedFrames += counts.checkedFrames;
  counters.checksumErrors += counts.checksumErrors;
  counters.oversizedLengths += counts.oversizedLengths;
  counters.tooShortMessages += counts.tooShortMessages;
  counters.hidFailures += session_->state().hidFailures;
}

}  // namespace qvr::monitor
