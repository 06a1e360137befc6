#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "device/connection.h"
#include "device/device_link.h"
#include "device/session.h"
#include "platform/hid.h"
#include "platform/system.h"
#include "protocol/commands.h"
#include "protocol/config_report.h"
#include "protocol/ubx_messages.h"
#include "ui/form.h"
#include "ui/signal_graph.h"

namespace qvr::ui {

// What the receiver last reported, as far as the window keeps it.
struct DecodedValues {
  std::optional<double> latitude;   // degrees; no value before the first position
  std::optional<double> longitude;  // degrees
  double altitude = 0;              // metres above mean sea level
  bool positionKnown = false;
  std::int32_t clockDrift = 0;  // ns/s
  int satellitesUsed = 0;
  int averageCno = 0;  // dB-Hz
  bool setClockRequested = false;
  std::uint16_t statusByte = 0;  // byte 1 of the first input report of the latest read
};

// The main window's controller: owns the window's state for the whole run and all of its
// behaviour. Front ends show form() and forward the user's input to it; they call load() once
// when the window is created, tick() on every timeout of the Timer control, and unload() when
// the window closes.
class MainWindow {
 public:
  MainWindow(platform::Hid& hid, platform::System& system);
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;

  [[nodiscard]] Form& form() { return form_; }
  [[nodiscard]] const Form& form() const { return form_; }
  [[nodiscard]] const device::ConnectionState& connection() const { return link_.state(); }
  [[nodiscard]] const device::Session& session() const { return session_; }
  // The user picked a serial number that is not open yet.
  [[nodiscard]] bool selectionPending() const { return selectionPending_; }
  [[nodiscard]] const DecodedValues& decoded() const { return decoded_; }

  void load();
  void unload();
  void tick();

 private:
  void wireSettingsHandlers();
  void controlEnabling(bool state);
  void applyReceiverSettingsGates(bool state);
  void applyOut1Function();
  void scanUsbDevices();
  void showSerialNumberRow();
  void serNoClick();
  void connectionStartup();
  void applyConfiguration(const protocol::Configuration& config);
  void makeSatelliteSystemsConsistent();
  void restAllBars();
  void readInputReports();
  void reconnect();
  void waitForAnswer();
  void handleMessage(std::uint8_t id);
  void handleNavPvt(const protocol::NavPvt& pvt);
  void handleNavSat();
  void deviceLost();
  void focusOut1Freq();
  void setValueIfRead(ControlId box, std::optional<bool> value);
  [[nodiscard]] bool ticked(ControlId box) const;
  void focus(ControlId id);
  [[nodiscard]] int gSystemsTicked() const;
  void clearAndLockGBoxes();

  // Settings controls.
  [[nodiscard]] bool lowPowerGate() const;
  [[nodiscard]] bool satelliteSystemGate() const;
  [[nodiscard]] bool receiverSettingsLocked() const;
  void clearLeftoverNmea();
  void sendLowPower(ControlId box, device::Output output);
  using OutputFunctionSend = device::SendResult (device::Session::*)(bool on);
  void out1FunctionClick(ControlId box, ControlId other, OutputFunctionSend send,
                         const char* caption);
  void applyGBoxRule();
  void pairedSystemClick(ControlId box, ControlId other);
  void sendSatelliteSystems();
  void sendDynamicModel();
  void setFrequency(ControlId box, device::Output output);
  void factoryReset();

  // Links.
  void wireLinkHandlers();
  void requestClockSetting(ControlId label);
  void openMap();
  void showDiagnostics();

  platform::System& system_;
  Form form_;
  device::Session session_;
  device::DeviceLink& link_;  // the session's, for the steps the window sequences itself
  SignalGraph graph_;
  DecodedValues decoded_;
  bool selectionPending_ = false;
  bool cachedEnabledState_ = true;
  bool ticking_ = false;
  bool clearingLeftoverNmea_ = false;
  std::vector<std::string> scannedSerials_;
  // When the open device last sent input reports (or was configured), by the system's clock.
  std::chrono::milliseconds lastReportsAt_{0};
};

}  // namespace qvr::ui
