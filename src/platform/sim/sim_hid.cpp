#include "platform/sim/sim_hid.h"

#include <cstdio>

#include <algorithm>
#include <array>
#include <charconv>
#include <optional>
#include <string_view>
#include <thread>

#include "protocol/bytes.h"
#include "protocol/commands.h"

namespace qvr::platform::sim {
namespace {

constexpr const char* kPathPrefix = "sim-hid:";
// A hung device's calls fail with this; how long a real backend waits is its own business.
constexpr const char* kNoAnswer = "the device does not answer";

// Input report: report ID, status byte, data-present byte, then receiver bytes.
constexpr std::size_t kReportStatus = 1;
constexpr std::size_t kReportDataPresent = 2;
constexpr std::size_t kReportHeader = 3;

// Configuration report. Format 0 holds only the outputs switch and OUT1 in whole hertz.
constexpr std::size_t kConfigFormat = 1;
constexpr std::uint8_t kConfigFormatOneOutput = 0;
constexpr std::uint8_t kConfigFormatTwoOutputs = 1;
constexpr std::size_t kConfigFlags = 2;
constexpr std::uint8_t kFormat0OutputsEnabled = 0x10;
constexpr std::uint8_t kFormat1OutputsEnabled = 0x20;
constexpr std::uint8_t kFormat1OnePps = 0x80;
constexpr std::size_t kFormat0Out1Hz = 3;  // i32, Hz
// Each a u32 fraction in 2^-32 Hz, then an i32 integer word in Hz.
constexpr std::size_t kOut1Frequency = 3;
constexpr std::size_t kOut2Frequency = 11;
constexpr std::size_t kConfigFll = 19;
constexpr std::size_t kConfigOut1LowPower = 20;
constexpr std::size_t kConfigOut2LowPower = 21;
constexpr std::size_t kConfigSystems = 22;
constexpr std::size_t kConfigDynamicModel = 23;
constexpr std::size_t kConfigNmea = 25;
constexpr std::uint8_t kBit0 = 0x01;

// Command data starts at byte 2 of a feature report. A switch is 0 or 1, except the outputs
// switch, which is 0 or 3; the firmware leaves a setting alone for a value it does not know.
constexpr std::uint8_t kSwitchOn = 1;
constexpr std::uint8_t kOutputsOn = 3;
constexpr std::size_t kWord = 4;
constexpr std::size_t kFrequencyData = 2 * kWord;  // fraction word, integer word

// A long stretch that nobody reads is produced in steps of this, dropping what overflows in
// between, so it costs no more memory than the input buffer holds.
constexpr std::chrono::milliseconds kCatchUpStep{1000};
// Sent bytes are only moved out of the way once this many have piled up in front.
constexpr std::size_t kCompactAfter = std::size_t{64} * 1024;

// The device number in a path of this bus, or nothing for a path that is not one of ours.
std::optional<std::size_t> deviceIndexOf(std::string_view path) {
  const std::string_view prefix = kPathPrefix;
  if (!path.starts_with(prefix)) {
    return std::nullopt;
  }
  const std::string_view digits = path.substr(prefix.size());
  std::size_t index = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), index);
  if (error != std::errc{} || end != digits.data() + digits.size()) {
    return std::nullopt;
  }
  return index;
}

void fitTo(std::vector<std::uint8_t>& bytes, std::span<const std::uint8_t> source,
           std::size_t length) {
  bytes.assign(length, 0);
  std::copy_n(source.begin(), std::min(length, source.size()), bytes.begin());
}

bool putString(const std::u16string& text, DeviceStringBuffer& out) {
  out.fill(0);
  // As the HID class driver does: as many code units as fit, zero-terminated only when the
  // terminator fits too.
  for (std::size_t i = 0; i < text.size() && 2 * i + 1 < out.size(); ++i) {
    protocol::writeU16Le(out, 2 * i, text[i]);
  }
  return true;
}

// Writes `bytes` at `offset` when the whole field fits; a report too short for a field
// (a short feature length) has nowhere to keep that setting.
void putField(std::vector<std::uint8_t>& report, std::size_t offset,
              std::span<const std::uint8_t> bytes) {
  if (offset + bytes.size() <= report.size()) {
    std::copy(bytes.begin(), bytes.end(), report.begin() + static_cast<std::ptrdiff_t>(offset));
  }
}

void putBit(std::vector<std::uint8_t>& report, std::size_t offset, std::uint8_t mask, bool on) {
  if (offset < report.size()) {
    report[offset] = static_cast<std::uint8_t>(on ? report[offset] | mask : report[offset] & ~mask);
  }
}

// The state a switch command asks for, or nothing for a value the firmware does not know.
std::optional<bool> switchState(std::uint8_t value, std::uint8_t on) {
  if (value == on) {
    return true;
  }
  if (value == 0) {
    return false;
  }
  return std::nullopt;
}

}  // namespace

std::vector<std::uint8_t> defaultConfiguration() {
  constexpr std::uint32_t kTenMegahertz = 10'000'000;
  std::vector<std::uint8_t> report(26, 0);
  report[1] = 1;     // two-output format
  report[2] = 0x20;  // outputs enabled, 1PPS off
  protocol::writeU32Le(report, kOut1Frequency + kWord, kTenMegahertz);
  protocol::writeU32Le(report, kOut2Frequency + kWord, kTenMegahertz);
  report[22] = 0x47;  // GPS, SBAS, Galileo, GLONASS
  report[23] = 2;     // stationary
  report[24] = 12;    // antenna current
  return report;
}

BusClock BusClock::realTime() {
  const auto steady = std::chrono::steady_clock::now();
  const auto utc = std::chrono::system_clock::now();
  BusClock clock;
  clock.utcAtZero_ = std::chrono::floor<std::chrono::seconds>(utc);
  clock.steadyZero_ = steady - (utc - clock.utcAtZero_);
  return clock;
}

std::chrono::nanoseconds BusClock::now() const {
  if (steadyZero_) {
    return std::chrono::steady_clock::now() - *steadyZero_;
  }
  return clock_ ? clock_() : std::chrono::nanoseconds{0};
}

void BusClock::sleepUntil(std::chrono::nanoseconds t) const {
  std::this_thread::sleep_until(*steadyZero_ + t);
}

SimDevice::SimDevice(DeviceProfile profile, std::shared_ptr<const BusClock> clock)
    : profile_(std::move(profile)),
      clock_(clock ? std::move(clock) : std::make_shared<BusClock>()) {
  setConfiguration(profile_.configuration.empty() ? defaultConfiguration()
                                                  : profile_.configuration);
  powerUp();
}

void SimDevice::setConfiguration(std::span<const std::uint8_t> report) {
  fitTo(configuration_, report, profile_.featureLength);
  selectConfiguredSystems();
}

void SimDevice::selectConfiguredSystems() {
  if (receiver_ && configuration_.size() > kConfigSystems &&
      configuration_[kConfigFormat] == kConfigFormatTwoOutputs) {
    receiver_->selectSystems(configuration_[kConfigSystems]);
  }
}

std::uint64_t SimDevice::receiverSeed() const {
  // FNV-1a over the serial number, then each power-up a sequence of its own.
  std::uint64_t hash = 0xCBF2'9CE4'8422'2325ULL;
  for (const char16_t unit : profile_.serial) {
    hash = (hash ^ unit) * 0x0000'0100'0000'01B3ULL;
  }
  return profile_.seed ^ hash ^ (generation_ * 0x9E37'79B9'7F4A'7C15ULL);
}

void SimDevice::powerUp() {
  caughtUp_ = now();
  if (!profile_.receiver) {
    return;
  }
  receiver_.emplace(receiverSeed(), std::chrono::floor<std::chrono::milliseconds>(caughtUp_),
                    clock_->utcAtZero(), profile_.delivery, profile_.start);
  selectConfiguredSystems();
}

void SimDevice::powerDown() {
  receiver_.reset();
  inputQueue_.clear();
  stream_.clear();
  streamSent_ = 0;
}

void SimDevice::applyCommand(std::span<const std::uint8_t> report) {
  using protocol::Command;
  if (report.size() <= protocol::kCommandDataOffset) {
    return;
  }
  const auto command = static_cast<Command>(report[1]);
  const auto data = report.subspan(protocol::kCommandDataOffset);
  if (command == Command::BlinkFrontLights) {
    ++blinks_;
    return;
  }
  const std::uint8_t format =
      configuration_.size() > kConfigFormat ? configuration_[kConfigFormat] : std::uint8_t{0xFF};
  const auto setBit = [&](std::size_t offset, std::uint8_t mask, std::uint8_t on) {
    if (const auto state = switchState(data[0], on)) {
      putBit(configuration_, offset, mask, *state);
    }
  };
  if (format == kConfigFormatOneOutput) {
    if (command == Command::OutputsEnable) {
      setBit(kConfigFlags, kFormat0OutputsEnabled, kOutputsOn);
    } else if (command == Command::Out1Frequency && data.size() >= kFrequencyData) {
      // Whole hertz only: the integer word goes in, the fraction is lost.
      putField(configuration_, kFormat0Out1Hz, data.subspan(kWord, kWord));
    }
    return;
  }
  if (format != kConfigFormatTwoOutputs) {
    return;
  }
  switch (command) {
    case Command::OutputsEnable:
      setBit(kConfigFlags, kFormat1OutputsEnabled, kOutputsOn);
      break;
    case Command::SatelliteSystems:
      putField(configuration_, kConfigSystems, data.first(1));
      break;
    case Command::DynamicModel:
      putField(configuration_, kConfigDynamicModel, data.first(1));
      break;
    case Command::Out1Frequency:
    case Command::Out2Frequency:
      if (data.size() >= kFrequencyData) {
        putField(configuration_,
                 command == Command::Out1Frequency ? kOut1Frequency : kOut2Frequency,
                 data.first(kFrequencyData));
      }
      break;
    case Command::FllMode:
      setBit(kConfigFll, kBit0, kSwitchOn);
      break;
    case Command::OnePps:
      setBit(kConfigFlags, kFormat1OnePps, kSwitchOn);
      break;
    case Command::Out1LowPower:
      setBit(kConfigOut1LowPower, kBit0, kSwitchOn);
      break;
    case Command::Out2LowPower:
      setBit(kConfigOut2LowPower, kBit0, kSwitchOn);
      break;
    case Command::Nmea:
      if (const auto state = switchState(data[0], kSwitchOn)) {
        putField(configuration_, kConfigNmea, std::array{*state ? kSwitchOn : std::uint8_t{0}});
      }
      break;
    case Command::BlinkFrontLights:
    case Command::ReceiverMessage:
      break;
  }
}

std::uint8_t SimDevice::statusByte() const {
  if (statusOverride_) {
    return *statusOverride_;
  }
  return receiver_ ? receiver_->statusByte(std::chrono::floor<std::chrono::milliseconds>(now()))
                   : kPowerUpStatus;
}

void SimDevice::injectBytes(std::span<const std::uint8_t> bytes) {
  catchUp();
  stream_.insert(stream_.end(), bytes.begin(), bytes.end());
  dropOverflow();
}

void SimDevice::catchUp() {
  if (!receiver_) {
    return;
  }
  const std::chrono::nanoseconds target = now();
  // At least once, so that answers to commands go out even while time stands still.
  do {
    caughtUp_ = std::min(target, caughtUp_ + kCatchUpStep);
    receiver_->appendUntil(caughtUp_, stream_);
    dropOverflow();
  } while (caughtUp_ < target);
}

std::size_t SimDevice::bytesPerReport() const {
  return profile_.inputLength > kReportHeader ? profile_.inputLength - kReportHeader : 0;
}

void SimDevice::dropOverflow() {
  const std::size_t perReport = bytesPerReport();
  if (perReport == 0) {
    // Reports this short carry no receiver bytes at all.
    streamSent_ = stream_.size();
  } else if (const std::size_t room = kInputBufferReports * perReport;
             pendingStreamBytes() > room) {
    // Whole reports go, oldest first; the host's parser finds its way back into the stream.
    const std::size_t excess = pendingStreamBytes() - room;
    streamSent_ += (excess + perReport - 1) / perReport * perReport;
    streamSent_ = std::min(streamSent_, stream_.size());
  }
  compactStream();
}

void SimDevice::compactStream() {
  if (streamSent_ == stream_.size()) {
    stream_.clear();
    streamSent_ = 0;
  } else if (streamSent_ >= kCompactAfter) {
    stream_.erase(stream_.begin(), stream_.begin() + static_cast<std::ptrdiff_t>(streamSent_));
    streamSent_ = 0;
  }
}

bool SimDevice::readable() const {
  return !silent_ && (!inputQueue_.empty() || pendingStreamBytes() > 0);
}

std::optional<std::chrono::nanoseconds> SimDevice::nextReport() const {
  if (silent_ || !receiver_) {
    return std::nullopt;
  }
  return receiver_->nextDelivery();
}

void SimDevice::takeReports(std::span<std::uint8_t> buffer, std::size_t& bytesRead,
                            bool statusReport) {
  const std::size_t length = profile_.inputLength;
  if (silent_) {
    streamSent_ = stream_.size();
    compactStream();
    return;
  }
  // Whole reports only, as many as fit, oldest first: first the ones a test queued, which
  // stand for reports already waiting, then the receiver's stream.
  while (!inputQueue_.empty() && bytesRead + length <= buffer.size()) {
    const auto& report = inputQueue_.front();
    std::copy(report.begin(), report.end(),
              buffer.begin() + static_cast<std::ptrdiff_t>(bytesRead));
    bytesRead += length;
    inputQueue_.pop_front();
  }
  const std::uint8_t status = statusByte();
  const auto putReport = [&](std::size_t dataBytes) {
    const auto report = buffer.subspan(bytesRead, length);
    std::fill(report.begin(), report.end(), 0);
    report[kReportStatus] = status;
    report[kReportDataPresent] = dataBytes > 0 ? 1 : 0;
    const auto from = stream_.begin() + static_cast<std::ptrdiff_t>(streamSent_);
    std::copy_n(from, dataBytes, report.begin() + kReportHeader);
    streamSent_ += dataBytes;
    bytesRead += length;
  };
  while (pendingStreamBytes() > 0 && bytesRead + length <= buffer.size()) {
    putReport(std::min(bytesPerReport(), pendingStreamBytes()));
  }
  if (bytesRead == 0 && statusReport && receiver_ && length >= kReportHeader) {
    putReport(0);
  }
  compactStream();
}

void SimDevice::queueInputReport(std::span<const std::uint8_t> report) {
  std::vector<std::uint8_t> fitted;
  fitTo(fitted, report, profile_.inputLength);
  inputQueue_.push_back(std::move(fitted));
}

SimDevice& SimHid::attach(DeviceProfile profile) {
  devices_.push_back(std::make_unique<SimDevice>(std::move(profile), clock_));
  return *devices_.back();
}

void SimHid::unplug(SimDevice& device) {
  device.present_ = false;
  ++device.generation_;
  device.powerDown();
  // The handles stay open on the host's side until it closes them; they just stop working.
}

void SimHid::plug(SimDevice& device) {
  if (device.present_) {
    return;
  }
  device.present_ = true;
  device.powerUp();
}

SimDevice* SimHid::find(const std::u16string& serial) {
  for (const auto& device : devices_) {
    if (device->profile().serial == serial) {
      return device.get();
    }
  }
  return nullptr;
}

int SimHid::openHandles() const {
  int total = 0;
  for (const auto& device : devices_) {
    total += device->openHandles();
  }
  return total;
}

bool SimHid::presentInterfaces(std::vector<std::string>& paths) {
  paths.clear();
  for (std::size_t i = 0; i < devices_.size(); ++i) {
    if (devices_[i]->present()) {
      paths.push_back(kPathPrefix + std::to_string(i));
    }
  }
  return true;
}

bool SimHid::fail(const char* reason) {
  lastError_ = reason;
  unanswered_ = nullptr;
  return false;
}

bool SimHid::hangUp(const SimDevice& device) {
  fail(kNoAnswer);
  unanswered_ = &device;
  return false;
}

bool SimHid::answering() const {
  return unanswered_ == nullptr || !unanswered_->hung() || !unanswered_->present();
}

std::string SimHid::plugIn(const std::string& path) {
  const std::optional<std::size_t> index = deviceIndexOf(path);
  return index && *index < devices_.size() ? std::to_string(devices_[*index]->generation_) : "";
}

HidHandle SimHid::open(const std::string& path, OpenMode /*mode*/) {
  unanswered_ = nullptr;
  const std::optional<std::size_t> index = deviceIndexOf(path);
  if (!index || *index >= devices_.size()) {
    fail("no device has this path");
    return kInvalidHandle;
  }
  SimDevice& device = *devices_[*index];
  if (!device.present()) {
    fail("the device is unplugged");
    return kInvalidHandle;
  }
  if (device.hung()) {
    hangUp(device);
    return kInvalidHandle;
  }
  if (device.profile().unopenable) {
    fail("the device cannot be opened");
    return kInvalidHandle;
  }
  const HidHandle handle = nextHandle_++;
  handles_[handle] = OpenHandle{&device, device.generation_};
  ++device.openHandles_;
  return handle;
}

bool SimHid::close(HidHandle handle) {
  const auto it = handles_.find(handle);
  if (it == handles_.end()) {
    return fail("no such handle");
  }
  --it->second.device->openHandles_;
  handles_.erase(it);
  return true;
}

SimDevice* SimHid::live(HidHandle handle) {
  unanswered_ = nullptr;  // whether the device answers is a matter of the latest call
  const auto it = handles_.find(handle);
  if (it == handles_.end()) {
    fail("no such handle");
    return nullptr;
  }
  SimDevice* device = it->second.device;
  if (!device->present() || device->generation_ != it->second.generation) {
    // Plugged back or not, the handle was opened on a device that has since gone.
    fail("the device is unplugged");
    return nullptr;
  }
  if (device->hung()) {
    hangUp(*device);
    return nullptr;
  }
  return device;
}

bool SimHid::attributes(HidHandle handle, HidAttributes& out) {
  const SimDevice* device = live(handle);
  if (device == nullptr) {
    return false;
  }
  out = HidAttributes{device->profile().vendorId, device->profile().productId,
                      device->profile().versionNumber};
  return true;
}

bool SimHid::capabilities(HidHandle handle, HidCaps& out) {
  const SimDevice* device = live(handle);
  if (device == nullptr) {
    return false;
  }
  out = HidCaps{device->profile().inputLength, device->profile().featureLength};
  return true;
}

bool SimHid::serialNumber(HidHandle handle, DeviceStringBuffer& out) {
  const SimDevice* device = live(handle);
  if (device == nullptr) {
    return false;
  }
  if (device->profile().unreadableSerial) {
    return fail("the string cannot be read");
  }
  return putString(device->profile().serial, out);
}

bool SimHid::manufacturer(HidHandle handle, DeviceStringBuffer& out) {
  const SimDevice* device = live(handle);
  if (device == nullptr) {
    return false;
  }
  if (device->profile().unreadableStrings) {
    return fail("the string cannot be read");
  }
  return putString(device->profile().manufacturer, out);
}

bool SimHid::product(HidHandle handle, DeviceStringBuffer& out) {
  const SimDevice* device = live(handle);
  if (device == nullptr) {
    return false;
  }
  if (device->profile().unreadableStrings) {
    return fail("the string cannot be read");
  }
  return putString(device->profile().product, out);
}

bool SimHid::getFeature(HidHandle handle, std::span<std::uint8_t> buffer) {
  const SimDevice* device = live(handle);
  if (device == nullptr) {
    return false;
  }
  // The class driver refuses a buffer of another length than the device's feature reports.
  if (buffer.size() != device->profile().featureLength) {
    return fail("the buffer is not as long as the device's feature reports");
  }
  if (buffer.empty() || buffer[0] != 0) {
    return fail("the device has no feature report with this ID");
  }
  std::copy(device->configuration_.begin(), device->configuration_.end(), buffer.begin());
  return true;
}

bool SimHid::setFeature(HidHandle handle, std::span<const std::uint8_t> report) {
  SimDevice* device = live(handle);
  if (device == nullptr) {
    return false;
  }
  if (report.size() != device->profile().featureLength) {
    return fail("the report is not as long as the device's feature reports");
  }
  device->received_.emplace_back(report.begin(), report.end());
  device->applyCommand(report);
  if (device->receiver_) {
    // What the receiver produced before the command was made under the old settings.
    device->catchUp();
    device->receiver_->command(report);
  }
  if (listener_) {
    listener_(*device, report);
  }
  return true;
}

template <typename SleepUntil>
bool SimHid::readWaiting(HidHandle handle, std::span<std::uint8_t> buffer, std::size_t& bytesRead,
                         std::chrono::milliseconds firstReportWait, SleepUntil&& sleepUntil) {
  const std::chrono::nanoseconds giveUp = clock_->now() + firstReportWait;
  for (;;) {
    bytesRead = 0;
    SimDevice* device = live(handle);
    if (device == nullptr) {
      return false;
    }
    if (buffer.size() < device->profile().inputLength) {
      return fail("the buffer cannot hold one input report");
    }
    device->catchUp();
    // A device with a receiver reports all the time on a virtual clock, so the host always
    // sees the status, and with nothing to send the wait runs out at once. On real time it
    // reports when it has something to say, and the read waits for that.
    if (!clock_->real() || device->readable()) {
      device->takeReports(buffer, bytesRead, !clock_->real());
      readStamp_ = clock_->stamp();
      return true;
    }
    const std::chrono::nanoseconds wake = std::min(giveUp, device->nextReport().value_or(giveUp));
    if (wake <= clock_->now()) {
      device->takeReports(buffer, bytesRead, false);
      readStamp_ = clock_->stamp();
      return true;
    }
    // The device may be unplugged or hang meanwhile, so it is looked up again after.
    sleepUntil(wake);
  }
}

bool SimHid::read(HidHandle handle, std::span<std::uint8_t> buffer, std::size_t& bytesRead,
                  std::chrono::milliseconds firstReportWait) {
  return readWaiting(handle, buffer, bytesRead, firstReportWait,
                     [this](std::chrono::nanoseconds t) { clock_->sleepUntil(t); });
}

bool SimHid::read(HidHandle handle, std::span<std::uint8_t> buffer, std::size_t& bytesRead,
                  std::chrono::milliseconds firstReportWait,
                  std::unique_lock<std::mutex>& busLock) {
  return readWaiting(handle, buffer, bytesRead, firstReportWait,
                     [this, &busLock](std::chrono::nanoseconds t) {
                       busLock.unlock();
                       clock_->sleepUntil(t);
                       busLock.lock();
                     });
}

std::u16string simulatedSerial(int n) {
  char digits[16];
  std::snprintf(digits, sizeof digits, "QVR%06d", n);
  return {digits, digits + std::char_traits<char>::length(digits)};
}

std::unique_ptr<SimHid> simulatedBus(int devices, SimTiming timing) {
  auto hid = std::make_unique<SimHid>();
  if (timing.virtualNow != nullptr) {
    hid->setClock([virtualNow = timing.virtualNow] { return *virtualNow; });
  } else {
    hid->runOnRealTime();
  }
  for (int n = 1; n <= devices; ++n) {
    hid->attach({.serial = simulatedSerial(n), .delivery = timing.delivery, .start = timing.start});
  }
  return hid;
}

}  // namespace qvr::platform::sim
