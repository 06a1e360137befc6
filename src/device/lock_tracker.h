#pragma once

#include <chrono>
#include <cstdint>

#include "device/receiver.h"

namespace qvr::device {

// Lock and holdover, as owners of a disciplined clock count them. The device is locked while its
// status byte says the GNSS signal is good and the receiver's latest NAV-PVT has a valid fix:
// the oscillator is steered. It is in holdover while it answers without that, having been
// locked since it was plugged in: the oscillator runs on its own, which is what its owner must
// know the length of. Before its first lock it is acquiring; while it does not answer, nothing
// is known, and no time is counted to either.
struct LockFigures {
  bool locked = false;
  bool holdover = false;
  std::chrono::milliseconds lockedFor{0};      // since the lock was gained; 0 unless locked
  std::chrono::milliseconds holdoverFor{0};    // the holdover going on; 0 unless in one
  std::chrono::milliseconds holdoverTotal{0};  // every holdover since plugged in, this one too
  std::uint64_t lockLosses = 0;                // times a lock gave way to holdover
  friend bool operator==(const LockFigures&, const LockFigures&) = default;
};

class LockTracker {
 public:
  // Locked by the status byte and the fix, as said above.
  [[nodiscard]] static bool locked(const ReceiverState& receiver);

  // The device at `now` (a monotonic clock in ms): answering or not, and, when it answers, its
  // receiver's latest state. Calls come with `now` never going back.
  void update(std::chrono::milliseconds now, bool answering, const ReceiverState& receiver);
  // The device went away: what comes after is a new device's history, its losses aside.
  void unplugged(std::chrono::milliseconds now);

  [[nodiscard]] LockFigures figures(std::chrono::milliseconds now) const;

 private:
  enum class Phase { Unknown, Acquiring, Locked, Holdover };
  void enter(Phase phase, std::chrono::milliseconds now);

  Phase phase_ = Phase::Unknown;
  Phase lastKnown_ = Phase::Unknown;             // while the device last answered
  std::chrono::milliseconds since_{0};           // when the phase began
  std::chrono::milliseconds holdoverBefore_{0};  // every holdover that has ended
  std::uint64_t losses_ = 0;
  bool everLocked_ = false;
};

}  // namespace qvr::device
