#include "refclock/feed.h"

#include <utility>

namespace qvr::refclock {

Feed::Feed(const FeedTargets& targets, Say say) : say_(std::move(say)) {
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
  say_(target, now);
}

}  // namespace qvr::refclock
