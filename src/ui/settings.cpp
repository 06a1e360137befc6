// The handlers of the settings controls: outputs, frequencies, 1PPS and NMEA, low power, FLL,
// satellite systems, the dynamic model and the factory reset.
#include <chrono>

#include "protocol/commands.h"
#include "protocol/frequency.h"
#include "ui/controls.h"
#include "ui/main_window.h"

namespace qvr::ui {
namespace {

using namespace std::chrono_literals;
using protocol::Command;

constexpr auto kFactoryPause = 10ms;  // lets the device settle between the reset's reports
constexpr int kEnterKey = 13;
constexpr const char* kFactoryFrequency = "10000000";

}  // namespace

void MainWindow::wireSettingsHandlers() {
  form_.setHandler(ctl::OUT1EN, [this] {
    session_.sendOutputsEnabled(ticked(ctl::OUT1EN));
    focus(ctl::Out1Freq);
  });
  form_.setHandler(ctl::FLL, [this] {
    session_.sendFll(ticked(ctl::FLL));
    focus(ctl::Out1Freq);
  });
  form_.setHandler(ctl::Out1power, [this] { sendLowPower(ctl::Out1power, device::Output::Out1); });
  form_.setHandler(ctl::Out2power, [this] { sendLowPower(ctl::Out2power, device::Output::Out2); });
  form_.setHandler(ctl::PPS, [this] {
    out1FunctionClick(ctl::PPS, ctl::NMEA, &device::Session::sendOnePps, "1PPS");
  });
  form_.setHandler(ctl::NMEA, [this] {
    if (!clearingLeftoverNmea_) {
      out1FunctionClick(ctl::NMEA, ctl::PPS, &device::Session::sendNmea, "NMEA");
    }
  });
  for (const ControlId box : ctl::kGBoxes) {
    form_.setHandler(box, [this] {
      applyGBoxRule();
      sendSatelliteSystems();
    });
  }
  form_.setHandler(ctl::GNSS_BeiDou,
                   [this] { pairedSystemClick(ctl::GNSS_BeiDou, ctl::GNSS_GLONASS); });
  form_.setHandler(ctl::GNSS_GLONASS,
                   [this] { pairedSystemClick(ctl::GNSS_GLONASS, ctl::GNSS_BeiDou); });
  form_.setHandler(ctl::dynmodel, [this] { sendDynamicModel(); });
  form_.setHandler(ctl::FindFreq, [this] { setFrequency(ctl::Out1Freq, device::Output::Out1); });
  form_.setHandler(ctl::FindFreq2, [this] { setFrequency(ctl::Out2Freq, device::Output::Out2); });
  form_.setKeyHandler(ctl::Out1Freq, [this](int& keyCode) {
    if (keyCode == kEnterKey) {
      form_.run(ctl::FindFreq);
      focus(ctl::Out1Freq);
    }
  });
  form_.setHandler(ctl::Factory, [this] { factoryReset(); });
}

bool MainWindow::lowPowerGate() const {
  return link_.state().capabilities.lowPowerCommands;
}

bool MainWindow::satelliteSystemGate() const {
  return link_.state().capabilities.receiverSettings;
}

void MainWindow::focus(ControlId id) {
  if (form_[id].enabled) {
    form_.setFocus(id);
  }
}

void MainWindow::sendLowPower(ControlId box, device::Output output) {
  session_.sendLowPower(output, ticked(box));
}

void MainWindow::out1FunctionClick(ControlId box, ControlId other, OutputFunctionSend send,
                                   const char* caption) {
  (session_.*send)(ticked(box));
  if (ticked(box)) {
    form_.setEnabled(other, false);
    form_.setEnabled(ctl::Out1Freq, false);
    form_.setEnabled(ctl::FindFreq, false);
    form_.setText(ctl::Out1Freq, caption);
    if (lowPowerGate()) {
      form_.setEnabled(ctl::Out1power, false);
      form_.setValue(ctl::Out1power, 0);
    }
  } else {
    form_.setEnabled(ctl::Out1Freq, true);
    form_.setEnabled(ctl::FindFreq, true);
    // Reads the configuration back, so OUT1's frequency replaces the mode's caption; the other
    // box and low power come back through the control enabling when a device is accepted.
    connectionStartup();
  }
  focus(ctl::Out1Freq);
}

void MainWindow::applyGBoxRule() {
  if (gSystemsTicked() > 0) {
    // With a G system in use, BeiDou and GLONASS exclude each other; GLONASS is looked at first.
    if (ticked(ctl::GNSS_GLONASS)) {
      form_.setValue(ctl::GNSS_BeiDou, 0);
      form_.setEnabled(ctl::GNSS_BeiDou, false);
    }
    if (ticked(ctl::GNSS_BeiDou)) {
      form_.setValue(ctl::GNSS_GLONASS, 0);
      form_.setEnabled(ctl::GNSS_GLONASS, false);
    }
  } else {
    form_.setEnabled(ctl::GNSS_BeiDou, true);
    form_.setEnabled(ctl::GNSS_GLONASS, true);
  }
}

void MainWindow::pairedSystemClick(ControlId box, ControlId other) {
  if (ticked(box)) {
    if (gSystemsTicked() > 0) {
      form_.setValue(other, 0);
      form_.setEnabled(other, false);
    }
    // BeiDou and GLONASS together only without any G system.
    if (ticked(other)) {
      clearAndLockGBoxes();
    }
  } else {
    for (const ControlId g : ctl::kGBoxes) {
      form_.setEnabled(g, true);
    }
    form_.setEnabled(other, true);
  }
  sendSatelliteSystems();
}

void MainWindow::sendSatelliteSystems() {
  session_.sendSatelliteSystems({ticked(ctl::GNSS_GPS), ticked(ctl::GNSS_SBAS),
                                 ticked(ctl::GNSS_Galileo), ticked(ctl::GNSS_BeiDou),
                                 ticked(ctl::GNSS_GLONASS)});
}

void MainWindow::sendDynamicModel() {
  session_.sendDynamicModel(protocol::dynamicModelByte(form_[ctl::dynmodel].listIndex));
}

void MainWindow::setFrequency(ControlId box, device::Output output) {
  const protocol::FrequencyEntry entry =
      protocol::frequencyEntry(form_[box].text, system_.decimalSeparator());
  if (!entry.word) {
    form_.setBackColor(box, kRed);
  } else {
    form_.setBackColor(box, kWhite);
    session_.sendFrequency(output, *entry.word);
  }
  focus(box);
}

void MainWindow::factoryReset() {
  form_.setValue(ctl::OUT1EN, 1);
  form_.setText(ctl::Out1Freq, kFactoryFrequency);
  form_.setText(ctl::Out2Freq, kFactoryFrequency);
  form_.setValue(ctl::FLL, 0);
  form_.setValue(ctl::PPS, 0);
  form_.setValue(ctl::NMEA, 0);
  // A device that stopped answering is asked nothing more: every send would fail at once, and
  // the pauses between them would only hold the window.
  const auto answering = [this] { return !link_.state().notAnswering; };
  if (lowPowerGate()) {
    form_.setValue(ctl::Out1power, 0);
    form_.setValue(ctl::Out2power, 0);
    for (const ControlId box : {ctl::Out1power, ctl::Out2power}) {
      if (!answering()) {
        return;
      }
      form_.run(box);
      system_.sleep(kFactoryPause);
    }
  }
  // Each setting is sent again, whether or not the boxes changed above.
  for (const ControlId setting : {ctl::FindFreq, ctl::FindFreq2, ctl::FLL, ctl::PPS}) {
    if (!answering()) {
      return;
    }
    form_.run(setting);
    system_.sleep(kFactoryPause);
  }
  if (!answering()) {
    return;
  }
  form_.run(ctl::NMEA);
  focusOut1Freq();
  if (satelliteSystemGate() && answering()) {
    form_.setValue(ctl::GNSS_GPS, 1);
    form_.setValue(ctl::GNSS_SBAS, 1);
    form_.setValue(ctl::GNSS_Galileo, 1);
    form_.setValue(ctl::GNSS_BeiDou, 0);
    form_.setValue(ctl::GNSS_GLONASS, 1);
    form_.setListIndex(ctl::dynmodel, protocol::kStationaryRow);
    sendSatelliteSystems();
    system_.sleep(kFactoryPause);
    form_.run(ctl::dynmodel);
  }
}

}  // namespace qvr::ui
