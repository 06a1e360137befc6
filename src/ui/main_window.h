#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "device/connection.h"
#include "device/device_link.h"
#include "device/receiver_time.h"
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
class MainWindow : private device::StartUpObserver {
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
  // Hands a change to the settings model, then shows what it holds.
  void change(const std::function<void()>& action);
  void mirrorSettings();
  void scanUsbDevices();
  void showSerialNumberRow();
  void serNoClick();
  void connectionStartup();
  void restAllBars();
  void readInputReports();
  void reconnect();
  void waitForAnswer();
  void handleMessage(std::uint8_t id);
  void handleNavPvt(const protocol::NavPvt& pvt);
  void handleNavSat();
  void deviceLost();
  void focus(ControlId id);
  void focusOut1Freq();  // with the caret after its text

  // What a start-up shows besides the settings.
  void startUpBegan() override;
  void identityRead(const std::optional<std::string>& manufacturer, const std::string& firmwareText,
                    const std::optional<std::string>& product) override;
  void firmwareRefused(const std::string& firmwareText) override;
  void deviceAccepted() override;
  void configured() override;
  void controlsEnabled(bool enabled) override;

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
  device::FreshTime freshTime_;  // the receiver's times, for setting the clock
  bool selectionPending_ = false;
  bool ticking_ = false;
  bool mirroring_ = false;  // the settings controls are being made to show the model
  std::vector<std::string> scannedSerials_;
  // When the open device last sent input reports (or was configured), by the system's clock.
  std::chrono::milliseconds lastReportsAt_{0};
};

}  // namespace qvr::ui
