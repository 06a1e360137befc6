#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace qvr::protocol {

// Reassembles UBX frames from the receiver's byte stream, one byte at a time.
//
// Expects: B5 62, class, ID, little-endian payload length, payload, two Fletcher checksum
// bytes over everything after the sync bytes. It goes back to hunting for B5 on a wrong
// second sync byte (which is not itself taken as a new B5), on 0xFF where the class, the ID or
// the length's high byte belongs, on a length that does not fit the payload buffer (checked
// before a single payload byte is stored), and after every complete frame, checked or not.
// Constant work per byte; the payload buffer is allocated once.
//
// It also counts what it saw, so that a stream that loses frames can tell why.
class UbxParser {
 public:
  static constexpr std::size_t kPayloadCapacity = 64001;

  // Since construction: reset() drops the frame in progress, not the history.
  struct Counts {
    std::uint64_t checkedFrames = 0;     // complete, checksum right
    std::uint64_t checksumErrors = 0;    // complete, checksum wrong
    std::uint64_t oversizedLengths = 0;  // declared length does not fit the payload buffer
  };

  UbxParser();

  // True when `b` completes a frame with a correct checksum; the frame is then available
  // through messageClass(), messageId() and payload() until the next byte is fed.
  [[nodiscard]] bool feed(std::uint8_t b) {
    return feed(std::span(&b, 1), [] {}) > 0;
  }

  // Feeds the bytes in order, calling onFrame() for each checked frame as it completes, before
  // the next byte is looked at. Returns the number of frames. Runs of payload bytes are taken
  // in one go, which is what makes the parser fast.
  template <typename OnFrame>
  std::size_t feed(std::span<const std::uint8_t> bytes, OnFrame&& onFrame) {
    std::size_t frames = 0;
    std::size_t i = 0;
    while (i < bytes.size()) {
      if (state_ == State::Payload) {
        const std::size_t run = std::min(declaredLength_ - payloadIndex_, bytes.size() - i);
        absorbPayload(bytes.subspan(i, run));
        i += run;
      } else if (feedFraming(bytes[i++])) {
        ++frames;
        onFrame();
      }
    }
    return frames;
  }
  // Back to hunting for a frame start; the counts stay.
  void reset();
  [[nodiscard]] Counts counts() const { return counts_; }

  [[nodiscard]] std::uint8_t messageClass() const { return class_; }
  [[nodiscard]] std::uint8_t messageId() const { return id_; }
  [[nodiscard]] std::span<const std::uint8_t> payload() const {
    return {payload_.get(), declaredLength_};
  }

 private:
  enum class State {
    Sync1,
    Sync2,
    Class,
    Id,
    LengthLow,
    LengthHigh,
    Payload,
    ChecksumA,
    ChecksumB
  };

  [[nodiscard]] bool feedFraming(std::uint8_t b);
  void absorbPayload(std::span<const std::uint8_t> run);
  void addToChecksum(std::uint8_t b) {
    checksumA_ = static_cast<std::uint8_t>(checksumA_ + b);
    checksumB_ = static_cast<std::uint8_t>(checksumB_ + checksumA_);
  }

  State state_ = State::Sync1;
  std::uint8_t class_ = 0;
  std::uint8_t id_ = 0;
  std::uint8_t lengthLow_ = 0;
  std::size_t declaredLength_ = 0;
  std::size_t payloadIndex_ = 0;
  std::uint8_t checksumA_ = 0;
  std::uint8_t checksumB_ = 0;
  std::unique_ptr<std::uint8_t[]> payload_;
  Counts counts_;
};

// The Fletcher checksum (A, B) over class, ID, length and payload, for building frames.
struct UbxChecksum {
  std::uint8_t a = 0;
  std::uint8_t b = 0;
};
[[nodiscard]] UbxChecksum ubxChecksum(std::span<const std::uint8_t> bytes);

// A whole frame as the receiver sends it: sync bytes, header, payload and checksum.
[[nodiscard]] std::vector<std::uint8_t> ubxFrame(std::uint8_t messageClass, std::uint8_t messageId,
                                                 std::span<const std::uint8_t> payload);

}  // namespace qvr::protocol
