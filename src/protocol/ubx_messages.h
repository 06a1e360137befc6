#pragma once

#include <cstdint>
#include <optional>
#include <span>

namespace qvr::protocol {

// NAV-PVT fields the programs use. Decoding needs the first 40 bytes of the payload; the
// accuracies after them and the position DOP are there only when the payload reaches them.
struct NavPvt {
  std::uint16_t year = 0;
  std::uint8_t month = 0;
  std::uint8_t day = 0;
  std::uint8_t hour = 0;
  std::uint8_t minute = 0;
  std::uint8_t second = 0;
  std::uint8_t valid = 0;    // bit 0 valid date, bit 1 valid time, bit 2 fully resolved
  std::int32_t nano = 0;     // ns of the second, may be negative
  std::uint8_t fixType = 0;  // 0 none, 1 dead reckoning, 2 2D, 3 3D, 4 GNSS and DR, 5 time only
  std::uint8_t flags = 0;    // bit 0 gnssFixOK
  std::uint8_t numSv = 0;    // satellites in the solution
  std::int32_t lon = 0;      // 1e-7 degree
  std::int32_t lat = 0;      // 1e-7 degree
  std::int32_t hMSL = 0;     // mm above mean sea level
  std::uint32_t tAcc = 0;    // ns, the receiver's estimate of its time's accuracy
  std::optional<std::uint32_t> hAcc;  // mm, horizontal accuracy estimate @40
  std::optional<std::uint32_t> vAcc;  // mm, vertical accuracy estimate @44
  std::optional<std::uint16_t> pDop;  // 0.01, position dilution of precision @76

  // Date, time and full resolution all valid: only then is the time worth showing or setting.
  [[nodiscard]] bool timeValid() const { return (valid & 0x07) == 0x07; }
  // The fix is within the receiver's limits for accuracy (gnssFixOK).
  [[nodiscard]] bool fixOk() const { return (flags & 0x01) != 0; }
};
[[nodiscard]] std::optional<NavPvt> decodeNavPvt(std::span<const std::uint8_t> payload);

// NAV-CLOCK. Needs 12 bytes; an accuracy is there only when the payload reaches it (16 bytes
// for the time accuracy, 20 for the frequency accuracy).
struct NavClock {
  std::int32_t bias = 0;                           // ns clkB @4
  std::int32_t drift = 0;                          // ns/s clkD @8
  std::optional<std::uint32_t> timeAccuracy;       // ns tAcc @12
  std::optional<std::uint32_t> frequencyAccuracy;  // ps/s fAcc @16
};
[[nodiscard]] std::optional<NavClock> decodeNavClock(std::span<const std::uint8_t> payload);

// NAV-CLOCK clkD alone, ns/s. Needs 12 bytes.
[[nodiscard]] std::optional<std::int32_t> decodeNavClockDrift(
    std::span<const std::uint8_t> payload);

// One satellite of NAV-SAT.
struct SatelliteSignal {
  std::uint8_t cno = 0;     // dB-Hz
  std::int8_t elev = 0;     // degrees
  std::int16_t azim = 0;    // degrees, 0 to 360 from north through east
  bool used = false;        // svUsed: the satellite is in the navigation solution
  std::uint8_t gnssId = 0;  // the satellite's system: 0 GPS, 1 SBAS, 2 Galileo, 3 BeiDou, ...
  std::uint8_t svId = 0;    // its number within that system
};

// NAV-SAT read in place: numSvs blocks of 12 bytes from offset 8. Exists only when the payload
// holds every block it announces.
class NavSat {
 public:
  [[nodiscard]] static std::optional<NavSat> decode(std::span<const std::uint8_t> payload);
  [[nodiscard]] int count() const { return count_; }
  [[nodiscard]] SatelliteSignal satellite(int k) const;

 private:
  NavSat(std::span<const std::uint8_t> payload, int count) : payload_(payload), count_(count) {}
  std::span<const std::uint8_t> payload_;
  int count_;
};

}  // namespace qvr::protocol
