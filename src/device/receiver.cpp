#include "device/receiver.h"

#include <cmath>

namespace qvr::device {
namespace {

constexpr double kDegreesPerUnit = 1e-7;        // NAV-PVT lon, lat
constexpr double kMetresPerMillimetre = 0.001;  // NAV-PVT hMSL

}  // namespace

ReceiverCounts Receiver::counts() const {
  const protocol::UbxParser::Counts framing = parser_.counts();
  return ReceiverCounts{.checkedFrames = framing.checkedFrames,
                        .checksumErrors = framing.checksumErrors,
                        .oversizedLengths = framing.oversizedLengths,
                        .tooShortMessages = tooShort_};
}

bool Receiver::decodeFrame() {
  if (parser_.messageClass() != protocol::kUbxClassNav) {
    return false;
  }
  const std::span<const std::uint8_t> payload = parser_.payload();
  switch (parser_.messageId()) {
    case protocol::kUbxIdNavPvt:
      if (const auto pvt = protocol::decodeNavPvt(payload)) {
        state_.pvt = *pvt;
        state_.longitude = pvt->lon * kDegreesPerUnit;
        state_.latitude = pvt->lat * kDegreesPerUnit;
        state_.altitude = pvt->hMSL * kMetresPerMillimetre;
        return true;
      }
      break;
    case protocol::kUbxIdNavClock:
      if (const auto clock = protocol::decodeNavClock(payload)) {
        state_.clockBias = clock->bias;
        state_.clockDrift = clock->drift;
        state_.timeAccuracy = clock->timeAccuracy;
        state_.frequencyAccuracy = clock->frequencyAccuracy;
        return true;
      }
      break;
    case protocol::kUbxIdNavSat:
      if (const auto sat = protocol::NavSat::decode(payload)) {
        takeSatellites(*sat);
        return true;
      }
      break;
    default:
      return false;
  }
  ++tooShort_;
  return false;
}

void Receiver::takeSatellites(const protocol::NavSat& sat) {
  state_.satellitesHeard = true;
  state_.satellites.clear();
  int graphed = 0;
  int sum = 0;
  for (int k = 0; k < sat.count(); ++k) {
    const protocol::SatelliteSignal s = sat.satellite(k);
    // Only satellites in the solution and above the horizon, at most one per bar.
    const bool counted = s.cno > 0 && s.elev > 0 && s.used && graphed < kGraphedSatellites;
    if (counted) {
      ++graphed;
      sum += s.cno;
    }
    state_.satellites.push_back(SatelliteState{.gnssId = s.gnssId,
                                               .svId = s.svId,
                                               .cno = s.cno,
                                               .elevation = s.elev,
                                               .azimuth = s.azim,
                                               .used = s.used,
                                               .graphed = counted});
  }
  state_.satellitesUsed = graphed;
  state_.cnoSum = sum;
  state_.averageCno =
      graphed == 0 ? 0 : static_cast<int>(std::nearbyint(sum / static_cast<double>(graphed)));
}

}  // namespace qvr::device
