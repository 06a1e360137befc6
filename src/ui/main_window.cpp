#include "ui/main_window.h"

#include <optional>
#include <string>
#include <vector>

#include "diagnostics/web_addresses.h"
#include "protocol/commands.h"
#include "protocol/config_report.h"
#include "protocol/number_text.h"
#include "protocol/ubx_messages.h"
#include "ui/controls.h"

namespace qvr::ui {

using diagnostics::kSoftwareDownloadAddress;

namespace {

using namespace std::chrono_literals;

constexpr int kConnectedInterval = 10;  // ms between reads while the device is open
constexpr int kSearchInterval = 100;    // ms between searches while no device is open
// A working device sends an input report every few milliseconds, receiver bytes or not; this
// long without one and the status line stops vouching for a signal it no longer hears about.
constexpr std::chrono::milliseconds kSilenceLimit{3000};

// Switched together by the control enabling, in this order; the settings controls are the
// settings model's.
constexpr ControlId kDeviceControls[] = {
    ctl::Label1,  ctl::Label2,     ctl::Label3,   ctl::Label4, ctl::Label5,
    ctl::Label6,  ctl::Label7,     ctl::Label8,   ctl::Label9, ctl::Label12,
    ctl::Label13, ctl::lblProduct, ctl::lblManuf, ctl::UTC,    ctl::GPSposition};

}  // namespace

MainWindow::MainWindow(platform::Hid& hid, platform::System& system)
    : system_(system),
      form_(controlTable()),
      session_(hid, system),
      link_(session_.link()),
      graph_(form_, kTwipsPerPixel) {
  session_.setObserver(this);
  form_.setHandler(ctl::SerNo, [this] { serNoClick(); });
  wireSettingsHandlers();
  wireLinkHandlers();
}

void MainWindow::load() {
  if (link_.state().configured()) {
    link_.setPhase(device::Phase::Found);
  }
  selectionPending_ = false;
  link_.setListReady(false);
  session_.receiver().resetStream();
  session_.settings().resetEnabling();

  session_.enableControls(false);
  mirrorSettings();
  decoded_.setClockRequested = false;
  graph_.layOut();
  decoded_.satellitesUsed = 0;
  decoded_.averageCno = 0;

  scanUsbDevices();
  session_.open(form_[ctl::SerNo].text);
  form_.showWindow();
  connectionStartup();
  form_.setInterval(ctl::Timer, kSearchInterval);
  form_.setEnabled(ctl::Timer, true);
}

void MainWindow::unload() {
  form_.setEnabled(ctl::Timer, false);
  link_.setListReady(false);
  session_.stopMessages();
  // The connection keeps its phase: the window shows what it had until it goes.
  link_.closeHandles();
}

void MainWindow::tick() {
  // Pending events run at the end of a tick and in the middle of messages; a timeout that
  // arrives then must not start a second tick inside this one.
  if (ticking_) {
    return;
  }
  ticking_ = true;
  if (link_.state().found() && link_.state().notAnswering) {
    waitForAnswer();
  } else if (link_.state().found()) {
    readInputReports();
  } else {
    reconnect();
  }
  system_.doEvents();
  ticking_ = false;
}

void MainWindow::readInputReports() {
  const auto reports = session_.readReports();
  if (!reports && !selectionPending_ && link_.state().notAnswering) {
    // Hung, not gone: the handles stay, and the device is asked again once it answers.
    graph_.showNotAnswering();
    mirrorSettings();
    return;
  }
  if (!reports || selectionPending_) {
    deviceLost();
    return;
  }
  form_.setInterval(ctl::Timer, kConnectedInterval);
  session_.receiver().takeReports(
      *reports, link_.state().caps.inputReportByteLength,
      [this](std::uint8_t statusByte) {
        decoded_.statusByte = statusByte;
        graph_.showStatus(statusByte);
      },
      [this](std::uint8_t id) { handleMessage(id); });
  if (!reports->empty()) {
    lastReportsAt_ = system_.now();
  } else if (link_.state().configured() && system_.now() - lastReportsAt_ >= kSilenceLimit) {
    graph_.showNoData();
  }
}

void MainWindow::waitForAnswer() {
  // Nothing is asked of a device that does not answer: it would only fail at once.
  if (!link_.deviceAnswers()) {
    graph_.showNotAnswering();
    return;
  }
  // What it missed while hung is unknown, so it is read and set up as a fresh connection is.
  connectionStartup();
}

void MainWindow::reconnect() {
  scanUsbDevices();
  if (session_.open(form_[ctl::SerNo].text)) {
    selectionPending_ = false;
    connectionStartup();
  } else {
    session_.enableControls(false);
    mirrorSettings();
    const std::vector<device::UnusableDevice> unusable = link_.unusableDevices();
    graph_.showUnusable(unusable.empty() ? std::nullopt : std::optional(unusable.front().problem));
  }
}

void MainWindow::handleMessage(std::uint8_t id) {
  const device::ReceiverState& r = session_.receiver().state();
  switch (id) {
    case protocol::kUbxIdNavPvt:
      handleNavPvt(*r.pvt);
      break;
    case protocol::kUbxIdNavClock:
      decoded_.clockDrift = *r.clockDrift;
      break;
    case protocol::kUbxIdNavSat:
      handleNavSat();
      break;
    default:
      break;
  }
}

void MainWindow::handleNavPvt(const protocol::NavPvt& pvt) {
  // Every valid time is checked against the one before, asked for or not, so that a click
  // is served by the next epoch that vouches for the time before it.
  const auto sample = session_.timeSample();
  const auto confirmed = sample ? freshTime_.confirm(*sample) : std::nullopt;
  if (decoded_.setClockRequested && confirmed) {
    // The borders are the user's only sign that the request was served, so they go first,
    // whether or not the clock can be set.
    form_.setBorder(ctl::Label13, BorderStyle::None);
    form_.setBorder(ctl::UTC, BorderStyle::None);
    system_.setSystemTime(device::clockTimeAt(*confirmed, system_.now()));
  }
  const device::ReceiverState& r = session_.receiver().state();
  decoded_.longitude = r.longitude;
  decoded_.latitude = r.latitude;
  decoded_.altitude = *r.altitude;
  graph_.showPosition(*decoded_.latitude, *decoded_.longitude, decoded_.altitude,
                      system_.decimalSeparator());
  system_.doEvents();
  decoded_.positionKnown = true;
  if (pvt.timeValid()) {
    graph_.showTime(pvt.year, pvt.month, pvt.day, pvt.hour, pvt.minute, pvt.second);
    system_.doEvents();
  } else {
    graph_.showUnknownTime();
  }
}

void MainWindow::handleNavSat() {
  const device::ReceiverState& r = session_.receiver().state();
  int drawn = 0;
  for (const device::SatelliteState& satellite : r.satellites) {
    if (satellite.graphed) {
      graph_.setBar(drawn, satellite.cno);
      ++drawn;
    }
    system_.doEvents();
  }
  for (int i = drawn; i < ctl::kSatCount; ++i) {
    graph_.restBar(i);
  }
  system_.doEvents();
  decoded_.satellitesUsed = r.satellitesUsed;
  decoded_.averageCno = r.averageCno;
  if (drawn == 0) {
    graph_.hideAverage();
  } else {
    graph_.setAverageHeight(r.cnoSum, drawn);
    graph_.setAverageColour(decoded_.averageCno);
  }
  graph_.placeAverage();
}

void MainWindow::deviceLost() {
  link_.setPhase(device::Phase::NoDevice);
  link_.closeHandles();
  form_.setInterval(ctl::Timer, kSearchInterval);
  restAllBars();
}

void MainWindow::restAllBars() {
  for (int i = 0; i < ctl::kSatCount; ++i) {
    form_.setVisible(ctl::Sat(i), true);
    graph_.restBar(i);
  }
}

void MainWindow::scanUsbDevices() {
  decoded_.positionKnown = false;
  device::Scan scan = session_.scanSerialNumbers();
  // A scan that did not finish tells nothing about the bus: the list stays as it was, and the
  // next tick scans again.
  if (!scan.finished) {
    return;
  }
  link_.setListReady(false);
  form_.clearItems(ctl::SerNo);
  form_.setEnabled(ctl::SerNo, false);

  scannedSerials_ = std::move(scan.serials);
  // Each new item is selected in turn, so the last device enumerated ends up selected; the
  // selection events this raises are ignored while the list is not ready.
  for (std::size_t i = 0; i < scannedSerials_.size(); ++i) {
    form_.addItem(ctl::SerNo, scannedSerials_[i]);
    form_.setListIndex(ctl::SerNo, static_cast<int>(i));
  }
  showSerialNumberRow();
  link_.setListReady(true);
}

void MainWindow::showSerialNumberRow() {
  // The row always shows what the last scan found, whatever happened to the connection since:
  // a choice when there is one, the only serial number, or nothing.
  if (scannedSerials_.size() >= 2) {
    form_.setEnabled(ctl::SerNo, true);
    form_.setVisible(ctl::SerNo, true);
    form_.setVisible(ctl::lblSerialNumber, false);
    form_.setText(ctl::lblSerialNumber, "");
    return;
  }
  form_.setVisible(ctl::SerNo, false);
  form_.setEnabled(ctl::SerNo, false);
  form_.setText(ctl::lblSerialNumber,
                scannedSerials_.empty() ? std::string() : " " + form_[ctl::SerNo].text);
  form_.setVisible(ctl::lblSerialNumber, true);
}

void MainWindow::serNoClick() {
  if (!link_.state().deviceListReady) {
    return;
  }
  form_.setEnabled(ctl::Timer, false);
  selectionPending_ = true;
  if (link_.state().found()) {
    link_.setPhase(device::Phase::NoDevice);
    link_.closeHandles();
    form_.setInterval(ctl::Timer, kSearchInterval);
  }
  if (session_.open(form_[ctl::SerNo].text)) {
    selectionPending_ = false;
  }
  connectionStartup();
  form_.setEnabled(ctl::Timer, true);
}

void MainWindow::controlsEnabled(bool enabled) {
  for (const ControlId id : kDeviceControls) {
    form_.setEnabled(id, enabled);
  }
  form_.setVisible(ctl::Status, enabled);
  form_.setEnabled(ctl::Diagnostics, enabled);
  form_.setEnabled(ctl::Factory, enabled);
  form_.setEnabled(ctl::PicSat, enabled);
  form_.setVisible(ctl::Sat_average, enabled);
  if (!enabled) {
    for (const ControlId id : {ctl::lblProduct, ctl::lblManuf, ctl::lblVersion, ctl::UTC,
                               ctl::GPSposition, ctl::Status}) {
      form_.setText(id, "");
    }
    graph_.hideAverage();
  }
}

void MainWindow::connectionStartup() {
  freshTime_.forget();
  (void)session_.startUp({.sendSettings = true});
  mirrorSettings();
}

void MainWindow::startUpBegan() {
  for (const ControlId id : {ctl::lblManuf, ctl::lblProduct, ctl::lblVersion}) {
    form_.setText(id, "");
  }
  form_.setEnabled(ctl::Diagnostics, false);
}

void MainWindow::identityRead(const std::optional<std::string>& manufacturer,
                              const std::string& firmwareText,
                              const std::optional<std::string>& product) {
  if (manufacturer) {
    form_.setText(ctl::lblManuf, " " + *manufacturer);
    form_.setEnabled(ctl::lblManuf, true);
  }
  form_.setText(ctl::lblVersion, " " + firmwareText);
  if (product) {
    form_.setText(ctl::lblProduct, " " + *product);
    form_.setEnabled(ctl::lblProduct, true);
  }
}

void MainWindow::firmwareRefused(const std::string& firmwareText) {
  system_.messageBox("Unsupported Hardware",
                     std::string("Download new software from\r\n") + kSoftwareDownloadAddress +
                         "\r\nto use with QVR-7130 firmware " + firmwareText);
}

void MainWindow::deviceAccepted() {
  form_.setEnabled(ctl::Diagnostics, true);
}

void MainWindow::configured() {
  lastReportsAt_ = system_.now();
  restAllBars();
}

}  // namespace qvr::ui
