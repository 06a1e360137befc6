#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace qvr::refclock {

// Where the exporter sends a device's samples for chronyd unless told otherwise: in /run, where
// gpsd's sockets for chronyd are too, a folder that exists from boot, that chronyd (started as
// root) can make its socket in and that nobody else can.
inline constexpr std::string_view kDefaultChronySocketPattern = "/run/chrony.qvr7130-%s.sock";
// What stands for the serial number in a pattern.
inline constexpr std::string_view kSerialPlaceholder = "%s";

// The pattern with every kSerialPlaceholder replaced by the serial number, in which every
// character but ASCII letters, digits, '.', '-' and '_' is written as '_': a serial number may
// hold anything (a '/', a space), a path in chrony.conf cannot.
[[nodiscard]] std::string chronySocketPath(std::string_view pattern, std::string_view serial);

// A chrony refid of at most four characters: `prefix` cut short enough for the number to fit,
// then the number ("QVR" and 1 give QVR1, 12 gives QV12).
[[nodiscard]] std::string refid(std::string_view prefix, std::size_t number);

// One device's refclock: its refids carry the number.
struct ChronyRefclock {
  std::string serial;
  std::size_t number = 0;

  friend bool operator==(const ChronyRefclock&, const ChronyRefclock&) = default;
};

// The attached devices numbered 1, 2, ... in the order of their serial numbers, so that a
// device keeps its refid however the bus lists them.
[[nodiscard]] std::vector<ChronyRefclock> numberedRefclocks(std::vector<std::string> serials);

// The chrony.conf lines for these refclocks, in this order: a SOCK refclock each (refid QVR
// and its number) at its socket under `pattern`, then, commented out, the PPS refclock (refid
// PPS and the number) each one takes when its 1PPS output is wired to a serial port's DCD
// line, locked to its SOCK refclock.
[[nodiscard]] std::string chronyConfig(const std::vector<ChronyRefclock>& refclocks,
                                       std::string_view pattern);

}  // namespace qvr::refclock
