#include "platform/linux/time_service.h"

#include <systemd/sd-bus.h>

#include <cstring>
#include <ctime>
#include <memory>
#include <string_view>
#include <utility>

namespace qvr::platform::hidraw {

namespace {

constexpr const char* kService = "org.freedesktop.timedate1";
constexpr const char* kObject = "/org/freedesktop/timedate1";
constexpr const char* kInterface = "org.freedesktop.timedate1";
// The administrator's password prompt waits for the user, who may be slow to type it.
constexpr std::uint64_t kCallTimeoutMicroseconds = 120'000'000;

struct BusUnref {
  void operator()(sd_bus* bus) const { sd_bus_flush_close_unref(bus); }
};
struct MessageUnref {
  void operator()(sd_bus_message* message) const { sd_bus_message_unref(message); }
};
using Bus = std::unique_ptr<sd_bus, BusUnref>;
using Message = std::unique_ptr<sd_bus_message, MessageUnref>;

// Frees the error's strings however the call below leaves it.
class Error {
 public:
  Error() = default;
  Error(const Error&) = delete;
  Error& operator=(const Error&) = delete;
  ~Error() { sd_bus_error_free(&error_); }
  sd_bus_error* get() { return &error_; }
  [[nodiscard]] std::string name() const { return error_.name ? error_.name : ""; }
  [[nodiscard]] std::string message() const { return error_.message ? error_.message : ""; }

 private:
  sd_bus_error error_{};  // SD_BUS_ERROR_NULL, without its C compound literal
};

std::string systemError(int negativeErrno) {
  return std::strerror(-negativeErrno);
}

// A connection to `address`, or to the system bus when it is empty; null with `status` set to
// the negative errno when there is none.
Bus connect(const std::string& address, int& status) {
  sd_bus* raw = nullptr;
  if (address.empty()) {
    status = sd_bus_open_system(&raw);
    return Bus(status >= 0 ? raw : nullptr);
  }
  status = sd_bus_new(&raw);
  if (status < 0) {
    return nullptr;
  }
  Bus bus(raw);
  status = sd_bus_set_address(raw, address.c_str());
  if (status >= 0) {
    status = sd_bus_set_bus_client(raw, 1);
  }
  if (status >= 0) {
    status = sd_bus_start(raw);
  }
  return status >= 0 ? std::move(bus) : nullptr;
}

// What the user can do about each refusal; the error's own name and text follow it.
std::string refusalText(const Error& error) {
  const std::string name = error.name();
  std::string_view meaning = "the time service refused to set the clock";
  if (name == "org.freedesktop.timedate1.AutomaticTimeSyncEnabled") {
    meaning =
        "the time service refuses while automatic time synchronisation (NTP) is on; "
        "`timedatectl set-ntp false` turns it off";
  } else if (name == SD_BUS_ERROR_ACCESS_DENIED ||
             name == SD_BUS_ERROR_INTERACTIVE_AUTHORIZATION_REQUIRED) {
    meaning = "the administrator's authentication was dismissed or did not allow it";
  } else if (name == SD_BUS_ERROR_SERVICE_UNKNOWN || name == SD_BUS_ERROR_NAME_HAS_NO_OWNER) {
    meaning = "systemd's time service (org.freedesktop.timedate1) is not on the bus";
  } else if (name.starts_with("System.Error.")) {
    // What sd-bus calls a connection that failed under it: there is no bus to speak of.
    meaning = "no D-Bus system bus to ask the time service on";
  } else if (name == SD_BUS_ERROR_NO_REPLY || name == SD_BUS_ERROR_TIMEOUT) {
    meaning = "the time service did not answer in time";
  }
  std::string text(meaning);
  text += " (" + name;
  if (!error.message().empty()) {
    text += ": " + error.message();
  }
  return text + ")";
}

}  // namespace

std::int64_t realTimeMicroseconds() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1'000'000 + now.tv_nsec / 1'000;
}

ClockResult setTimeThroughService(const std::string& busAddress, std::int64_t utcMicroseconds) {
  // Measured before connecting, let alone authenticating: whatever comes after only delays the
  // moment the offset is applied, never its size.
  return askTimeServiceToShift(busAddress, utcMicroseconds - realTimeMicroseconds());
}

ClockResult askTimeServiceToShift(const std::string& busAddress, std::int64_t offset) {
  ClockResult result;
  int status = 0;
  const Bus bus = connect(busAddress, status);
  if (!bus) {
    result.refusal = "no D-Bus system bus to ask the time service on: " + systemError(status);
    return result;
  }
  sd_bus_message* rawCall = nullptr;
  status =
      sd_bus_message_new_method_call(bus.get(), &rawCall, kService, kObject, kInterface, "SetTime");
  const Message call(status >= 0 ? rawCall : nullptr);
  // Relative, and interactive both in the arguments and in the header: the header's flag is
  // what lets a service start an authentication that waits for the user at all.
  if (status >= 0) {
    status = sd_bus_message_append(call.get(), "xbb", offset, 1, 1);
  }
  if (status >= 0) {
    status = sd_bus_message_set_allow_interactive_authorization(call.get(), 1);
  }
  if (status < 0) {
    result.refusal = "could not write the time service's request: " + systemError(status);
    return result;
  }
  Error error;
  sd_bus_message* rawReply = nullptr;
  status = sd_bus_call(bus.get(), call.get(), kCallTimeoutMicroseconds, error.get(), &rawReply);
  const Message reply(status >= 0 ? rawReply : nullptr);
  if (status < 0) {
    result.refusal = error.name().empty()
                         ? "the time service could not be asked: " + systemError(status)
                         : refusalText(error);
    return result;
  }
  result.set = true;
  return result;
}

}  // namespace qvr::platform::hidraw
