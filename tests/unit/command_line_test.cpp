#include "programs/common/command_line.h"

#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <sstream>
#include <system_error>

namespace qvr::platform {
namespace {

struct Case {
  std::vector<std::string> args;
  std::string errorPart;  // empty: the arguments must be accepted
  std::optional<int> devices;
  std::optional<std::string> screenshot;
  int ticks = kDefaultScreenshotTicks;
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
      {{"--help"}, "", std::nullopt, std::nullopt, kDefaultScreenshotTicks, true},
      {{"--help=yes"}, "takes no value", std::nullopt, std::nullopt},
      {{"--version"}, "", std::nullopt, std::nullopt, kDefaultScreenshotTicks, false, false, true},
      {{"--version=2"}, "takes no value", std::nullopt, std::nullopt},
      {{"--simulate", "--frobnicate"}, "unknown option '--frobnicate'", 1, std::nullopt},
      {{"-platform", "xcb"}, "unknown option '-platform'", std::nullopt, std::nullopt},
      {{"--list-devices"}, "", std::nullopt, std::nullopt, kDefaultScreenshotTicks, false, true},
      {{"--list-devices=all"}, "takes no value", std::nullopt, std::nullopt},
      {{"--list-devices", "--simulate=2"}, "goes with neither", 2, std::nullopt},
      {{"--screenshot", "f.png", "--list-devices"}, "goes with neither", std::nullopt, "f.png"},
      {{"--help", "--list-devices"},
       "",
       std::nullopt,
       std::nullopt,
       kDefaultScreenshotTicks,
       true,
       true},
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

// Only a delivery a receiver can keep to: every epoch's frames after the epoch and before the
// next epoch's.
TEST(CommandLine, ASimulatedLatencyIsWholeMillisecondsThatFitAnEpoch) {
  using std::chrono::milliseconds;
  struct LatencyCase {
    std::string given;
    std::optional<sim::Delivery> delivery;  // nothing: refused
  };
  const LatencyCase cases[] = {
      {"20,2", sim::Delivery{milliseconds(20), milliseconds(2)}},
      {"20", sim::Delivery{milliseconds(20), milliseconds(0)}},
      {"0", sim::Delivery{}},
      {"0,0", sim::Delivery{}},
      {"99", sim::Delivery{milliseconds(99), milliseconds(0)}},
      {"60,39", sim::Delivery{milliseconds(60), milliseconds(39)}},
      {"60,40", std::nullopt},  // the next epoch's frames could come first
      {"20,20", std::nullopt},  // ... or these before their epoch
      {"0,1", std::nullopt},
      {"100", std::nullopt},
      {"-1", std::nullopt},
      {"2.5", std::nullopt},
      {"20,", std::nullopt},
      {",2", std::nullopt},
      {"20,2,1", std::nullopt},
      {"", std::nullopt},
  };
  for (const LatencyCase& c : cases) {
    SCOPED_TRACE(c.given);
    std::string error;
    EXPECT_EQ(simulatedDelivery("--latency", c.given, error), c.delivery);
    EXPECT_EQ(error.empty(), c.delivery.has_value()) << error;
  }
}

TEST(CommandLine, RefusalsHelpAndVersionAreAnsweredWithoutAWindow) {
  std::ostringstream out;
  std::ostringstream err;
  const auto answer = [&](const std::vector<std::string>& args) {
    return answerWithoutWindow(parseCommandLine(args), "1.09", out, err);
  };
  EXPECT_EQ(answer({"--frobnicate"}), 2);
  EXPECT_NE(err.str().find("Try 'qvr7130 --help'"), std::string::npos) << err.str();
  EXPECT_EQ(answer({"--help"}), 0);
  EXPECT_EQ(out.str(), windowOptionParser().help());
  out.str("");
  EXPECT_EQ(answer({"--version"}), 0);
  EXPECT_EQ(out.str(), "qvr7130 1.09\n");
  EXPECT_EQ(answer({"--simulate"}), std::nullopt);
}

// A file on a full disk behind a small buffer: what fits waits in the buffer, and the write that
// flushes it fails with ENOSPC, at the flush or at the write that overflows it.
class FullDisk : public std::streambuf {
 public:
  FullDisk() { setp(buffer_.data(), buffer_.data() + buffer_.size()); }

 protected:
  int sync() override {
    if (pptr() == pbase()) {
      return 0;
    }
    errno = ENOSPC;
    return -1;
  }
  int_type overflow(int_type /*c*/) override {
    errno = ENOSPC;
    return traits_type::eof();
  }

 private:
  std::array<char, 64> buffer_{};
};

TEST(CommandLine, AnAnswerThatCannotBeWrittenIsAFailureSaidOnce) {
  const struct {
    const char* name;
    int status;
    bool full;
    std::size_t written;
    int exit;
    std::optional<std::string> reason;  // nothing said when none
  } cases[] = {
      {"written", 0, false, 1000, 0, std::nullopt},
      // The system's words for ENOSPC, whichever C library says them.
      {"fails at the flush", 0, true, 10, 1, std::generic_category().message(ENOSPC)},
      // The failed write was long before: its reason is gone, the failure is not.
      {"failed while writing", 0, true, 1000, 1, "write error"},
      {"nothing written", 0, true, 0, 0, std::nullopt},
      // Already failed and said why: the status stands, nothing more is said.
      {"the program failed too", 3, true, 10, 3, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FullDisk disk;
    std::ostringstream memory;
    std::ostream out(c.full ? static_cast<std::streambuf*>(&disk) : memory.rdbuf());
    std::ostringstream err;
    out << std::string(c.written, 'x');
    EXPECT_EQ(finishOutput(c.status, out, err, "p"), c.exit);
    EXPECT_EQ(err.str(), c.reason ? "p: cannot write to standard output: " + *c.reason + "\n" : "");
  }
}

}  // namespace
}  // namespace qvr::platform
