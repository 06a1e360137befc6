#include "protocol/ubx_parser.h"

#include <array>
#include <cstring>

#include "protocol/bytes.h"

namespace qvr::protocol {
namespace {

constexpr std::uint8_t kSync1 = 0xB5;
constexpr std::uint8_t kSync2 = 0x62;
constexpr std::uint8_t kRejected = 0xFF;  // never a class, an ID or a length's high byte

}  // namespace

void UbxParser::absorbPayload(std::span<const std::uint8_t> run) {
  // Locals, so that the stores into the payload (bytes, which may alias anything) do not force
  // the running checksum back into memory on every byte.
  std::uint8_t a = checksumA_;
  std::uint8_t b = checksumB_;
  for (const std::uint8_t x : run) {
    a = static_cast<std::uint8_t>(a + x);
    b = static_cast<std::uint8_t>(b + a);
  }
  checksumA_ = a;
  checksumB_ = b;
  std::memcpy(payload_.get() + payloadIndex_, run.data(), run.size());
  payloadIndex_ += run.size();
  if (payloadIndex_ == declaredLength_) {
    state_ = State::ChecksumA;
  }
}

UbxParser::UbxParser() : payload_(std::make_unique<std::uint8_t[]>(kPayloadCapacity)) {}

void UbxParser::reset() {
  state_ = State::Sync1;
  declaredLength_ = 0;
  payloadIndex_ = 0;
}

bool UbxParser::feedFraming(std::uint8_t b) {
  switch (state_) {
    case State::Sync1:
      if (b == kSync1) {
        state_ = State::Sync2;
      }
      return false;
    case State::Sync2:
      if (b == kSync2) {
        checksumA_ = 0;
        checksumB_ = 0;
        state_ = State::Class;
      } else {
        state_ = State::Sync1;
      }
      return false;
    case State::Class:
      if (b == kRejected) {
        state_ = State::Sync1;
        return false;
      }
      addToChecksum(b);
      class_ = b;
      state_ = State::Id;
      return false;
    case State::Id:
      if (b == kRejected) {
        state_ = State::Sync1;
        return false;
      }
      addToChecksum(b);
      id_ = b;
      state_ = State::LengthLow;
      return false;
    case State::LengthLow:
      addToChecksum(b);
      lengthLow_ = b;
      state_ = State::LengthHigh;
      return false;
    case State::LengthHigh: {
      if (b == kRejected) {
        state_ = State::Sync1;
        return false;
      }
      const std::size_t length = readU16Le(std::array{lengthLow_, b}, 0);
      if (length > kPayloadCapacity) {
        // No message we know is anywhere near this long: drop the frame and hunt again.
        ++counts_.oversizedLengths;
        declaredLength_ = 0;
        state_ = State::Sync1;
        return false;
      }
      addToChecksum(b);
      declaredLength_ = length;
      payloadIndex_ = 0;
      state_ = length == 0 ? State::ChecksumA : State::Payload;
      return false;
    }
    case State::Payload:
      absorbPayload(std::span(&b, 1));
      return false;
    case State::ChecksumA:
      if (b != checksumA_) {
        // The frame is complete and wrong already; its second checksum byte is hunted through.
        ++counts_.checksumErrors;
        state_ = State::Sync1;
        return false;
      }
      state_ = State::ChecksumB;
      return false;
    case State::ChecksumB:
      state_ = State::Sync1;
      if (b != checksumB_) {
        ++counts_.checksumErrors;
        return false;
      }
      ++counts_.checkedFrames;
      return true;
  }
  return false;
}

UbxChecksum ubxChecksum(std::span<const std::uint8_t> bytes) {
  UbxChecksum sum;
  for (const std::uint8_t b : bytes) {
    sum.a = static_cast<std::uint8_t>(sum.a + b);
    sum.b = static_cast<std::uint8_t>(sum.b + sum.a);
  }
  return sum;
}

std::vector<std::uint8_t> ubxFrame(std::uint8_t messageClass, std::uint8_t messageId,
                                   std::span<const std::uint8_t> payload) {
  constexpr std::size_t kHeader = 6;  // sync bytes, class, ID, length
  std::vector<std::uint8_t> frame(kHeader + payload.size() + 2);
  frame[0] = kSync1;
  frame[1] = kSync2;
  frame[2] = messageClass;
  frame[3] = messageId;
  writeU16Le(frame, 4, static_cast<std::uint16_t>(payload.size()));
  for (std::size_t i = 0; i < payload.size(); ++i) {
    frame[kHeader + i] = payload[i];
  }
  const UbxChecksum sum = ubxChecksum(std::span(frame).subspan(2, kHeader - 2 + payload.size()));
  frame[frame.size() - 2] = sum.a;
  frame[frame.size() - 1] = sum.b;
  return frame;
}

}  // namespace qvr::protocol
