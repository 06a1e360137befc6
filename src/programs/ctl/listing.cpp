#include "programs/ctl/listing.h"

#include "status/json_writer.h"

namespace qvr::ctl {

std::string listJson(const std::vector<AttachedDevice>& devices) {
  status::JsonWriter json(true);
  json.beginObject();
  json.key("devices").beginArray();
  for (const AttachedDevice& d : devices) {
    json.beginObject();
    json.key("path").string(d.path);
    json.stringMember("serial", d.serial, d.serialBytes);
    json.key("firmware").string(d.firmware);
    json.key("opens").boolean(!d.openError);
    json.stringMember("open_error", d.openError);
    json.stringMember("problem", d.problem);
    json.integerMember("input_report_bytes", d.inputReportBytes);
    json.integerMember("feature_report_bytes", d.featureReportBytes);
    json.endObject();
  }
  json.endArray();
  json.endObject();
  return json.text() + "\n";
}

}  // namespace qvr::ctl
