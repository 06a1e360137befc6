// The settings controls: each hands the user's change to the device's settings model, and the
// controls then show what the model holds.
#include <utility>

#include "ui/controls.h"
#include "ui/main_window.h"

namespace qvr::ui {
namespace {

using device::Box;
using device::Entry;

constexpr std::pair<Box, ControlId> kBoxControls[] = {
    {Box::Outputs, ctl::OUT1EN},
    {Box::Fll, ctl::FLL},
    {Box::Pps, ctl::PPS},
    {Box::Nmea, ctl::NMEA},
    {Box::Out1LowPower, ctl::Out1power},
    {Box::Out2LowPower, ctl::Out2power},
    {Box::Gps, ctl::GNSS_GPS},
    {Box::Sbas, ctl::GNSS_SBAS},
    {Box::Galileo, ctl::GNSS_Galileo},
    {Box::BeiDou, ctl::GNSS_BeiDou},
    {Box::Glonass, ctl::GNSS_GLONASS},
};

struct EntryControls {
  Entry entry;
  ControlId text;
  ControlId button;
};
constexpr EntryControls kEntryControls[] = {
    {Entry::Out1, ctl::Out1Freq, ctl::FindFreq},
    {Entry::Out2, ctl::Out2Freq, ctl::FindFreq2},
};

constexpr int kEnterKey = 13;
constexpr int kCaretAfterText = 99;

}  // namespace

void MainWindow::wireSettingsHandlers() {
  for (const auto& [box, id] : kBoxControls) {
    form_.setHandler(id, [this, box = box, id = id] {
      change([&] { session_.settings().set(box, form_[id].value == 1); });
    });
  }
  for (const EntryControls& e : kEntryControls) {
    form_.setHandler(
        e.button, [this, entry = e.entry] { change([&] { session_.settings().press(entry); }); });
  }
  form_.setKeyHandler(ctl::Out1Freq, [this](int& keyCode) {
    if (keyCode == kEnterKey) {
      form_.run(ctl::FindFreq);
      focus(ctl::Out1Freq);
    }
  });
  form_.setHandler(ctl::dynmodel, [this] {
    change([&] { session_.settings().chooseModelRow(form_[ctl::dynmodel].listIndex); });
  });
  form_.setHandler(ctl::Factory, [this] { change([&] { session_.settings().factoryReset(); }); });
}

void MainWindow::focus(ControlId id) {
  if (form_[id].enabled) {
    form_.setFocus(id);
  }
}

void MainWindow::focusOut1Freq() {
  if (form_[ctl::Out1Freq].enabled) {
    form_.setFocus(ctl::Out1Freq);
    form_.setSelStart(ctl::Out1Freq, kCaretAfterText);
  }
}

void MainWindow::change(const std::function<void()>& action) {
  // The controls are being made to show the model: their handlers have nothing to tell it.
  if (mirroring_) {
    return;
  }
  // A text box is the user's until a handler reads it.
  for (const EntryControls& e : kEntryControls) {
    session_.settings().type(e.entry, form_[e.text].text);
  }
  action();
  mirrorSettings();
}

void MainWindow::mirrorSettings() {
  mirroring_ = true;
  const device::SettingsState& s = session_.settings().state();
  // What a device that stopped answering holds is not known: it may have taken part of a change
  // (a factory reset is a dozen requests). The controls keep what was asked for, greyed, until
  // the device answers and its configuration is read back into them.
  const bool known = !link_.state().notAnswering;
  for (const auto& [box, id] : kBoxControls) {
    form_.setValue(id, s[box].ticked ? 1 : 0);
    form_.setEnabled(id, s[box].enabled && known);
  }
  for (const EntryControls& e : kEntryControls) {
    const device::EntryState& entry = s[e.entry];
    form_.setText(e.text, entry.text);
    form_.setEnabled(e.text, entry.enabled && known);
    form_.setEnabled(e.button, entry.setEnabled && known);
    if (entry.accepted) {
      form_.setBackColor(e.text, *entry.accepted ? kWhite : kRed);
    }
  }
  if (s.model.filled == form_[ctl::dynmodel].items.empty()) {
    form_.clearItems(ctl::dynmodel);
    if (s.model.filled) {
      for (const char* row : device::kDynamicModelRows) {
        form_.addItem(ctl::dynmodel, row);
      }
    }
  }
  form_.setListIndex(ctl::dynmodel, s.model.row);
  form_.setEnabled(ctl::dynmodel, s.model.enabled && known);
  form_.setEnabled(ctl::dynmodel_label, s.model.enabled && known);
  for (const device::FocusRequest& request : session_.settings().takeFocusRequests()) {
    const ControlId id = request.entry == Entry::Out1 ? ctl::Out1Freq : ctl::Out2Freq;
    form_.setFocus(id);
    if (request.caretAtEnd) {
      form_.setSelStart(id, kCaretAfterText);
    }
  }
  // The window reads no report of what was sent: the device is watched through its input.
  (void)session_.settings().takeSent();
  mirroring_ = false;
}

}  // namespace qvr::ui
