#pragma once

#include <functional>
#include <optional>
#include <string>

#include "device/receiver_time.h"
#include "refclock/chrony_socket.h"
#include "refclock/delivery.h"
#include "refclock/ntp_shm.h"

namespace qvr::refclock {

// Where one device's samples go; nothing, neither.
struct FeedTargets {
  std::optional<std::string> chronySocket;  // a chronyd SOCK refclock's path
  std::optional<int> ntpUnit;               // an ntpd SHM refclock's unit

  friend bool operator==(const FeedTargets&, const FeedTargets&) = default;
};

// One device's samples to its time daemons, on the device's thread. A daemon that is not there
// is tried again with every sample; one line is said when a target starts taking samples, and
// one when it stops or fails for another reason, so a daemon that is away floods no log.
class Feed {
 public:
  // Told what a target ("chronyd's socket /run/...") now does with the samples.
  using Say = std::function<void(const std::string& target, const Delivery& now)>;

  // `say` is called on the thread that calls take().
  Feed(const FeedTargets& targets, Say say);

  // Hands the sample to every target, each without waiting.
  void take(const device::TimeSample& sample);

 private:
  // Says what changed since the target's previous delivery.
  void tell(std::optional<Delivery>& previous, const Delivery& now, const std::string& target);

  Say say_;
  std::optional<ChronySocket> chrony_;
  std::optional<NtpShm> ntp_;
  std::optional<Delivery> chronyDelivery_;
  std::optional<Delivery> ntpDelivery_;
};

}  // namespace qvr::refclock
