#include "platform/sim/sim_receiver.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "protocol/bytes.h"
#include "protocol/commands.h"
#include "protocol/ubx_layout.h"
#include "protocol/ubx_parser.h"

namespace qvr::platform::sim {
namespace {

using protocol::readU16Le;
using protocol::writeI32Le;
using protocol::writeU16Le;
using protocol::writeU32Le;
using std::chrono::milliseconds;
using namespace std::chrono_literals;
using namespace protocol::ubx;

constexpr std::uint8_t kSync1 = 0xB5;
constexpr std::uint8_t kSync2 = 0x62;
constexpr std::size_t kFrameLength = 4;  // u16 after sync bytes, class and ID, payload bytes
constexpr std::uint8_t kClassAck = 0x05;
constexpr std::uint8_t kIdAckNak = 0x00;
constexpr std::uint8_t kIdAckAck = 0x01;
constexpr std::uint8_t kClassMon = 0x0A;
constexpr std::uint8_t kIdMonHw = 0x09;
constexpr std::uint8_t kIdNavStatus = 0x03;

constexpr std::uint8_t kGnssIdSbas = 1;
constexpr std::uint8_t kKnownSystems = protocol::kGnssGps | protocol::kGnssSbas |
                                       protocol::kGnssGalileo | protocol::kGnssBeiDou |
                                       protocol::kGnssGlonass;
// SBAS only corrects; a fix needs at least one of the others.
constexpr std::uint8_t kNavigationSystems = kKnownSystems & ~protocol::kGnssSbas;

// Messages the receiver sends of its own accord once it is talking, in epochs.
constexpr std::int64_t kNavStatusEvery = 10;
constexpr std::int64_t kMonHwEvery = 50;
// Before the fix the receiver's clock still knows the time, just not to the second.

// Where the antenna is: a roof in the old town of a Swiss city.
constexpr double kLatitude = 47.3769;      // degrees
constexpr double kLongitude = 8.5417;      // degrees
constexpr double kHeightMsl = 408.0;       // m
constexpr double kGeoidSeparation = 47.4;  // m, ellipsoid above mean sea level there
constexpr double kMetresPerDegree = 111'320.0;

// GPS time ahead of UTC by the leap seconds.
constexpr std::chrono::seconds kLeapSeconds{18};
constexpr milliseconds kWeek = std::chrono::weeks{1};

constexpr std::uint32_t kUnknownAccuracy = 0xFFFF'FFFF;

// Sets the delivery's draws apart from the receiver's own sequence of the same seed.
constexpr std::uint64_t kDeliveryDraws = 0xD1B5'4A32'D192'ED03ULL;

// NAV-PVT's units and values (its offsets are the decoder's own, protocol/ubx_layout.h).
constexpr double kPvtPerDegree = 1e7;                    // lon and lat
constexpr double kPvtPerMetre = 1e3;                     // height and hMSL
constexpr std::uint32_t kPvtHeadAccPerDegree = 100'000;  // headAcc
constexpr double kPvtPDopPerUnit = 100.0;                // pDOP
constexpr std::uint8_t kValidFixed = 0x37;
constexpr std::uint8_t kValidRough = 0x03;  // date and time, not fully resolved
constexpr std::uint8_t kFix3d = 3;
constexpr std::uint8_t kGnssFixOk = 0x01;
constexpr std::uint8_t kConfirmedDateTime = 0xE0;
constexpr std::uint8_t kInvalidLlh = 0x01;
constexpr std::uint32_t kHeadingUnknown = 180 * kPvtHeadAccPerDegree;
constexpr std::uint16_t kDopUnknown = 9999;  // 99.99

// NAV-STATUS payload.
constexpr std::size_t kStatusLength = 16;
constexpr std::size_t kStatusITow = 0;   // u32, ms
constexpr std::size_t kStatusFix = 4;    // u8
constexpr std::size_t kStatusFlags = 5;  // bit field
constexpr std::size_t kStatusTtff = 8;   // u32, ms
constexpr std::size_t kStatusMsss = 12;  // u32, ms since power-up
constexpr std::uint8_t kWeekAndTowSet = 0x0C;

// NAV-SAT's units and values.
constexpr double kSatPrResPerMetre = 10.0;
constexpr std::uint32_t kQualitySearching = 1;
constexpr std::uint32_t kQualityCodeLocked = 4;
constexpr std::uint32_t kQualityCarrierLocked = 7;
constexpr std::uint32_t kSvUsed = 1u << 3;
constexpr std::uint32_t kHealthy = 1u << 4;
constexpr std::uint32_t kOrbitEphemeris = 1u << 8;
constexpr std::uint32_t kOrbitAlmanac = 2u << 8;
constexpr std::uint32_t kEphemerisAvailable = 1u << 11;
constexpr std::uint32_t kAlmanacAvailable = 1u << 12;

// MON-HW payload.
constexpr std::size_t kHwLength = 60;
constexpr std::size_t kHwNoise = 16;          // u16, noise level per ms
constexpr std::size_t kHwAgc = 18;            // u16, 0 to 8191
constexpr std::size_t kHwAntennaStatus = 20;  // u8, 2 = OK
constexpr std::size_t kHwAntennaPower = 21;   // u8, 1 = on
constexpr std::size_t kHwJamming = 45;        // u8
constexpr std::uint8_t kAntennaOk = 2;
constexpr std::uint8_t kAntennaPowered = 1;

// CFG-MSG payloads this receiver understands: the rate on the port it arrived on, or the
// rates on all six ports (port 0 first). Either way the rate for this port is byte 2.
constexpr std::size_t kCfgMsgCurrentPort = 3;
constexpr std::size_t kCfgMsgAllPorts = 8;
constexpr std::size_t kCfgMsgRate = 2;

// Tunnelled message inside command 8: class, ID, length, payload.
constexpr std::size_t kTunnelLength = 2;  // u16, bytes of payload
constexpr std::size_t kTunnelHeader = 4;

// Satellites in view over a day, per system.
struct Constellation {
  std::uint8_t gnssId;
  int count;
  int firstSv;
  int lastSv;
  double passHours;  // one cycle of rising and setting as seen from the ground
};
constexpr std::array<Constellation, 4> kOrbiting = {{
    {0, 10, 1, 32, 11.97},  // GPS
    {2, 8, 1, 36, 14.08},   // Galileo
    {3, 10, 1, 46, 12.88},  // BeiDou
    {6, 8, 1, 24, 11.26},   // GLONASS
}};
constexpr std::array<std::uint8_t, 3> kSbasSvIds = {120, 123, 136};

std::uint64_t splitMix(std::uint64_t& state) {
  std::uint64_t z = (state += 0x9E37'79B9'7F4A'7C15ULL);
  z = (z ^ (z >> 30)) * 0xBF58'476D'1CE4'E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D0'49BB'1331'11EBULL;
  return z ^ (z >> 31);
}

double radians(double degrees) {
  return degrees * std::numbers::pi / 180.0;
}

template <typename T>
T rounded(double value) {
  return static_cast<T>(std::lround(value));
}

void put8(std::vector<std::uint8_t>& p, std::size_t offset, std::uint8_t value) {
  p[offset] = value;
}

}  // namespace

bool SimReceiver::deliverable(const Delivery& delivery) {
  return delivery.jitter >= 0ms && (delivery.jitter == 0ms || delivery.jitter < delivery.latency) &&
         delivery.latency + delivery.jitter < kEpoch;
}

SimReceiver::SimReceiver(std::uint64_t seed, milliseconds powerUp,
                         std::chrono::sys_time<milliseconds> utcAtZero, Delivery delivery,
                         Start start)
    : rng_(seed),
      deliverySeed_(seed ^ kDeliveryDraws),
      powerUp_(powerUp),
      timeToFix_(start == Start::Warm ? kWarmTimeToFix : kTimeToFix),
      utcAtZero_(utcAtZero),
      delivery_(delivery),
      systems_(kDefaultSystems),
      nextEpoch_(powerUp / kEpoch + 1),
      rates_{{{protocol::kUbxClassNav, protocol::kUbxIdNavPvt, 0},
              {protocol::kUbxClassNav, protocol::kUbxIdNavClock, 0},
              {protocol::kUbxClassNav, protocol::kUbxIdNavSat, 0}}} {
  driftCentre_ = 25.0 * noise();
  clockBias_ = 200'000.0 * noise();
  buildSky();
  observations_.resize(sky_.size());
  acknowledgements_.reserve(16);
  // The longest message is NAV-SAT with every satellite.
  payload_.reserve(kSatFirstBlock + kSatBlockSize * sky_.size());
}

double SimReceiver::noise() {
  constexpr double kUnit = 0x1.0p-53;
  return static_cast<double>(splitMix(rng_) >> 11) * kUnit * 2.0 - 1.0;
}

void SimReceiver::buildSky() {
  const auto unit = [this] { return 0.5 + 0.5 * noise(); };
  std::vector<int> ids;
  for (const Constellation& c : kOrbiting) {
    ids.clear();
    for (int sv = c.firstSv; sv <= c.lastSv; ++sv) {
      ids.push_back(sv);
    }
    for (int k = 0; k < c.count; ++k) {
      const auto remaining = static_cast<std::uint64_t>(ids.size()) - static_cast<std::uint64_t>(k);
      std::swap(ids[static_cast<std::size_t>(k)],
                ids[static_cast<std::size_t>(k) + splitMix(rng_) % remaining]);
      const double direction = noise() < 0 ? -1.0 : 1.0;
      sky_.push_back(Satellite{
          .gnssId = c.gnssId,
          .svId = static_cast<std::uint8_t>(ids[static_cast<std::size_t>(k)]),
          .lowestElevation = -12.0,
          .highestElevation = 25.0 + 60.0 * unit(),
          .phase = 2.0 * std::numbers::pi * unit(),
          .passPeriod = c.passHours * 3'600'000.0,
          .azimuth = 360.0 * unit(),
          .azimuthRate = direction * (20.0 + 20.0 * unit()) / 3'600'000.0,
          .cnoOffset = 4.0 * noise(),
          .cnoWander = 0.0,
          .acquiredAt = 0.2 + 0.75 * unit(),
      });
    }
  }
  // Geostationary, low in the south from here, and a little weaker than the rest.
  for (const std::uint8_t sv : kSbasSvIds) {
    const double elevation = 30.0 + 6.0 * unit();
    sky_.push_back(Satellite{.gnssId = kGnssIdSbas,
                             .svId = sv,
                             .lowestElevation = elevation,
                             .highestElevation = elevation,
                             .phase = 0.0,
                             .passPeriod = 0.0,
                             .azimuth = 150.0 + 60.0 * unit(),
                             .azimuthRate = 0.0,
                             .cnoOffset = -3.0 + 2.0 * noise(),
                             .cnoWander = 0.0,
                             .acquiredAt = 0.2 + 0.75 * unit()});
  }
  // Receivers list their satellites by system, then by number.
  std::sort(sky_.begin(), sky_.end(), [](const Satellite& a, const Satellite& b) {
    return a.gnssId != b.gnssId ? a.gnssId < b.gnssId : a.svId < b.svId;
  });
}

void SimReceiver::command(std::span<const std::uint8_t> featureReport) {
  if (featureReport.size() <= protocol::kCommandDataOffset) {
    return;
  }
  const auto data = featureReport.subspan(protocol::kCommandDataOffset);
  switch (static_cast<protocol::Command>(featureReport[1])) {
    case protocol::Command::SatelliteSystems:
      selectSystems(data[0]);
      break;
    case protocol::Command::ReceiverMessage:
      receiverMessage(data);
      break;
    default:
      break;
  }
}

void SimReceiver::selectSystems(std::uint8_t systems) {
  systems_ = static_cast<std::uint8_t>(systems & kKnownSystems);
}

void SimReceiver::receiverMessage(std::span<const std::uint8_t> message) {
  if (message.size() < kTunnelHeader) {
    return;
  }
  const std::uint8_t messageClass = message[0];
  const std::uint8_t messageId = message[1];
  const std::size_t length = readU16Le(message, kTunnelLength);
  // Longer than the report could carry: the receiver gets a cut-off frame and drops it.
  if (length > message.size() - kTunnelHeader) {
    return;
  }
  // Polls and messages of other classes get no answer from this model.
  if (messageClass != protocol::kUbxClassCfg) {
    return;
  }
  const auto payload = message.subspan(kTunnelHeader, length);
  const bool accepted = messageId == protocol::kUbxIdCfgMsg &&
                        (length == kCfgMsgCurrentPort || length == kCfgMsgAllPorts);
  if (accepted) {
    for (MessageRate& entry : rates_) {
      if (entry.messageClass == payload[0] && entry.messageId == payload[1]) {
        entry.rate = payload[kCfgMsgRate];
      }
    }
  }
  acknowledgements_.push_back({messageClass, messageId, accepted});
}

std::uint8_t SimReceiver::rateOf(std::uint8_t messageClass, std::uint8_t messageId) const {
  for (const MessageRate& entry : rates_) {
    if (entry.messageClass == messageClass && entry.messageId == messageId) {
      return entry.rate;
    }
  }
  return 0;
}

bool SimReceiver::talking() const {
  return std::any_of(rates_.begin(), rates_.end(),
                     [](const MessageRate& entry) { return entry.rate != 0; });
}

bool SimReceiver::fixedAt(milliseconds t) const {
  return t - powerUp_ >= timeToFix_ && (systems_ & kNavigationSystems) != 0;
}

bool SimReceiver::selected(const Satellite& satellite) const {
  return (systems_ & (1u << satellite.gnssId)) != 0;
}

std::uint8_t SimReceiver::statusByte(milliseconds now) const {
  return static_cast<std::uint8_t>(kStatusAntennaOk | (fixedAt(now) ? kStatusSignalOk : 0));
}

bool SimReceiver::due(std::uint8_t messageId, std::int64_t epoch) const {
  const std::uint8_t rate = rateOf(protocol::kUbxClassNav, messageId);
  return rate != 0 && epoch % rate == 0;
}

bool SimReceiver::sendsAt(std::int64_t epoch) const {
  // MON-HW's epochs are NAV-STATUS's too.
  return talking() && (epoch % kNavStatusEvery == 0 || due(protocol::kUbxIdNavPvt, epoch) ||
                       due(protocol::kUbxIdNavClock, epoch) || due(protocol::kUbxIdNavSat, epoch));
}

std::chrono::nanoseconds SimReceiver::delay(std::int64_t epoch) const {
  if (delivery_.jitter == 0ms) {
    return delivery_.latency;
  }
  // A draw of its own for every epoch, so that it does not matter which epochs were looked at.
  std::uint64_t state =
      deliverySeed_ ^ (static_cast<std::uint64_t>(epoch) * 0x9E37'79B9'7F4A'7C15ULL);
  constexpr double kUnit = 0x1.0p-53;
  const double share = static_cast<double>(splitMix(state) >> 11) * kUnit * 2.0 - 1.0;
  const auto jitter = std::chrono::nanoseconds(delivery_.jitter).count();
  return delivery_.latency +
         std::chrono::nanoseconds(std::llround(share * static_cast<double>(jitter)));
}

std::optional<std::chrono::nanoseconds> SimReceiver::nextDelivery() const {
  // Talking, it sends NAV-STATUS every kNavStatusEvery epochs at the latest.
  for (std::int64_t epoch = nextEpoch_; epoch <= nextEpoch_ + kNavStatusEvery; ++epoch) {
    if (sendsAt(epoch)) {
      return epoch * kEpoch + delay(epoch);
    }
  }
  return std::nullopt;
}

void SimReceiver::appendUntil(std::chrono::nanoseconds now, std::vector<std::uint8_t>& stream) {
  for (const Acknowledgement& ack : acknowledgements_) {
    payload_.assign({ack.messageClass, ack.messageId});
    appendFrame(stream, kClassAck, ack.accepted ? kIdAckAck : kIdAckNak);
  }
  acknowledgements_.clear();

  for (milliseconds t = nextEpoch_ * kEpoch; t + delay(nextEpoch_) <= now;
       t = ++nextEpoch_ * kEpoch) {
    advance();
    const bool statusDue = talking() && nextEpoch_ % kNavStatusEvery == 0;
    const bool pvtDue = due(protocol::kUbxIdNavPvt, nextEpoch_);
    const bool satDue = due(protocol::kUbxIdNavSat, nextEpoch_);
    if (statusDue || pvtDue || satDue) {
      observe(t);
    }
    // In the order of their IDs within each class, as the receiver sends them.
    if (statusDue) {
      writeNavStatus(t);
      appendFrame(stream, protocol::kUbxClassNav, kIdNavStatus);
    }
    if (pvtDue) {
      writeNavPvt(t);
      appendFrame(stream, protocol::kUbxClassNav, protocol::kUbxIdNavPvt);
    }
    if (due(protocol::kUbxIdNavClock, nextEpoch_)) {
      writeNavClock(t);
      appendFrame(stream, protocol::kUbxClassNav, protocol::kUbxIdNavClock);
    }
    if (satDue) {
      writeNavSat(t);
      appendFrame(stream, protocol::kUbxClassNav, protocol::kUbxIdNavSat);
    }
    if (talking() && nextEpoch_ % kMonHwEvery == 0) {
      writeMonHw();
      appendFrame(stream, kClassMon, kIdMonHw);
    }
  }
}

// One epoch of every slow random process; the same draws whatever is being sent.
void SimReceiver::advance() {
  // The oscillator's drift wanders a few ns/s around its own offset over minutes.
  driftWander_ += -driftWander_ / 3000.0 + 0.15 * noise();
  const double drift = std::clamp(driftCentre_ + driftWander_, -45.0, 45.0);
  clockBias_ += drift * std::chrono::duration<double>(kEpoch).count();
  // The receiver steers its clock in whole milliseconds.
  if (std::abs(clockBias_) > 500'000.0) {
    clockBias_ -= std::copysign(1'000'000.0, clockBias_);
  }
  for (std::size_t axis = 0; axis < positionError_.size(); ++axis) {
    const double size = axis == 2 ? 0.12 : 0.06;  // height is the least certain
    positionError_[axis] = 0.995 * positionError_[axis] + size * noise();
    velocityError_[axis] = 0.9 * velocityError_[axis] + 3.0 * noise();
  }
  timeError_ = 0.8 * timeError_ + 6.0 * noise();
  for (Satellite& satellite : sky_) {
    satellite.cnoWander = 0.995 * satellite.cnoWander + 0.25 * noise();
  }
}

void SimReceiver::observe(milliseconds t) {
  const auto millis = static_cast<double>(t.count());
  const double acquisition = std::chrono::duration<double>(t - powerUp_) / timeToFix_;
  const bool fixed = fixedAt(t);
  usedCount_ = 0;
  for (std::size_t i = 0; i < sky_.size(); ++i) {
    const Satellite& s = sky_[i];
    const double swing =
        s.passPeriod == 0.0
            ? 1.0
            : 0.5 + 0.5 * std::sin(s.phase + 2.0 * std::numbers::pi * millis / s.passPeriod);
    const double elevation = s.lowestElevation + (s.highestElevation - s.lowestElevation) * swing;
    const double azimuth = std::fmod(s.azimuth + s.azimuthRate * millis + 720.0, 360.0);
    const bool tracked = elevation > 0.0 && (fixed || acquisition >= s.acquiredAt);
    // Stronger towards the zenith, where the antenna sees best and the air is thinnest.
    const double cno = 20.0 + 26.0 * std::sin(radians(elevation)) + s.cnoOffset + s.cnoWander;
    Observation& o = observations_[i];
    o.cno = tracked ? rounded<std::uint8_t>(std::clamp(cno, 15.0, 50.0)) : 0;
    o.elevation = rounded<std::int8_t>(elevation);
    o.azimuth = static_cast<std::int16_t>(rounded<int>(azimuth) % 360);
    // Below the elevation mask or too weak to trust, SBAS only for corrections.
    o.used = fixed && tracked && elevation >= 10.0 && o.cno >= 22 && s.gnssId != kGnssIdSbas;
    if (o.used && selected(s)) {
      ++usedCount_;
    }
  }
}

void SimReceiver::appendFrame(std::vector<std::uint8_t>& stream, std::uint8_t messageClass,
                              std::uint8_t messageId) {
  const std::size_t start = stream.size();
  stream.insert(stream.end(), {kSync1, kSync2, messageClass, messageId, 0, 0});
  writeU16Le(std::span(stream).subspan(start), kFrameLength,
             static_cast<std::uint16_t>(payload_.size()));
  stream.insert(stream.end(), payload_.begin(), payload_.end());
  // Over everything after the two sync bytes.
  const protocol::UbxChecksum sum = protocol::ubxChecksum(std::span(stream).subspan(start + 2));
  stream.push_back(sum.a);
  stream.push_back(sum.b);
}

// GPS time of week of the epoch at t, ms.
std::uint32_t SimReceiver::iTowAt(milliseconds t) const {
  const auto gps = utcAt(t) + kLeapSeconds;
  const auto day = std::chrono::floor<std::chrono::days>(gps);
  const auto sunday = day - std::chrono::days{std::chrono::weekday{day}.c_encoding()};
  return static_cast<std::uint32_t>((gps - sunday).count() % kWeek.count());
}

void SimReceiver::writeNavPvt(milliseconds t) {
  payload_.assign(kPvtLength, 0);
  const bool fixed = fixedAt(t);
  const auto utc = utcAt(t);
  const auto day = std::chrono::floor<std::chrono::days>(utc);
  const auto second = std::chrono::floor<std::chrono::seconds>(utc);
  const std::chrono::year_month_day date{day};
  const std::chrono::hh_mm_ss time{second - day};
  // The second is the epoch's own; the error of the solution may put nano just below zero.
  const auto nano = static_cast<std::int32_t>(std::chrono::nanoseconds(utc - second).count() +
                                              std::lround(timeError_));

  writeU32Le(payload_, kPvtITow, iTowAt(t));
  writeU16Le(payload_, kPvtYear, static_cast<std::uint16_t>(static_cast<int>(date.year())));
  put8(payload_, kPvtMonth, static_cast<std::uint8_t>(static_cast<unsigned>(date.month())));
  put8(payload_, kPvtDay, static_cast<std::uint8_t>(static_cast<unsigned>(date.day())));
  put8(payload_, kPvtHour, static_cast<std::uint8_t>(time.hours().count()));
  put8(payload_, kPvtMinute, static_cast<std::uint8_t>(time.minutes().count()));
  put8(payload_, kPvtSecond, static_cast<std::uint8_t>(time.seconds().count()));
  put8(payload_, kPvtValid, fixed ? kValidFixed : (roughTime(t) ? kValidRough : 0));
  writeI32Le(payload_, kPvtNano, nano);
  if (!fixed) {
    // No position yet: zeros, as the receiver reports them before its first fix.
    writeU32Le(payload_, kPvtTAcc, kUnknownAccuracy);
    writeU32Le(payload_, kPvtHAcc, kUnknownAccuracy);
    writeU32Le(payload_, kPvtVAcc, kUnknownAccuracy);
    writeU32Le(payload_, kPvtSAcc, 20'000);
    writeU32Le(payload_, kPvtHeadAcc, kHeadingUnknown);
    writeU16Le(payload_, kPvtPDop, kDopUnknown);
    put8(payload_, kPvtFlags3, kInvalidLlh);
    return;
  }
  const double north = positionError_[0];
  const double east = positionError_[1];
  const double up = positionError_[2];
  const double latitude = kLatitude + north / kMetresPerDegree;
  const double longitude = kLongitude + east / (kMetresPerDegree * std::cos(radians(kLatitude)));
  const double velocityN = velocityError_[0];
  const double velocityE = velocityError_[1];
  writeU32Le(payload_, kPvtTAcc, rounded<std::uint32_t>(15.0 + std::abs(timeError_)));
  put8(payload_, kPvtFixType, kFix3d);
  put8(payload_, kPvtFlags, kGnssFixOk);
  put8(payload_, kPvtFlags2, kConfirmedDateTime);
  put8(payload_, kPvtNumSv, static_cast<std::uint8_t>(usedCount_));
  writeI32Le(payload_, kPvtLon, rounded<std::int32_t>(longitude * kPvtPerDegree));
  writeI32Le(payload_, kPvtLat, rounded<std::int32_t>(latitude * kPvtPerDegree));
  writeI32Le(payload_, kPvtHeight,
             rounded<std::int32_t>((kHeightMsl + kGeoidSeparation + up) * kPvtPerMetre));
  writeI32Le(payload_, kPvtHMsl, rounded<std::int32_t>((kHeightMsl + up) * kPvtPerMetre));
  writeU32Le(payload_, kPvtHAcc, rounded<std::uint32_t>(1400.0 + 300.0 * std::abs(north)));
  writeU32Le(payload_, kPvtVAcc, rounded<std::uint32_t>(2300.0 + 300.0 * std::abs(up)));
  writeI32Le(payload_, kPvtVelN, rounded<std::int32_t>(velocityN));
  writeI32Le(payload_, kPvtVelE, rounded<std::int32_t>(velocityE));
  writeI32Le(payload_, kPvtVelD, rounded<std::int32_t>(velocityError_[2]));
  writeI32Le(payload_, kPvtGSpeed, rounded<std::int32_t>(std::hypot(velocityN, velocityE)));
  writeU32Le(payload_, kPvtSAcc, 250);
  writeU32Le(payload_, kPvtHeadAcc, kHeadingUnknown);
  // More satellites, better geometry.
  writeU16Le(payload_, kPvtPDop,
             rounded<std::uint16_t>(6.0 * kPvtPDopPerUnit / std::sqrt(std::max(usedCount_, 4))));
}

void SimReceiver::writeNavStatus(milliseconds t) {
  payload_.assign(kStatusLength, 0);
  const bool fixed = fixedAt(t);
  writeU32Le(payload_, kStatusITow, iTowAt(t));
  put8(payload_, kStatusFix, fixed ? kFix3d : 0);
  put8(payload_, kStatusFlags,
       static_cast<std::uint8_t>((fixed ? kGnssFixOk : 0) | (roughTime(t) ? kWeekAndTowSet : 0)));
  if (fixed) {
    // The first epoch at or after the time to fix.
    const milliseconds firstFix = (powerUp_ + timeToFix_ + kEpoch - 1ms) / kEpoch * kEpoch;
    writeU32Le(payload_, kStatusTtff, static_cast<std::uint32_t>((firstFix - powerUp_).count()));
  }
  writeU32Le(payload_, kStatusMsss, static_cast<std::uint32_t>((t - powerUp_).count()));
}

void SimReceiver::writeNavClock(milliseconds t) {
  payload_.assign(kClockLength, 0);
  const bool fixed = fixedAt(t);
  writeU32Le(payload_, kClockITow, iTowAt(t));
  writeI32Le(payload_, kClockBias, rounded<std::int32_t>(clockBias_));
  writeI32Le(payload_, kClockDrift,
             rounded<std::int32_t>(std::clamp(driftCentre_ + driftWander_, -45.0, 45.0)));
  writeU32Le(payload_, kClockTAcc,
             fixed ? rounded<std::uint32_t>(15.0 + std::abs(timeError_)) : kUnknownAccuracy);
  writeU32Le(payload_, kClockFAcc, fixed ? 180 : kUnknownAccuracy);
}

void SimReceiver::writeNavSat(milliseconds t) {
  const auto listed = static_cast<std::size_t>(
      std::count_if(sky_.begin(), sky_.end(), [this](const Satellite& s) { return selected(s); }));
  payload_.assign(kSatFirstBlock + kSatBlockSize * listed, 0);
  writeU32Le(payload_, kSatITow, iTowAt(t));
  put8(payload_, kSatVersion, 1);
  put8(payload_, kSatNumSvs, static_cast<std::uint8_t>(listed));
  const bool fixed = fixedAt(t);
  std::size_t block = kSatFirstBlock;
  for (std::size_t i = 0; i < sky_.size(); ++i) {
    const Satellite& s = sky_[i];
    if (!selected(s)) {
      continue;
    }
    const Observation& o = observations_[i];
    const bool tracked = o.cno != 0;
    std::uint32_t flags = tracked ? (o.cno >= 28 ? kQualityCarrierLocked : kQualityCodeLocked)
                                  : (o.elevation > 0 ? kQualitySearching : 0);
    flags |= o.used ? kSvUsed : 0;
    flags |= tracked ? kHealthy : 0;
    flags |= fixed && tracked ? kOrbitEphemeris | kEphemerisAvailable : kOrbitAlmanac;
    flags |= s.gnssId != kGnssIdSbas ? kAlmanacAvailable : 0;
    put8(payload_, block + kSatGnssId, s.gnssId);
    put8(payload_, block + kSatSvId, s.svId);
    put8(payload_, block + kSatCno, o.cno);
    put8(payload_, block + kSatElev, static_cast<std::uint8_t>(o.elevation));
    writeU16Le(payload_, block + kSatAzim, static_cast<std::uint16_t>(o.azimuth));
    // Residuals only exist for satellites in the solution; a few metres.
    writeU16Le(payload_, block + kSatPrRes,
               static_cast<std::uint16_t>(
                   o.used ? rounded<std::int16_t>(kSatPrResPerMetre * 2.0 * s.cnoWander) : 0));
    writeU32Le(payload_, block + kSatFlags, flags);
    block += kSatBlockSize;
  }
}

void SimReceiver::writeMonHw() {
  payload_.assign(kHwLength, 0);
  // Steady figures with a little movement, so the message is not the same every time.
  writeU16Le(payload_, kHwNoise, static_cast<std::uint16_t>(80 + nextEpoch_ / kMonHwEvery % 9));
  writeU16Le(payload_, kHwAgc, rounded<std::uint16_t>(5900.0 + 40.0 * driftWander_));
  put8(payload_, kHwAntennaStatus, kAntennaOk);
  put8(payload_, kHwAntennaPower, kAntennaPowered);
  put8(payload_, kHwJamming, static_cast<std::uint8_t>(4 + nextEpoch_ / kMonHwEvery % 5));
}

}  // namespace qvr::platform::sim
