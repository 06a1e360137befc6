#include "device/lock_tracker.h"

#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <vector>

namespace qvr::device {
namespace {

using std::chrono::milliseconds;

enum class Seen { Locked, NoSignal, NoFix, Silent, Unplugged };

ReceiverState receiverFor(Seen seen) {
  ReceiverState r;
  r.statusByte = seen == Seen::NoSignal ? 0x04 : 0x05;
  r.pvt = protocol::NavPvt{};
  r.pvt->flags = seen == Seen::NoFix ? 0 : 1;
  return r;
}

struct Event {
  milliseconds at;
  Seen seen;
};

enum class Phase { Unknown, Acquiring, Locked, Holdover };

// The figures at `now` worked out from the whole list of what was seen, not step by step: each
// event's phase, the run of equal phases the last one ends, the holdover intervals summed.
LockFigures expected(const std::vector<Event>& events, milliseconds now) {
  std::vector<Phase> phases;
  bool everLocked = false;
  for (const Event& e : events) {
    everLocked = e.seen != Seen::Unplugged && (everLocked || e.seen == Seen::Locked);
    if (e.seen == Seen::Silent || e.seen == Seen::Unplugged) {
      phases.push_back(Phase::Unknown);
    } else if (e.seen == Seen::Locked) {
      phases.push_back(Phase::Locked);
    } else {
      phases.push_back(everLocked ? Phase::Holdover : Phase::Acquiring);
    }
  }
  LockFigures f;
  Phase lastKnown = Phase::Unknown;
  for (std::size_t i = 0; i < events.size(); ++i) {
    const milliseconds end = i + 1 < events.size() ? events[i + 1].at : now;
    if (phases[i] == Phase::Holdover) {
      f.holdoverTotal += end - events[i].at;
      if (lastKnown == Phase::Locked) {
        ++f.lockLosses;
      }
    }
    if (events[i].seen == Seen::Unplugged) {
      lastKnown = Phase::Unknown;
    } else if (phases[i] != Phase::Unknown) {
      lastKnown = phases[i];
    }
  }
  std::size_t runStart = events.size() - 1;
  while (runStart > 0 && phases[runStart - 1] == phases.back()) {
    --runStart;
  }
  const milliseconds run = now - events[runStart].at;
  f.locked = phases.back() == Phase::Locked;
  f.holdover = phases.back() == Phase::Holdover;
  f.lockedFor = f.locked ? run : milliseconds{0};
  f.holdoverFor = f.holdover ? run : milliseconds{0};
  return f;
}

TEST(LockTracker, FollowsLockAndHoldoverThroughAnyHistory) {
  const int cases = 3000;
  for (int seed = 0; seed < cases; ++seed) {
    std::mt19937 rng(static_cast<unsigned>(seed));
    std::uniform_int_distribution<int> pick(0, 9);
    std::uniform_int_distribution<int> gap(0, 4000);
    std::vector<Event> events;
    LockTracker tracker;
    milliseconds now{0};
    const int steps = 1 + seed % 40;
    for (int k = 0; k < steps; ++k) {
      now += milliseconds(gap(rng));
      // Mostly locked, as a device is; the rest of the time anything.
      const int p = pick(rng);
      const Seen seen = p < 5 ? Seen::Locked : static_cast<Seen>(p - 5);
      events.push_back({now, seen});
      if (seen == Seen::Unplugged) {
        tracker.unplugged(now);
      } else {
        tracker.update(now, seen != Seen::Silent, receiverFor(seen));
      }
    }
    now += milliseconds(gap(rng));
    ASSERT_EQ(tracker.figures(now), expected(events, now)) << "seed " << seed;
  }
}

}  // namespace
}  // namespace qvr::device
