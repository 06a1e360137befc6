// The composition root of qvr7130_exporter: picks the backends, starts the fleet's threads and
// serves what they found until it is told to stop.

#include <pthread.h>
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <iostream>
#include <memory>
#include <mutex>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "monitor/fleet.h"
#include "platform/linux/linux_hid.h"
#include "platform/linux/linux_system.h"
#include "platform/linux/standard_streams.h"
#include "platform/sim/shared_bus.h"
#include "platform/sim/sim_hid.h"
#include "platform/timed/timed_hid.h"
#include "programs/common/command_line.h"
#include "programs/exporter/arguments.h"
#include "programs/exporter/basic_auth.h"
#include "programs/exporter/device_page.h"
#include "programs/exporter/history_keeper.h"
#include "programs/exporter/http_server.h"
#include "programs/exporter/log.h"
#include "programs/exporter/metrics.h"
#include "programs/exporter/pages.h"
#include "programs/exporter/process_metrics.h"
#include "programs/exporter/tls.h"
#include "protocol/device_strings.h"
#include "refclock/feed.h"

namespace {

namespace platform = qvr::platform;
namespace exporter = qvr::exporter;

// The simulated bus, shared by the fleet's threads, and the plugging its signals ask for.
class SimulatedBus {
 public:
  SimulatedBus(int devices, platform::sim::Delivery delivery)
      : bus_(platform::sim::simulatedBus(devices, {.delivery = delivery})) {}

  [[nodiscard]] std::unique_ptr<platform::Hid> view() {
    return std::make_unique<platform::sim::SharedBusView>(*bus_, lock_);
  }

  void unplugFirst() {
    const std::lock_guard lock(lock_);
    for (const auto& device : bus_->devices()) {
      if (device->present()) {
        bus_->unplug(*device);
        return;
      }
    }
  }

  void plugAll() {
    const std::lock_guard lock(lock_);
    for (const auto& device : bus_->devices()) {
      bus_->plug(*device);
    }
  }

 private:
  std::unique_ptr<platform::sim::SimHid> bus_;
  std::mutex lock_;
};

// The signals the program answers, taken one at a time by the main thread, which waits for
// nothing else: blocked before any other thread starts, so that every thread inherits the mask
// and none is woken for them.
class Signals {
 public:
  explicit Signals(bool simulated) {
    sigemptyset(&set_);
    for (const int signal : {SIGTERM, SIGINT}) {
      sigaddset(&set_, signal);
    }
    if (simulated) {
      sigaddset(&set_, SIGUSR1);
      sigaddset(&set_, SIGUSR2);
    }
    pthread_sigmask(SIG_BLOCK, &set_, nullptr);
  }

  [[nodiscard]] int next() const {
    int signal = 0;
    // It only fails for a set it cannot wait for, which would never change: then the program
    // ends rather than spin.
    return sigwait(&set_, &signal) == 0 ? signal : SIGTERM;
  }

 private:
  sigset_t set_{};
};

// The HTTP server keeps up to HttpServer::kMaxConnections connections open; the usual soft
// limit of 1024 open files would leave the devices' handles no room beside them.
void raiseOpenFileLimit() {
  constexpr rlim_t kWanted = 4096;
  rlimit files{};
  if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < kWanted) {
    files.rlim_cur = std::min(files.rlim_max, kWanted);
    (void)setrlimit(RLIMIT_NOFILE, &files);
  }
}

using exporter::LogLevel;

// What the web configuration file asks the server to do; an error stops the program at start.
struct Security {
  exporter::HttpServer::Security server;
  std::string error;
};

Security security(const std::string& webConfigFile) {
  if (webConfigFile.empty()) {
    return {};
  }
  const exporter::ReadWebConfig read = exporter::loadWebConfig(webConfigFile);
  if (!read.error.empty()) {
    return {{}, read.error};
  }
  Security made;
  if (!read.config.users.empty()) {
    made.server.auth = std::make_shared<exporter::BasicAuth>(read.config.users);
  }
  if (read.config.tls) {
    try {
      made.server.tls = std::make_shared<exporter::TlsContext>(*read.config.tls);
    } catch (const std::runtime_error& e) {
      return {{}, webConfigFile + ": " + e.what()};
    }
  }
  return made;
}

// A device's events, one line each: the operator's news of devices coming and going. In the
// order of monitor::DeviceEvent.
struct EventLine {
  LogLevel level;
  const char* message;
};
constexpr EventLine kEventLines[] = {
    {LogLevel::Info, "device found"},      {LogLevel::Info, "device answering again"},
    {LogLevel::Info, "device configured"}, {LogLevel::Warn, "device not answering"},
    {LogLevel::Warn, "device unplugged"},
};

void logEvent(exporter::Logger& log, const qvr::monitor::DeviceSnapshot& now,
              qvr::monitor::DeviceEvent event) {
  using qvr::monitor::DeviceEvent;
  exporter::LogFields fields = {{"serial", qvr::protocol::deviceTextAsUtf8(now.serial)}};
  if (event == DeviceEvent::Found && now.identity) {
    fields.emplace_back("firmware", now.identity->firmware.text());
  }
  if (event == DeviceEvent::NotAnswering) {
    fields.emplace_back("reason", now.lastFailure.reason);
  }
  const EventLine& line = kEventLines[static_cast<std::size_t>(event)];
  log.log(line.level, line.message, fields);
}

}  // namespace

int main(int argc, char** argv) {
  platform::hidraw::holdClosedStandardStreams();
  const exporter::ParsedArguments parsed =
      exporter::parseArguments(std::vector<std::string>(argv + 1, argv + argc));
  if (const auto status = platform::answerEarly(
          exporter::optionParser(),
          {.error = parsed.error, .help = parsed.options.help, .version = parsed.options.version},
          QVR_VERSION, std::cout, std::cerr)) {
    return *status;
  }
  const exporter::Options& options = parsed.options;

  exporter::Logger log(std::cerr, options.logLevel, options.logFormat);
  const Security secured = security(options.webConfigFile);
  if (!secured.error.empty()) {
    log.log(LogLevel::Error, "cannot use the web configuration", {{"err", secured.error}});
    return 1;
  }

  raiseOpenFileLimit();
  const Signals signals(options.simulatedDevices.has_value());
  platform::hidraw::ConsoleSystem system;
  std::unique_ptr<SimulatedBus> simulated;
  qvr::monitor::HidFactory hidFactory;
  if (options.simulatedDevices) {
    simulated = std::make_unique<SimulatedBus>(
        *options.simulatedDevices, options.simulatedDelivery.value_or(platform::sim::Delivery{}));
    hidFactory = [&simulated] { return simulated->view(); };
  } else {
    // Each device's calls on a thread with a deadline: a hung device is "not answering" after
    // the deadline instead of holding its monitor for the seconds the kernel waits.
    hidFactory = [] {
      return std::make_unique<platform::TimedHid>(std::make_unique<platform::hidraw::LinuxHid>());
    };
  }

  const qvr::monitor::SampleListeners feeds =
      [&](const std::string& serial) -> qvr::monitor::SampleListener {
    const qvr::refclock::FeedTargets targets = exporter::feedTargets(options, serial);
    if (targets == qvr::refclock::FeedTargets{}) {
      return {};
    }
    auto feed = std::make_shared<qvr::refclock::Feed>(targets, [&log, serial](
                                                                   const std::string& target,
                                                                   const qvr::refclock::Delivery&
                                                                       now) {
      if (now.delivered) {
        log.log(LogLevel::Info, "time samples delivered", {{"serial", serial}, {"target", target}});
      } else {
        log.log(LogLevel::Warn, "time samples not delivered, tried again with every sample",
                {{"serial", serial}, {"target", target}, {"err", now.failure}});
      }
    });
    return [feed](const qvr::device::TimeSample& sample) { feed->take(sample); };
  };

  qvr::monitor::Fleet fleet(hidFactory, system, {}, feeds,
                            [&log](const qvr::monitor::DeviceSnapshot& now,
                                   qvr::monitor::DeviceEvent event) { logEvent(log, now, event); });
  fleet.start();

  const auto unixNow = [] {
    return std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now())
        .time_since_epoch()
        .count();
  };
  // A sample of every device every ten seconds, for the last day's charts and files.
  exporter::HistoryKeeper history;
  const std::jthread sampler([&](const std::stop_token& stop) {
    std::mutex unused;
    std::condition_variable_any wake;
    std::unique_lock held(unused);
    while (!stop.stop_requested()) {
      history.record(fleet.snapshots(), unixNow(), system.now());
      // Woken early only by the stop.
      (void)wake.wait_for(held, stop, qvr::status::History::kInterval, [] { return false; });
    }
  });
  const auto devicePage = [&](std::string_view query) {
    return exporter::devicePageResponse(query, fleet.snapshots(), history, system.now(), unixNow());
  };

  const auto metrics = [&](std::string_view /*query*/) {
    const auto started = std::chrono::steady_clock::now();
    const auto elapsed = [started] {
      return std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    };
    const exporter::ScrapeTime at{system.now(),
                                  std::chrono::system_clock::now().time_since_epoch()};
    std::string text = exporter::metricsText(
        fleet.snapshots(), at,
        {.version = QVR_VERSION,
         .scrapeSeconds = elapsed,
         .process = exporter::ownProcessFacts(),
         .holdoverAlertSeconds = static_cast<double>(options.holdoverAlertSeconds)});
    log.log(LogLevel::Debug, "scrape served", {{"seconds", std::to_string(elapsed())}});
    return exporter::HttpResponse{200, "text/plain; version=0.0.4; charset=utf-8", std::move(text)};
  };
  const auto status = [&](std::string_view /*query*/) {
    return exporter::HttpResponse{200, "application/json",
                                  exporter::statusJson(fleet.snapshots(), system.now())};
  };
  const auto index = [&](std::string_view /*query*/) {
    return exporter::HttpResponse{
        200, "text/html; charset=utf-8",
        exporter::indexPage(fleet.snapshots(), QVR_VERSION, options.telemetryPath)};
  };

  std::unique_ptr<exporter::HttpServer> server;
  try {
    server = std::make_unique<exporter::HttpServer>(
        options.listenAddress,
        std::map<std::string, exporter::HttpHandler>{
            {options.telemetryPath, metrics},
            {"/status.json", status},
            {"/device", devicePage},
            {"/history.json",
             [&](std::string_view query) { return history.response(query, false); }},
            {"/history.csv", [&](std::string_view query) { return history.response(query, true); }},
            {"/", index}},
        secured.server);
  } catch (const exporter::ListenError& e) {
    log.log(LogLevel::Error, "cannot listen", {{"err", e.what()}});
    return 1;
  }
  log.log(LogLevel::Info, "listening on",
          {{"address", server->boundAddress()},
           {"tls", secured.server.tls ? "true" : "false"},
           {"basic_auth", secured.server.auth ? "true" : "false"}});

  for (;;) {
    switch (signals.next()) {
      case SIGUSR1:
        simulated->unplugFirst();
        break;
      case SIGUSR2:
        simulated->plugAll();
        break;
      default:
        return 0;
    }
  }
}
