#include "programs/common/command_line.h"

#include <gtest/gtest.h>

#include <sstream>

namespace qvr::platform {
namespace {

struct Case {
  std::vector<std::string> args;
  std::string errorPart;  // empty: the arguments must be accepted
  std::optional<int> devices;
  std::optional<std::string> screenshot;
  int ticks = 0;
  bool help = false;
  bool list = false;
  bool version = false;
};

TEST(CommandLine, ReadsOptionsAndRefusesWhatItDoesNotKnow) {
  const Case cases[] = {
      {{}, "", std::nullopt, std::nullopt},
      {{"--simulate"}, "", 1, std::nullopt},
      {{"--simulate=3"}, "", 3, std::nullopt},
      {{"--simulate=0"}, "", 0, std::nullopt},
      {{"--simulate=99"}, "", 99, std::nullopt},
      {{"--simulate=100"}, "0 to 99", std::nullopt, std::nullopt},
      {{"--simulate=-1"}, "0 to 99", std::nullopt, std::nullopt},
      {{"--simulate="}, "0 to 99", std::nullopt, std::nullopt},
      {{"--simulate=2x"}, "0 to 99", std::nullopt, std::nullopt},
      // The count is optional, so a separate word is not taken for it.
      {{"--simulate", "3"}, "unexpected argument '3'", std::nullopt, std::nullopt},
      {{"--screenshot", "a.png", "--simulate"}, "", 1, "a.png"},
      {{"--screenshot=b.png"}, "", std::nullopt, "b.png"},
      {{"--screenshot"}, "needs a value", std::nullopt, std::nullopt},
      {{"--screenshot="}, "needs a file name", std::nullopt, std::nullopt},
      {{"--screenshot", "c.png", "--ticks", "5", "--simulate=2"}, "", 2, "c.png", 5},
      {{"--ticks=7", "--screenshot", "d.png"}, "", std::nullopt, "d.png", 7},
      {{"--ticks=5"}, "only works together with '--screenshot'", std::nullopt, std::nullopt},
      {{"--screenshot", "e.png", "--ticks", "ten"}, "not a tick count", std::nullopt, "e.png"},
      {{"--screenshot", "e.png", "--ticks"}, "needs a value", std::nullopt, "e.png"},
      {{"--help"}, "", std::nullopt, std::nullopt, 0, true},
      {{"--help=yes"}, "unknown option", std::nullopt, std::nullopt},
      {{"--version"}, "", std::nullopt, std::nullopt, 0, false, false, true},
      {{"--version=2"}, "unknown option", std::nullopt, std::nullopt},
      {{"--simulate", "--frobnicate"}, "unknown option '--frobnicate'", 1, std::nullopt},
      {{"-platform", "xcb"}, "unknown option '-platform'", std::nullopt, std::nullopt},
      {{"--list-devices"}, "", std::nullopt, std::nullopt, 0, false, true},
      {{"--list-devices=all"}, "unknown option", std::nullopt, std::nullopt},
      {{"--list-devices", "--simulate=2"}, "goes with neither", 2, std::nullopt},
      {{"--screenshot", "f.png", "--list-devices"}, "goes with neither", std::nullopt, "f.png"},
      {{"--help", "--list-devices"}, "", std::nullopt, std::nullopt, 0, true, true},
  };
  for (const Case& c : cases) {
    std::string joined;
    for (const std::string& arg : c.args) {
      joined += arg + ' ';
    }
    SCOPED_TRACE(joined);
    const ParsedCommandLine parsed = parseCommandLine(c.args);
    if (c.errorPart.empty()) {
      EXPECT_EQ(parsed.error, "");
      EXPECT_EQ(parsed.options.simulatedDevices, c.devices);
      EXPECT_EQ(parsed.options.screenshot, c.screenshot);
      EXPECT_EQ(parsed.options.ticks, c.ticks);
      EXPECT_EQ(parsed.options.help, c.help);
      EXPECT_EQ(parsed.options.listDevices, c.list);
      EXPECT_EQ(parsed.options.version, c.version);
    } else {
      EXPECT_NE(parsed.error.find(c.errorPart), std::string::npos) << parsed.error;
    }
  }
}

TEST(CommandLine, RefusalsHelpAndVersionAreAnsweredWithoutAWindow) {
  std::ostringstream out;
  std::ostringstream err;
  const auto answer = [&](const std::vector<std::string>& args) {
    return answerWithoutWindow(parseCommandLine(args), "qvr7130", "1.09", out, err);
  };
  EXPECT_EQ(answer({"--frobnicate"}), 2);
  EXPECT_NE(err.str().find("Try 'qvr7130 --help'"), std::string::npos) << err.str();
  EXPECT_EQ(answer({"--help"}), 0);
  EXPECT_EQ(out.str(), usageText("qvr7130"));
  out.str("");
  EXPECT_EQ(answer({"--version"}), 0);
  EXPECT_EQ(out.str(), "qvr7130 1.09\n");
  EXPECT_EQ(answer({"--simulate"}), std::nullopt);
}

}  // namespace
}  // namespace qvr::platform
