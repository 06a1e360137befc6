// The controls that act as links: the clock request, the map, the maker's site and the
// diagnostics page.
#include "diagnostics/diagnostics_address.h"
#include "diagnostics/web_addresses.h"
#include "protocol/commands.h"
#include "ui/controls.h"
#include "ui/main_window.h"

namespace qvr::ui {

using diagnostics::kDiagnosticsPageAddress;
using diagnostics::kMakerSiteAddress;
using diagnostics::mapSearchAddress;

void MainWindow::wireLinkHandlers() {
  form_.setHandler(ctl::Label13, [this] { requestClockSetting(ctl::Label13); });
  form_.setHandler(ctl::UTC, [this] { requestClockSetting(ctl::UTC); });
  form_.setHandler(ctl::Label12, [this] { openMap(); });
  form_.setHandler(ctl::GPSposition, [this] { openMap(); });
  form_.setHandler(ctl::Image1, [this] { system_.openAddress(kMakerSiteAddress); });
  form_.setHandler(ctl::Diagnostics, [this] { showDiagnostics(); });
}

void MainWindow::requestClockSetting(ControlId label) {
  // The next receiver time known to be fresh sets the clock and takes the frame away again.
  decoded_.setClockRequested = true;
  form_.setBorder(label, BorderStyle::FixedSingle);
}

void MainWindow::openMap() {
  if (!decoded_.positionKnown || !decoded_.latitude || !decoded_.longitude) {
    return;
  }
  system_.openAddress(
      mapSearchAddress(*decoded_.latitude, *decoded_.longitude, system_.decimalSeparator()));
}

void MainWindow::showDiagnostics() {
  const device::ConnectionState& s = link_.state();
  diagnostics::DiagnosticsState d;
  d.serialNumber = form_[ctl::SerNo].text;
  d.latitude = decoded_.latitude;
  d.longitude = decoded_.longitude;
  d.altitude = decoded_.altitude;
  d.firmwareText = s.firmwareText;
  d.firmware = s.firmware;
  d.satellitesUsed = decoded_.satellitesUsed;
  d.averageCno = decoded_.averageCno;
  d.out1Text = form_[ctl::Out1Freq].text;
  d.out2Text = form_[ctl::Out2Freq].text;
  d.statusByte = decoded_.statusByte;
  d.fll = form_[ctl::FLL].value;
  d.clockDrift = decoded_.clockDrift;
  d.osVersion = system_.operatingSystemVersion();
  d.gnssSelection = s.gnssSelection;
  d.dynamicModel = s.dynamicModel;
  d.antennaCurrent = s.antennaCurrent;
  d.nmea = form_[ctl::NMEA].value;
  system_.openAddress(
      diagnostics::diagnosticsAddress(kDiagnosticsPageAddress, d, system_.decimalSeparator()));
  // The page opens whatever the state; the lights blink only on a device that is ready.
  session_.blinkFrontLights();
  focusOut1Freq();
}

}  // namespace qvr::ui
