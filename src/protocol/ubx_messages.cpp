#include "protocol/ubx_messages.h"

#include "protocol/bytes.h"

namespace qvr::protocol {
namespace {

// NAV-PVT payload offsets.
constexpr std::size_t kPvtYear = 4;     // u16
constexpr std::size_t kPvtMonth = 6;    // u8
constexpr std::size_t kPvtDay = 7;      // u8
constexpr std::size_t kPvtHour = 8;     // u8
constexpr std::size_t kPvtMinute = 9;   // u8
constexpr std::size_t kPvtSecond = 10;  // u8
constexpr std::size_t kPvtValid = 11;   // bit field
constexpr std::size_t kPvtNano = 16;    // i32, ns
constexpr std::size_t kPvtLon = 24;     // i32, 1e-7 deg
constexpr std::size_t kPvtLat = 28;     // i32, 1e-7 deg
constexpr std::size_t kPvtHMsl = 36;    // i32, mm
constexpr std::size_t kPvtMinimum = 40;

// NAV-CLOCK payload offsets.
constexpr std::size_t kClockDrift = 8;  // i32 clkD, ns/s
constexpr std::size_t kClockMinimum = 12;

// NAV-SAT payload offsets.
constexpr std::size_t kSatNumSvs = 5;  // u8
constexpr std::size_t kSatFirstBlock = 8;
constexpr std::size_t kSatBlockSize = 12;
constexpr std::size_t kSatBlockCno = 2;    // u8, dB-Hz
constexpr std::size_t kSatBlockElev = 3;   // i8, degrees
constexpr std::size_t kSatBlockFlags = 8;  // first byte of the 32-bit flags
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
  pvt.lon = readI32Le(payload, kPvtLon);
  pvt.lat = readI32Le(payload, kPvtLat);
  pvt.hMSL = readI32Le(payload, kPvtHMsl);
  return pvt;
}

std::optional<std::int32_t> decodeNavClockDrift(std::span<const std::uint8_t> payload) {
  if (payload.size() < kClockMinimum) {
    return std::nullopt;
  }
  return readI32Le(payload, kClockDrift);
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
  return SatelliteSignal{payload_[block + kSatBlockCno],
                         static_cast<std::int8_t>(payload_[block + kSatBlockElev]),
                         (payload_[block + kSatBlockFlags] & kSvUsed) != 0};
}

}  // namespace qvr::protocol
