#include "programs/exporter/arguments.h"

#include <gtest/gtest.h>

namespace qvr::exporter {
namespace {

// Where each device's samples go, for each way of saying it, and what is refused.
TEST(ExporterArguments, ChooseEachDevicesTimeDaemons) {
  struct Case {
    std::vector<std::string> args;
    std::string errorPart;  // empty: accepted
    refclock::FeedTargets a1;
    refclock::FeedTargets b2;
  };
  const std::string defaultA1 = "/run/chrony.qvr7130-A1.sock";
  const std::string defaultB2 = "/run/chrony.qvr7130-B2.sock";
  const Case cases[] = {
      {{}, "", {defaultA1}, {defaultB2}},
      {{"--chrony.socket", "A1=/tmp/a.sock"}, "", {"/tmp/a.sock"}, {defaultB2}},
      {{"--chrony.socket=A1=/tmp/a=b.sock", "--chrony.socket-pattern="}, "", {"/tmp/a=b.sock"}, {}},
      {{"--chrony.socket-pattern", "/tmp/%s/%s"}, "", {"/tmp/A1/A1"}, {"/tmp/B2/B2"}},
      {{"--ntp.shm", "B2=2", "--ntp.shm=A1=255"}, "", {defaultA1, 255}, {defaultB2, 2}},
      // A device given twice keeps the last.
      {{"--ntp.shm", "A1=3", "--ntp.shm", "A1=4"}, "", {defaultA1, 4}, {defaultB2}},
      {{"--ntp.shm", "A1=3", "--ntp.shm", "B2=3"}, "unit 3 is given to both A1 and B2"},
      {{"--ntp.shm", "A1=256"}, "0 to 255"},
      {{"--ntp.shm", "A1=-1"}, "0 to 255"},
      {{"--ntp.shm", "A1"}, "expected SERIAL=VALUE"},
      {{"--chrony.socket", "=/tmp/x"}, "expected SERIAL=VALUE"},
      {{"--chrony.socket", "A1="}, "expected SERIAL=VALUE"},
      {{"--chrony.socket"}, "needs a value"},
      {{"--chrony.socket-pattern", "/tmp/chrony.sock"}, "needs %s"},
  };
  for (const Case& c : cases) {
    std::string joined;
    for (const std::string& arg : c.args) {
      joined += arg + ' ';
    }
    SCOPED_TRACE(joined);
    const ParsedArguments parsed = parseArguments(c.args);
    if (!c.errorPart.empty()) {
      EXPECT_NE(parsed.error.find(c.errorPart), std::string::npos) << parsed.error;
      continue;
    }
    EXPECT_EQ(parsed.error, "");
    EXPECT_EQ(feedTargets(parsed.options, "A1"), c.a1);
    EXPECT_EQ(feedTargets(parsed.options, "B2"), c.b2);
  }
}

}  // namespace
}  // namespace qvr::exporter
