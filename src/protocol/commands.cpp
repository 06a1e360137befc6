#include "protocol/commands.h"

#include <algorithm>

#include "protocol/bytes.h"

namespace qvr::protocol {

Guard guardOf(Command command) {
  switch (command) {
    case Command::BlinkFrontLights:
    case Command::SatelliteSystems:
    case Command::DynamicModel:
    case Command::ReceiverMessage:
      return Guard::TwoFlags;
    case Command::OutputsEnable:
    case Command::Out1Frequency:
    case Command::Out2Frequency:
    case Command::FllMode:
    case Command::OnePps:
    case Command::Out1LowPower:
    case Command::Out2LowPower:
    case Command::Nmea:
      break;
  }
  return Guard::ThreeFlags;
}

std::optional<std::vector<std::uint8_t>> buildCommandReport(Command command,
                                                            std::span<const std::uint8_t> data,
                                                            std::size_t featureLength) {
  if (kCommandDataOffset + data.size() > featureLength) {
    return std::nullopt;
  }
  std::vector<std::uint8_t> report(featureLength, 0);
  report[1] = static_cast<std::uint8_t>(command);
  std::copy(data.begin(), data.end(), report.begin() + kCommandDataOffset);
  return report;
}

std::array<std::uint8_t, 1> outputsEnableData(bool enabled) {
  return {static_cast<std::uint8_t>(enabled ? 3 : 0)};
}

std::array<std::uint8_t, 1> switchData(bool on) {
  return {static_cast<std::uint8_t>(on ? 1 : 0)};
}

std::array<std::uint8_t, 8> frequencyData(std::uint32_t fractionWord, std::uint32_t integerHz) {
  std::array<std::uint8_t, 8> data{};
  writeU32Le(data, 0, fractionWord);  // 2^-32 Hz
  writeU32Le(data, 4, integerHz);     // Hz
  return data;
}

std::vector<std::uint8_t> receiverMessageData(std::uint8_t messageClass, std::uint8_t messageId,
                                              std::span<const std::uint8_t> payload) {
  constexpr std::size_t kHeader = 4;  // class, ID, length
  std::vector<std::uint8_t> data(kHeader + payload.size());
  data[0] = messageClass;
  data[1] = messageId;
  writeU16Le(data, 2, static_cast<std::uint16_t>(payload.size()));
  std::copy(payload.begin(), payload.end(), data.begin() + kHeader);
  return data;
}

std::vector<std::uint8_t> messageRateData(std::uint8_t messageClass, std::uint8_t messageId,
                                          std::uint8_t rate) {
  // Port 0 is the link to the device's own firmware; ports 1 to 5 stay silent.
  const std::array<std::uint8_t, 8> payload{messageClass, messageId, rate, 0, 0, 0, 0, 0};
  return receiverMessageData(kUbxClassCfg, kUbxIdCfgMsg, payload);
}

std::uint8_t gnssSelectionByte(const SatelliteSystems& systems) {
  std::uint8_t selection = 0;
  selection |= systems.gps ? kGnssGps : 0;
  selection |= systems.sbas ? kGnssSbas : 0;
  selection |= systems.galileo ? kGnssGalileo : 0;
  selection |= systems.beidou ? kGnssBeiDou : 0;
  selection |= systems.glonass ? kGnssGlonass : 0;
  return selection;
}

SatelliteSystems satelliteSystemsOf(std::uint8_t selection) {
  return {.gps = (selection & kGnssGps) != 0,
          .sbas = (selection & kGnssSbas) != 0,
          .galileo = (selection & kGnssGalileo) != 0,
          .beidou = (selection & kGnssBeiDou) != 0,
          .glonass = (selection & kGnssGlonass) != 0};
}

std::uint8_t dynamicModelByte(int row) {
  switch (row) {
    case kPortableRow:
      return kModelPortable;
    case kAirborneRow:
      return kModelAirborne;
    default:
      return kModelStationary;
  }
}

int dynamicModelRow(std::uint8_t model) {
  switch (model) {
    case kModelPortable:
      return kPortableRow;
    case kModelAirborne:
      return kAirborneRow;
    default:
      return kStationaryRow;
  }
}

}  // namespace qvr::protocol
