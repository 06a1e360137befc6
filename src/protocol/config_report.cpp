#include "protocol/config_report.h"

#include <cmath>

#include "protocol/bytes.h"

namespace qvr::protocol {
namespace {

// Byte offsets of the configuration report (byte 0 is the report ID).
constexpr std::size_t kFormatByte = 1;           // u8, 0 or 1
constexpr std::size_t kFlagsByte = 2;            // bit field
constexpr std::size_t kFormat0Out1Hz = 3;        // i32, whole Hz
constexpr std::size_t kOut1Fraction = 3;         // u32, 2^-32 Hz
constexpr std::size_t kOut1Integer = 7;          // i32, Hz
constexpr std::size_t kOut2Fraction = 11;        // u32, 2^-32 Hz
constexpr std::size_t kOut2Integer = 15;         // i32, Hz
constexpr std::size_t kFllByte = 19;             // bit 0
constexpr std::size_t kOut1LowPowerByte = 20;    // bit 0
constexpr std::size_t kOut2LowPowerByte = 21;    // bit 0
constexpr std::size_t kGnssByte = 22;            // one bit per gnssId
constexpr std::size_t kDynamicModelByte = 23;    // u8, the receiver's model number
constexpr std::size_t kAntennaCurrentByte = 24;  // u8, as the firmware reports it
constexpr std::size_t kNmeaByte = 25;            // u8, 0 off

constexpr std::uint8_t kFormat0OutputsEnabled = 0x10;
constexpr std::uint8_t kFormat1OutputsEnabled = 0x20;
constexpr std::uint8_t kFormat1OnePps = 0x80;
constexpr std::uint8_t kBit0 = 0x01;

class Reader {
 public:
  explicit Reader(std::span<const std::uint8_t> report) : report_(report) {}

  [[nodiscard]] std::optional<std::uint8_t> byte(std::size_t offset) const {
    if (offset >= report_.size()) {
      return std::nullopt;
    }
    return report_[offset];
  }
  [[nodiscard]] std::optional<bool> bit(std::size_t offset, std::uint8_t mask) const {
    const auto b = byte(offset);
    return b ? std::optional<bool>((*b & mask) != 0) : std::nullopt;
  }
  [[nodiscard]] std::optional<std::uint32_t> u32(std::size_t offset) const {
    if (offset + 4 > report_.size()) {
      return std::nullopt;
    }
    return readU32Le(report_, offset);
  }
  [[nodiscard]] std::optional<std::int32_t> i32(std::size_t offset) const {
    if (offset + 4 > report_.size()) {
      return std::nullopt;
    }
    return readI32Le(report_, offset);
  }
  [[nodiscard]] std::optional<ReportedHz> word(std::size_t fraction, std::size_t integer) const {
    const auto f = u32(fraction);
    const auto n = i32(integer);
    return (f && n) ? std::optional<ReportedHz>(ReportedHz{*n, *f}) : std::nullopt;
  }
  [[nodiscard]] std::optional<double> frequency(std::size_t fraction, std::size_t integer) const {
    const auto f = u32(fraction);
    const auto n = i32(integer);
    return (f && n) ? std::optional<double>(fixedPointHz(*n, *f)) : std::nullopt;
  }

 private:
  std::span<const std::uint8_t> report_;
};

}  // namespace

double fixedPointHz(std::int32_t integerHz, std::uint32_t fractionWord) {
  return static_cast<double>(integerHz) + std::ldexp(static_cast<double>(fractionWord), -32);
}

std::optional<Configuration> decodeConfiguration(std::span<const std::uint8_t> report,
                                                 FirmwareVersion firmware) {
  const Reader r(report);
  const auto format = r.byte(kFormatByte);
  Configuration c;
  if (format == 0) {
    c.format = 0;
    c.outputsEnabled = r.bit(kFlagsByte, kFormat0OutputsEnabled);
    c.out1WholeHz = r.i32(kFormat0Out1Hz);
    return c;
  }
  if (format != 1) {
    return std::nullopt;
  }
  c.format = 1;
  c.outputsEnabled = r.bit(kFlagsByte, kFormat1OutputsEnabled);
  c.onePps = r.bit(kFlagsByte, kFormat1OnePps);
  c.out1Hz = r.frequency(kOut1Fraction, kOut1Integer);
  c.out2Hz = r.frequency(kOut2Fraction, kOut2Integer);
  c.out1Word = r.word(kOut1Fraction, kOut1Integer);
  c.out2Word = r.word(kOut2Fraction, kOut2Integer);
  c.fll = r.bit(kFllByte, kBit0);
  const FirmwareCapabilities can = capabilitiesOf(firmware);
  if (can.lowPowerCommands) {
    c.out1LowPower = r.bit(kOut1LowPowerByte, kBit0);
    c.out2LowPower = r.bit(kOut2LowPowerByte, kBit0);
  }
  if (can.receiverSettings) {
    c.gnssSelection = r.byte(kGnssByte);
    c.dynamicModel = r.byte(kDynamicModelByte);
  }
  if (can.antennaCurrent) {
    c.antennaCurrent = r.byte(kAntennaCurrentByte);
  }
  if (can.nmeaSetting) {
    const auto nmea = r.byte(kNmeaByte);
    c.nmea = nmea ? std::optional<bool>(*nmea != 0) : std::nullopt;
  }
  return c;
}

}  // namespace qvr::protocol
