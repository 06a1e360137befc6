#include "ui/main_window.h"

#include <string>

#include "protocol/commands.h"
#include "protocol/config_report.h"
#include "protocol/number_text.h"
#include "protocol/ubx_messages.h"
#include "ui/controls.h"
#include "ui/web_addresses.h"

namespace qvr::ui {
namespace {

using namespace std::chrono_literals;

constexpr int kConnectedInterval = 10;  // ms between reads while the device is open
constexpr int kSearchInterval = 100;    // ms between searches while no device is open
constexpr int kCaretAfterText = 99;
// A working device sends an input report every few milliseconds, receiver bytes or not; this
// long without one and the status line stops vouching for a signal it no longer hears about.
constexpr std::chrono::milliseconds kSilenceLimit{3000};

constexpr const char* kDynamicModelRows[] = {"Stationary", "Portable", "Airborne"};

// Switched together by the control enabling, in this order.
constexpr ControlId kDeviceControls[] = {
    ctl::Label1,  ctl::Label2,     ctl::Label3,   ctl::Label4,   ctl::Label5,
    ctl::Label6,  ctl::Label7,     ctl::Label8,   ctl::Label9,   ctl::Label12,
    ctl::Label13, ctl::lblProduct, ctl::lblManuf, ctl::UTC,      ctl::OUT1EN,
    ctl::PPS,     ctl::FLL,        ctl::Out2Freq, ctl::Out1Freq, ctl::GPSposition};

}  // namespace

MainWindow::MainWindow(platform::Hid& hid, platform::System& system)
    : system_(system),
      form_(controlTable()),
      session_(hid, system),
      link_(session_.link()),
      graph_(form_, kTwipsPerPixel) {
  form_.setHandler(ctl::SerNo, [this] { serNoClick(); });
  wireSettingsHandlers();
  wireLinkHandlers();
}

bool MainWindow::ticked(ControlId box) const {
  return form_[box].value == 1;
}

void MainWindow::load() {
  if (link_.state().configured()) {
    link_.setPhase(device::Phase::Found);
  }
  selectionPending_ = false;
  link_.setListReady(false);
  session_.receiver().resetStream();
  cachedEnabledState_ = true;

  controlEnabling(false);
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
    controlEnabling(false);
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
  if (decoded_.setClockRequested && pvt.timeValid()) {
    // The borders are the user's only sign that the request was served, so they go first,
    // whether or not the clock can be set.
    form_.setBorder(ctl::Label13, BorderStyle::None);
    form_.setBorder(ctl::UTC, BorderStyle::None);
    system_.setSystemTime(device::clockTimeOf(pvt));
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

void MainWindow::controlEnabling(bool state) {
  if (state == cachedEnabledState_) {
    return;
  }
  cachedEnabledState_ = state;

  for (const ControlId id : kDeviceControls) {
    form_.setEnabled(id, state);
  }
  form_.setVisible(ctl::Status, state);
  form_.setEnabled(ctl::FindFreq, state);
  form_.setEnabled(ctl::Diagnostics, state);
  form_.setEnabled(ctl::Factory, state);
  form_.setEnabled(ctl::PicSat, state);
  form_.setVisible(ctl::Sat_average, state);
  form_.setEnabled(ctl::FindFreq2, state);

  applyReceiverSettingsGates(state);

  if (!state) {
    for (const ControlId id : {ctl::lblProduct, ctl::lblManuf, ctl::lblVersion, ctl::UTC,
                               ctl::GPSposition, ctl::Status, ctl::Out1Freq, ctl::Out2Freq}) {
      form_.setText(id, "");
    }
    graph_.hideAverage();
    form_.clearItems(ctl::dynmodel);
    return;
  }
  applyOut1Function();
}

void MainWindow::applyReceiverSettingsGates(bool state) {
  const protocol::FirmwareCapabilities& can = link_.state().capabilities;
  if (can.receiverSettingsLocked) {
    // This firmware has no satellite-system or dynamic-model settings, connected or not.
    form_.setEnabled(ctl::dynmodel, false);
    form_.clearItems(ctl::dynmodel);
    form_.setEnabled(ctl::dynmodel_label, false);
    for (const ControlId box : ctl::kGnssBoxes) {
      form_.setEnabled(box, false);
    }
    for (const ControlId box : ctl::kGnssBoxes) {
      form_.setValue(box, 0);
    }
    // Clearing a box runs its handler, which enables its partners again: lock them once more.
    for (const ControlId box : ctl::kGnssBoxes) {
      form_.setEnabled(box, false);
    }
  } else {
    form_.setEnabled(ctl::dynmodel, state);
    form_.setEnabled(ctl::dynmodel_label, state);
    for (const ControlId box : ctl::kGnssBoxes) {
      form_.setEnabled(box, state);
    }
  }
  if (can.nmeaSetting) {
    form_.setEnabled(ctl::NMEA, state);
  } else if (!can.refused) {
    // A refused device (a major version this program does not know) is never configured.
    clearLeftoverNmea();
  }
  form_.setEnabled(ctl::Out1power, can.lowPowerControls && state);
  form_.setEnabled(ctl::Out2power, can.lowPowerControls && state);
}

void MainWindow::applyOut1Function() {
  // OUT1 carries either a frequency, the 1PPS signal or NMEA sentences; the last rule wins
  // when both boxes came back ticked.
  if (ticked(ctl::PPS)) {
    form_.setEnabled(ctl::NMEA, false);
    form_.setEnabled(ctl::Out1Freq, false);
    form_.setEnabled(ctl::FindFreq, false);
    form_.setText(ctl::Out1Freq, "1PPS");
    form_.setValue(ctl::Out1power, 0);
    form_.setEnabled(ctl::Out1power, false);
  }
  if (ticked(ctl::NMEA)) {
    form_.setEnabled(ctl::PPS, false);
    form_.setEnabled(ctl::Out1Freq, false);
    form_.setEnabled(ctl::FindFreq, false);
    form_.setText(ctl::Out1Freq, "NMEA");
    form_.setValue(ctl::Out1power, 0);
    form_.setEnabled(ctl::Out1power, false);
  }
  if (!ticked(ctl::PPS) && !ticked(ctl::NMEA)) {
    form_.setEnabled(ctl::Out1Freq, true);
    form_.setEnabled(ctl::FindFreq, true);
  }
}

void MainWindow::connectionStartup() {
  const device::ConnectionState& s = link_.state();
  if (s.configured()) {
    link_.setPhase(device::Phase::Found);
  }
  link_.forgetNotAnswering();
  for (const ControlId id : {ctl::lblManuf, ctl::lblProduct, ctl::lblVersion}) {
    form_.setText(id, "");
  }
  form_.setEnabled(ctl::Diagnostics, false);
  form_.setValue(ctl::OUT1EN, 1);
  form_.setEnabled(ctl::OUT1EN, false);
  form_.setText(ctl::Out1Freq, "");
  form_.setEnabled(ctl::Out1Freq, false);
  form_.setEnabled(ctl::FindFreq, false);
  form_.setText(ctl::Out2Freq, "");
  form_.setEnabled(ctl::Out2Freq, false);
  form_.setEnabled(ctl::FindFreq2, false);
  controlEnabling(false);
  if (!s.found()) {
    return;
  }

  if (const auto manufacturer = session_.readManufacturer()) {
    form_.setText(ctl::lblManuf, " " + *manufacturer);
    form_.setEnabled(ctl::lblManuf, true);
  }
  session_.takeFirmware();
  form_.setText(ctl::lblVersion, " " + s.firmwareText);
  session_.pauseBetweenRequests();

  if (const auto product = session_.readProduct()) {
    form_.setText(ctl::lblProduct, " " + *product);
    form_.setEnabled(ctl::lblProduct, true);
  }
  session_.pauseBetweenRequests();

  if (s.capabilities.refused) {
    system_.messageBox("Unsupported Hardware",
                       std::string("Download new software from\r\n") + kSoftwareDownloadAddress +
                           "\r\nto use with QVR-7130 firmware " + s.firmwareText);
    return;
  }

  for (const ControlId id : {ctl::Diagnostics, ctl::OUT1EN, ctl::Out1Freq, ctl::FindFreq,
                             ctl::Out2Freq, ctl::FindFreq2, ctl::FLL}) {
    form_.setEnabled(id, true);
  }
  if (const auto config = session_.readConfiguration()) {
    applyConfiguration(*config);
  }
  session_.configure();
  lastReportsAt_ = system_.now();
  restAllBars();
  controlEnabling(true);
  if (s.capabilities.receiverSettings) {
    makeSatelliteSystemsConsistent();
  }
}

void MainWindow::setValueIfRead(ControlId box, std::optional<bool> value) {
  if (value) {
    form_.setValue(box, *value ? 1 : 0);
  }
}

void MainWindow::applyConfiguration(const protocol::Configuration& config) {
  const char separator = system_.decimalSeparator();
  if (config.format == 0) {
    setValueIfRead(ctl::OUT1EN, config.outputsEnabled);
    if (config.out1WholeHz) {
      form_.setText(ctl::Out1Freq, std::to_string(*config.out1WholeHz));
    }
    focusOut1Freq();
    return;
  }

  if (config.out1Hz && form_[ctl::Out1Freq].enabled) {
    form_.setText(ctl::Out1Freq, protocol::decimalText(*config.out1Hz, separator));
    focusOut1Freq();
  }
  if (config.out2Hz) {
    form_.setText(ctl::Out2Freq, protocol::decimalText(*config.out2Hz, separator));
  }
  setValueIfRead(ctl::FLL, config.fll);
  setValueIfRead(ctl::Out1power, config.out1LowPower);
  setValueIfRead(ctl::Out2power, config.out2LowPower);
  setValueIfRead(ctl::PPS, config.onePps);
  setValueIfRead(ctl::OUT1EN, config.outputsEnabled);

  if (config.gnssSelection) {
    const protocol::SatelliteSystems s = protocol::satelliteSystemsOf(*config.gnssSelection);
    form_.setValue(ctl::GNSS_GPS, s.gps ? 1 : 0);
    form_.setValue(ctl::GNSS_SBAS, s.sbas ? 1 : 0);
    form_.setValue(ctl::GNSS_Galileo, s.galileo ? 1 : 0);
    form_.setValue(ctl::GNSS_BeiDou, s.beidou ? 1 : 0);
    form_.setValue(ctl::GNSS_GLONASS, s.glonass ? 1 : 0);
  }
  if (config.dynamicModel) {
    form_.clearItems(ctl::dynmodel);
    for (const char* row : kDynamicModelRows) {
      form_.addItem(ctl::dynmodel, row);
    }
    form_.setListIndex(ctl::dynmodel, protocol::dynamicModelRow(*config.dynamicModel));
  }
  if (config.nmea) {
    form_.setValue(ctl::NMEA, *config.nmea ? 1 : 0);
    if (*config.nmea) {
      form_.setEnabled(ctl::PPS, false);
    }
  }
}

void MainWindow::makeSatelliteSystemsConsistent() {
  if (gSystemsTicked() > 0) {
    applyGBoxRule();
  } else if (ticked(ctl::GNSS_BeiDou) && ticked(ctl::GNSS_GLONASS)) {
    clearAndLockGBoxes();
  }
}

int MainWindow::gSystemsTicked() const {
  int sum = 0;
  for (const ControlId box : ctl::kGBoxes) {
    sum += form_[box].value;
  }
  return sum;
}

void MainWindow::clearAndLockGBoxes() {
  for (const ControlId box : ctl::kGBoxes) {
    form_.setValue(box, 0);
  }
  for (const ControlId box : ctl::kGBoxes) {
    form_.setEnabled(box, false);
  }
}

bool MainWindow::receiverSettingsLocked() const {
  return link_.state().capabilities.receiverSettingsLocked;
}

void MainWindow::clearLeftoverNmea() {
  if (!ticked(ctl::NMEA)) {
    return;
  }
  // The tick was read from an earlier device; this firmware has no NMEA, so left alone it would
  // keep OUT1 locked with no way to free it. Clearing it tells this device nothing and does not
  // read its configuration again, as the box's handler would.
  clearingLeftoverNmea_ = true;
  form_.setValue(ctl::NMEA, 0);
  clearingLeftoverNmea_ = false;
}

void MainWindow::focusOut1Freq() {
  if (form_[ctl::Out1Freq].enabled) {
    form_.setFocus(ctl::Out1Freq);
    form_.setSelStart(ctl::Out1Freq, kCaretAfterText);
  }
}

}  // namespace qvr::ui
