#include "device/session.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace qvr::device {
namespace {

using namespace std::chrono_literals;
using protocol::Command;

// One read takes up to this many bytes of queued input reports, so a 10 ms poll keeps up with
// the device even after the caller was busy for a while.
constexpr std::size_t kReadBytes = 13000;
constexpr auto kRequestPause = 5ms;  // the device needs a breath between start-up requests
constexpr std::uint8_t kRateOff = 0;

}  // namespace

platform::UtcTime clockTimeOf(const protocol::NavPvt& pvt) {
  constexpr double kNanosecondsPerMillisecond = 1e6;
  constexpr int kLastMillisecond = 999;
  // A negative nano (the receiver rounds its time to the nearest second) counts as 0, and a
  // nano that rounds up to a whole second stays at 999 rather than naming an impossible
  // millisecond.
  const int milliseconds =
      pvt.nano < 0
          ? 0
          : std::min(kLastMillisecond,
                     static_cast<int>(std::nearbyint(pvt.nano / kNanosecondsPerMillisecond)));
  return platform::UtcTime{pvt.year, pvt.month,  0,          pvt.day,
                           pvt.hour, pvt.minute, pvt.second, milliseconds};
}

Session::Session(platform::Hid& hid, platform::System& system)
    : system_(system), link_(hid), readBuffer_(kReadBytes + 1) {}

bool Session::open(const std::string& serial) {
  manufacturer_.clear();
  product_.clear();
  return link_.findTheHid(serial);
}

std::optional<std::string> Session::readString(bool (DeviceLink::*read)(std::string&),
                                               std::string& kept) {
  std::string text;
  if (!(link_.*read)(text)) {
    return std::nullopt;
  }
  kept = text;
  return text;
}

std::optional<std::string> Session::readManufacturer() {
  return readString(&DeviceLink::readManufacturer, manufacturer_);
}

std::optional<std::string> Session::readProduct() {
  return readString(&DeviceLink::readProduct, product_);
}

void Session::takeFirmware() {
  ConnectionState& s = link_.state();
  // Always this device's own version: judging it by the previous device's firmware would
  // refuse or misread it whenever its manufacturer string cannot be read.
  s.firmware = protocol::FirmwareVersion::fromVersionNumber(s.attributes.versionNumber);
  s.capabilities = protocol::capabilitiesOf(s.firmware);
  s.firmwareText = s.firmware.text();
}

void Session::pauseBetweenRequests() {
  system_.sleep(kRequestPause);
}

std::optional<protocol::Configuration> Session::readConfiguration() {
  ConnectionState& s = link_.state();
  s.antennaCurrent = -1;
  pauseBetweenRequests();
  std::vector<std::uint8_t> report;
  configurationRead_ = link_.readConfiguration(report);
  if (!configurationRead_) {
    return std::nullopt;
  }
  auto config = protocol::decodeConfiguration(report, s.firmware);
  if (config) {
    if (config->gnssSelection) {
      s.gnssSelection = *config->gnssSelection;
    }
    if (config->dynamicModel) {
      s.dynamicModel = *config->dynamicModel;
    }
    if (config->antennaCurrent) {
      s.antennaCurrent = *config->antennaCurrent;
    }
  }
  return config;
}

bool Session::requestMessages() {
  // A refusal (a report too long for the device, say) is no fault of the device's; only the
  // calls that failed at it count.
  const std::uint64_t failuresBefore = state().hidFailures;
  for (const std::uint8_t id : kPeriodicMessages) {
    link_.setMessageRate(protocol::kUbxClassNav, id, capabilities().messageRate());
  }
  return state().hidFailures == failuresBefore;
}

bool Session::configure() {
  if (!configurationRead_) {
    return false;
  }
  markConfigured();
  if (!requestMessages()) {
    link_.setPhase(Phase::Found);
    return false;
  }
  return true;
}

void Session::stopMessages() {
  for (const std::uint8_t id : kPeriodicMessages) {
    link_.setMessageRate(protocol::kUbxClassNav, id, kRateOff);
  }
}

bool Session::readIdentity() {
  (void)readManufacturer();
  takeFirmware();
  pauseBetweenRequests();
  (void)readProduct();
  pauseBetweenRequests();
  return !capabilities().refused;
}

Session::StartUp Session::startUp() {
  StartUp result;
  link_.setPhase(Phase::Found);
  link_.forgetNotAnswering();
  if (!readIdentity()) {
    result.refused = true;
    return result;
  }
  result.configuration = readConfiguration();
  (void)configure();
  return result;
}

void Session::close() {
  stopMessages();
  link_.closeHandles();
  link_.setPhase(Phase::NoDevice);
}

Identity Session::identity() const {
  const ConnectionState& s = link_.state();
  return Identity{s.serial,       manufacturer_, product_, s.firmware,
                  s.capabilities, s.devicePath,  s.caps};
}

SendResult Session::sendOutputsEnabled(bool on) {
  return link_.send(Command::OutputsEnable, protocol::outputsEnableData(on));
}

SendResult Session::sendFll(bool on) {
  return link_.send(Command::FllMode, protocol::switchData(on));
}

SendResult Session::sendOnePps(bool on) {
  return link_.send(Command::OnePps, protocol::switchData(on));
}

SendResult Session::sendNmea(bool on) {
  if (!capabilities().nmeaSetting) {
    return SendResult::refused("firmware " + state().firmwareText + " has no NMEA setting");
  }
  return link_.send(Command::Nmea, protocol::switchData(on));
}

SendResult Session::sendLowPower(Output output, bool on) {
  if (!capabilities().lowPowerCommands) {
    return SendResult::refused("firmware " + state().firmwareText + " has no low-power setting");
  }
  return link_.send(output == Output::Out1 ? Command::Out1LowPower : Command::Out2LowPower,
                    protocol::switchData(on));
}

SendResult Session::sendSatelliteSystems(const protocol::SatelliteSystems& systems) {
  // Firmware without satellite-system settings is never told about them.
  if (capabilities().receiverSettingsLocked) {
    return SendResult::refused("firmware " + state().firmwareText +
                               " has no satellite-system setting");
  }
  if (auto refusal = link_.guardRefusal(Command::SatelliteSystems)) {
    return *refusal;
  }
  const std::uint8_t selection = protocol::gnssSelectionByte(systems);
  link_.state().gnssSelection = selection;
  return link_.send(Command::SatelliteSystems, std::array{selection});
}

SendResult Session::sendDynamicModel(std::uint8_t model) {
  if (auto refusal = link_.guardRefusal(Command::DynamicModel)) {
    return *refusal;
  }
  link_.state().dynamicModel = model;
  return link_.send(Command::DynamicModel, std::array{model});
}

SendResult Session::sendFrequency(Output output, const protocol::FixedPointHz& word) {
  return link_.send(output == Output::Out1 ? Command::Out1Frequency : Command::Out2Frequency,
                    protocol::frequencyData(word.fractionWord, word.integerHz));
}

SendResult Session::sendFrequency(Output output, std::string_view text, char decimalSeparator) {
  const protocol::FrequencyEntry entry = protocol::frequencyEntry(text, decimalSeparator);
  if (!entry.word) {
    return SendResult::refused(entry.refusal);
  }
  return sendFrequency(output, *entry.word);
}

SendResult Session::blinkFrontLights() {
  return link_.send(Command::BlinkFrontLights);
}

std::optional<std::span<const std::uint8_t>> Session::readReports() {
  readBuffer_[0] = 0;
  std::size_t bytesRead = 0;
  if (!link_.readInputReports(std::span(readBuffer_).first(kReadBytes), bytesRead)) {
    return std::nullopt;
  }
  return std::span<const std::uint8_t>(readBuffer_).first(bytesRead);
}

}  // namespace qvr::device
