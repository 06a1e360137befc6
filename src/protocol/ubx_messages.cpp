#include "protocol/ubx_messages.h"

#include "protocol/bytes.h"
#include "protocol/ubx_layout.h"

namespace qvr::protocol {
namespace {

using namespace ubx;

// The shortest payloads that hold every field read here.
constexpr std::size_t kPvtMinimum = kPvtHMsl + 4;
constexpr std::size_t kClockMinimum = kClockDrift + 4;

constexpr std::uint8_t kSvUsed = 0x08;  // in the first byte of a satellite's flags

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
  pvt.tAcc = readU32Le(payload, kPvtTAcc);
  if (payload.size() >= kPvtHAcc + 4) {
    pvt.hAcc = readU32Le(payload, kPvtHAcc);
  }
  if (payload.size() >= kPvtVAcc + 4) {
    pvt.vAcc = readU32Le(payload, kPvtVAcc);
  }
  if (payload.size() >= kPvtPDop + 2) {
    pvt.pDop = readU16Le(payload, kPvtPDop);
  }
  return pvt;
}

std::optional<NavClock> decodeNavClock(std::span<const std::uint8_t> payload) {
  if (payload.size() < kClockMinimum) {
    return std::nullopt;
  }
  NavClock clock;
  clock.bias = readI32Le(payload, kClockBias);
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
  return SatelliteSignal{.cno = payload_[block + kSatCno],
                         .elev = static_cast<std::int8_t>(payload_[block + kSatElev]),
                         .azim = static_cast<std::int16_t>(readU16Le(payload_, block + kSatAzim)),
                         .used = (payload_[block + kSatFlags] & kSvUsed) != 0,
                         .gnssId = payload_[block + kSatGnssId],
                         .svId = payload_[block + kSatSvId]};
}

}  // namespace qvr::protocol
