// The window's controller and `qvr7130ctl` must send the same reports for the same change, from
// whatever state the device reports. Each case draws a firmware, a configuration report (every
// byte the decoder reads) and a change (one setting, several, or the factory reset), makes the
// change in the window as its user would and with `set` or `factory-reset`, and compares what
// the two devices received, byte for byte and in order. A failure prints the seed and the
// shortest change list that still fails. QVR_EQUIVALENCE_CASES sets the number of cases.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "device/settings_table.h"
#include "platform/sim/sim_hid.h"
#include "platform/sim/sim_system.h"
#include "programs/ctl/program.h"
#include "ui/controls.h"
#include "ui/main_window.h"

namespace qvr::ctl {
namespace {

using device::SettingId;
using platform::sim::DeviceProfile;
using Reports = std::vector<std::vector<std::uint8_t>>;
namespace ids = ui::ctl;

constexpr int kDefaultCases = 10000;

// One version from each firmware generation, drawn anywhere inside it.
std::uint16_t drawFirmware(std::mt19937_64& rng) {
  const std::uint16_t generations[][2] = {{0x0000, 0x00FF}, {0x0100, 0x0102}, {0x0103, 0x0106},
                                          {0x0107, 0x0107}, {0x0108, 0x01FF}, {0x0200, 0x02FF}};
  const auto& g = generations[rng() % std::size(generations)];
  return static_cast<std::uint16_t>(g[0] + rng() % (g[1] - g[0] + 1));
}

std::vector<std::uint8_t> drawConfiguration(std::mt19937_64& rng) {
  std::vector<std::uint8_t> report = platform::sim::defaultConfiguration();
  const auto byte = [&] { return static_cast<std::uint8_t>(rng()); };
  const std::uint8_t formats[] = {0, 1, 1, 1, 7};
  report[1] = formats[rng() % std::size(formats)];
  for (std::size_t i = 2; i < report.size(); ++i) {
    report[i] = byte();
  }
  // Mostly plausible frequencies and receiver settings, sometimes anything at all.
  if (rng() % 4 != 0) {
    report[6] = report[10] = report[14] = report[18] = 0;
  }

  const std::uint8_t models[] = {0, 2, 8};
  if (rng() % 4 != 0) {
    report[23] = models[rng() % std::size(models)];
  }
  if (rng() % 2 != 0) {
    report[25] = 0;
  }
  return report;
}

std::string drawValue(SettingId id, std::mt19937_64& rng) {
  static const char* const kFrequencies[] = {"10000000", "10.5",           "0.9",
                                             " 25e6 ",   "1600000000.999", "12.345678"};
  static const char* const kSystems[] = {
      "none",    "gps",          "gps,sbas,galileo,glonass", "beidou,glonass", "gps,beidou",
      "glonass", "sbas,galileo", "gps,sbas,galileo,beidou"};
  static const char* const kModels[] = {"stationary", "portable", "airborne"};
  switch (device::settingRow(id).kind) {
    case device::ValueKind::Switch:
      return rng() % 2 != 0 ? "on" : "off";
    case device::ValueKind::Frequency:
      return kFrequencies[rng() % std::size(kFrequencies)];
    case device::ValueKind::Systems:
      return kSystems[rng() % std::size(kSystems)];
    case device::ValueKind::Model:
      return kModels[rng() % std::size(kModels)];
  }
  return {};
}

struct Case {
  std::uint16_t firmware = 0;
  std::vector<std::uint8_t> configuration;
  bool factoryReset = false;
  std::vector<std::string> assignments;  // NAME=VALUE, each setting at most once

  [[nodiscard]] std::string describe() const {
    std::ostringstream text;
    text << "firmware " << protocol::FirmwareVersion::fromVersionNumber(firmware).text()
         << ", configuration";
    for (const std::uint8_t b : configuration) {
      text << ' ' << std::hex << static_cast<int>(b);
    }
    text << (factoryReset ? ", factory-reset" : ", set");
    for (const std::string& a : assignments) {
      text << " '" << a << "'";
    }
    return text.str();
  }
};

Case drawCase(std::uint64_t seed) {
  std::mt19937_64 rng(seed);
  Case c{.firmware = drawFirmware(rng), .configuration = drawConfiguration(rng)};
  if (rng() % 8 == 0) {
    c.factoryReset = true;
    return c;
  }
  const std::size_t count = rng() % 3 == 0 ? 1 + rng() % 4 : 1;
  std::vector<bool> taken(device::kSettingCount);
  for (std::size_t i = 0; i < count; ++i) {
    const auto id = static_cast<SettingId>(rng() % device::kSettingCount);
    if (!taken[static_cast<std::size_t>(id)]) {
      taken[static_cast<std::size_t>(id)] = true;
      c.assignments.push_back(std::string(device::settingRow(id).name) + "=" + drawValue(id, rng));
    }
  }
  // Both on is refused before any device is looked at: nothing to compare.
  while (!device::parseSettings(c.assignments).refusals.empty()) {
    c.assignments.pop_back();
  }
  return c;
}

DeviceProfile profileOf(const Case& c) {
  return {.serial = u"QVR000001",
          .versionNumber = c.firmware,
          .configuration = c.configuration,
          .receiver = false};
}

struct Sent {
  Reports reports;
  bool refused = false;  // a change the window would not let its user make
};

ui::ControlId boxOf(SettingId id) {
  switch (id) {
    case SettingId::Outputs:
      return ids::OUT1EN;
    case SettingId::Out1LowPower:
      return ids::Out1power;
    case SettingId::Out2LowPower:
      return ids::Out2power;
    case SettingId::Fll:
      return ids::FLL;
    case SettingId::Pps:
      return ids::PPS;
    default:
      return ids::NMEA;
  }
}

// The user's clicks in the window, in the order the command line documents; the window's user
// cannot click a locked control, and nothing the firmware does not take may go out.
Sent throughTheWindow(const Case& c) {
  platform::sim::SimHid hid;
  platform::sim::SimSystem system;
  platform::sim::SimDevice& device = hid.attach(profileOf(c));
  ui::MainWindow window(hid, system);
  window.load();
  device.clearReceived();
  ui::Form& f = window.form();
  const auto click = [&](ui::ControlId id) {
    if (!f.acceptsInput(id)) {
      return false;
    }
    f.userClick(id);
    return true;
  };
  Sent sent;
  if (c.factoryReset) {
    (void)click(ids::Factory);
  }
  const device::ParsedSettings parsed = device::parseSettings(c.assignments);
  const auto& can = window.connection().capabilities;
  for (const device::SettingValue& v : parsed.values) {
    const std::size_t before = device.received().size();
    bool done = true;
    switch (device::settingRow(v.id).kind) {
      case device::ValueKind::Switch:
        if (f[boxOf(v.id)].value != (v.on ? 1 : 0)) {
          done = click(boxOf(v.id));
        }
        break;
      case device::ValueKind::Frequency: {
        const bool out1 = v.id == SettingId::Out1;
        const ui::ControlId box = out1 ? ids::Out1Freq : ids::Out2Freq;
        f.userType(box, v.text);
        done = f.acceptsInput(box) && click(out1 ? ids::FindFreq : ids::FindFreq2);
        break;
      }
      case device::ValueKind::Systems: {
        const ui::ControlId boxes[] = {ids::GNSS_GPS, ids::GNSS_SBAS, ids::GNSS_Galileo,
                                       ids::GNSS_BeiDou, ids::GNSS_GLONASS};
        const bool wanted[] = {v.systems.gps, v.systems.sbas, v.systems.galileo, v.systems.beidou,
                               v.systems.glonass};
        for (const int tick : {0, 1}) {
          for (std::size_t i = 0; i < std::size(boxes) && done; ++i) {
            if ((wanted[i] ? 1 : 0) == tick && f[boxes[i]].value != tick) {
              done = click(boxes[i]);
            }
          }
        }
        break;
      }
      case device::ValueKind::Model:
        done = f.acceptsInput(ids::dynmodel) && !f[ids::dynmodel].items.empty();
        if (done) {
          f.userChoose(ids::dynmodel, protocol::dynamicModelRow(v.model));
        }
        break;
    }
    if (!done || !device::settingRow(v.id).takenBy(can) || can.refused) {
      // The firmware's gate drops what its control would have sent.
      EXPECT_EQ(device.received().size(), before) << "the window sent what its firmware lacks";
      sent.refused = true;
      return sent;
    }
  }
  sent.reports = device.received();
  return sent;
}

Sent throughTheCommandLine(const Case& c, int& status) {
  platform::sim::SimHid hid;
  platform::sim::SimSystem system;
  platform::sim::SimDevice& device = hid.attach(profileOf(c));
  std::ostringstream out;
  std::ostringstream err;
  Environment env{.hid = hid,
                  .system = system,
                  .out = out,
                  .err = err,
                  .listDevices = [] { return Listing{}; },
                  .interrupted = {},
                  .simulated = true};
  Options options;
  options.command = c.factoryReset ? Command::FactoryReset : Command::Set;
  options.assignments = c.assignments;
  status = run(options, env);
  EXPECT_EQ(hid.openHandles(), 0);
  return {device.received(), status == kBadUsage};
}

// What is wrong with the case; empty when both ways agree. Counts the cases that sent anything,
// so that a generator gone blind shows.
int casesThatSent = 0;

std::string disagreement(const Case& c) {
  const Sent window = throughTheWindow(c);
  casesThatSent += window.reports.empty() ? 0 : 1;
  int status = 0;
  const Sent command = throughTheCommandLine(c, status);
  const bool refusedFirmware =
      protocol::capabilitiesOf(protocol::FirmwareVersion::fromVersionNumber(c.firmware)).refused;
  if (refusedFirmware) {
    return status == kDeviceFailed && command.reports.empty() ? "" : "refused firmware was used";
  }
  if (window.refused != command.refused) {
    return window.refused ? "the command line made a change the window refuses"
                          : "the command line refused a change the window makes";
  }
  if (command.refused && !command.reports.empty()) {
    return "a refused change sent something";
  }
  if (!command.refused && (status != kDone || command.reports != window.reports)) {
    std::ostringstream text;
    text << "exit " << status << ", window sent " << window.reports.size()
         << " reports, the command line " << command.reports.size();
    return text.str();
  }
  return {};
}

// The case with as few changes as still fail.
Case shortest(Case c) {
  for (bool shrunk = true; shrunk;) {
    shrunk = false;
    for (std::size_t i = 0; i < c.assignments.size() && c.assignments.size() > 1; ++i) {
      Case smaller = c;
      smaller.assignments.erase(smaller.assignments.begin() + static_cast<std::ptrdiff_t>(i));
      if (!disagreement(smaller).empty()) {
        c = smaller;
        shrunk = true;
      }
    }
  }
  return c;
}

TEST(Equivalence, TheWindowAndTheCommandLineSendTheSameReports) {
  const char* wanted = std::getenv("QVR_EQUIVALENCE_CASES");
  const int cases = wanted != nullptr ? std::atoi(wanted) : kDefaultCases;
  const std::uint64_t firstSeed = 7130;
  int failures = 0;
  for (int i = 0; i < cases && failures < 3; ++i) {
    const std::uint64_t seed = firstSeed + static_cast<std::uint64_t>(i);
    const Case c = drawCase(seed);
    const std::string problem = disagreement(c);
    if (!problem.empty()) {
      ++failures;
      const Case small = shortest(c);
      ADD_FAILURE() << "seed " << seed << ": " << disagreement(small) << "\n  " << small.describe();
    }
  }
  EXPECT_GE(casesThatSent, cases / 4);
}

}  // namespace
}  // namespace qvr::ctl
