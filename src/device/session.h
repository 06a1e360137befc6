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

namespace qvr::device {

// What a send came to: sent, or the reason it was not (a guard, a firmware gate, a value the
// device cannot take, or the HID call's own failure).
struct SendResult {
  bool sent = false;
  std::string reason;  // empty when sent

  [[nodiscard]] static SendResult done() { return {true, {}}; }
  [[nodiscard]] static SendResult refused(std::string why) { return {false, std::move(why)}; }
  explicit operator bool() const { return sent; }
};

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

  // Opens the first present device with this serial number; the phase becomes Found.
  [[nodiscard]] bool open(const std::string& serial);
  // Reads the manufacturer and the product strings with the device's pause after each, and
  // takes the firmware version and its capabilities from the device's release number. Nothing
  // for a string that could not be read.
  [[nodiscard]] std::optional<std::string> readManufacturer();
  void takeFirmware();
  [[nodiscard]] std::optional<std::string> readProduct();
  // The configuration report, decoded for this firmware; nothing when the read failed or the
  // report is not one this program knows. Pauses first, as the device needs.
  [[nodiscard]] std::optional<protocol::Configuration> readConfiguration();
  // The phase becomes Configured: from now on the guards let commands through.
  void markConfigured();
  // Asks the receiver for its periodic NAV messages at this firmware's rate / switches them off.
  void requestMessages();
  void stopMessages();

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
  // The frequency exactly as typed: blanks, sign, digits, the separator, exponent.
  SendResult sendFrequency(Output output, std::string_view text, char decimalSeparator);
  SendResult blinkFrontLights();

  // ---- Monitoring: one read of the queued input reports, fed to the receiver decoder; false
  // when the device is gone. `onMessage` runs after each decoded NAV message has updated the
  // receiver state, with the message's ID, before the next byte is looked at.
  template <typename OnMessage>
  [[nodiscard]] bool poll(OnMessage&& onMessage);

 private:
  SendResult send(protocol::Command command, std::span<const std::uint8_t> data);
  [[nodiscard]] bool readInput(std::size_t& bytesRead);

  platform::System& system_;
  DeviceLink link_;
  Receiver receiver_;
  std::vector<std::uint8_t> readBuffer_;
};

template <typename OnMessage>
bool Session::poll(OnMessage&& onMessage) {
  std::size_t bytesRead = 0;
  if (!readInput(bytesRead)) {
    return false;
  }
  receiver_.takeReports(std::span(readBuffer_).first(bytesRead),
                        link_.state().caps.inputReportByteLength, onMessage);
  return true;
}

}  // namespace qvr::device
