#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/hid.h"
#include "platform/sim/sim_receiver.h"
#include "protocol/usb_identity.h"

namespace qvr::platform::sim {

// What a simulated device is made of. Strings are UTF-16, so characters above U+00FF can be
// given to exercise the host's low-byte rule.
struct DeviceProfile {
  std::u16string serial;
  std::u16string manufacturer = u"QVR Instruments";
  std::u16string product = u"QVR-7130 GPSDO";
  std::uint16_t vendorId = protocol::kVendorId;
  std::uint16_t productId = protocol::kProductId;
  std::uint16_t versionNumber = 0x0108;  // firmware 1.08
  // Deliberately different, so that a host mixing the two lengths up fails in tests.
  std::uint16_t inputLength = 64;
  std::uint16_t featureLength = 40;
  bool unreadableSerial = false;
  bool unreadableStrings = false;  // manufacturer and product
  bool unopenable = false;
  std::vector<std::uint8_t> configuration;  // empty: a plausible default (format 1, 10 MHz)
  // false: no receiver, so the device sends only what a test queues or injects.
  bool receiver = true;
  // Devices with different serial numbers differ even with the same seed.
  std::uint64_t seed = 7130;
  // When its receiver's frames become readable after their epoch.
  Delivery delivery;
  Start start = Start::Cold;  // of its receiver, at every power-up
};

// Format 1 with outputs enabled, both outputs at 10 MHz, GPS+SBAS+Galileo+GLONASS, stationary.
[[nodiscard]] std::vector<std::uint8_t> defaultConfiguration();

// The virtual clock of a bus; an empty one stands still at 0.
using SimClock = std::function<std::chrono::nanoseconds()>;

// A bus's time. On a virtual clock it is what the clock says and a read never waits: time moves
// only when a test moves it. On real time it is the computer's, and a read waits for the
// device's next report as a real device's does; the receivers' UTC is then the computer's
// (CLOCK_REALTIME) too.
class BusClock {
 public:
  BusClock() = default;  // virtual, standing still at 0
  explicit BusClock(SimClock virtualClock) : clock_(std::move(virtualClock)) {}
  // Time 0 is the latest whole second of UTC, so the receivers' epochs fall on whole tenths of
  // a UTC second as a real receiver's do.
  [[nodiscard]] static BusClock realTime();

  [[nodiscard]] std::chrono::nanoseconds now() const;
  [[nodiscard]] bool real() const { return steadyZero_.has_value(); }
  [[nodiscard]] std::chrono::sys_time<std::chrono::milliseconds> utcAtZero() const {
    return utcAtZero_;
  }
  // The bus's time now, as the simulated computer's two clocks: the monotonic one is the bus's,
  // the realtime one the receivers' UTC.
  [[nodiscard]] ReadStamp stamp() const {
    const std::chrono::nanoseconds t = now();
    return {(utcAtZero_ + t).time_since_epoch(), t};
  }
  // Real time only: blocks the calling thread until the bus's time is `t`.
  void sleepUntil(std::chrono::nanoseconds t) const;

 private:
  SimClock clock_;                                                   // virtual
  std::optional<std::chrono::steady_clock::time_point> steadyZero_;  // real time
  std::chrono::sys_time<std::chrono::milliseconds> utcAtZero_{kVirtualStart};
};

class SimDevice {
 public:
  // Input reports the device keeps for the host before the oldest are lost, as in the HID
  // driver's ring buffer (the most a Windows program can ask for).
  static constexpr std::size_t kInputBufferReports = 512;
  // Before the receiver has a say, and always without one.
  static constexpr std::uint8_t kPowerUpStatus = SimReceiver::kStatusAntennaOk;

  explicit SimDevice(DeviceProfile profile, std::shared_ptr<const BusClock> clock = nullptr);

  [[nodiscard]] const DeviceProfile& profile() const { return profile_; }
  [[nodiscard]] bool present() const { return present_; }
  [[nodiscard]] int openHandles() const { return openHandles_; }
  // Every feature report the device accepted, in order, each as long as its feature length.
  [[nodiscard]] const std::vector<std::vector<std::uint8_t>>& received() const { return received_; }
  // Forgets the log, for runs so long that it would be all the memory they use.
  void clearReceived() { received_.clear(); }
  // How often the host asked for the front lights to blink (command 2).
  [[nodiscard]] int blinks() const { return blinks_; }

  // The configuration report from byte 0, zero-filled or cut to the feature report length.
  // A format-1 report also selects the receiver's satellite systems (byte 22), as the firmware
  // does at power-up.
  //
  // Every setting command the device accepts is written into this report, so a read-back
  // shows what the host last set, across unplugging too. A format-1 report takes them all
  // (commands 1, 3, 4, 6, 10 to 15); a format-0 report stays format 0 and takes what it can
  // hold: outputs enabled (bit 4 of byte 2) and OUT1 in whole hertz, the fraction dropped.
  // Another format code takes nothing, and a field the report is too short for is skipped.
  void setConfiguration(std::span<const std::uint8_t> report);
  [[nodiscard]] std::span<const std::uint8_t> configuration() const { return configuration_; }

  // Input reports wait here until the host reads them; each is cut or zero-filled to the
  // input report length. They go out verbatim and before any receiver bytes, as reports that
  // were already waiting.
  void queueInputReport(std::span<const std::uint8_t> report);
  [[nodiscard]] std::size_t queuedInputReports() const { return inputQueue_.size(); }

  // Raw bytes added to the receiver's stream now, as they are (a broken frame, say); they go
  // out in input reports with the receiver's own bytes. Lost on unplug, like the stream.
  void injectBytes(std::span<const std::uint8_t> bytes);
  // Overrides the status byte from now on, also across unplugging (a shorted antenna stays
  // shorted); nullopt hands it back to the receiver.
  void setStatusByte(std::optional<std::uint8_t> status) { statusOverride_ = status; }
  [[nodiscard]] std::uint8_t statusByte() const;
  // A silent device sends no input report at all, as firmware that hangs does: reads find
  // nothing, its receiver's bytes are lost, and queued reports wait until it talks again.
  // Feature reports still work. Kept across unplugging.
  void setSilent(bool silent) { silent_ = silent; }
  [[nodiscard]] bool silent() const { return silent_; }

  // Firmware that stops answering, from now on until answer(): every call on the device fails
  // at once and the bus says it is not answering, as a backend with deadlines reports a call
  // that missed its deadline. The device keeps its state, and keeps it across unplugging.
  void hang() { hung_ = true; }
  void answer() { hung_ = false; }
  [[nodiscard]] bool hung() const { return hung_; }

 private:
  friend class SimHid;
  [[nodiscard]] std::chrono::nanoseconds now() const { return clock_->now(); }
  [[nodiscard]] std::uint64_t receiverSeed() const;
  void powerUp();
  void powerDown();
  // What the firmware does with a feature report besides passing it to the receiver.
  void applyCommand(std::span<const std::uint8_t> report);
  // The firmware starts the receiver with the systems it keeps in its configuration.
  void selectConfiguredSystems();
  // Brings the stream up to the clock before anything reads it or changes the receiver.
  void catchUp();
  // A read would find a report now; after catchUp().
  [[nodiscard]] bool readable() const;
  // When a report comes next, as far as the device knows now; nothing when it waits for the
  // host (silent, without a receiver, or a receiver that was asked for nothing).
  [[nodiscard]] std::optional<std::chrono::nanoseconds> nextReport() const;
  // The reports a read takes, back to back into `buffer` from `bytesRead` on.
  void takeReports(std::span<std::uint8_t> buffer, std::size_t& bytesRead, bool statusReport);
  [[nodiscard]] std::size_t bytesPerReport() const;
  [[nodiscard]] std::size_t pendingStreamBytes() const { return stream_.size() - streamSent_; }
  void dropOverflow();
  void compactStream();

  DeviceProfile profile_;
  std::shared_ptr<const BusClock> clock_;
  bool present_ = true;
  int openHandles_ = 0;
  std::uint64_t generation_ = 0;  // bumped by every unplug: older handles go stale
  std::vector<std::uint8_t> configuration_;
  std::deque<std::vector<std::uint8_t>> inputQueue_;
  std::vector<std::vector<std::uint8_t>> received_;
  int blinks_ = 0;

  std::optional<SimReceiver> receiver_;  // empty while unplugged or without a receiver
  std::chrono::nanoseconds caughtUp_{0};
  // Receiver bytes not yet sent start at streamSent_; the buffer is reused, not reallocated.
  std::vector<std::uint8_t> stream_;
  std::size_t streamSent_ = 0;
  std::optional<std::uint8_t> statusOverride_;
  bool silent_ = false;
  bool hung_ = false;
};

// A HID bus of simulated devices, listed in the order they were attached. Handles are counted
// per device so tests can prove that nothing leaks; a handle of an unplugged device fails
// every call, also after the device comes back.
class SimHid final : public Hid {
 public:
  using ReportListener = std::function<void(const SimDevice&, std::span<const std::uint8_t>)>;

  // The receivers run on this virtual clock; without one, time stands still at 0. Devices
  // already attached follow the new clock too.
  void setClock(SimClock clock) { *clock_ = BusClock(std::move(clock)); }
  // From now on the bus runs on real time. Before attaching: a receiver keeps the UTC it was
  // powered up with.
  void runOnRealTime() { *clock_ = BusClock::realTime(); }

  SimDevice& attach(DeviceProfile profile);
  // An unplugged device loses its receiver's state: plugged back, the receiver starts from
  // power-up with every message rate off.
  void unplug(SimDevice& device);
  void plug(SimDevice& device);
  // The first device attached with this serial number, or nullptr.
  [[nodiscard]] SimDevice* find(const std::u16string& serial);
  [[nodiscard]] const std::vector<std::unique_ptr<SimDevice>>& devices() const { return devices_; }
  [[nodiscard]] int openHandles() const;
  // Called for every feature report a device accepts.
  void setReportListener(ReportListener listener) { listener_ = std::move(listener); }

  [[nodiscard]] bool presentInterfaces(std::vector<std::string>& paths) override;
  // How often the device at `path` was unplugged.
  [[nodiscard]] std::string plugIn(const std::string& path) override;
  [[nodiscard]] HidHandle open(const std::string& path, OpenMode mode) override;
  bool close(HidHandle handle) override;
  [[nodiscard]] bool attributes(HidHandle handle, HidAttributes& out) override;
  [[nodiscard]] bool capabilities(HidHandle handle, HidCaps& out) override;
  [[nodiscard]] bool serialNumber(HidHandle handle, DeviceStringBuffer& out) override;
  [[nodiscard]] bool manufacturer(HidHandle handle, DeviceStringBuffer& out) override;
  [[nodiscard]] bool product(HidHandle handle, DeviceStringBuffer& out) override;
  [[nodiscard]] bool getFeature(HidHandle handle, std::span<std::uint8_t> buffer) override;
  [[nodiscard]] bool setFeature(HidHandle handle, std::span<const std::uint8_t> report) override;
  [[nodiscard]] bool read(HidHandle handle, std::span<std::uint8_t> buffer, std::size_t& bytesRead,
                          std::chrono::milliseconds firstReportWait) override;
  // The same for a bus that several threads share under `busLock`, which the caller holds: a
  // wait for the device's next report lets go of it meanwhile, so that the other devices'
  // threads go on.
  [[nodiscard]] bool read(HidHandle handle, std::span<std::uint8_t> buffer, std::size_t& bytesRead,
                          std::chrono::milliseconds firstReportWait,
                          std::unique_lock<std::mutex>& busLock);
  // A plain sentence per simulated fault, as a system would give one.
  [[nodiscard]] std::string lastErrorText() const override { return lastError_; }
  // False while the device the latest failed call went to is hung and present.
  [[nodiscard]] bool answering() const override;
  // On the bus's clock (BusClock::stamp): the simulated computer's clocks agree with the
  // simulated receivers, so a report read at once names the time it is read at.
  [[nodiscard]] ReadStamp readStamp() const override { return readStamp_; }

 private:
  struct OpenHandle {
    SimDevice* device;
    std::uint64_t generation;
  };
  // The device behind a handle that is still valid, or nullptr after recording why not.
  SimDevice* live(HidHandle handle);
  // Records why the call fails and returns what a failed call returns.
  bool fail(const char* reason);
  // The same for a call that went to a hung device.
  bool hangUp(const SimDevice& device);
  // Both reads: `sleepUntil` waits for a time of the bus.
  template <typename SleepUntil>
  bool readWaiting(HidHandle handle, std::span<std::uint8_t> buffer, std::size_t& bytesRead,
                   std::chrono::milliseconds firstReportWait, SleepUntil&& sleepUntil);

  // Shared with the devices, so that they see a clock set after they were attached.
  std::shared_ptr<BusClock> clock_ = std::make_shared<BusClock>();
  std::vector<std::unique_ptr<SimDevice>> devices_;
  std::map<HidHandle, OpenHandle> handles_;
  HidHandle nextHandle_ = 1;
  ReportListener listener_;
  std::string lastError_;
  const SimDevice* unanswered_ = nullptr;  // the hung device the latest failed call went to
  ReadStamp readStamp_;
};

// The serial number of the n-th device `--simulate=N` stands for: QVR000001, QVR000002, ...
[[nodiscard]] std::u16string simulatedSerial(int n);

// How the devices of `--simulate` keep time.
struct SimTiming {
  // A virtual clock that the program advances (a screenshot's ticks, the command line's
  // waits); nullptr: real time.
  const std::chrono::milliseconds* virtualNow = nullptr;
  Delivery delivery;  // of every device's receiver
  // A demonstration's receivers have their fix within a second, not after a search of the sky.
  Start start = Start::Warm;
};

// The bus `--simulate=N` stands for: N devices with the default profile (firmware 1.08, the
// default configuration, a live receiver).
[[nodiscard]] std::unique_ptr<SimHid> simulatedBus(int devices, SimTiming timing = {});

}  // namespace qvr::platform::sim
