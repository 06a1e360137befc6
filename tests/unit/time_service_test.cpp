// Asks a time service of the test's own, on a dbus-daemon of its own: never the system bus, and
// no root needed.

#include "platform/linux/time_service.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "platform/linux/linux_system.h"

namespace {

using namespace std::chrono_literals;
using qvr::platform::UtcTime;
using qvr::platform::hidraw::ClockResult;
using qvr::platform::hidraw::realTimeMicroseconds;
using qvr::platform::hidraw::setTimeThroughService;
using qvr::platform::hidraw::utcMicroseconds;

// A session-type dbus-daemon on a socket in a temporary folder, ended (or, should the test die,
// ended by `timeout`) with the test.
class PrivateBus {
 public:
  PrivateBus() {
    std::string pattern = (std::filesystem::temp_directory_path() / "qvr-bus-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
      return;
    }
    folder_ = pattern;
    const std::string config = folder_ + "/bus.conf";
    std::ofstream(config) << "<busconfig><type>session</type><listen>unix:path=" << folder_
                          << "/socket</listen><auth>EXTERNAL</auth><policy context=\"default\">"
                             "<allow user=\"*\"/><allow own=\"*\"/><allow send_destination=\"*\"/>"
                             "<allow receive_sender=\"*\"/></policy>"
                             "</busconfig>\n";
    int out[2];
    if (pipe(out) != 0) {
      return;
    }
    const std::string configArgument = "--config-file=" + config;
    daemon_ = fork();
    if (daemon_ == 0) {
      dup2(out[1], STDOUT_FILENO);
      close(out[0]);
      execlp("timeout", "timeout", "60", "dbus-daemon", configArgument.c_str(), "--nofork",
             "--print-address", nullptr);
      _exit(127);
    }
    close(out[1]);
    pollfd ready{out[0], POLLIN, 0};
    std::string line(512, '\0');
    if (daemon_ > 0 && poll(&ready, 1, 5000) == 1) {
      const ssize_t got = read(out[0], line.data(), line.size());
      line.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
      address_ = line.substr(0, line.find('\n'));
    }
    close(out[0]);
  }
  PrivateBus(const PrivateBus&) = delete;
  PrivateBus& operator=(const PrivateBus&) = delete;
  ~PrivateBus() {
    if (daemon_ > 0) {
      kill(daemon_, SIGTERM);
      waitpid(daemon_, nullptr, 0);
    }
    if (!folder_.empty()) {
      std::filesystem::remove_all(folder_);
    }
  }
  [[nodiscard]] const std::string& address() const { return address_; }

 private:
  std::string folder_;
  std::string address_;
  pid_t daemon_ = -1;
};

// One SetTime as the service received it.
struct Received {
  std::string path, interface, member, signature;
  std::int64_t offset = 0;
  int relative = 0, interactive = 0, interactiveHeader = 0;
};

// Owns org.freedesktop.timedate1 and answers every call to its object after `delay` (the time
// an administrator takes to authenticate), with `error` or, when there is none, success.
class TimeService {
 public:
  TimeService(const std::string& address, std::chrono::milliseconds delay, const char* error)
      : delay_(delay), error_(error) {
    sd_bus_new(&bus_);
    sd_bus_set_address(bus_, address.c_str());
    sd_bus_set_bus_client(bus_, 1);
    ok_ = sd_bus_start(bus_) >= 0 &&
          sd_bus_add_object(bus_, nullptr, "/org/freedesktop/timedate1", &TimeService::onCall,
                            this) >= 0 &&
          sd_bus_request_name(bus_, "org.freedesktop.timedate1", 0) >= 0;
    thread_ = std::thread([this] {
      while (!stop_) {
        if (sd_bus_process(bus_, nullptr) <= 0) {
          sd_bus_wait(bus_, 20'000);
        }
      }
    });
  }
  TimeService(const TimeService&) = delete;
  TimeService& operator=(const TimeService&) = delete;
  ~TimeService() {
    stop_ = true;
    thread_.join();
    sd_bus_flush_close_unref(bus_);
  }
  [[nodiscard]] bool ok() const { return ok_; }
  [[nodiscard]] std::optional<Received> received() {
    const std::lock_guard lock(mutex_);
    return received_;
  }

 private:
  static int onCall(sd_bus_message* call, void* self, sd_bus_error* error) {
    auto& service = *static_cast<TimeService*>(self);
    Received r;
    r.path = sd_bus_message_get_path(call);
    r.interface = sd_bus_message_get_interface(call);
    r.member = sd_bus_message_get_member(call);
    r.signature = sd_bus_message_get_signature(call, 1);
    r.interactiveHeader = sd_bus_message_get_allow_interactive_authorization(call);
    sd_bus_message_read(call, "xbb", &r.offset, &r.relative, &r.interactive);
    {
      const std::lock_guard lock(service.mutex_);
      service.received_ = r;
    }
    std::this_thread::sleep_for(service.delay_);
    if (service.error_ != nullptr) {
      return sd_bus_error_set(error, service.error_, "refused by the test's service");
    }
    return sd_bus_reply_method_return(call, "");
  }

  sd_bus* bus_ = nullptr;
  bool ok_ = false;
  std::chrono::milliseconds delay_;
  const char* error_;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::optional<Received> received_;
  std::thread thread_;
};

constexpr std::int64_t kHour = 3'600'000'000;

TEST(TimeService, SendsTheOffsetAtTheCallAndSaysWhyItWasRefused) {
  const PrivateBus bus;
  ASSERT_FALSE(bus.address().empty()) << "dbus-daemon did not start";
  struct Case {
    const char* what;
    std::int64_t ahead;  // receiver time minus the computer's
    std::chrono::milliseconds delay;
    const char* error;  // what the service answers; none is success
    const char* reason;
  };
  const Case cases[] = {
      {"slow authentication", kHour, 1500ms, nullptr, ""},
      {"behind", -2'500'000, 0ms, nullptr, ""},
      {"NTP on", kHour, 0ms, "org.freedesktop.timedate1.AutomaticTimeSyncEnabled",
       "org.freedesktop.timedate1.AutomaticTimeSyncEnabled"},
      {"dismissed", kHour, 300ms, "org.freedesktop.DBus.Error.AccessDenied",
       "org.freedesktop.DBus.Error.AccessDenied"},
      {"no agent", kHour, 0ms, "org.freedesktop.DBus.Error.InteractiveAuthorizationRequired",
       "org.freedesktop.DBus.Error.InteractiveAuthorizationRequired"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TimeService service(bus.address(), c.delay, c.error);
    ASSERT_TRUE(service.ok());
    const std::int64_t before = realTimeMicroseconds();
    const ClockResult result = setTimeThroughService(bus.address(), before + c.ahead);
    const auto took = std::chrono::microseconds(realTimeMicroseconds() - before);

    EXPECT_EQ(result.set, c.error == nullptr);
    EXPECT_NE(result.refusal.find(c.reason), std::string::npos) << result.refusal;
    EXPECT_EQ(result.refusal.empty(), c.error == nullptr) << result.refusal;
    EXPECT_GE(took, c.delay);
    const std::optional<Received> r = service.received();
    ASSERT_TRUE(r.has_value());
    EXPECT_EQ(r->path, "/org/freedesktop/timedate1");
    EXPECT_EQ(r->interface, "org.freedesktop.timedate1");
    EXPECT_EQ(r->member, "SetTime");
    EXPECT_EQ(r->signature, "xbb");
    EXPECT_TRUE(r->relative);
    EXPECT_TRUE(r->interactive);
    EXPECT_TRUE(r->interactiveHeader);
    // Measured when asked, not when answered: the wait for the prompt would be lost otherwise.
    EXPECT_LE(c.ahead - r->offset, 5'000);
    EXPECT_GE(c.ahead - r->offset, 0);
  }
}

TEST(TimeService, WithoutTheServiceOrABusTheReasonSaysSo) {
  const PrivateBus bus;
  ASSERT_FALSE(bus.address().empty()) << "dbus-daemon did not start";
  const struct {
    std::string address;
    const char* reason;
  } cases[] = {
      {bus.address(), "org.freedesktop.DBus.Error.ServiceUnknown"},
      {"unix:path=/nonexistent/qvr-bus", "no D-Bus system bus"},
  };
  for (const auto& c : cases) {
    const ClockResult result = setTimeThroughService(c.address, realTimeMicroseconds());
    EXPECT_FALSE(result.set) << c.address;
    EXPECT_NE(result.refusal.find(c.reason), std::string::npos) << result.refusal;
  }
}

TEST(TimeService, OnlyValidTimesAreSent) {
  const struct {
    UtcTime time;
    std::optional<std::int64_t> micro;
  } cases[] = {
      {{1970, 1, 4, 1, 0, 0, 0, 0}, 0},
      {{2024, 2, 4, 29, 12, 34, 56, 789}, 1'709'210'096'789'000},
      {{2024, 13, 0, 1, 0, 0, 0, 0}, std::nullopt},
      {{2024, 1, 0, 1, 24, 0, 0, 0}, std::nullopt},
      {{2024, 1, 0, 1, 0, 0, 0, 1000}, std::nullopt},
      {{1969, 12, 0, 31, 23, 59, 59, 0}, std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(utcMicroseconds(c.time), c.micro) << c.time.year << "-" << c.time.month;
  }
}

}  // namespace
