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

// A front end without a window is shown nothing.
class NoWindow final : public StartUpObserver {
 public:
  void startUpBegan() override {}
  void identityRead(const std::optional<std::string>& /*manufacturer*/,
                    const std::string& /*firmwareText*/,
                    const std::optional<std::string>& /*product*/) override {}
  void firmwareRefused(const std::string& /*firmwareText*/) override {}
  void deviceAccepted() override {}
  void configured() override {}
  void controlsEnabled(bool /*enabled*/) override {}
};
StartUpObserver& noWindow() {
  static NoWindow none;
  return none;
}

}  // namespace

Session::Session(platform::Hid& hid, platform::System& system)
    : system_(system), link_(hid), observer_(&noWindow()), readBuffer_(kReadBytes + 1) {}

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
  if (!link_.readConfiguration(report)) {
    configurationReport_.clear();
    return std::nullopt;
  }
  configurationReport_ = report;
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

bool Session::configure(bool requestMessages) {
  if (configurationReport_.empty()) {
    return false;
  }
  link_.setPhase(Phase::Configured);
  if (requestMessages && !this->requestMessages()) {
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

void Session::enableControls(bool enabled) {
  if (settings_.enable(enabled)) {
    observer_->controlsEnabled(enabled);
  }
}

void Session::setObserver(StartUpObserver* observer) {
  observer_ = observer != nullptr ? observer : &noWindow();
}

Session::StartUp Session::startUp(const StartUpOptions& options) {
  // A start-up inside one that leaves the settings alone leaves them alone too.
  const bool mutedBefore = muted_;
  muted_ = muted_ || !options.sendSettings;
  StartUp result;
  ConnectionState& s = link_.state();
  if (s.configured()) {
    link_.setPhase(Phase::Found);
  }
  link_.forgetNotAnswering();
  observer_->startUpBegan();
  settings_.beginStartUp();
  enableControls(false);
  if (s.found()) {
    const std::optional<std::string> manufacturer = readManufacturer();
    takeFirmware();
    pauseBetweenRequests();
    const std::optional<std::string> product = readProduct();
    pauseBetweenRequests();
    observer_->identityRead(manufacturer, s.firmwareText, product);
    result.refused = s.capabilities.refused;
    if (result.refused) {
      observer_->firmwareRefused(s.firmwareText);
    } else {
      result.configuration = configureAccepted(options.requestMessages);
    }
  }
  muted_ = mutedBefore;
  return result;
}

std::optional<protocol::Configuration> Session::configureAccepted(bool requestMessages) {
  observer_->deviceAccepted();
  settings_.unlockForDevice();
  std::optional<protocol::Configuration> configuration = readConfiguration();
  if (configuration) {
    settings_.applyConfiguration(*configuration);
  }
  (void)configure(requestMessages);
  observer_->configured();
  enableControls(true);
  if (capabilities().receiverSettings) {
    settings_.makeSatelliteSystemsConsistent();
  }
  return configuration;
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

SendResult Session::send(const SettingValue& value) {
  if (muted_) {
    return SendResult::refused("the device's settings are left as they are");
  }
  const SettingRow& row = settingRow(value.id);
  if (auto firmware = firmwareRefusal(value.id, capabilities(), state().firmwareText)) {
    return SendResult::refused(*firmware);
  }
  if (auto refusal = link_.guardRefusal(row.command)) {
    return *refusal;
  }
  const std::vector<std::uint8_t> data = row.encode(value);
  // What the diagnostics report names as the device's receiver settings.
  if (value.id == SettingId::Gnss) {
    link_.state().gnssSelection = data.front();
  } else if (value.id == SettingId::DynamicModel) {
    link_.state().dynamicModel = data.front();
  }
  return link_.send(row.command, data);
}

SendResult Session::blinkFrontLights() {
  return link_.send(Command::BlinkFrontLights);
}

void Session::pause(std::chrono::milliseconds duration) {
  system_.sleep(duration);
}

char Session::decimalSeparator() const {
  return system_.decimalSeparator();
}

std::optional<TimeSample> Session::timeSample() const {
  const auto& pvt = receiver_.state().pvt;
  return pvt ? timeSampleOf(*pvt, readStamp_, readEmptiedQueue_) : std::nullopt;
}

std::optional<std::span<const std::uint8_t>> Session::readReports(
    std::chrono::milliseconds firstReportWait) {
  readBuffer_[0] = 0;
  std::size_t bytesRead = 0;
  if (!link_.readInputReports(std::span(readBuffer_).first(kReadBytes), bytesRead, readStamp_,
                              firstReportWait)) {
    return std::nullopt;
  }
  readEmptiedQueue_ = bytesRead + link_.state().caps.inputReportByteLength <= kReadBytes;
  return std::span<const std::uint8_t>(readBuffer_).first(bytesRead);
}

}  // namespace qvr::device
