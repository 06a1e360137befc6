#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <random>
#include <string>

#include "monitor/fleet.h"
#include "platform/sim/shared_bus.h"
#include "platform/sim/sim_hid.h"
#include "platform/sim/sim_system.h"
#include "programs/exporter/device_page.h"
#include "programs/exporter/history_keeper.h"
#include "programs/exporter/http_server.h"
#include "programs/exporter/metrics.h"
#include "programs/exporter/pages.h"
#include "protocol/device_strings.h"

namespace qvr::exporter {
namespace {

using namespace std::chrono_literals;

// Two devices watched for five seconds on a virtual clock, then the second unplugged: one up
// with everything decoded, one down. Its serial number has a byte above ASCII and HTML's
// special characters.
struct Watched {
  Watched() {
    hid.setClock([this] { return system.now(); });
    hid.attach({.serial = u"A1"});
    platform::sim::SimDevice& down = hid.attach({.serial = u"<\u00e9&\">"});
    monitor::Fleet fleet(
        [this] { return std::make_unique<platform::sim::SharedBusView>(hid, lock); }, system, {});
    fleet.scan();
    for (; system.now() < 5s; system.advance(10ms)) {
      fleet.stepDevices();
    }
    hid.unplug(down);
    fleet.stepDevices();
    devices = fleet.snapshots();
  }
  platform::sim::SimSystem system;
  platform::sim::SimHid hid;
  std::mutex lock;
  std::vector<monitor::DeviceSnapshot> devices;
};

bool hasLine(const std::string& text, const std::string& line) {
  return text.find("\n" + line + "\n") != std::string::npos;
}

TEST(Metrics, UpDeviceHasItsGaugesAndDownDeviceOnlyItsCounters) {
  const Watched w;
  const std::string text = metricsText(
      w.devices, {5010ms, std::chrono::duration<double>(1e9)},
      {.version = "1.09", .scrapeSeconds = [] { return 0.25; }, .holdoverAlertSeconds = 300});
  const std::string down = R"(serial="<é&\">")";
  for (const std::string& line : {
           std::string(R"(qvr7130_up{serial="A1"} 1)"),
           "qvr7130_up{" + down + "} 0",
           std::string(R"(# TYPE qvr7130_nav_messages_total counter)"),
           "qvr7130_reconnects_total{" + down + "} 0",
           std::string(R"(qvr7130_gnss_fix_ok{serial="A1"} 1)"),
           std::string(R"(qvr7130_satellites_visible{serial="A1",system="BeiDou"} 0)"),
           std::string(R"(qvr7130_output_frequency_hertz{serial="A1",output="out1"} 10000000)"),
           std::string(R"(qvr7130_exporter_build_info{version="1.09"} 1)"),
           std::string(R"(qvr7130_exporter_scrape_duration_seconds 0.25)"),
           std::string(R"(qvr7130_holdover_alert_after_seconds 300)"),
           std::string(R"(qvr7130_locked{serial="A1"} 1)"),
           std::string(R"(qvr7130_holdover_seconds_total{serial="A1"} 0)"),
           // Unplugged: nothing is known of its lock.
           "qvr7130_locked{" + down + "} 0",
           "qvr7130_holdover{" + down + "} 0",
       }) {
    EXPECT_TRUE(hasLine(text, line)) << line;
  }
  // A down device's gauges would be stale news; its counters and last fix stay.
  for (const char* family : {"qvr7130_gnss_fix_ok", "qvr7130_satellites_used",
                             "qvr7130_clock_drift_seconds_per_second", "qvr7130_antenna_ok"}) {
    EXPECT_EQ(text.find(std::string(family) + "{" + down), std::string::npos) << family;
  }
  EXPECT_NE(text.find("qvr7130_last_fix_timestamp_seconds{" + down + "} 99999999"),
            std::string::npos);
  // Locked with the fix 3 s after power-up, scraped at 5.01 s.
  EXPECT_NE(text.find("\nqvr7130_lock_duration_seconds{serial=\"A1\"} 2."), std::string::npos);
}

TEST(History, KeepsEveryDeviceSeenUpToItsLimitTheLongestUnseenGoingFirst) {
  const Watched w;
  HistoryKeeper kept;
  kept.record(w.devices, 1796731200, 5010ms);
  kept.record(w.devices, 1796731210, 5010ms);
  const std::string a1 = kept.csv("A1").value_or("");
  EXPECT_EQ(std::count(a1.begin(), a1.end(), '\n'), 3) << a1;
  EXPECT_NE(a1.find("\n2026-12-08T12:00:10Z,1,1,1,0,"), std::string::npos) << a1;
  // Only the other device is seen later on.
  std::vector<monitor::DeviceSnapshot> unplugged = w.devices;
  std::erase_if(unplugged, [](const monitor::DeviceSnapshot& d) { return d.serial == "A1"; });
  kept.record(unplugged, 1796731215, 5010ms);
  // Unplugged: nothing known.
  EXPECT_NE(kept.csv("<\u00e9&\">").value_or("").find("\n2026-12-08T12:00:00Z,0,,"),
            std::string::npos);
  EXPECT_EQ(kept.json("nobody"), std::nullopt);

  std::vector<monitor::DeviceSnapshot> others(HistoryKeeper::kMaxDevices - 1);
  for (std::size_t k = 0; k < others.size(); ++k) {
    others[k].serial = "S" + std::to_string(k);
  }
  kept.record(others, 1796731220, 5010ms);
  EXPECT_EQ(kept.json("A1"), std::nullopt);  // the longest unseen of the two made room
  EXPECT_NE(kept.json("S0"), std::nullopt);
}

// A device's words are text on its page, whatever markup they hold.
TEST(Pages, DevicePageShowsMarkupAsText) {
  const Watched w;
  for (const monitor::DeviceSnapshot& d : w.devices) {
    const std::string serial = protocol::deviceTextAsUtf8(d.serial);
    const std::string page = devicePage(serial, deviceLivePart(d, 5010ms), "");
    EXPECT_EQ(page.find("<\u00e9"), std::string::npos);
    EXPECT_EQ(page.find("://"), std::string::npos);
    if (d.serial != "A1") {
      EXPECT_NE(page.find("<title>QVR-7130 &lt;\u00e9&amp;&quot;&gt;</title>"), std::string::npos);
      EXPECT_NE(page.find("<th>Serial number</th><td>&lt;\u00e9&amp;&quot;&gt;</td>"),
                std::string::npos);
      EXPECT_NE(page.find("<th>State</th><td>not attached</td>"), std::string::npos);
    }
  }
}

TEST(Pages, StatusJsonAndIndexCarryEveryDeviceSafely) {
  const Watched w;
  const std::string json = statusJson(w.devices, 5010ms);
  EXPECT_EQ(json.front(), '[');
  EXPECT_NE(json.find(R"("serial": "<\u00e9&\">")"), std::string::npos);
  EXPECT_NE(json.find(R"("up": false)"), std::string::npos);
  EXPECT_NE(json.find(R"("reconnects": 0)"), std::string::npos);
  // The unplugged device says which call found it gone.
  EXPECT_NE(json.find(R"("last_failure": {
      "operation": "read")"),
            std::string::npos);

  const std::string page = indexPage(w.devices, "1.09", "/qvr/metrics");
  EXPECT_NE(page.find("<a href=\"/qvr/metrics\">Metrics</a>"), std::string::npos);
  EXPECT_NE(page.find("\">&lt;é&amp;&quot;&gt;</a></td><td class=\"down\">down</td>"),
            std::string::npos);
  EXPECT_NE(page.find("<td><a href=\"/device?serial=A1\">A1</a></td><td class=\"up\">up</td>"),
            std::string::npos);
  EXPECT_NE(page.find("<a href=\"/device?serial=%3C%C3%A9%26%22%3E\">"), std::string::npos);
  EXPECT_EQ(indexPage({}, "1.09", "/metrics").find("<table>"), std::string::npos);
}

// The index links each device by its serial number; whatever bytes that holds, the link must
// bring the page back the very serial number, among other parameters too.
TEST(Pages, EverySerialNumberSurvivesItsLink) {
  std::mt19937 random(7130);
  std::uniform_int_distribution<int> length(0, 24);
  std::uniform_int_distribution<int> byte(0, 255);
  for (int n = 0; n < 5000; ++n) {
    std::string serial(static_cast<std::size_t>(length(random)), '\0');
    for (char& c : serial) {
      c = static_cast<char>(byte(random));
    }
    const std::string encoded = urlEncoded(serial);
    ASSERT_EQ(encoded.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
                                        "0123456789-._~%"),
              std::string::npos)
        << encoded;
    ASSERT_EQ(queryParameter("part=live&serial=" + encoded + "&x=%26", "serial"), serial)
        << encoded;
  }
}

// What /device and /history.* answer, whatever the query names.
TEST(Pages, DeviceAndHistoryRoutesAnswerEachQuery) {
  const Watched w;
  HistoryKeeper history;
  history.record(w.devices, 1796731200, 5010ms);
  const auto byName = [&](const std::string& serial) {
    return *std::find_if(w.devices.begin(), w.devices.end(), [&](const auto& d) {
      return protocol::deviceTextAsUtf8(d.serial) == serial;
    });
  };
  std::string charts;
  history.visit("A1", [&](const status::History& h) { charts = deviceChartsPart(h, 1796731210); });
  const std::string live = deviceLivePart(byName("A1"), 5010ms);
  const struct {
    std::string_view query;
    int status;
    std::string body;  // the whole body, or empty when only a part of it is checked
  } cases[] = {
      {"", 400, "give the device as ?serial=SERIAL\n"},
      {"serial=nobody", 404, "no device with that serial number is known here\n"},
      {"serial=A1&part=live", 200, live},
      {"serial=A1&part=charts", 200, charts},
      {"serial=A1", 200, devicePage("A1", live, charts)},
      {"part=live&serial=%3C%C3%A9%26%22%3E", 200, deviceLivePart(byName("<\u00e9&\">"), 5010ms)},
  };
  for (const auto& c : cases) {
    const HttpResponse response =
        devicePageResponse(c.query, w.devices, history, 5010ms, 1796731210);
    EXPECT_EQ(response.status, c.status) << c.query;
    EXPECT_EQ(response.body, c.body) << c.query;
  }
  EXPECT_NE(charts.find("The last day"), std::string::npos);

  const struct {
    std::string_view query;
    bool csv;
    int status;
    std::string contentType;
  } histories[] = {
      {"serial=A1", false, 200, "application/json"},
      {"serial=A1", true, 200, "text/csv; charset=utf-8"},
      {"serial=nobody", true, 404, ""},
      {"x=1", false, 400, ""},
  };
  for (const auto& h : histories) {
    const HttpResponse response = history.response(h.query, h.csv);
    EXPECT_EQ(response.status, h.status) << h.query;
    EXPECT_EQ(response.contentType, h.contentType) << h.query;
    if (h.status == 200) {
      EXPECT_EQ(response.body, h.csv ? history.csv("A1") : history.json("A1")) << h.query;
    }
  }
}

}  // namespace
}  // namespace qvr::exporter
