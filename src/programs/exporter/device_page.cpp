#include "programs/exporter/device_page.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <initializer_list>
#include <numbers>
#include <optional>
#include <string_view>
#include <vector>

#include "programs/exporter/pages.h"
#include "protocol/device_strings.h"
#include "protocol/number_text.h"
#include "status/status_view.h"

namespace qvr::exporter {
namespace {

using status::HistorySample;

// NAV-SAT's systems by gnssId, as satellites are labelled the world over.
constexpr std::array<char, 7> kSystemLetters = {'G', 'S', 'E', 'C', 'I', 'J', 'R'};

// Appends the pieces in order, without the temporaries of a chain of '+'.
void append(std::string& out, std::initializer_list<std::string_view> pieces) {
  for (const std::string_view piece : pieces) {
    out += piece;
  }
}

// Locale-free, as everything a browser parses must be.
std::string number(double value, int decimals) {
  std::string text;
  protocol::appendFixed(text, value, decimals, '.');
  return text;
}

std::string satelliteLabel(const device::SatelliteState& s) {
  const char letter = s.gnssId < kSystemLetters.size() ? kSystemLetters[s.gnssId] : '?';
  return letter + std::to_string(s.svId);
}

// The window's colour for a signal (its average bar's): red at 10 dB-Hz and below, yellow near
// 27, green from 45. The window's layer is not the exporter's to use, so the ramp is repeated.
std::string cnoColour(int cno) {
  const int green = static_cast<int>(std::lround((cno - 10) / 35.0 * 500));
  std::array<char, 8> text{};
  std::snprintf(text.data(), text.size(), "#%02x%02x00", std::clamp(500 - green, 0, 255),
                std::clamp(green, 0, 255));
  return text.data();
}

std::string statusTable(const monitor::DeviceSnapshot& d, std::chrono::milliseconds monotonic) {
  std::string html = "<table class='status'>\n";
  const auto row = [&html](const std::string& label, const std::string& value) {
    html += "<tr><th>" + htmlEscaped(label) + "</th><td>" + htmlEscaped(value) + "</td></tr>\n";
  };
  row("State", d.up ? "up" : (d.present ? "not answering" : "not attached"));
  for (const status::StatusRow& r : status::statusRows(statusViewOf(d, monotonic))) {
    row(r.label, r.value);
  }
  return html + "</table>\n";
}

std::string skyPlot(const device::ReceiverState& r) {
  const std::string c = number(kSkyCentre, 0);
  std::string svg =
      "<svg class='sky' viewBox='0 0 220 220' width='330' height='330' role='img' "
      "aria-label='Sky plot: the satellites by azimuth and elevation'>\n";
  for (const int elevation : {0, 30, 60}) {
    append(svg, {"<circle class='ring' cx='", c, "' cy='", c, "' r='",
                 number(kSkyRadius * (90 - elevation) / 90, 2), "'/>\n"});
  }
  svg +=
      "<path class='ring' d='M110 10V210M10 110H210'/>\n"
      "<text x='110' y='8'>N</text><text x='214' y='113'>E</text>"
      "<text x='110' y='219'>S</text><text x='6' y='113'>W</text>\n";
  for (const device::SatelliteState& s : r.satellites) {
    if (s.elevation < 0) {
      continue;  // below the horizon: in the table only
    }
    const SkyPoint p = skyPoint(s.azimuth, s.elevation);
    const std::string colour = cnoColour(s.cno);
    const std::string label = satelliteLabel(s);
    append(svg, {"<g class='sat' data-sat='",
                 label,
                 "' data-az='",
                 std::to_string(s.azimuth),
                 "' data-el='",
                 std::to_string(s.elevation),
                 "' data-cno='",
                 std::to_string(s.cno),
                 "' data-used='",
                 s.used ? "1" : "0",
                 "'><circle cx='",
                 number(p.x, 2),
                 "' cy='",
                 number(p.y, 2),
                 "' r='7' fill='",
                 s.used ? colour : "#fff",
                 "' stroke='",
                 colour,
                 "'/><text x='",
                 number(p.x, 2),
                 "' y='",
                 number(p.y - 9, 2),
                 "'>",
                 label,
                 "</text><title>",
                 status::systemName(s.gnssId),
                 " ",
                 std::to_string(s.svId),
                 ": ",
                 std::to_string(s.cno),
                 " dB-Hz, elevation ",
                 std::to_string(s.elevation),
                 ", azimuth ",
                 std::to_string(s.azimuth),
                 s.used ? ", used" : "",
                 "</title></g>\n"});
  }
  return svg + "</svg>\n";
}

// The satellites the window graphs, a bar each as high as its C/N0 (50 dB-Hz at the top).
std::string cnoBars(const device::ReceiverState& r) {
  constexpr int kBar = 14;
  constexpr int kHeight = 100;
  std::vector<const device::SatelliteState*> graphed;
  for (const device::SatelliteState& s : r.satellites) {
    if (s.graphed) {
      graphed.push_back(&s);
    }
  }
  const std::size_t width = std::max<std::size_t>(graphed.size(), 1) * kBar + 30;
  std::string svg = "<svg class='bars' viewBox='0 0 " + std::to_string(width) + " 125' width='" +
                    std::to_string(width * 3 / 2) + "' height='188' role='img' " +
                    "aria-label='C/N0 of the satellites used'>\n";
  for (const int level : {10, 20, 30, 40, 50}) {
    const std::string y = std::to_string(kHeight - level * 2 + 5);
    append(svg, {"<path class='ring' d='M24 ", y, "H", std::to_string(width), "'/><text x='12' y='",
                 y, "'>", std::to_string(level), "</text>\n"});
  }
  for (std::size_t k = 0; k < graphed.size(); ++k) {
    const device::SatelliteState& s = *graphed[k];
    const int height = std::min<int>(s.cno, 50) * 2;
    const std::size_t x = 26 + k * kBar;
    append(svg, {"<rect x='", std::to_string(x), "' y='", std::to_string(kHeight - height + 5),
                 "' width='", std::to_string(kBar - 3), "' height='", std::to_string(height),
                 "' fill='", cnoColour(s.cno), "'><title>", satelliteLabel(s), ": ",
                 std::to_string(s.cno), " dB-Hz</title></rect><text class='small' x='",
                 std::to_string(x + 5), "' y='120'>", satelliteLabel(s), "</text>\n"});
  }
  return svg + "</svg>\n";
}

std::string satelliteTable(const device::ReceiverState& r) {
  std::string html =
      "<table class='sats'>\n<tr><th>Satellite</th><th>System</th><th>Number</th>"
      "<th>C/N0 (dB-Hz)</th><th>Elevation (&deg;)</th><th>Azimuth (&deg;)</th><th>Used</th></tr>\n";
  for (const device::SatelliteState& s : r.satellites) {
    html += "<tr><td>" + satelliteLabel(s) + "</td><td>" + status::systemName(s.gnssId) +
            "</td><td>" + std::to_string(s.svId) + "</td><td>" + std::to_string(s.cno) +
            "</td><td>" + std::to_string(s.elevation) + "</td><td>" + std::to_string(s.azimuth) +
            "</td><td>" + (s.used ? "yes" : "no") + "</td></tr>\n";
  }
  return html + "</table>\n";
}

// A chart's samples: those of the span before `unixSeconds`, at most kChartPoints of them.
constexpr std::size_t kChartPoints = 360;
constexpr int kChartWidth = 300;
constexpr int kChartHeight = 60;

std::vector<HistorySample> span(const status::History& history, std::int64_t unixSeconds,
                                std::int64_t seconds) {
  std::vector<HistorySample> kept;
  for (std::size_t k = 0; k < history.size(); ++k) {
    if (history.at(k).unixSeconds > unixSeconds - seconds) {
      kept.push_back(history.at(k));
    }
  }
  if (kept.size() <= kChartPoints) {
    return kept;
  }
  std::vector<HistorySample> every;
  const double step = static_cast<double>(kept.size()) / kChartPoints;
  for (std::size_t k = 0; k < kChartPoints; ++k) {
    every.push_back(kept[static_cast<std::size_t>(static_cast<double>(k) * step)]);
  }
  return every;
}

double xOf(const HistorySample& s, std::int64_t unixSeconds, std::int64_t seconds) {
  return kChartWidth *
         (1.0 - static_cast<double>(unixSeconds - s.unixSeconds) / static_cast<double>(seconds));
}

std::string lineChart(const std::string& title, const std::vector<HistorySample>& samples,
                      std::optional<double> (*value)(const HistorySample&),
                      std::int64_t unixSeconds, std::int64_t seconds) {
  std::vector<std::pair<const HistorySample*, double>> points;
  for (const HistorySample& s : samples) {
    if (const auto v = value(s)) {
      points.emplace_back(&s, *v);
    }
  }
  std::string svg = "<figure><figcaption>" + title;
  if (points.empty()) {
    return svg + ": no data yet</figcaption></figure>\n";
  }
  const auto [low, high] = std::minmax_element(points.begin(), points.end(),
                                               [](auto a, auto b) { return a.second < b.second; });
  const double bottom = low->second;
  const double top = std::max(high->second, bottom + 1);
  svg += " (" + number(bottom, 0) + " to " + number(high->second, 0) +
         ")</figcaption><svg class='chart' viewBox='0 0 300 60' width='300' height='60' "
         "preserveAspectRatio='none'><polyline points='";
  for (const auto& [sample, v] : points) {
    svg += number(xOf(*sample, unixSeconds, seconds), 1) + "," +
           number(kChartHeight - 2 - (kChartHeight - 4) * (v - bottom) / (top - bottom), 1) + " ";
  }
  return svg + "'/></svg></figure>\n";
}

std::string lockTimeline(const std::vector<HistorySample>& samples, std::int64_t unixSeconds,
                         std::int64_t seconds) {
  std::string svg =
      "<figure><figcaption>Lock (green), holdover (orange), acquiring or not answering "
      "(grey)</figcaption><svg class='chart' viewBox='0 0 300 14' width='300' height='14' "
      "preserveAspectRatio='none'>";
  for (std::size_t k = 0; k < samples.size(); ++k) {
    const HistorySample& s = samples[k];
    const double x = xOf(s, unixSeconds, seconds);
    const double next =
        k + 1 < samples.size() ? xOf(samples[k + 1], unixSeconds, seconds) : kChartWidth;
    const char* state = s.locked ? "locked" : (s.holdover ? "holdover" : "none");
    svg += "<rect class='" + std::string(state) + "' x='" + number(x, 1) + "' width='" +
           number(std::max(next - x, 0.3), 1) + "' y='0' height='14'/>";
  }
  return svg + "</svg></figure>\n";
}

std::optional<double> drift(const HistorySample& s) {
  return s.driftNsPerS == HistorySample::kUnknown ? std::nullopt
                                                  : std::optional<double>(s.driftNsPerS);
}
std::optional<double> averageCno(const HistorySample& s) {
  return s.answering ? std::optional<double>(s.averageCno) : std::nullopt;
}
std::optional<double> satellitesUsed(const HistorySample& s) {
  return s.answering ? std::optional<double>(s.satellitesUsed) : std::nullopt;
}

}  // namespace

SkyPoint skyPoint(double azimuth, double elevation) {
  const double radius = kSkyRadius * (90.0 - elevation) / 90.0;
  const double angle = azimuth * std::numbers::pi / 180.0;
  return {kSkyCentre + radius * std::sin(angle), kSkyCentre - radius * std::cos(angle)};
}

std::string deviceLivePart(const monitor::DeviceSnapshot& device,
                           std::chrono::milliseconds monotonic) {
  const device::ReceiverState& r = device.receiver;
  return "<section class='row'><div>\n" + statusTable(device, monotonic) +
         "</div><div><h2>Sky</h2>\n" + skyPlot(r) + "<h2>Signals</h2>\n" + cnoBars(r) +
         "</div></section>\n<h2>Satellites</h2>\n" + satelliteTable(r);
}

std::string deviceChartsPart(const status::History& history, std::int64_t unixSeconds) {
  std::string html = "<section class='row'>\n";
  for (const auto& [name, seconds] : {std::pair{"The last hour", std::int64_t{3600}},
                                      std::pair{"The last day", std::int64_t{86400}}}) {
    const std::vector<HistorySample> samples = span(history, unixSeconds, seconds);
    html += "<div><h2>" + std::string(name) + "</h2>\n" +
            lineChart("Drift, ns/s", samples, drift, unixSeconds, seconds) +
            lineChart("Average C/N0, dB-Hz", samples, averageCno, unixSeconds, seconds) +
            lineChart("Satellites used", samples, satellitesUsed, unixSeconds, seconds) +
            lockTimeline(samples, unixSeconds, seconds) + "</div>\n";
  }
  return html + "</section>\n";
}

std::string devicePage(const std::string& serial, const std::string& livePart,
                       const std::string& chartsPart) {
  const std::string name = htmlEscaped(serial);
  return "<!DOCTYPE html>\n<html lang='en'>\n<head>\n<meta charset='utf-8'>\n"
         "<meta name='viewport' content='width=device-width'>\n<title>QVR-7130 " +
         name +
         "</title>\n<style>\n"
         "body{font-family:sans-serif;margin:1.5em;color:#222}"
         "h1{font-size:1.4em}h2{font-size:1.1em;margin:.8em 0 .3em}"
         "table{border-collapse:collapse}th,td{border:1px solid #ccc;padding:.2em .6em;"
         "text-align:left;font-size:.9em}th{background:#f4f4f4}"
         ".row{display:flex;flex-wrap:wrap;gap:2em}"
         "svg text{font-size:8px;text-anchor:middle;fill:#333}svg .small{font-size:6px}"
         ".ring{fill:none;stroke:#bbb;stroke-width:.5}"
         "figure{margin:.4em 0}figcaption{font-size:.8em}"
         ".chart{border:1px solid #ccc;background:#fafafa}"
         ".chart polyline{fill:none;stroke:#1565c0;stroke-width:1}"
         ".locked{fill:#2e7d32}.holdover{fill:#ef6c00}.none{fill:#bbb}\n"
         "</style>\n</head>\n<body>\n<p><a href='/'>All devices</a></p>\n<h1>QVR-7130 " +
         name + "</h1>\n<div id='live'>\n" + livePart + "</div>\n<div id='charts'>\n" + chartsPart +
         "</div>\n<script>\n"
         "(function(){var q=location.search;function get(part){fetch('/device'+q+'&part='+part,"
         "{cache:'no-store'}).then(function(r){return r.ok?r.text():null}).then(function(t){"
         "if(t!==null){document.getElementById(part).innerHTML=t}}).catch(function(){})}"
         "setInterval(function(){get('live')},1000);"
         "setInterval(function(){get('charts')},10000)})();\n"
         "</script>\n</body>\n</html>\n";
}

HttpResponse devicePageResponse(std::string_view query,
                                const std::vector<monitor::DeviceSnapshot>& devices,
                                const HistoryKeeper& history, std::chrono::milliseconds monotonic,
                                std::int64_t unixSeconds) {
  const std::optional<std::string> serial = queryParameter(query, "serial");
  if (!serial) {
    return noSerialGiven();
  }
  const auto device = std::find_if(devices.begin(), devices.end(), [&](const auto& d) {
    return protocol::deviceTextAsUtf8(d.serial) == *serial;
  });
  if (device == devices.end()) {
    return {404, "", "no device with that serial number is known here\n"};
  }
  const std::optional<std::string> part = queryParameter(query, "part");
  std::string charts;
  if (part != "live") {
    history.visit(*serial,
                  [&](const status::History& h) { charts = deviceChartsPart(h, unixSeconds); });
  }
  const std::string live = part == "charts" ? "" : deviceLivePart(*device, monotonic);
  std::string html =
      part == "live" ? live : (part == "charts" ? charts : devicePage(*serial, live, charts));
  return {200, "text/html; charset=utf-8", std::move(html)};
}

}  // namespace qvr::exporter
