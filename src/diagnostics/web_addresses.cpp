#include "diagnostics/web_addresses.h"

#include <algorithm>

#include "protocol/number_text.h"

namespace qvr::diagnostics {
namespace {

std::string coordinateText(double degrees, char decimalSeparator) {
  std::string text = protocol::decimalText(degrees, decimalSeparator);
  std::replace(text.begin(), text.end(), ',', '.');
  return text;
}

}  // namespace

std::string mapSearchAddress(double latitude, double longitude, char decimalSeparator) {
  return kMapSearchAddress + coordinateText(latitude, decimalSeparator) + "," +
         coordinateText(longitude, decimalSeparator);
}

}  // namespace qvr::diagnostics
