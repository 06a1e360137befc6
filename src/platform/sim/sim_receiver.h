#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <span>
#include <vector>

namespace qvr::platform::sim {

// The GNSS receiver inside a simulated device, on the virtual clock.
//
// It computes a navigation solution every 100 ms of virtual time (at whole multiples of 100 ms,
// so a rate of 10 lands on whole seconds) and writes whole UBX frames to the stream. It stays
// silent until the host asks for a message with CFG-MSG; while any is on, it also sends
// messages the host has to skip (NAV-STATUS, MON-HW). Every CFG message is acknowledged, with
// ACK-NAK when it is not a CFG-MSG of a length the receiver knows. The fix comes
// kTimeToFix after power-up; the time is a fixed UTC start plus the virtual time, so it
// follows the clock whatever the power-up time.
//
// Everything random comes from the seed and is drawn once per epoch whether or not anything
// is sent, so what the stream says at a given time does not depend on how often it is read.
class SimReceiver {
 public:
  static constexpr std::chrono::milliseconds kEpoch{100};
  static constexpr std::chrono::milliseconds kTimeToFix{3000};
  static constexpr std::uint8_t kStatusAntennaOk = 0x04;
  static constexpr std::uint8_t kStatusSignalOk = 0x01;
  // GPS, SBAS, Galileo and GLONASS: what the device ships with.
  static constexpr std::uint8_t kDefaultSystems = 0x47;

  SimReceiver(std::uint64_t seed, std::chrono::milliseconds powerUp,
              std::uint8_t systems = kDefaultSystems);

  // A feature report as the host sent it (byte 0 the report ID, byte 1 the command). The
  // device's firmware passes on the satellite systems (command 3) and tunnelled receiver
  // messages (command 8); everything else is not the receiver's business. The command takes
  // effect at the time the stream was last brought up to, so bring it up to date first.
  void command(std::span<const std::uint8_t> featureReport);
  // GNSS selection byte: bit n for gnssId n.
  void selectSystems(std::uint8_t systems);

  // The UTC time the receiver names at virtual time `t`.
  [[nodiscard]] static std::chrono::sys_time<std::chrono::milliseconds> utcAt(
      std::chrono::milliseconds t);

  // Appends every frame produced up to and including `now`.
  void appendUntil(std::chrono::milliseconds now, std::vector<std::uint8_t>& stream);

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
  [[nodiscard]] bool selected(const Satellite& satellite) const;
  [[nodiscard]] std::uint8_t rateOf(std::uint8_t messageClass, std::uint8_t messageId) const;
  [[nodiscard]] bool talking() const;
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
  std::chrono::milliseconds powerUp_;
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
