#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "protocol/commands.h"
#include "protocol/ubx_messages.h"
#include "protocol/ubx_parser.h"

namespace qvr::device {

// Input report layout: report ID, status byte, data-present byte, then receiver bytes.
inline constexpr std::size_t kStatusByteOffset = 1;
inline constexpr std::size_t kDataPresentOffset = 2;
inline constexpr std::size_t kReceiverBytesOffset = 3;

// At most this many satellites are drawn, counted and averaged, as the window's graph has bars.
inline constexpr int kGraphedSatellites = 32;

struct SatelliteState {
  std::uint8_t gnssId = 0;  // the receiver's satellite-system number
  std::uint8_t svId = 0;
  std::uint8_t cno = 0;       // dB-Hz
  std::int8_t elevation = 0;  // degrees
  std::int16_t azimuth = 0;   // degrees from north through east
  bool used = false;          // in the navigation solution
  bool graphed = false;       // counted in satellites used and the average C/N0
};

// What the receiver last said, decoded. Empty optionals: not heard yet.
struct ReceiverState {
  std::optional<std::uint8_t> statusByte;  // byte 1 of the first input report of the latest read

  std::optional<protocol::NavPvt> pvt;  // the latest NAV-PVT
  std::optional<double> latitude;       // degrees
  std::optional<double> longitude;      // degrees
  std::optional<double> altitude;       // metres above mean sea level

  std::optional<std::int32_t> clockBias;           // ns, NAV-CLOCK clkB
  std::optional<std::int32_t> clockDrift;          // ns/s, NAV-CLOCK clkD
  std::optional<std::uint32_t> timeAccuracy;       // ns, NAV-CLOCK tAcc
  std::optional<std::uint32_t> frequencyAccuracy;  // ps/s, NAV-CLOCK fAcc

  bool satellitesHeard = false;            // a NAV-SAT came
  std::vector<SatelliteState> satellites;  // every satellite of the latest NAV-SAT, in its order
  int satellitesUsed = 0;  // graphed satellites: used, above the horizon, with a signal
  int cnoSum = 0;          // dB-Hz, over the graphed satellites
  int averageCno = 0;      // dB-Hz over the graphed satellites, halves to even; 0 without any
};

// What the framer and the decoders dropped, since the receiver was made.
struct ReceiverCounts {
  std::uint64_t checkedFrames = 0;     // frames whose checksum was right
  std::uint64_t checksumErrors = 0;    // frames whose checksum was wrong
  std::uint64_t oversizedLengths = 0;  // lengths the payload buffer cannot hold
  std::uint64_t tooShortMessages = 0;  // NAV messages too short for their decoder

  // Every frame that came whole, whatever its checksum.
  [[nodiscard]] std::uint64_t frames() const { return checkedFrames + checksumErrors; }
};

// Splits whole input reports into the status byte and receiver bytes, reassembles the UBX
// frames and decodes the NAV messages into ReceiverState.
class Receiver {
 public:
  [[nodiscard]] const ReceiverState& state() const { return state_; }
  [[nodiscard]] ReceiverCounts counts() const;

  // Goes back to hunting for a frame's start: what a new start of the window does. What was
  // decoded stays until something newer replaces it.
  void resetStream() { parser_.reset(); }

  // Takes one read's bytes: whole input reports of `reportLength` bytes back to back. The first
  // report's status byte counts and is handed to `onStatus(byte)` before any message; reports
  // without receiver data are skipped. `onMessage(id)` runs after each NAV message (NAV-PVT,
  // NAV-CLOCK, NAV-SAT) updated the state, before the next byte is looked at.
  template <typename OnStatus, typename OnMessage>
  void takeReports(std::span<const std::uint8_t> bytes, std::size_t reportLength,
                   OnStatus&& onStatus, OnMessage&& onMessage);

 private:
  // True when the frame that just completed was a NAV message that was decoded.
  [[nodiscard]] bool decodeFrame();
  void takeSatellites(const protocol::NavSat& sat);

  protocol::UbxParser parser_;
  ReceiverState state_;
  std::uint64_t tooShort_ = 0;
};

template <typename OnStatus, typename OnMessage>
void Receiver::takeReports(std::span<const std::uint8_t> bytes, std::size_t reportLength,
                           OnStatus&& onStatus, OnMessage&& onMessage) {
  if (bytes.size() <= kStatusByteOffset) {
    return;
  }
  // Only the first report's status counts; the later ones in the same read are older news.
  state_.statusByte = bytes[kStatusByteOffset];
  onStatus(bytes[kStatusByteOffset]);
  // A length too short for the report header carries no receiver bytes (and a length of 0
  // would leave nothing to split by).
  if (reportLength <= kReceiverBytesOffset) {
    return;
  }
  for (std::size_t report = 0; report + reportLength <= bytes.size(); report += reportLength) {
    if (bytes[report + kDataPresentOffset] == 0) {
      continue;
    }
    parser_.feed(bytes.subspan(report + kReceiverBytesOffset, reportLength - kReceiverBytesOffset),
                 [&] {
                   if (decodeFrame()) {
                     onMessage(parser_.messageId());
                   }
                 });
  }
}

}  // namespace qvr::device
