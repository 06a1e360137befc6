#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace qvr::platform::sim {

// The receivers' UTC at time 0 of a virtual clock: a fixed moment, so that what a test or a
// scenario sees does not depend on the day it runs.
inline constexpr std::chrono::sys_seconds kVirtualStart{
    std::chrono::sys_days{std::chrono::year{2026} / 12 / 8} + std::chrono::hours{12}};

// When an epoch's frames become readable at the host: `latency` after the epoch, give or take
// up to `jitter`, drawn per epoch (uniformly, from the receiver's seed) so that a run can be
// repeated. A real device's frames come a serial line and a USB poll after their epoch, which
// is what a time server fed from them has to allow for.
struct Delivery {
  std::chrono::milliseconds latency{0};
  std::chrono::milliseconds jitter{0};
  friend bool operator==(const Delivery&, const Delivery&) = default;
};

// The GNSS receiver inside a simulated device, on its bus's clock.
//
// It computes a navigation solution every 100 ms of virtual time (at whole multiples of 100 ms,
// so a rate of 10 lands on whole seconds) and writes whole UBX frames to the stream. It stays
// silent until the host asks for a message with CFG-MSG; while any is on, it also sends
// messages the host has to skip (NAV-STATUS, MON-HW). Every CFG message is acknowledged, with
// ACK-NAK when it is not a CFG-MSG of a length the receiver knows. The fix comes its start's
// time to fix after power-up, a rough time a third of that after it; the time is the UTC at
// time 0 plus the time, so it follows the clock whatever the power-up time. An epoch's frames go
// out at its Delivery, always before the next epoch's.
//
// A cold start searches the whole sky, the way tests pin a receiver's first seconds; a warm one
// knows its almanac and last position, as a device unplugged a moment ago does, so a
// demonstration shows a fix at once.
enum class Start { Cold, Warm };

// Everything random comes from the seed and is drawn once per epoch whether or not anything
// is sent, so what the stream says at a given time does not depend on how often it is read.
class SimReceiver {
 public:
  static constexpr std::chrono::milliseconds kEpoch{100};
  static constexpr std::chrono::milliseconds kTimeToFix{3000};  // from a cold start
  static constexpr std::chrono::milliseconds kWarmTimeToFix{1000};
  static constexpr std::uint8_t kStatusAntennaOk = 0x04;
  static constexpr std::uint8_t kStatusSignalOk = 0x01;
  // GPS, SBAS, Galileo and GLONASS: what the device ships with.
  static constexpr std::uint8_t kDefaultSystems = 0x47;

  // A jitter less than the latency (or none), and both together less than an epoch, so that
  // no epoch's frames come before their epoch or after the next epoch's.
  [[nodiscard]] static bool deliverable(const Delivery& delivery);

  SimReceiver(std::uint64_t seed, std::chrono::milliseconds powerUp,
              std::chrono::sys_time<std::chrono::milliseconds> utcAtZero = kVirtualStart,
              Delivery delivery = {}, Start start = Start::Cold);

  // A feature report as the host sent it (byte 0 the report ID, byte 1 the command). The
  // device's firmware passes on the satellite systems (command 3) and tunnelled receiver
  // messages (command 8); everything else is not the receiver's business. The command takes
  // effect from the first epoch not delivered yet, so bring the stream up to date first.
  void command(std::span<const std::uint8_t> featureReport);
  // GNSS selection byte: bit n for gnssId n.
  void selectSystems(std::uint8_t systems);

  // Appends every frame delivered up to and including `now`.
  void appendUntil(std::chrono::nanoseconds now, std::vector<std::uint8_t>& stream);
  // When the next frame of its own is delivered; nothing while it sends none (before the host
  // asks for a message).
  [[nodiscard]] std::optional<std::chrono::nanoseconds> nextDelivery() const;

  [[nodiscard]] std::uint8_t statusByte(std::chrono::milliseconds now) const;

 private:
  struct Satellite {
    std::uint8_t gnssId;
    std::uint8_t svId;
    double lowestElevation;   // degrees, below the horizon for part of the pass
    double highestElevation;  // degrees
    double phase;             // radians at virtual time 0
    double passPeriod;        // ms; 0 for a geostationary satellite
    double azimuth;           // degrees at virtual time 0
    double azimuthRate;       // degrees per ms
    double cnoOffset;         // dB, this satellite's antenna gain and obstruction
    double cnoWander;         // dB, slow random walk
    double acquiredAt;        // share of the time to fix after which it is tracked
  };
  // What one satellite looks like at the current epoch.
  struct Observation {
    std::uint8_t cno;
    std::int8_t elevation;
    std::int16_t azimuth;
    bool used;
  };
  struct MessageRate {
    std::uint8_t messageClass;
    std::uint8_t messageId;
    std::uint8_t rate;
  };
  struct Acknowledgement {
    std::uint8_t messageClass;
    std::uint8_t messageId;
    bool accepted;
  };

  [[nodiscard]] double noise();  // uniform in [-1, 1)
  [[nodiscard]] bool fixedAt(std::chrono::milliseconds t) const;
  // Whether it knows the time, if not yet to the precision of a fix.
  [[nodiscard]] bool roughTime(std::chrono::milliseconds t) const {
    return t - powerUp_ >= timeToFix_ / 3;
  }
  [[nodiscard]] bool selected(const Satellite& satellite) const;
  [[nodiscard]] std::uint8_t rateOf(std::uint8_t messageClass, std::uint8_t messageId) const;
  [[nodiscard]] bool talking() const;
  [[nodiscard]] bool due(std::uint8_t messageId, std::int64_t epoch) const;
  [[nodiscard]] bool sendsAt(std::int64_t epoch) const;
  // How long after its epoch this epoch's frames are delivered.
  [[nodiscard]] std::chrono::nanoseconds delay(std::int64_t epoch) const;
  [[nodiscard]] std::chrono::sys_time<std::chrono::milliseconds> utcAt(
      std::chrono::milliseconds t) const {
    return utcAtZero_ + t;
  }
  [[nodiscard]] std::uint32_t iTowAt(std::chrono::milliseconds t) const;
  void buildSky();
  void receiverMessage(std::span<const std::uint8_t> message);
  void advance();
  void observe(std::chrono::milliseconds t);

  void appendFrame(std::vector<std::uint8_t>& stream, std::uint8_t messageClass,
                   std::uint8_t messageId);
  void writeNavPvt(std::chrono::milliseconds t);
  void writeNavStatus(std::chrono::milliseconds t);
  void writeNavClock(std::chrono::milliseconds t);
  void writeNavSat(std::chrono::milliseconds t);
  void writeMonHw();

  std::uint64_t rng_;
  std::uint64_t deliverySeed_;  // apart from rng_, so that a delivery changes nothing else
  std::chrono::milliseconds powerUp_;
  std::chrono::milliseconds timeToFix_;
  std::chrono::sys_time<std::chrono::milliseconds> utcAtZero_;
  Delivery delivery_;
  std::uint8_t systems_;
  std::int64_t nextEpoch_;  // index of the next solution, at nextEpoch_ * kEpoch
  std::array<MessageRate, 3> rates_;
  std::vector<Acknowledgement> acknowledgements_;

  std::vector<Satellite> sky_;
  std::vector<Observation> observations_;  // parallel to sky_, refreshed when needed
  int usedCount_ = 0;

  double driftCentre_ = 0;  // ns/s, where this oscillator sits
  double driftWander_ = 0;
  double clockBias_ = 0;                   // ns
  std::array<double, 3> positionError_{};  // metres north, east, up
  std::array<double, 3> velocityError_{};  // mm/s north, east, down
  double timeError_ = 0;                   // ns

  std::vector<std::uint8_t> payload_;  // reused for every message
};

}  // namespace qvr::platform::sim
