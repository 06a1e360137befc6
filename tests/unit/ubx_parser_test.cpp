#include "protocol/ubx_parser.h"

#include <gtest/gtest.h>

#include <random>
#include <span>
#include <tuple>
#include <vector>

namespace qvr::protocol {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct Frame {
  std::uint8_t messageClass;
  std::uint8_t messageId;
  Bytes payload;
  friend bool operator==(const Frame&, const Frame&) = default;
};

// Every frame the parser accepts from the stream, in order.
std::vector<Frame> parse(UbxParser& parser, const Bytes& stream) {
  std::vector<Frame> frames;
  for (const std::uint8_t b : stream) {
    if (parser.feed(b)) {
      frames.push_back({parser.messageClass(), parser.messageId(),
                        Bytes(parser.payload().begin(), parser.payload().end())});
    }
  }
  return frames;
}

std::vector<Frame> parse(const Bytes& stream) {
  UbxParser parser;
  return parse(parser, stream);
}

Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

const Bytes kPvtPayload = [] {
  Bytes p(92);
  for (std::size_t i = 0; i < p.size(); ++i) {
    p[i] = static_cast<std::uint8_t>(i * 7);
  }
  return p;
}();

TEST(UbxParser, ChecksumOfAKnownFrame) {
  // CFG-MSG poll for NAV-PVT, as the receiver's documentation lists it: B5 62 06 01 02 00 01 07 11
  // 3A
  EXPECT_EQ(ubxFrame(0x06, 0x01, Bytes{0x01, 0x07}),
            (Bytes{0xB5, 0x62, 0x06, 0x01, 0x02, 0x00, 0x01, 0x07, 0x11, 0x3A}));
}

TEST(UbxParser, FramesAreFoundInAStreamWithNoiseAroundThem) {
  const Bytes stream = Bytes{0x00, 0x62, 0xB5, 0x00} + ubxFrame(0x01, 0x07, kPvtPayload) +
                       Bytes{0x24, 0x47} + ubxFrame(0x0A, 0x04, {}) +
                       ubxFrame(0x01, 0x22, Bytes(20, 0xB5)) + Bytes{0xB5};
  const std::vector<Frame> expected{
      {0x01, 0x07, kPvtPayload}, {0x0A, 0x04, {}}, {0x01, 0x22, Bytes(20, 0xB5)}};
  EXPECT_EQ(parse(stream), expected);
}

TEST(UbxParser, RejectionsSendTheParserBackToHunting) {
  const Bytes good = ubxFrame(0x01, 0x35, Bytes{1, 2, 3});
  struct Case {
    const char* name;
    Bytes broken;
  };
  Bytes wrongA = good;
  wrongA[good.size() - 2] ^= 1;
  Bytes wrongB = good;
  wrongB[good.size() - 1] ^= 1;
  const Case cases[] = {
      // The second B5 arrives where 62 belongs: it is not taken as a new start.
      {"B5 B5 62", Bytes{0xB5} + good},
      {"class FF", Bytes{0xB5, 0x62, 0xFF, 0x07, 0x00, 0x00, 0x07, 0x15}},
      {"ID FF", Bytes{0xB5, 0x62, 0x01, 0xFF, 0x00, 0x00, 0x00, 0x00}},
      {"length high FF", Bytes{0xB5, 0x62, 0x01, 0x07, 0x00, 0xFF}},
      {"wrong checksum A", wrongA},
      {"wrong checksum B", wrongB},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_TRUE(parse(c.broken).empty());
    // The parser is back in step for the next frame.
    const std::vector<Frame> next{{0x01, 0x35, Bytes{1, 2, 3}}};
    EXPECT_EQ(parse(c.broken + good), next);
  }
}

TEST(UbxParser, LengthLowByteMayBeFF) {
  const Bytes payload(255, 0x11);
  EXPECT_EQ(parse(ubxFrame(0x01, 0x35, payload)).size(), 1u);
}

TEST(UbxParser, LengthBeyondThePayloadBufferDropsTheFrameAtOnce) {
  // 0xFE01 bytes would run past the buffer: nothing is stored, the parser hunts again, and the
  // bytes that followed the header are looked at as a new stream.
  const Bytes oversize{0xB5, 0x62, 0x01, 0x07, 0x01, 0xFE};
  const Bytes good = ubxFrame(0x01, 0x22, Bytes(12, 3));
  EXPECT_EQ(parse(oversize + good).size(), 1u);

  const Bytes largest(UbxParser::kPayloadCapacity, 0x5A);
  const auto frames = parse(ubxFrame(0x02, 0x13, largest));
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].payload, largest);
  const Bytes oneTooMany(UbxParser::kPayloadCapacity + 1, 0x5A);
  EXPECT_TRUE(parse(ubxFrame(0x02, 0x13, oneTooMany)).empty());
}

TEST(UbxParser, StateCarriesAcrossFeedsAndReset) {
  const Bytes frame = ubxFrame(0x01, 0x07, kPvtPayload);
  UbxParser parser;
  for (std::size_t split = 0; split <= frame.size(); ++split) {
    const auto first =
        parse(parser, Bytes(frame.begin(), frame.begin() + static_cast<std::ptrdiff_t>(split)));
    const auto second =
        parse(parser, Bytes(frame.begin() + static_cast<std::ptrdiff_t>(split), frame.end()));
    EXPECT_EQ(first.size() + second.size(), 1u) << "split at " << split;
  }
  (void)parse(parser, Bytes(frame.begin(), frame.begin() + 10));
  parser.reset();
  EXPECT_TRUE(parse(parser, Bytes(frame.begin() + 10, frame.end())).empty());
}

using CountsTuple = std::tuple<std::uint64_t, std::uint64_t, std::uint64_t>;

CountsTuple tupleOf(const UbxParser::Counts& c) {
  return {c.checkedFrames, c.checksumErrors, c.oversizedLengths};
}

TEST(UbxParser, CountsWhatItSawHoweverTheStreamIsSplit) {
  const Bytes good = ubxFrame(0x01, 0x22, Bytes(20, 0x62));
  Bytes wrongA = good;
  wrongA[good.size() - 2] ^= 0x40;
  Bytes wrongB = good;
  wrongB[good.size() - 1] ^= 0x40;
  Bytes wrongPayload = good;
  wrongPayload[10] ^= 0x01;
  const Bytes oversize{0xB5, 0x62, 0x01, 0x07, 0x01, 0xFE};
  struct Case {
    const char* name;
    Bytes stream;
    CountsTuple expected;  // checked frames, checksum errors, oversized lengths
  };
  const Case cases[] = {
      {"good frames", good + ubxFrame(0x0A, 0x04, {}) + good, {3, 0, 0}},
      {"first checksum byte wrong", wrongA, {0, 1, 0}},
      {"second checksum byte wrong", wrongB, {0, 1, 0}},
      {"payload corrupted", wrongPayload + good, {1, 1, 0}},
      {"length over the capacity", oversize + good, {1, 0, 1}},
      {"length one over the capacity",
       ubxFrame(0x02, 0x13, Bytes(UbxParser::kPayloadCapacity + 1, 0x5A)),
       {0, 0, 1}},
      {"rejected class byte", Bytes{0xB5, 0x62, 0xFF} + good, {1, 0, 0}},
      {"cut off before its checksum", Bytes(good.begin(), good.end() - 2), {0, 0, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (std::size_t split = 0; split <= c.stream.size(); ++split) {
      // The middle of a long payload is one run like any other: its ends are what matter.
      if (split > 8 && split + 8 < c.stream.size() && c.stream.size() > 512) {
        continue;
      }
      UbxParser parser;
      const std::span<const std::uint8_t> all(c.stream);
      (void)parser.feed(all.first(split), [] {});
      (void)parser.feed(all.subspan(split), [] {});
      ASSERT_EQ(tupleOf(parser.counts()), c.expected) << "split at " << split;
    }
    UbxParser byteByByte;
    (void)parse(byteByByte, c.stream);
    EXPECT_EQ(tupleOf(byteByByte.counts()), c.expected);
  }
}

TEST(UbxParser, CountsAddUpAcrossResets) {
  const Bytes good = ubxFrame(0x01, 0x07, kPvtPayload);
  Bytes wrong = good;
  wrong.back() ^= 1;
  UbxParser parser;
  (void)parse(parser, good + wrong + Bytes{0xB5, 0x62, 0x01, 0x07, 0x00, 0xFB});
  parser.reset();
  (void)parse(parser, Bytes(good.begin(), good.begin() + 20));
  parser.reset();
  (void)parse(parser, good);
  EXPECT_EQ(tupleOf(parser.counts()), CountsTuple(2, 1, 1));
}

TEST(UbxParser, RandomAndMutatedStreamsNeverFault) {
  std::mt19937 random(7130);
  std::uniform_int_distribution<int> byte(0, 255);
  UbxParser parser;
  std::size_t frames = 0;
  Bytes stream;
  for (int round = 0; round < 8000; ++round) {  // about 5 MB
    stream = ubxFrame(
        static_cast<std::uint8_t>(byte(random)), static_cast<std::uint8_t>(byte(random)),
        Bytes(static_cast<std::size_t>(byte(random)) * 4, static_cast<std::uint8_t>(byte(random))));
    for (int m = byte(random) % 6 - 2; m > 0; --m) {  // flip, insert and drop bytes in half of them
      const std::size_t at = static_cast<std::size_t>(byte(random)) % stream.size();
      switch (byte(random) % 3) {
        case 0:
          stream[at] = static_cast<std::uint8_t>(byte(random));
          break;
        case 1:
          stream.insert(stream.begin() + static_cast<std::ptrdiff_t>(at),
                        static_cast<std::uint8_t>(byte(random)));
          break;
        default:
          stream.erase(stream.begin() + static_cast<std::ptrdiff_t>(at));
          break;
      }
    }
    for (int noise = byte(random); noise > 0; --noise) {
      stream.push_back(static_cast<std::uint8_t>(byte(random)));
    }
    for (const std::uint8_t b : stream) {
      if (parser.feed(b)) {
        ++frames;
        ASSERT_LE(parser.payload().size(), UbxParser::kPayloadCapacity);
      }
    }
  }
  // Random headers announce long payloads that swallow what follows; plenty still get through.
  EXPECT_GT(frames, 100u);
}

}  // namespace
}  // namespace qvr::protocol
