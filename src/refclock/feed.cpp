#include "refclock/feed.h"

#include <utility>

namespace qvr::refclock {

Feed::Feed(std::string serial, const FeedTargets& targets, Say say)
    : serial_(std::move(serial)), say_(std::move(say)) {
  if (targets.chronySocket) {
    chrony_.emplace(*targets.chronySocket);
  }
  if (targets.ntpUnit) {
    ntp_.emplace(*targets.ntpUnit);
  }
}

void Feed::take(const device::TimeSample& sample) {
  if (chrony_) {
    tell(chronyDelivery_, chrony_->send(sample), "chronyd's socket " + chrony_->path());
  }
  if (ntp_) {
    tell(ntpDelivery_, ntp_->write(sample),
         "ntpd's shared memory unit " + std::to_string(ntp_->unit()));
  }
}

void Feed::tell(std::optional<Delivery>& previous, const Delivery& now, const std::string& target) {
  if (previous == now) {
    return;
  }
  previous = now;
  say_(serial_ + ": " +
       (now.delivered ? "time samples go to " + target
                      : target + ": " + now.failure + "; tried again with every sample"));
}

}  // namespace qvr::refclock
