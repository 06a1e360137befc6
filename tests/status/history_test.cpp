#include "status/history.h"

#include <gtest/gtest.h>

#include <ctime>
#include <deque>
#include <random>
#include <string>
#include <vector>

namespace qvr::status {
namespace {

// Any number of samples into any capacity: what is held is always the newest ones, oldest first.
TEST(History, HoldsTheNewestSamplesOldestFirstInItsFixedMemory) {
  std::mt19937 rng(7130);
  for (int round = 0; round < 500; ++round) {
    const std::size_t capacity = 1 + rng() % 50;
    History history(capacity);
    std::deque<HistorySample> expected;
    const int added = static_cast<int>(rng() % 200);
    for (int k = 0; k < added; ++k) {
      HistorySample s;
      s.unixSeconds = k;
      s.driftNsPerS = static_cast<std::int32_t>(rng());
      history.add(s);
      expected.push_back(s);
      if (expected.size() > capacity) {
        expected.pop_front();
      }
    }
    ASSERT_EQ(history.size(), expected.size());
    ASSERT_EQ(history.capacity(), capacity);
    for (std::size_t k = 0; k < expected.size(); ++k) {
      ASSERT_EQ(history.at(k), expected[k]) << "round " << round << ", sample " << k;
    }
  }
}

TEST(History, WritesEachSampleAsCsvAndJsonWithUnknownsLeftEmpty) {
  device::ReceiverState r;
  r.statusByte = 0x05;
  r.pvt = protocol::NavPvt{};
  r.pvt->flags = 1;
  r.satellitesUsed = 9;
  r.averageCno = 41;
  r.clockDrift = -12;
  r.timeAccuracy = 0xFFFFFFFF;  // the receiver has no estimate
  r.satellites = {{.gnssId = 0}, {.gnssId = 0}, {.gnssId = 6}, {.gnssId = 9}};
  const device::LockFigures lock{.locked = true};
  History history(2);
  history.add(historySample(1796731200, true, r, lock));  // 2026-12-08 12:00:00 UTC
  history.add(historySample(1796731210, false, r, lock));

  EXPECT_EQ(historyCsvHeader(),
            "time,answering,fix_ok,locked,holdover,satellites_used,average_cno_dbhz,"
            "drift_ns_per_s,clock_bias_ns,time_accuracy_ns,gps_satellites,sbas_satellites,"
            "galileo_satellites,beidou_satellites,imes_satellites,qzss_satellites,"
            "glonass_satellites\n");
  EXPECT_EQ(historyCsvLine(history.at(0)),
            "2026-12-08T12:00:00Z,1,1,1,0,9,41,-12,,,2,0,0,0,0,0,1\n");
  EXPECT_EQ(historyCsvLine(history.at(1)), "2026-12-08T12:00:10Z,0,,,,,,,,,,,,,,,\n");
  const std::string json = historyJson("QVR\xe9", history);
  EXPECT_EQ(
      json.rfind(
          R"({"serial":"QVR\u00e9","interval_s":10,"samples":[{"time":"2026-12-08T12:00:00Z","answering":1,"fix_ok":1,)",
          0),
      0U)
      << json;
  EXPECT_NE(json.find(R"("time":"2026-12-08T12:00:10Z","answering":0,"fix_ok":null,)"),
            std::string::npos);
}

// The fields of a line (up to its newline), an empty one between two separators or at the end.
std::vector<std::string> fields(const std::string& line, char separator) {
  const std::string text = line.substr(0, line.find('\n'));
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (std::size_t at = text.find(separator); at != std::string::npos;
       at = text.find(separator, start)) {
    parts.push_back(text.substr(start, at - start));
    start = at + 1;
  }
  parts.push_back(text.substr(start));
  return parts;
}

// Whatever a sample holds, its CSV line has a field for each column of the header, its time is
// the C library's reading of the same second, and its JSON line says the same values (null where
// the CSV is empty), member by member in the header's order.
TEST(History, CsvAndJsonLinesSayTheSameOfAnySample) {
  std::mt19937_64 rng(7130);
  const std::vector<std::string> header = fields(historyCsvHeader(), ',');
  const auto maybe = [&rng](std::int32_t value) {
    return rng() % 4 == 0 ? HistorySample::kUnknown : value;
  };
  for (int round = 0; round < 3000; ++round) {
    HistorySample s;
    s.unixSeconds = static_cast<std::int64_t>(rng() % 4102444800);  // 1970 to 2100
    s.answering = rng() % 5 != 0;
    s.fixOk = rng() % 2 == 0;
    s.locked = rng() % 2 == 0;
    s.holdover = rng() % 2 == 0;
    s.satellitesUsed = static_cast<std::uint8_t>(rng());
    s.averageCno = static_cast<std::uint8_t>(rng());
    for (std::uint8_t& count : s.satellitesPerSystem) {
      count = static_cast<std::uint8_t>(rng());
    }
    s.driftNsPerS = maybe(static_cast<std::int32_t>(rng()));
    s.clockBiasNs = maybe(static_cast<std::int32_t>(rng()));
    s.timeAccuracyNs = maybe(static_cast<std::int32_t>(rng() >> 33));

    const std::vector<std::string> csv = fields(historyCsvLine(s), ',');
    ASSERT_EQ(csv.size(), header.size()) << historyCsvLine(s);
    const std::time_t t = s.unixSeconds;
    const std::tm utc = *std::gmtime(&t);  // NOLINT(concurrency-mt-unsafe): one thread
    std::array<char, 32> expected{};
    ASSERT_GT(std::strftime(expected.data(), expected.size(), "%Y-%m-%dT%H:%M:%SZ", &utc), 0U);
    ASSERT_EQ(csv[0], expected.data());

    std::string json = historyJsonLine("S", s);
    ASSERT_EQ(json.rfind(R"({"serial":"S",)", 0), 0U) << json;
    json = json.substr(std::string(R"({"serial":"S",)").size());
    json.erase(json.find('}'));
    const std::vector<std::string> members = fields(json, ',');
    ASSERT_EQ(members.size(), header.size()) << json;
    for (std::size_t k = 0; k < header.size(); ++k) {
      const std::string value = k == 0 ? '"' + csv[k] + '"' : (csv[k].empty() ? "null" : csv[k]);
      ASSERT_EQ(members[k], '"' + header[k] + "\":" + value) << historyCsvLine(s) << json;
    }
  }
}

}  // namespace
}  // namespace qvr::status
