#include "programs/exporter/pages.h"

#include <cctype>

#include "protocol/device_strings.h"
#include "status/json_writer.h"
#include "status/status_view.h"

namespace qvr::exporter {
status::StatusView statusViewOf(const monitor::DeviceSnapshot& d,
                                std::chrono::milliseconds monotonic) {
  status::StatusView view;
  if (d.identity) {
    view.device = status::deviceView(*d.identity);
  } else {
    view.device.serial = d.serial;
  }
  if (d.configuration) {
    view.settings = status::settingsView(*d.configuration);
  }
  view.receiver = d.receiver;
  if (d.present && d.answering) {
    view.lock = d.lock.figures(monotonic);
  }
  return view;
}

namespace {

void counterMembers(status::JsonWriter& json, const monitor::DeviceCounters& c) {
  const std::pair<const char*, std::uint64_t> members[] = {
      {"nav_messages", c.navMessages},
      {"ubx_frames", c.checkedFrames},
      {"ubx_checksum_errors", c.checksumErrors},
      {"ubx_oversized_frames", c.oversizedLengths},
      {"ubx_short_messages", c.tooShortMessages},
      {"hid_failures", c.hidFailures},
      {"reconnects", c.reconnects},
      {"message_requests", c.messageRequests},
  };
  for (const auto& [name, value] : members) {
    json.key(name).integer(static_cast<std::int64_t>(value));
  }
}

std::string fixCell(const monitor::DeviceSnapshot& d) {
  if (!d.up || !d.receiver.pvt) {
    return "&ndash;";
  }
  return d.receiver.pvt->fixOk() ? "valid" : "none";
}

}  // namespace

std::string statusJson(const std::vector<monitor::DeviceSnapshot>& devices,
                       std::chrono::milliseconds monotonic) {
  status::JsonWriter json(true);
  json.beginArray();
  for (const monitor::DeviceSnapshot& d : devices) {
    const status::StatusView view = statusViewOf(d, monotonic);
    json.beginObject();
    status::statusMembers(json, view, status::missingMessages(view.receiver));
    json.key("up").boolean(d.up);
    json.key("counters").beginObject();
    counterMembers(json, d.counters);
    json.endObject();
    json.key("last_failure");
    if (d.lastFailure.operation.empty()) {
      json.null();
    } else {
      json.beginObject();
      json.key("operation").string(d.lastFailure.operation);
      json.key("reason").string(d.lastFailure.reason);
      json.endObject();
    }
    json.endObject();
  }
  json.endArray();
  return json.text() + "\n";
}

std::string htmlEscaped(const std::string& text) {
  std::string escaped;
  for (const char c : text) {
    switch (c) {
      case '&':
        escaped += "&amp;";
        break;
      case '<':
        escaped += "&lt;";
        break;
      case '>':
        escaped += "&gt;";
        break;
      case '"':
        escaped += "&quot;";
        break;
      case '\'':
        escaped += "&#39;";
        break;
      default:
        escaped.push_back(c);
    }
  }
  return escaped;
}

HttpResponse noSerialGiven() {
  return {400, "", "give the device as ?serial=SERIAL\n"};
}

std::string urlEncoded(const std::string& text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string encoded;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (std::isalnum(byte) != 0 || c == '-' || c == '.' || c == '_' || c == '~') {
      encoded.push_back(c);
    } else {
      encoded += {'%', kHex[byte >> 4], kHex[byte & 15]};
    }
  }
  return encoded;
}

std::string indexPage(const std::vector<monitor::DeviceSnapshot>& devices,
                      const std::string& version, const std::string& metricsPath) {
  std::string page =
      "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
      "<title>QVR-7130 exporter</title>\n"
      "<style>body{font-family:sans-serif;margin:2em}table{border-collapse:collapse}"
      "th,td{border:1px solid #bbb;padding:.3em .8em;text-align:left}"
      ".up{color:#070}.down{color:#b00}</style>\n</head>\n<body>\n"
      "<h1>QVR-7130 exporter</h1>\n<p>Version " +
      htmlEscaped(version) + ". <a href=\"" + htmlEscaped(metricsPath) +
      "\">Metrics</a> &middot; <a href=\"/status.json\">Status "
      "(JSON)</a></p>\n";
  if (devices.empty()) {
    return page + "<p>No QVR-7130 found.</p>\n</body>\n</html>\n";
  }
  page +=
      "<table>\n<tr><th>Serial number</th><th>State</th><th>Product</th><th>Firmware</th>"
      "<th>Fix</th><th>Satellites used</th></tr>\n";
  for (const monitor::DeviceSnapshot& d : devices) {
    const std::string product = d.identity ? protocol::deviceTextAsUtf8(d.identity->product) : "";
    const std::string firmware = d.identity ? d.identity->firmware.text() : "";
    const std::string used =
        d.up && d.receiver.satellitesHeard ? std::to_string(d.receiver.satellitesUsed) : "&ndash;";
    const std::string serial = protocol::deviceTextAsUtf8(d.serial);
    page += "<tr><td><a href=\"/device?serial=" + htmlEscaped(urlEncoded(serial)) + "\">" +
            htmlEscaped(serial) + "</a></td><td class=\"" + (d.up ? "up\">up" : "down\">down") +
            "</td><td>" + htmlEscaped(product) + "</td><td>" + htmlEscaped(firmware) + "</td><td>" +
            fixCell(d) + "</td><td>" + used + "</td></tr>\n";
  }
  return page + "</table>\n</body>\n</html>\n";
}

}  // namespace qvr::exporter
