#include "status/history.h"

#include <gtest/gtest.h>

#include <deque>
#include <random>

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

}  // namespace
}  // namespace qvr::status
