#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "device/device_link.h"
#include "device/receiver.h"
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

enum class Output { Out1, Out2 };

// The moment a NAV-PVT names, as the computer's clock is set to it: the millisecond nearest to
// the receiver's time, halves to even.
[[nodiscard]] platform::UtcTime clockTimeOf(const protocol::NavPvt& pvt);

// The receiver's periodic messages, in the order they are switched on and off.
inline constexpr std::uint8_t kPeriodicMessages[] = {
    protocol::kUbxIdNavSat, protocol::kUbxIdNavClock, protocol::kUbxIdNavPvt};

// One open device, for every front end: the window, the command line and the exporter send the
// same bytes for the same change because they all send through here. Calls run in the order the
// caller makes them; the window interleaves its own steps between them, the other front ends use
// the composed calls (startUp, apply ...).
class Session {
 public:
  Session(platform::Hid& hid, platform::System& system);
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  [[nodiscard]] DeviceLink& link() { return link_; }
  [[nodiscard]] const DeviceLink& link() const { return link_; }
  [[nodiscard]] const ConnectionState& state() const { return link_.state(); }
  [[nodiscard]] const protocol::FirmwareCapabilities& capabilities() const {
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
  // The device strings; nothing for a string that could not be read.
  [[nodiscard]] std::optional<std::string> readManufacturer();
  [[nodiscard]] std::optional<std::string> readProduct();
  // Takes the firmware version and its capabilities from the device's release number.
  void takeFirmware();
  // The pause the device needs between two requests during the start-up.
  void pauseBetweenRequests();
  // The strings and the firmware with the pauses between them, as the start-up reads them;
  // false when this program does not know the firmware.
  [[nodiscard]] bool readIdentity();
  // The configuration report, decoded for this firmware; nothing when the read failed or the
  // report is not one this program knows. Pauses first, as the device needs, and keeps the
  // receiver settings and the antenna current it reports.
  [[nodiscard]] std::optional<protocol::Configuration> readConfiguration();
  // Whether the latest readConfiguration() read the report from the device (whatever it
  // decoded to).
  [[nodiscard]] bool configurationRead() const { return configurationRead_; }
  // The phase becomes Configured: from now on the guards let commands through.
  void markConfigured() { link_.setPhase(Phase::Configured); }
  // Asks the receiver for its periodic NAV messages at this firmware's rate / switches them off.
  // True when none of the requests failed at the device.
  bool requestMessages();
  void stopMessages();
  // Ends a start-up after readConfiguration(): the device is Configured and its messages
  // requested only when the configuration was read, and stays so only when the requests got
  // through. A device that failed either is asked again when it answers, as a fresh one.
  bool configure();

  // The whole start-up as the window runs it, for front ends without a window: strings,
  // firmware, configuration, configured, messages. Nothing is configured on refused firmware.
  struct StartUp {
    bool refused = false;
    std::optional<protocol::Configuration> configuration;
  };
  StartUp startUp();

  // Switches the periodic messages off (as the window does when it closes) and closes the
  // handles; the phase becomes NoDevice.
  void close();

  [[nodiscard]] Identity identity() const;

  // ---- Settings: each builds its one command report, checks the guard and this firmware's
  // gate, and sends it.
  SendResult sendOutputsEnabled(bool on);
  SendResult sendFll(bool on);
  SendResult sendOnePps(bool on);
  SendResult sendNmea(bool on);
  SendResult sendLowPower(Output output, bool on);
  SendResult sendSatelliteSystems(const protocol::SatelliteSystems& systems);
  SendResult sendDynamicModel(std::uint8_t model);
  SendResult sendFrequency(Output output, const protocol::FixedPointHz& word);
  // The frequency exactly as typed (blanks, sign, digits, the separator, exponent), read as
  // the window's boxes read it.
  SendResult sendFrequency(Output output, std::string_view text, char decimalSeparator);
  SendResult blinkFrontLights();

  // ---- Monitoring.

  // One read of the queued input reports: the whole reports read, or nothing when the device
  // is gone. The bytes stay valid until the next read.
  [[nodiscard]] std::optional<std::span<const std::uint8_t>> readReports();
  // One read, fed to the receiver decoder (see Receiver::takeReports); false when the device
  // is gone.
  template <typename OnStatus, typename OnMessage>
  [[nodiscard]] bool poll(OnStatus&& onStatus, OnMessage&& onMessage) {
    const auto reports = readReports();
    if (!reports) {
      return false;
    }
    receiver_.takeReports(*reports, link_.state().caps.inputReportByteLength, onStatus, onMessage);
    return true;
  }

 private:
  std::optional<std::string> readString(bool (DeviceLink::*read)(std::string&), std::string& kept);

  platform::System& system_;
  DeviceLink link_;
  Receiver receiver_;
  std::string manufacturer_;
  std::string product_;
  std::vector<std::uint8_t> readBuffer_;
  bool configurationRead_ = false;
};

}  // namespace qvr::device
