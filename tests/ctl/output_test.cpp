// What qvr7130ctl writes, whatever the device calls itself.
#include <gtest/gtest.h>

#include <chrono>
#include <sstream>
#include <string>
#include <vector>

#include "platform/sim/sim_hid.h"
#include "platform/sim/sim_system.h"
#include "programs/ctl/program.h"

namespace qvr::ctl {
namespace {

using platform::sim::DeviceProfile;

// A serial number and strings that would retitle the terminal, clear it and move the cursor
// home with a C1 CSI.
DeviceProfile hostile(const std::u16string& tail) {
  return {.serial = u"Q\x1b]0;owned\x07" + tail,
          .manufacturer = u"\x1b[2J\x9bH",
          .product = u"QVR\x7f\x85"};
}

struct Bench {
  explicit Bench(const std::vector<DeviceProfile>& devices) {
    for (const DeviceProfile& p : devices) {
      hid.attach(p);
    }
    hid.setClock([this] { return system.now(); });
  }
  // Writes to `to` instead of `out` when given; gives up at a virtual minute.
  int run(const std::vector<std::string>& args, std::ostream* to = nullptr) {
    const ParsedArguments parsed = parseArguments(args);
    EXPECT_EQ(parsed.error, "");
    Environment env{.hid = hid,
                    .system = system,
                    .out = to != nullptr ? *to : out,
                    .err = err,
                    .listDevices = [] { return Listing{}; },
                    .interrupted = [this] { return system.now() > std::chrono::minutes(1); },
                    .simulated = true};
    return ctl::run(parsed.options, env);
  }
  platform::sim::SimHid hid;
  platform::sim::SimSystem system;
  std::ostringstream out;
  std::ostringstream err;
};

// A line break ends a line; any other control character, C1 included, is the device talking to
// the terminal.
std::string controlsIn(const std::string& text) {
  std::string found;
  for (const char c : text) {
    const auto b = static_cast<unsigned char>(c);
    if ((b < 0x20 && b != '\n') || (b >= 0x7F && b <= 0x9F)) {
      found += std::to_string(b) + " ";
    }
  }
  return found;
}

TEST(CtlOutput, DeviceStringsAreShownNotObeyed) {
  const struct {
    const char* name;
    std::vector<DeviceProfile> devices;
    std::vector<std::string> args;
    const char* shown;  // in standard output, or else in standard error
  } cases[] = {
      {"status", {hostile(u"1")}, {"status"}, R"(Q\u001b]0;owned\u00071)"},
      {"status, strings", {hostile(u"1")}, {"status"}, R"(\u001b[2J\u009bH)"},
      {"two to choose from", {hostile(u"1"), hostile(u"2")}, {"status"}, R"(owned\u00072')"},
      {"another asked for",
       {hostile(u"1")},
       {"status", "--serial", "Q\x1b[2J"},
       R"(serial number 'Q\u001b[2J'; attached: 'Q\u001b]0;owned\u00071')"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Bench b(c.devices);
    static_cast<void>(b.run(c.args));
    EXPECT_EQ(controlsIn(b.out.str()), "") << b.out.str();
    EXPECT_EQ(controlsIn(b.err.str()), "") << b.err.str();
    EXPECT_NE((b.out.str() + b.err.str()).find(c.shown), std::string::npos)
        << b.out.str() << b.err.str();
  }
}

// A pipe whose reader takes `lines` lines and goes: every write after them fails, as it does
// where SIGPIPE is ignored.
class ReaderGoes : public std::streambuf {
 public:
  explicit ReaderGoes(int lines) : lines_(lines) {}
  [[nodiscard]] int writesRefused() const { return refused_; }

 protected:
  int_type overflow(int_type c) override {
    if (lines_ == 0) {
      ++refused_;
      return traits_type::eof();
    }
    lines_ -= c == '\n' ? 1 : 0;
    return c;
  }

 private:
  int lines_;
  int refused_ = 0;
};

TEST(CtlOutput, AWatchEndsWhenItsReaderHasGone) {
  for (const bool json : {false, true}) {
    SCOPED_TRACE(json ? "--json" : "text");
    Bench b({{.serial = u"QVR000001"}});
    ReaderGoes pipe(2);
    std::ostream out(&pipe);
    std::vector<std::string> args{"status", "--watch", "1"};
    if (json) {
      args.emplace_back("--json");
    }
    EXPECT_EQ(b.run(args, &out), kDeviceFailed);
    // The first line after about a second, one a second after it: the third finds nobody.
    EXPECT_LT(b.system.now(), std::chrono::seconds(5));
    EXPECT_EQ(pipe.writesRefused(), 1);
    EXPECT_NE(b.err.str().find("qvr7130ctl: cannot write to standard output"), std::string::npos)
        << b.err.str();
    EXPECT_EQ(b.hid.openHandles(), 0);
  }
}

}  // namespace
}  // namespace qvr::ctl
