#include "protocol/report_lengths.h"

#include <gtest/gtest.h>

namespace qvr::protocol {
namespace {

TEST(ReportLengths, AcceptsWhatCarriesTheProtocolAndSaysWhyNotOtherwise) {
  const struct {
    std::size_t input;
    std::size_t feature;
    const char* problem;  // nullptr: usable
  } cases[] = {
      {64, 40, nullptr},
      {4, 3, nullptr},  // one receiver byte; a command code and one data byte
      {0, 40, "no input reports"},
      {1, 40, "input reports of 1 byte carry no receiver data"},
      {3, 40, "input reports of 3 bytes carry no receiver data"},
      {64, 0, "no feature reports"},
      {64, 2, "feature reports of 2 bytes hold no command"},
      {0, 0, "no input reports, no feature reports"},
      {2, 1,
       "input reports of 2 bytes carry no receiver data, feature reports of 1 byte hold no "
       "command"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.input) + " input, " + std::to_string(c.feature) + " feature");
    const std::optional<std::string> problem = reportLengthsProblem(c.input, c.feature);
    if (c.problem == nullptr) {
      EXPECT_FALSE(problem) << *problem;
    } else {
      EXPECT_EQ(problem.value_or("usable"), c.problem);
    }
  }
}

}  // namespace
}  // namespace qvr::protocol
