#pragma once

#include <string>

namespace qvr::refclock {

// What became of one sample handed to a time daemon.
struct Delivery {
  bool delivered = false;
  std::string failure;  // why not, in the system's words; empty when delivered

  friend bool operator==(const Delivery&, const Delivery&) = default;
};

}  // namespace qvr::refclock
