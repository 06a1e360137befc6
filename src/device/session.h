#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "device/device_link.h"
#include "device/receiver.h"
#include "device/receiver_time.h"
#include "device/settings.h"
#include "device/settings_table.h"
#include "platform/hid.h"
#include "platform/system.h"
#include "protocol/commands.h"
#include "protocol/config_report.h"
#include "protocol/firmware.h"
#include "protocol/frequency.h"

namespace qvr::device {

// Who the open device is.
struct Identity {
  std::string serial;
  std::string manufacturer;  // empty when the string could not be read
  std::string product;       // empty when the string could not be read
  protocol::FirmwareVersion firmware;
  protocol::FirmwareCapabilities capabilities;
  std::string path;
  platform::HidCaps reportLengths;
};

// The receiver's periodic messages, in the order they are switched on and off.
inline constexpr std::uint8_t kPeriodicMessages[] = {
    protocol::kUbxIdNavSat, protocol::kUbxIdNavClock, protocol::kUbxIdNavPvt};

// What a window shows of a start-up besides the settings, which it mirrors from the settings
// model. A front end without a window has none.
class StartUpObserver {
 public:
  virtual ~StartUpObserver() = default;
  // The device rows emptied: a start-up began.
  virtual void startUpBegan() = 0;
  // The strings as far as they could be read, and the firmware version.
  virtual void identityRead(const std::optional<std::string>& manufacturer,
                            const std::string& firmwareText,
                            const std::optional<std::string>& product) = 0;
  // Firmware this program does not know: the device stays open and unconfigured.
  virtual void firmwareRefused(const std::string& firmwareText) = 0;
  // Firmware accepted: what depends on a device that can be talked to may be used.
  virtual void deviceAccepted() = 0;
  // The configuration was read and the device's messages asked for.
  virtual void configured() = 0;
  // The window's own part of the control enabling, run after the settings' part.
  virtual void controlsEnabled(bool enabled) = 0;
};

// How a start-up treats the device besides reading it.
struct StartUpOptions {
  // Ask the receiver for its periodic messages (not for a command that only changes settings).
  bool requestMessages = true;
  // Let the settings' handlers send what the read-back makes them change: the window's
  // start-up, and every start-up a settings change runs. A front end that only reads, or that
  // has not been asked to change anything yet, leaves the device's settings as they are.
  bool sendSettings = false;
};

// One open device, for every front end: the window, the command line and the exporter send the
// same bytes for the same change because they all go through its settings model and its one
// start-up. Calls run in the order the caller makes them.
class Session : private SettingsPort {
 public:
  Session(platform::Hid& hid, platform::System& system);
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  [[nodiscard]] DeviceLink& link() { return link_; }
  [[nodiscard]] const DeviceLink& link() const { return link_; }
  [[nodiscard]] const ConnectionState& state() const { return link_.state(); }
  [[nodiscard]] const protocol::FirmwareCapabilities& capabilities() const override {
    return link_.state().capabilities;
  }
  [[nodiscard]] Receiver& receiver() { return receiver_; }
  [[nodiscard]] const Receiver& receiver() const { return receiver_; }

  // ---- Connection, step by step (the window's start-up runs them with its own steps between).

  // Serial numbers of the present devices of the right identity, in enumeration order, or why
  // the scan did not finish.
  [[nodiscard]] Scan scanSerialNumbers() { return link_.scanSerialNumbers(); }
  // Opens the first present device with this serial number; the phase becomes Found.
  bool open(const std::string& serial);
  // Asks the receiver for its periodic NAV messages at this firmware's rate / switches them off.
  // True when none of the requests failed at the device.
  bool requestMessages();
  void stopMessages();

  // The connection start-up, the one every front end runs: the device rows and the settings
  // emptied, the strings and the firmware read (a firmware this program does not know is
  // refused), the configuration read back into the settings, the device configured and its
  // messages asked for, the controls enabled and the satellite systems made consistent. The
  // device is Configured only when the configuration was read, and stays so only when the
  // message requests got through: a device that failed either is asked again when it
  // answers, as a fresh one.
  struct StartUp {
    bool refused = false;
    std::optional<protocol::Configuration> configuration;
  };
  StartUp startUp(const StartUpOptions& options = {});
  // The window's part of every start-up, its own and those its settings run.
  void setObserver(StartUpObserver* observer);
  // The control enabling: the settings' part, then the observer's; nothing when `enabled` is
  // what it already was.
  void enableControls(bool enabled);
  // The configuration report as the latest start-up read it; empty when it was not read.
  [[nodiscard]] const std::vector<std::uint8_t>& configurationReport() const {
    return configurationReport_;
  }

  // Switches the periodic messages off (as the window does when it closes) and closes the
  // handles; the phase becomes NoDevice.
  void close();

  [[nodiscard]] Identity identity() const;

  // ---- Settings.

  [[nodiscard]] Settings& settings() { return settings_; }
  [[nodiscard]] const Settings& settings() const { return settings_; }
  // One setting's command, when this firmware takes it and the guard lets it through; the
  // satellite systems and the dynamic model are kept as the last ones sent.
  SendResult send(const SettingValue& value) override;
  SendResult blinkFrontLights();

  // ---- Monitoring.

  // One read of the queued input reports, waiting at most `firstReportWait` for the first: the
  // whole reports read, or nothing when the device is gone. The bytes stay valid until the
  // next read.
  [[nodiscard]] std::optional<std::span<const std::uint8_t>> readReports(
      std::chrono::milliseconds firstReportWait = DeviceLink::kFirstReportWait);
  // When the latest read came back: what a message decoded from it was read at.
  [[nodiscard]] const platform::ReadStamp& readStamp() const { return readStamp_; }
  // The latest NAV-PVT's time with the read that completed it, when the time is valid; for the
  // message handler of a poll, while that read is being decoded.
  [[nodiscard]] std::optional<TimeSample> timeSample() const;
  // One read, fed to the receiver decoder (see Receiver::takeReports); false when the device
  // is gone.
  template <typename OnStatus, typename OnMessage>
  [[nodiscard]] bool poll(
      OnStatus&& onStatus, OnMessage&& onMessage,
      std::chrono::milliseconds firstReportWait = DeviceLink::kFirstReportWait) {
    const auto reports = readReports(firstReportWait);
    if (!reports) {
      return false;
    }
    receiver_.takeReports(*reports, link_.state().caps.inputReportByteLength, onStatus, onMessage);
    return true;
  }

 private:
  std::optional<std::string> readString(bool (DeviceLink::*read)(std::string&), std::string& kept);
  std::optional<std::string> readManufacturer();
  std::optional<std::string> readProduct();
  void takeFirmware();
  void pauseBetweenRequests();
  std::optional<protocol::Configuration> readConfiguration();
  bool configure(bool requestMessages);
  // The rest of a start-up for firmware this program knows: the configuration read back into
  // the settings, the device configured and the controls enabled.
  std::optional<protocol::Configuration> configureAccepted(bool requestMessages);

  // The settings model's port.
  void pause(std::chrono::milliseconds duration) override;
  void startUpAgain() override { (void)startUp({.sendSettings = true}); }
  [[nodiscard]] bool answering() const override { return !link_.state().notAnswering; }
  [[nodiscard]] char decimalSeparator() const override;
  [[nodiscard]] const std::string& firmwareText() const override {
    return link_.state().firmwareText;
  }

  platform::System& system_;
  DeviceLink link_;
  Receiver receiver_;
  Settings settings_{*this};
  StartUpObserver* observer_;  // never null: a front end without a window has a silent one
  std::string manufacturer_;
  std::string product_;
  std::vector<std::uint8_t> readBuffer_;
  platform::ReadStamp readStamp_;
  bool readEmptiedQueue_ = false;  // the latest read had room left, so nothing newer waited
  std::vector<std::uint8_t> configurationReport_;
  bool muted_ = false;  // a start-up that leaves the device's settings alone is running
};

}  // namespace qvr::device
