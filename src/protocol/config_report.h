#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "protocol/firmware.h"
#include "protocol/frequency.h"

namespace qvr::protocol {

// A frequency as the configuration report carries it: whole hertz signed, the fraction in
// 2^-32 Hz.
struct ReportedHz {
  std::int32_t integerHz = 0;
  std::uint32_t fractionWord = 0;
  friend bool operator==(const ReportedHz&, const ReportedHz&) = default;
};

// The device's configuration report as far as this firmware reports it. A field is empty when
// the format does not carry it, the firmware is too old to report it, or the report the device
// returned is too short to hold it.
struct Configuration {
  int format = 0;  // 0: one output in whole hertz; 1: two outputs in 32.32 fixed point
  std::optional<bool> outputsEnabled;
  std::optional<std::int32_t> out1WholeHz;  // format 0
  std::optional<double> out1Hz;             // format 1
  std::optional<double> out2Hz;             // format 1
  // Format 1: the two 32.32 words as the device holds them, for the exact value a double
  // cannot carry (the integer word unsigned, as the device is sent it).
  std::optional<ReportedHz> out1Word;
  std::optional<ReportedHz> out2Word;
  std::optional<bool> fll;
  std::optional<bool> onePps;
  std::optional<bool> out1LowPower;            // firmware 1.03 on
  std::optional<bool> out2LowPower;            // firmware 1.03 on
  std::optional<std::uint8_t> gnssSelection;   // firmware 1.07 on
  std::optional<std::uint8_t> dynamicModel;    // firmware 1.07 on
  std::optional<std::uint8_t> antennaCurrent;  // firmware 1.08 on
  std::optional<bool> nmea;                    // firmware 1.08 on
};

// Nothing when the report is too short to carry its format code or the format is unknown.
[[nodiscard]] std::optional<Configuration> decodeConfiguration(std::span<const std::uint8_t> report,
                                                               FirmwareVersion firmware);

// A 32.32 fixed-point frequency: signed whole hertz plus an unsigned fraction in 2^-32 Hz.
[[nodiscard]] double fixedPointHz(std::int32_t integerHz, std::uint32_t fractionWord);

}  // namespace qvr::protocol
