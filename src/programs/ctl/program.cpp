#include "programs/ctl/program.h"

#include <chrono>
#include <cstdint>
#include <utility>

#include "device/lock_tracker.h"
#include "device/session.h"
#include "device/settings.h"
#include "device/settings_table.h"
#include "diagnostics/diagnostics_address.h"
#include "diagnostics/web_addresses.h"
#include "platform/sim/sim_hid.h"
#include "platform/sim/sim_system.h"
#include "programs/common/command_line.h"
#include "programs/ctl/device_choice.h"
#include "protocol/number_text.h"
#include "protocol/printable_text.h"
#include "refclock/chrony_config.h"
#include "refclock/offset_summary.h"
#include "status/history.h"
#include "status/json_writer.h"
#include "status/status_view.h"

namespace qvr::ctl {
namespace {

using namespace std::chrono_literals;
using std::chrono::milliseconds;

using status::deviceView;
using status::missingMessages;
using status::scaledText;
using status::settingsView;
using status::statusJson;
using status::statusText;
using status::StatusView;
using status::watchJson;
using status::watchLine;

// The window's timer while a device is open: reading this often keeps the device's input
// buffer from overflowing and the receiver's news fresh.
constexpr milliseconds kPollInterval = 10ms;
constexpr milliseconds kQuietClockWait = 2s;

void say(Environment& env, const std::string& message) {
  env.err << kProgram << ": " << message << '\n';
}

std::string secondsText(milliseconds duration) {
  std::string text = scaledText(duration.count(), 3);
  while (text.back() == '0') {
    text.pop_back();
  }
  if (text.back() == '.') {
    text.pop_back();
  }
  return text + " s";
}

// What the latest failed HID call was and why, for a message; empty when none failed.
std::string recordedFailure(const device::Session& session) {
  const device::HidFailure& f = session.state().lastFailure;
  if (f.operation.empty()) {
    return {};
  }
  return f.operation + " failed" + (f.reason.empty() ? "" : ": " + f.reason);
}

std::string withFailure(const std::string& message, const device::Session& session) {
  const std::string failure = recordedFailure(session);
  return failure.empty() ? message : message + " (" + failure + ")";
}

// Scans, chooses and opens the device; kDone when it is open, otherwise the exit status, told.
int openChosen(device::Session& session, const Options& options, Environment& env) {
  const device::Scan scan = session.scanSerialNumbers();
  if (!scan.finished) {
    say(env, "could not look for devices: " + scan.failure);
    return kDeviceFailed;
  }
  // The scan is complete: the guards that wait for the device list let commands through.
  session.link().setListReady(true);
  const DeviceChoice choice = chooseDevice(scan.serials, options.serial);
  if (!choice.serial) {
    say(env, choice.refusal);
    return kNoDevice;
  }
  if (!session.open(*choice.serial)) {
    const std::string serial = protocol::printableText(*choice.serial, TextBytes::Latin1);
    say(env, withFailure("the device '" + serial + "' could not be opened", session));
    return kDeviceFailed;
  }
  return kDone;
}

void sayRefusedFirmware(Environment& env, const device::Session& session) {
  say(env, "firmware " + session.state().firmwareText +
               " is newer than this program knows; download new software from " +
               diagnostics::kSoftwareDownloadAddress);
}

// Polls every kPollInterval until `done` says so, the time is up or the user stops the
// program; false when the device went away.
template <typename Done, typename OnMessage>
bool pollUntil(device::Session& session, Environment& env, milliseconds limit, Done&& done,
               OnMessage&& onMessage) {
  // By the clock, not by the sleeps: a program stopped and continued has waited too, and so
  // has one whose reads waited for the device.
  const milliseconds start = env.system.now();
  for (;;) {
    if (!session.poll([](std::uint8_t) {}, onMessage)) {
      return false;
    }
    if (done() || env.system.now() - start >= limit || (env.interrupted && env.interrupted())) {
      return true;
    }
    env.system.sleep(kPollInterval);
  }
}

bool pollForMessages(device::Session& session, Environment& env, milliseconds limit) {
  return pollUntil(
      session, env, limit, [&] { return missingMessages(session.receiver().state()).empty(); },
      [](std::uint8_t) {});
}

int deviceGone(device::Session& session, Environment& env) {
  say(env, withFailure("the device went away", session));
  session.link().closeHandles();
  return kDeviceFailed;
}

StatusView statusView(const device::Session& session,
                      const std::optional<protocol::Configuration>& configuration) {
  StatusView view;
  view.device = deviceView(session.identity());
  if (configuration) {
    view.settings = settingsView(*configuration);
  }
  view.receiver = session.receiver().state();
  return view;
}

void sayMissing(Environment& env, const std::vector<std::string>& missing, milliseconds timeout) {
  if (missing.empty()) {
    return;
  }
  std::string names;
  for (const std::string& name : missing) {
    names += (names.empty() ? "" : ", ") + name;
  }
  say(env, "the receiver sent no " + names + " within " + secondsText(timeout) +
               "; what they carry is unknown");
}

// Runs the start-up as the window does; kDone, or the exit status, told.
int startUp(device::Session& session, Environment& env,
            std::optional<protocol::Configuration>& configuration,
            const device::StartUpOptions& options = {}) {
  const device::Session::StartUp started = session.startUp(options);
  if (started.refused) {
    sayRefusedFirmware(env, session);
    session.link().closeHandles();
    return kDeviceFailed;
  }
  configuration = started.configuration;
  return kDone;
}

// Writes line() after every wait() until the user stops the program. A line nobody reads any
// more (the reader of the pipe has gone, the disk is full) ends it as a failure: going on would
// only hold the device open.
template <typename Wait, typename Line>
int writeLines(device::Session& session, Environment& env, Wait&& wait, Line&& line) {
  const auto interrupted = [&] { return env.interrupted && env.interrupted(); };
  while (!interrupted()) {
    if (!wait()) {
      return deviceGone(session, env);
    }
    if (interrupted()) {
      break;
    }
    env.out << line();
    if (const auto failure = platform::outputFailure(env.out)) {
      say(env, "cannot write to standard output: " + *failure);
      session.close();
      return kDeviceFailed;
    }
  }
  session.close();
  return kDone;
}

int watch(device::Session& session, const Options& options, Environment& env) {
  const std::string serial = session.identity().serial;
  bool first = true;
  // The first line as soon as the receiver has had its say, then one every interval.
  const auto wait = [&] {
    const bool firstLine = std::exchange(first, false);
    return firstLine ? pollForMessages(session, env, receiverTimeout(options))
                     : pollUntil(
                           session, env, *options.watch, [] { return false; }, [](std::uint8_t) {});
  };
  return writeLines(session, env, wait, [&] {
    const device::ReceiverState& receiver = session.receiver().state();
    return options.json ? watchJson(serial, receiver) : watchLine(receiver);
  });
}

int status(device::Session& session, const Options& options, Environment& env) {
  std::optional<protocol::Configuration> configuration;
  if (const int refused = startUp(session, env, configuration)) {
    return refused;
  }
  if (options.watch) {
    return watch(session, options, env);
  }
  // A receiver that has just powered up has not found its fix yet; what it says then is of
  // little use, so the status waits for the fix as long as it may, and shows what there is.
  const milliseconds timeout = receiverTimeout(options);
  const auto fixed = [&] {
    const device::ReceiverState& receiver = session.receiver().state();
    return missingMessages(receiver).empty() && receiver.pvt && receiver.pvt->fixOk();
  };
  device::LockTracker lock;
  const auto follow = [&](std::uint8_t) {
    lock.update(env.system.now(), true, session.receiver().state());
  };
  if (!pollUntil(session, env, timeout, fixed, follow)) {
    return deviceGone(session, env);
  }
  StatusView view = statusView(session, configuration);
  view.lock = lock.figures(env.system.now());
  const std::vector<std::string> missing = missingMessages(view.receiver);
  env.out << (options.json ? statusJson(view, missing) : statusText(view));
  sayMissing(env, missing, timeout);
  int exit = kDone;
  if (!configuration) {
    say(env, withFailure("the device's configuration could not be read", session));
    exit = kDeviceFailed;
  }
  session.close();
  return exit;
}

// What a run of changes came to on one device.
struct Applied {
  std::optional<std::string> refusal;  // "pps: OUT1 carries NMEA (nmea=off first)"
  std::vector<std::string> lines;      // "sent out1-low-power=off" (cascades too), "already fll=on"
  bool anySent = false;
  std::optional<std::string> failure;  // a report the device did not take
};

// Takes the reports the settings sent since the last call; false when the device failed to
// take one. Anything else a rule dropped (a guard, a firmware gate) the window drops as
// silently.
bool takeSent(device::Session& session, Applied& applied) {
  for (const device::SentSetting& sent : session.settings().takeSent()) {
    if (sent.result) {
      applied.lines.push_back("sent " + device::describeSent(sent.value));
      applied.anySent = true;
    } else if (sent.result.failed) {
      applied.failure = std::string(device::settingRow(sent.value.id).name) +
                        " was not sent: " + sent.result.reason;
      return false;
    }
  }
  return true;
}

// Makes the changes as the window's user would, one after the other, with the pause the
// command line documents between two that sent something. Stops at the first refusal or
// failure.
Applied applyChanges(device::Session& session, const std::vector<device::SettingValue>& values,
                     platform::System& system) {
  Applied applied;
  for (const device::SettingValue& value : values) {
    if (applied.anySent) {
      system.sleep(kPollInterval);
    }
    const std::size_t linesBefore = applied.lines.size();
    if (auto refusal = session.settings().change(value)) {
      applied.refusal = std::string(device::settingRow(value.id).name) + ": " + *refusal;
      return applied;
    }
    if (!takeSent(session, applied)) {
      return applied;
    }
    if (applied.lines.size() == linesBefore) {
      // The window's control showed the value already: its user would not have clicked.
      applied.lines.push_back("already " + device::describeSent(value));
    }
  }
  return applied;
}

// The device's own start-up, up to its configuration, without asking the receiver for
// anything: a setting needs no messages, and switching them off afterwards would silence the
// receiver for a window that shows the same device. Nothing is sent yet.
int readSettings(device::Session& session, Environment& env) {
  std::optional<protocol::Configuration> configuration;
  if (const int refused = startUp(session, env, configuration, {.requestMessages = false})) {
    return refused;
  }
  if (!session.state().configured()) {
    say(env,
        withFailure("the device's configuration could not be read; nothing was sent", session));
    session.link().closeHandles();
    return kDeviceFailed;
  }
  // What the start-up's own handlers tried is no change of the user's.
  (void)session.settings().takeSent();
  return kDone;
}

// A simulated twin of the device: its firmware, its report lengths and the configuration it
// reported. The changes are made there first, so that whatever the window would refuse on the
// way (a box that an earlier change locked, say) is found before the device is sent anything.
std::optional<std::string> rehearse(const device::Session& session,
                                    const std::vector<device::SettingValue>& values) {
  constexpr const char16_t* kTwin = u"twin";
  const device::ConnectionState& s = session.state();
  platform::sim::SimHid hid;
  platform::sim::SimSystem system;
  hid.attach({.serial = kTwin,
              .versionNumber = s.attributes.versionNumber,
              .inputLength = s.caps.inputReportByteLength,
              .featureLength = s.caps.featureReportByteLength,
              .configuration = session.configurationReport(),
              .receiver = false});
  device::Session twin(hid, system);
  twin.link().setListReady(true);
  (void)twin.open("twin");
  (void)twin.startUp({.requestMessages = false});
  return applyChanges(twin, values, system).refusal;
}

int reportApplied(device::Session& session, const Applied& applied, Environment& env) {
  for (const std::string& line : applied.lines) {
    env.out << line << '\n';
  }
  session.link().closeHandles();
  const std::optional<std::string>& problem = applied.failure ? applied.failure : applied.refusal;
  if (problem) {
    say(env, *problem);
    if (applied.anySent) {
      say(env, "the settings before it were sent");
    }
    return kDeviceFailed;
  }
  return kDone;
}

int set(device::Session& session, const std::vector<device::SettingValue>& values,
        Environment& env) {
  if (const int status = readSettings(session, env)) {
    return status;
  }
  if (auto refusal = rehearse(session, values)) {
    say(env, *refusal);
    say(env, "nothing was sent");
    session.link().closeHandles();
    return kBadUsage;
  }
  return reportApplied(session, applyChanges(session, values, env.system), env);
}

int factoryReset(device::Session& session, Environment& env) {
  if (const int status = readSettings(session, env)) {
    return status;
  }
  session.settings().factoryReset();
  Applied applied;
  (void)takeSent(session, applied);
  return reportApplied(session, applied, env);
}

std::string clockText(const platform::UtcTime& t) {
  const std::string ms = std::to_string(t.milliseconds);
  return protocol::isoDateTime(t.year, t.month, t.day, t.hour, t.minute, t.second) + "." +
         std::string(3 - ms.size(), '0') + ms + "Z";
}

int setClock(device::Session& session, const Options& options, Environment& env) {
  std::optional<protocol::Configuration> configuration;
  if (const int refused = startUp(session, env, configuration)) {
    return refused;
  }
  std::optional<platform::UtcTime> setTo;
  std::chrono::nanoseconds moved{0};  // how far the clock is set forward (backward if negative)
  bool accepted = false;
  device::FreshTime fresh;
  // Only a time the next epoch vouches for, carried forward to the moment it is set: one that
  // waited in the queue while the program was stopped would set the clock back by as long.
  const auto onMessage = [&](std::uint8_t id) {
    const auto sample = id == protocol::kUbxIdNavPvt ? session.timeSample() : std::nullopt;
    if (setTo || !sample) {
      return;
    }
    if (const auto confirmed = fresh.confirm(*sample)) {
      setTo = device::clockTimeAt(*confirmed, env.system.now());
      moved = confirmed->offset();
      accepted = env.system.setSystemTime(*setTo);
    }
  };
  // A receiver that has its time answers within a second; one that is still looking for it
  // may take a minute, which the user should not have to sit through in silence.
  const milliseconds timeout = receiverTimeout(options);
  const milliseconds start = env.system.now();
  const auto set = [&] { return setTo.has_value(); };
  if (!pollUntil(session, env, std::min(kQuietClockWait, timeout), set, onMessage)) {
    return deviceGone(session, env);
  }
  if (const milliseconds left = timeout - (env.system.now() - start); !setTo && left > 0ms) {
    say(env, "waiting up to " + secondsText(left) + " more for a valid time from the receiver");
    if (!pollUntil(session, env, left, set, onMessage)) {
      return deviceGone(session, env);
    }
  }
  session.close();
  if (!setTo) {
    say(env, "the receiver named no valid time within " + secondsText(timeout));
    return kDeviceFailed;
  }
  if (!accepted) {
    const std::string reason = env.system.clockRefusal();
    say(env, "the clock could not be set to " + clockText(*setTo) + ": " +
                 (reason.empty() ? "the system refused" : reason));
    return kDeviceFailed;
  }
  env.out << "clock set to " << clockText(*setTo)
          << (env.simulated ? " (simulated: this computer's clock was left alone)" : "") << '\n'
          << "clock moved by " << (moved < 0ns ? "-" : "+")
          << scaledText(std::chrono::round<milliseconds>(moved < 0ns ? -moved : moved).count(), 3)
          << " s\n";
  return kDone;
}

// The state the window's diagnostics link sends, for a window that has just read the device.
diagnostics::DiagnosticsState diagnosticsState(const device::Session& session,
                                               platform::System& system) {
  const device::ConnectionState& s = session.state();
  const device::ReceiverState& r = session.receiver().state();
  diagnostics::DiagnosticsState d;
  d.serialNumber = s.serial;
  d.latitude = r.latitude;
  d.longitude = r.longitude;
  d.altitude = r.altitude.value_or(0);
  d.firmwareText = s.firmwareText;
  d.firmware = s.firmware;
  d.satellitesUsed = r.satellitesUsed;
  d.averageCno = r.averageCno;
  d.statusByte = r.statusByte.value_or(0);
  d.clockDrift = r.clockDrift.value_or(0);
  d.osVersion = system.operatingSystemVersion();
  d.gnssSelection = s.gnssSelection;
  d.dynamicModel = s.dynamicModel;
  d.antennaCurrent = s.antennaCurrent;
  // The boxes as the window's start-up fills them.
  const device::SettingsState& boxes = session.settings().state();
  d.out1Text = boxes[device::Entry::Out1].text;
  d.out2Text = boxes[device::Entry::Out2].text;
  d.fll = boxes[device::Box::Fll].ticked ? 1 : 0;
  d.nmea = boxes[device::Box::Nmea].ticked ? 1 : 0;
  return d;
}

int diagnosticsUrl(device::Session& session, const Options& options, Environment& env) {
  std::optional<protocol::Configuration> configuration;
  if (const int refused = startUp(session, env, configuration)) {
    return refused;
  }
  const milliseconds timeout = receiverTimeout(options);
  if (!pollForMessages(session, env, timeout)) {
    return deviceGone(session, env);
  }
  sayMissing(env, missingMessages(session.receiver().state()), timeout);
  // Numbers in the address are written as the window writes them, in the user's separator.
  const char separator = env.system.decimalSeparator();
  env.out << diagnostics::diagnosticsAddress(diagnostics::kDiagnosticsPageAddress,
                                             diagnosticsState(session, env.system), separator)
          << '\n';
  session.close();
  return kDone;
}

int chronyConfig(device::Session& session, const Options& options, Environment& env) {
  const device::Scan scan = session.scanSerialNumbers();
  if (!scan.finished) {
    say(env, "could not look for devices: " + scan.failure);
    return kDeviceFailed;
  }
  std::vector<refclock::ChronyRefclock> refclocks = refclock::numberedRefclocks(scan.serials);
  if (options.serial) {
    const DeviceChoice choice = chooseDevice(scan.serials, options.serial);
    if (!choice.serial) {
      say(env, choice.refusal);
      return kNoDevice;
    }
    std::erase_if(refclocks, [&](const auto& r) { return r.serial != *choice.serial; });
  } else if (refclocks.empty()) {
    say(env, "no QVR-7130 is attached");
    return kNoDevice;
  }
  env.out << refclock::chronyConfig(
      refclocks,
      options.socketPattern.value_or(std::string(refclock::kDefaultChronySocketPattern)));
  return kDone;
}

// Milliseconds to the microsecond.
std::string millisecondsText(std::chrono::nanoseconds duration) {
  return scaledText(std::chrono::round<std::chrono::microseconds>(duration).count(), 3) + " ms";
}

// One line an interval, as the exporter's history keeps the device, the lock followed all along.
int log(device::Session& session, const Options& options, Environment& env) {
  std::optional<protocol::Configuration> configuration;
  if (const int refused = startUp(session, env, configuration)) {
    return refused;
  }
  device::LockTracker lock;
  const auto follow = [&](std::uint8_t) {
    lock.update(env.system.now(), true, session.receiver().state());
  };
  if (options.csv) {
    env.out << status::historyCsvHeader();
  }
  const std::string serial = session.identity().serial;
  const auto wait = [&] {
    return pollUntil(
        session, env, options.interval, [] { return false; }, follow);
  };
  return writeLines(session, env, wait, [&] {
    const status::HistorySample sample = status::historySample(
        env.unixSeconds(), true, session.receiver().state(), lock.figures(env.system.now()));
    return options.csv ? status::historyCsvLine(sample) : status::historyJsonLine(serial, sample);
  });
}

int timeOffset(device::Session& session, const Options& options, Environment& env) {
  std::optional<protocol::Configuration> configuration;
  if (const int refused = startUp(session, env, configuration)) {
    return refused;
  }
  std::vector<std::chrono::nanoseconds> offsets;
  device::FreshTime fresh;
  // As the exporter gives them to chronyd: epochs with a fix, each once the next vouches for it.
  const auto onMessage = [&](std::uint8_t id) {
    const auto& pvt = session.receiver().state().pvt;
    const auto sample =
        id == protocol::kUbxIdNavPvt && pvt && pvt->fixOk() ? session.timeSample() : std::nullopt;
    if (!sample) {
      return;
    }
    if (const auto confirmed = fresh.confirm(*sample)) {
      offsets.push_back(confirmed->offset());
    }
  };
  // A device reports all the time, its receiver's frames among the reports: reading again at
  // once after a read that brought a frame, and a millisecond later after one that did not,
  // stamps the report that completes a message within a millisecond of its arrival.
  const milliseconds start = env.system.now();
  while (env.system.now() - start < options.duration && !(env.interrupted && env.interrupted())) {
    const std::uint64_t before = session.receiver().counts().frames();
    if (!session.poll([](std::uint8_t) {}, onMessage)) {
      return deviceGone(session, env);
    }
    if (session.receiver().counts().frames() == before) {
      env.system.sleep(1ms);
    }
  }
  session.close();
  const auto summary = refclock::summarise(std::move(offsets));
  if (!summary) {
    say(env, "the receiver named no valid time with a fix within " + secondsText(options.duration));
    return kDeviceFailed;
  }
  const std::string correction =
      scaledText(std::chrono::round<std::chrono::microseconds>(summary->correction()).count(), 6);
  env.out << "Samples              " << summary->samples
          << " (navigation epochs with a valid time and a fix)\n"
          << "Median offset        " << millisecondsText(summary->median)
          << " (receiver time minus this computer's read time)\n"
          << "Interquartile range  " << millisecondsText(summary->interquartileRange) << '\n'
          << "chrony               offset " << correction << " (on the device's refclock line)\n"
          << "ntpd                 fudge time1 " << correction << '\n';
  return kDone;
}

int list(const Options& options, Environment& env) {
  const Listing listing = env.listDevices();
  env.out << (options.json ? listJson(listing.devices) : listing.text);
  return kDone;
}

}  // namespace

std::optional<int> answerWithoutDevice(const ParsedArguments& parsed, const std::string& version,
                                       std::ostream& out, std::ostream& err) {
  return platform::answerEarly(optionParser(),
                               {.error = parsed.error,
                                .command = commandName(parsed.options.command),
                                .help = parsed.options.help,
                                .version = parsed.options.version},
                               version, out, err);
}

int run(const Options& options, Environment& env) {
  if (options.command == Command::List) {
    return list(options, env);
  }
  // Every value is judged before a device is even looked for.
  std::vector<device::SettingValue> values;
  if (options.command == Command::Set) {
    device::ParsedSettings parsed = device::parseSettings(options.assignments);
    if (!parsed.refusals.empty()) {
      for (const std::string& line : parsed.refusals) {
        say(env, line);
      }
      say(env, "nothing was sent");
      return kBadUsage;
    }
    values = std::move(parsed.values);
  }

  device::Session session(env.hid, env.system);
  // Only the list of serial numbers: no device is opened.
  if (options.command == Command::ChronyConfig) {
    return chronyConfig(session, options, env);
  }
  if (const int status = openChosen(session, options, env)) {
    return status;
  }
  switch (options.command) {
    case Command::Status:
      return status(session, options, env);
    case Command::Set:
      return set(session, values, env);
    case Command::FactoryReset:
      return factoryReset(session, env);
    case Command::SetClock:
      return setClock(session, options, env);
    case Command::DiagnosticsUrl:
      return diagnosticsUrl(session, options, env);
    case Command::TimeOffset:
      return timeOffset(session, options, env);
    case Command::Log:
      return log(session, options, env);
    case Command::ChronyConfig:
    case Command::List:
    case Command::None:
      break;
  }
  session.link().closeHandles();
  return kBadUsage;
}

}  // namespace qvr::ctl
