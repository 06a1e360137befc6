// The chrony.conf lines and the offset a measurement recommends: what a user copies into a
// configuration must name the exporter's socket and refids chrony takes.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <random>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "refclock/chrony_config.h"
#include "refclock/offset_summary.h"

namespace qvr::refclock {
namespace {

using std::chrono::nanoseconds;

// Any serial number, bytes 1 to 255 (the device link's text has no NUL), makes a path chrony's
// configuration can hold: the pattern as it is around the placeholders, one safe character for
// each of the serial number's.
TEST(ChronyConfig, EverySerialNumberMakesAPathChronyCanRead) {
  std::mt19937 random(7130);
  std::uniform_int_distribution<int> byte(1, 255);
  std::uniform_int_distribution<std::size_t> length(0, 40);
  const std::regex safe("[A-Za-z0-9._-]*");
  for (int i = 0; i < 1000; ++i) {
    std::string serial(length(random), ' ');
    for (char& c : serial) {
      c = static_cast<char>(byte(random));
    }
    const std::string path = chronySocketPath("/run/a-%s/b.%s.sock", serial);
    ASSERT_EQ(path.size(), std::string("/run/a-/b..sock").size() + 2 * serial.size());
    const std::string safeSerial = path.substr(7, serial.size());
    EXPECT_TRUE(std::regex_match(safeSerial, safe)) << path;
    EXPECT_EQ(path, "/run/a-" + safeSerial + "/b." + safeSerial + ".sock");
  }
  EXPECT_EQ(chronySocketPath(kDefaultChronySocketPattern, "QVR000001"),
            "/run/chrony.qvr7130-QVR000001.sock");
}

TEST(ChronyConfig, RefidsAreFourCharactersAtMostAndNeverRepeat) {
  std::set<std::string> seen;
  for (std::size_t n = 1; n <= 9999; ++n) {
    const std::string id = refid("QVR", n);
    EXPECT_LE(id.size(), 4u) << n;
    EXPECT_TRUE(seen.insert(id).second) << id;
  }
  EXPECT_EQ(refid("QVR", 1), "QVR1");
  EXPECT_EQ(refid("PPS", 12), "PP12");
}

// Numbered in serial-number order whatever the bus's, each device has its SOCK line and its
// commented PPS line locked to it.
TEST(ChronyConfig, EachDeviceHasItsSockLineAndAPpsLineLockedToIt) {
  const std::vector<ChronyRefclock> refclocks =
      numberedRefclocks({"QVR000003", "QVR000001", "QVR000002"});
  ASSERT_EQ(refclocks,
            (std::vector<ChronyRefclock>{{"QVR000001", 1}, {"QVR000002", 2}, {"QVR000003", 3}}));
  const std::string text = chronyConfig({refclocks[2], refclocks[0]}, "/tmp/c.%s.sock");
  for (const auto& [serial, number] : {std::pair{"QVR000003", "3"}, std::pair{"QVR000001", "1"}}) {
    const std::string n = number;
    EXPECT_TRUE(
        std::regex_search(text, std::regex("\nrefclock SOCK /tmp/c\\." + std::string(serial) +
                                           "\\.sock refid QVR" + n + " .*offset 0.0\n")))
        << text;
    EXPECT_TRUE(std::regex_search(
        text, std::regex("\n#refclock PPS /dev/pps[0-9]+ lock QVR" + n + " refid PPS" + n + "\n")))
        << text;
  }
  EXPECT_EQ(text.find("QVR2"), std::string::npos);
  // Every line that is not chrony's is a comment.
  std::size_t start = 0;
  for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    const std::string line = text.substr(start, end - start);
    EXPECT_TRUE(line.starts_with("#") || line.starts_with("refclock SOCK ")) << line;
    EXPECT_LE(line.size(), 100u);
  }
}

TEST(OffsetSummary, MedianAndQuartilesLieBetweenTheRanks) {
  struct Case {
    std::vector<long long> offsets;
    long long median;
    long long interquartileRange;
  };
  const Case cases[] = {
      {{1, 3}, 2, 1},
      // Quartiles 1.75 and 3.25, median 2.5: each to the whole nanosecond below.
      {{4, 1, 3, 2}, 2, 2},
      {{-20, -21, -19, -100, -20}, -20, 1},  // one very late report moves neither
  };
  for (const Case& c : cases) {
    std::vector<nanoseconds> offsets;
    for (const long long o : c.offsets) {
      offsets.emplace_back(o);
    }
    const auto summary = summarise(offsets);
    ASSERT_TRUE(summary);
    EXPECT_EQ(summary->samples, offsets.size());
    EXPECT_EQ(summary->median.count(), c.median) << c.offsets.size();
    EXPECT_EQ(summary->interquartileRange.count(), c.interquartileRange) << c.offsets.size();
    EXPECT_EQ(summary->correction(), -summary->median);
  }
  EXPECT_FALSE(summarise({}));
}

// Reports late by a fixed part plus jitter, in any order: the summary moves with the fixed part
// and not with the order; at least half the samples lie on either side of the median.
TEST(OffsetSummary, FollowsTheFixedPartWhateverTheOrder) {
  std::mt19937_64 random(5);
  std::uniform_int_distribution<long long> jitter(-2000000, 2000000);
  std::uniform_int_distribution<std::size_t> count(1, 60);
  for (int i = 0; i < 500; ++i) {
    std::vector<nanoseconds> offsets(count(random));
    for (nanoseconds& o : offsets) {
      o = nanoseconds(-20000000 + jitter(random));
    }
    const auto summary = summarise(offsets);
    std::shuffle(offsets.begin(), offsets.end(), random);
    std::vector<nanoseconds> shifted;
    for (const nanoseconds o : offsets) {
      shifted.push_back(o + std::chrono::seconds(3));
    }
    const auto moved = summarise(shifted);
    ASSERT_TRUE(summary && moved);
    EXPECT_EQ(moved->median - summary->median, std::chrono::seconds(3));
    EXPECT_EQ(moved->interquartileRange, summary->interquartileRange);
    const auto below = std::count_if(offsets.begin(), offsets.end(),
                                     [&](nanoseconds o) { return o <= summary->median; });
    const auto above = std::count_if(offsets.begin(), offsets.end(),
                                     [&](nanoseconds o) { return o >= summary->median; });
    EXPECT_GE(2 * below, static_cast<long>(offsets.size()));
    EXPECT_GE(2 * above, static_cast<long>(offsets.size()));
  }
}

}  // namespace
}  // namespace qvr::refclock
