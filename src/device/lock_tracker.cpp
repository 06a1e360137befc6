#include "device/lock_tracker.h"

#include "protocol/device_status.h"

namespace qvr::device {

bool LockTracker::locked(const ReceiverState& receiver) {
  return receiver.statusByte &&
         protocol::deviceStatus(*receiver.statusByte) == protocol::DeviceStatus::SignalOk &&
         receiver.pvt && receiver.pvt->fixOk();
}

void LockTracker::enter(Phase phase, std::chrono::milliseconds now) {
  if (phase == phase_) {
    return;
  }
  if (phase_ == Phase::Holdover) {
    holdoverBefore_ += now - since_;
  }
  // A lock that went while the device did not answer is lost all the same.
  if (lastKnown_ == Phase::Locked && phase == Phase::Holdover) {
    ++losses_;
  }
  if (phase != Phase::Unknown) {
    lastKnown_ = phase;
  }
  phase_ = phase;
  since_ = now;
}

void LockTracker::update(std::chrono::milliseconds now, bool answering,
                         const ReceiverState& receiver) {
  if (!answering) {
    enter(Phase::Unknown, now);
    return;
  }
  const bool isLocked = locked(receiver);
  everLocked_ = everLocked_ || isLocked;
  enter(isLocked ? Phase::Locked : (everLocked_ ? Phase::Holdover : Phase::Acquiring), now);
}

void LockTracker::unplugged(std::chrono::milliseconds now) {
  enter(Phase::Unknown, now);
  everLocked_ = false;
  lastKnown_ = Phase::Unknown;
}

LockFigures LockTracker::figures(std::chrono::milliseconds now) const {
  LockFigures f;
  f.locked = phase_ == Phase::Locked;
  f.holdover = phase_ == Phase::Holdover;
  f.lockedFor = f.locked ? now - since_ : std::chrono::milliseconds{0};
  f.holdoverFor = f.holdover ? now - since_ : std::chrono::milliseconds{0};
  f.holdoverTotal = holdoverBefore_ + f.holdoverFor;
  f.lockLosses = losses_;
  return f;
}

}  // namespace qvr::device
