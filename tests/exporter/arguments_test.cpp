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

// The web options as the other exporters spell them; an address that cannot be parsed is a
// usage error here, before anything starts, while one that parses is only tried when listening.
TEST(ExporterArguments, TakeTheWebAndLogOptions) {
  struct Case {
    std::vector<std::string> args;
    std::string errorPart;  // empty: accepted
  };
  const Case cases[] = {
      {{"--web.listen-address=[::1]:0", "--web.config.file=/etc/web.yml",
        "--web.telemetry-path=/qvr/metrics", "--log.level=debug", "--log.format=json"},
       ""},
      {{"--web.listen-address=192.0.2.1:9713"}, ""},
      {{"--web.listen-address=nonsense"}, "no port"},
      {{"--web.listen-address=999.1.1.1:80"}, "neither an IPv4 address"},
      {{"--web.listen-address=:99999"}, "from 0 to 65535"},
      {{"--listen", "localhost:9713"}, ""},
      {{"--web.listen-address=:9713"}, ""},
      {{"--web.listen-address=1.2.3:9713"}, "neither an IPv4 address"},
      {{"--web.telemetry-path=metrics"}, "starts with '/'"},
      {{"--web.telemetry-path=/"}, "need a path of their own"},
      {{"--web.telemetry-path=/status.json"}, "need a path of their own"},
      {{"--web.telemetry-path=/m?x"}, "need a path of their own"},
      {{"--log.level=trace"}, "expected debug, info, warn or error"},
      {{"--log.format=text"}, "expected logfmt or json"},
      {{"--holdover.alert-after=600"}, ""},
      {{"--holdover.alert-after", "0"}, "whole seconds from 1 to 604800"},
      {{"--holdover.alert-after=5m"}, "whole seconds from 1 to 604800"},
      {{"--web.config.file"}, "needs a value"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.front());
    const ParsedArguments parsed = parseArguments(c.args);
    if (c.errorPart.empty()) {
      EXPECT_EQ(parsed.error, "");
    } else {
      EXPECT_NE(parsed.error.find(c.errorPart), std::string::npos) << parsed.error;
    }
  }
  const Options options = parseArguments(cases[0].args).options;
  EXPECT_EQ(options.listenAddress, "[::1]:0");
  EXPECT_EQ(options.webConfigFile, "/etc/web.yml");
  EXPECT_EQ(options.telemetryPath, "/qvr/metrics");
  EXPECT_EQ(options.logLevel, LogLevel::Debug);
  EXPECT_EQ(options.logFormat, LogFormat::Json);
  const Options defaults = parseArguments({}).options;
  EXPECT_EQ(defaults.telemetryPath, "/metrics");
  EXPECT_EQ(defaults.logLevel, LogLevel::Info);
  EXPECT_EQ(defaults.logFormat, LogFormat::Logfmt);
}

}  // namespace
}  // namespace qvr::exporter
