#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "monitor/device_monitor.h"
#include "programs/exporter/history_keeper.h"
#include "programs/exporter/http_server.h"
#include "status/history.h"

namespace qvr::exporter {

// The live page of one device, at /device?serial=S: everything on it is drawn here, on the
// server, as HTML and SVG, so that it reads the same without JavaScript and nothing is fetched
// from anywhere else. With JavaScript the page asks for its live part every second and for its
// charts every ten, and puts them in place; the parts are these very functions' output.
//
// `monotonic` is System::now() at the request, for the lock's durations; `unixSeconds` the
// computer's UTC then, for the charts' time axes.

// The status as `qvr7130ctl status` shows it, the lock, the sky plot (each satellite above the
// horizon at its azimuth and elevation, coloured by C/N0, filled when used, labelled with its
// system and number), the C/N0 bars as the window draws them, and every satellite in a table.
[[nodiscard]] std::string deviceLivePart(const monitor::DeviceSnapshot& device,
                                         std::chrono::milliseconds monotonic);

// The last hour and the last day of drift, average C/N0, satellites used, and the lock and
// holdover timeline, as small SVG charts.
[[nodiscard]] std::string deviceChartsPart(const status::History& history,
                                           std::int64_t unixSeconds);

// The whole page around the two parts.
[[nodiscard]] std::string devicePage(const std::string& serial, const std::string& livePart,
                                     const std::string& chartsPart);

// The answer to /device?serial=S: the whole page, or with &part=live or &part=charts that part
// alone; 400 without a serial number, 404 for a device the fleet does not know.
[[nodiscard]] HttpResponse devicePageResponse(std::string_view query,
                                              const std::vector<monitor::DeviceSnapshot>& devices,
                                              const HistoryKeeper& history,
                                              std::chrono::milliseconds monotonic,
                                              std::int64_t unixSeconds);

// Where a satellite at `azimuth` and `elevation` (degrees) is drawn in the sky plot, whose
// centre is the zenith and whose edge the horizon: kSkyCentre plus (sin az, -cos az) times
// kSkyRadius (90 - el) / 90, in the plot's own units.
inline constexpr double kSkyCentre = 110.0;
inline constexpr double kSkyRadius = 100.0;
struct SkyPoint {
  double x;
  double y;
};
[[nodiscard]] SkyPoint skyPoint(double azimuth, double elevation);

}  // namespace qvr::exporter
