#include "protocol/ubx_messages.h"

#include "protocol/bytes.h"

namespace qvr::protocol {
namespace {

// NAV-PVT payload offsets.
constexpr std::size_t kPvtYear = 4;      // u16
constexpr std::size_t kPvtMonth = 6;     // u8
constexpr std::size_t kPvtDay = 7;       // u8
constexpr std::size_t kPvtHour = 8;      // u8
constexpr std::size_t kPvtMinute = 9;    // u8
constexpr std::size_t kPvtSecond = 10;   // u8
constexpr std::size_t kPvtValid = 11;    // bit field
constexpr std::size_t kPvtNano = 16;     // i32, ns
constexpr std::size_t kPvtFixType = 20;  // u8, fix type code
constexpr std::size_t kPvtFlags = 21;    // bit field
constexpr std::size_t kPvtNumSv = 23;    // u8, satellites
constexpr std::size_t kPvtLon = 24;      // i32, 1e-7 deg
constexpr std::size_t kPvtLat = 28;      // i32, 1e-7 deg
constexpr std::size_t kPvtHMsl = 36;     // i32, mm
constexpr std::size_t kPvtMinimum = 40;

// NAV-CLOCK payload offsets.
constexpr std::size_t kClockDrift = 8;  // i32 clkD, ns/s
constexpr std::size_t kClockTAcc = 12;  // u32 tAcc, ns
constexpr std::size_t kClockFAcc = 16;  // u32 fAcc, ps/s
constexpr std::size_t kClockMinimum = kClockDrift + 4;

// NAV-SAT payload offsets.
constexpr std::size_t kSatNumSvs = 5;  // u8
constexpr std::size_t kSatFirstBlock = 8;
constexpr std::size_t kSatBlockSize = 12;
constexpr std::size_t kSatBlockGnssId = 0;  // u8, system
constexpr std::size_t kSatBlockSvId = 1;    // u8, number within the system
constexpr std::size_t kSatBlockCno = 2;     // u8, dB-Hz
constexpr std::size_t kSatBlockElev = 3;    // i8, degrees
constexpr std::size_t kSatBlockFlags = 8;   // first byte of the 32-bit flags
constexpr std::uint8_t kSvUsed = 0x08;

}  // namespace

std::optional<NavPvt> decodeNavPvt(std::span<const std::uint8_t> payload) {
  if (payload.size() < kPvtMinimum) {
    return std::nullopt;
  }
  NavPvt pvt;
  pvt.year = readU16Le(payload, kPvtYear);
  pvt.month = payload[kPvtMonth];
  pvt.day = payload[kPvtDay];
  pvt.hour = payload[kPvtHour];
  pvt.minute = payload[kPvtMinute];
  pvt.second = payload[kPvtSecond];
  pvt.valid = payload[kPvtValid];
  pvt.nano = readI32Le(payload, kPvtNano);
  pvt.fixType = payload[kPvtFixType];
  pvt.flags = payload[kPvtFlags];
  pvt.numSv = payload[kPvtNumSv];
  pvt.lon = readI32Le(payload, kPvtLon);
  pvt.lat = readI32Le(payload, kPvtLat);
  pvt.hMSL = readI32Le(payload, kPvtHMsl);
  return pvt;
}

std::optional<NavClock> decodeNavClock(std::span<const std::uint8_t> payload) {
  if (payload.size() < kClockMinimum) {
    return std::nullopt;
  }
  NavClock clock;
  clock.drift = readI32Le(payload, kClockDrift);
  if (payload.size() >= kClockTAcc + 4) {
    clock.timeAccuracy = readU32Le(payload, kClockTAcc);
  }
  if (payload.size() >= kClockFAcc + 4) {
    clock.frequencyAccuracy = readU32Le(payload, kClockFAcc);
  }
  return clock;
}

std::optional<std::int32_t> decodeNavClockDrift(std::span<const std::uint8_t> payload) {
  const auto clock = decodeNavClock(payload);
  return clock ? std::optional<std::int32_t>(clock->drift) : std::nullopt;
}

std::optional<NavSat> NavSat::decode(std::span<const std::uint8_t> payload) {
  if (payload.size() < kSatFirstBlock) {
    return std::nullopt;
  }
  const int count = payload[kSatNumSvs];
  if (payload.size() < kSatFirstBlock + kSatBlockSize * static_cast<std::size_t>(count)) {
    return std::nullopt;
  }
  return NavSat(payload, count);
}

SatelliteSignal NavSat::satellite(int k) const {
  const std::size_t block = kSatFirstBlock + kSatBlockSize * static_cast<std::size_t>(k);
  return SatelliteSignal{.cno = payload_[block + kSatBlockCno],
                         .elev = static_cast<std::int8_t>(payload_[block + kSatBlockElev]),
                         .used = (payload_[block + kSatBlockFlags] & kSvUsed) != 0,
                         .gnssId = payload_[block + kSatBlockGnssId],
                         .svId = payload_[block + kSatBlockSvId]};
}

}  // namespace qvr::protocol
