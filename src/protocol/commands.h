#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace qvr::protocol {

// Command codes of the feature report: byte 0 is the report ID 0, byte 1 the code, the
// command's data follows from byte 2. Codes 5, 7 and 9 are not used.
enum class Command : std::uint8_t {
  OutputsEnable = 0x01,
  BlinkFrontLights = 0x02,
  SatelliteSystems = 0x03,
  DynamicModel = 0x04,
  Out1Frequency = 0x06,
  ReceiverMessage = 0x08,
  Out2Frequency = 0x0A,
  FllMode = 0x0B,
  OnePps = 0x0C,
  Out1LowPower = 0x0D,
  Out2LowPower = 0x0E,
  Nmea = 0x0F,
};

// Which flags must be set before a command may go out. Both need a device found and
// configured; the three-flag guard also needs the device list to be complete.
enum class Guard { TwoFlags, ThreeFlags };

[[nodiscard]] Guard guardOf(Command command);

inline constexpr std::size_t kCommandDataOffset = 2;

// The zero-filled report of exactly `featureLength` bytes, or nothing when the command and its
// data do not fit: a short report would tell the device something other than what was meant.
[[nodiscard]] std::optional<std::vector<std::uint8_t>> buildCommandReport(
    Command command, std::span<const std::uint8_t> data, std::size_t featureLength);

// Data bytes (from byte 2) of the commands that carry one.
[[nodiscard]] std::array<std::uint8_t, 1> outputsEnableData(bool enabled);  // 3, not 1
[[nodiscard]] std::array<std::uint8_t, 1> switchData(bool on);              // FLL, 1PPS, ...
[[nodiscard]] std::array<std::uint8_t, 8> frequencyData(std::uint32_t fractionWord,
                                                        std::uint32_t integerHz);

// A receiver message for the tunnel: class, ID, little-endian length, payload; no sync bytes
// and no checksum.
[[nodiscard]] std::vector<std::uint8_t> receiverMessageData(std::uint8_t messageClass,
                                                            std::uint8_t messageId,
                                                            std::span<const std::uint8_t> payload);

// CFG-MSG: the rate of one message on the receiver's port 0, and 0 on ports 1 to 5.
[[nodiscard]] std::vector<std::uint8_t> messageRateData(std::uint8_t messageClass,
                                                        std::uint8_t messageId, std::uint8_t rate);

inline constexpr std::uint8_t kUbxClassNav = 0x01;
inline constexpr std::uint8_t kUbxClassCfg = 0x06;
inline constexpr std::uint8_t kUbxIdCfgMsg = 0x01;
inline constexpr std::uint8_t kUbxIdNavPvt = 0x07;
inline constexpr std::uint8_t kUbxIdNavClock = 0x22;
inline constexpr std::uint8_t kUbxIdNavSat = 0x35;

// The satellite systems in use, one bit per system at its receiver gnssId.
struct SatelliteSystems {
  bool gps = false;
  bool sbas = false;
  bool galileo = false;
  bool beidou = false;
  bool glonass = false;
};
inline constexpr std::uint8_t kGnssGps = 0x01;
inline constexpr std::uint8_t kGnssSbas = 0x02;
inline constexpr std::uint8_t kGnssGalileo = 0x04;
inline constexpr std::uint8_t kGnssBeiDou = 0x08;
inline constexpr std::uint8_t kGnssGlonass = 0x40;
[[nodiscard]] std::uint8_t gnssSelectionByte(const SatelliteSystems& systems);
// The systems a selection byte read back from the device names; other bits are ignored.
[[nodiscard]] SatelliteSystems satelliteSystemsOf(std::uint8_t selection);

// Rows of the dynamic-model list and the receiver's platform model numbers they stand for.
enum DynamicModelRow : int { kStationaryRow = 0, kPortableRow = 1, kAirborneRow = 2 };
inline constexpr std::uint8_t kModelPortable = 0;
inline constexpr std::uint8_t kModelStationary = 2;
inline constexpr std::uint8_t kModelAirborne = 8;
// Row -1 (nothing selected) and any unknown row give stationary.
[[nodiscard]] std::uint8_t dynamicModelByte(int row);
// The row that shows a model number read back from the device: unknown numbers are stationary.
[[nodiscard]] int dynamicModelRow(std::uint8_t model);

}  // namespace qvr::protocol
