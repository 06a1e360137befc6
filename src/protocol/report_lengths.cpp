#include "protocol/report_lengths.h"

namespace qvr::protocol {

std::optional<std::string> reportLengthsProblem(std::size_t inputLength,
                                                std::size_t featureLength) {
  std::string problem;
  if (inputLength == 0) {
    problem = "no input reports";
  } else if (inputLength < kShortestUsableInput) {
    problem = "input reports of " + std::to_string(inputLength) +
              (inputLength == 1 ? " byte" : " bytes") + " carry no receiver data";
  }
  std::string feature;
  if (featureLength == 0) {
    feature = "no feature reports";
  } else if (featureLength < kShortestUsableFeature) {
    feature = "feature reports of " + std::to_string(featureLength) +
              (featureLength == 1 ? " byte" : " bytes") + " hold no command";
  }
  if (!feature.empty()) {
    problem += problem.empty() ? feature : ", " + feature;
  }
  if (problem.empty()) {
    return std::nullopt;
  }
  return problem;
}

}  // namespace qvr::protocol
