#include "device/settings.h"

#include <functional>
#include <iterator>
#include <tuple>
#include <utility>

#include "protocol/commands.h"
#include "protocol/number_text.h"

namespace qvr::device {
namespace {

using namespace std::chrono_literals;

constexpr auto kFactoryPause = 10ms;  // lets the device settle between the reset's reports
// The text boxes hold this before any device has been read.
constexpr const char* kUnreadFrequency = "1000000000";

constexpr std::pair<Box, SettingId> kSwitches[] = {
    {Box::Outputs, SettingId::Outputs},
    {Box::Fll, SettingId::Fll},
    {Box::Pps, SettingId::Pps},
    {Box::Nmea, SettingId::Nmea},
    {Box::Out1LowPower, SettingId::Out1LowPower},
    {Box::Out2LowPower, SettingId::Out2LowPower},
};

std::optional<Box> switchBox(SettingId id) {
  for (const auto& [box, setting] : kSwitches) {
    if (setting == id) {
      return box;
    }
  }
  return std::nullopt;
}

SettingId switchSetting(Box box) {
  for (const auto& [b, setting] : kSwitches) {
    if (b == box) {
      return setting;
    }
  }
  return SettingId::Outputs;  // every switch box is in the table
}

Entry entryOf(SettingId id) {
  return id == SettingId::Out1 ? Entry::Out1 : Entry::Out2;
}

// The boxes as the window captions them, for a refusal.
constexpr const char* kSystemNames[] = {"GPS", "SBAS", "Galileo", "BeiDou", "GLONASS"};

std::size_t index(Box box) {
  return static_cast<std::size_t>(box) - static_cast<std::size_t>(Box::Gps);
}

SettingId settingOf(Entry entry) {
  return entry == Entry::Out1 ? SettingId::Out1 : SettingId::Out2;
}

// In the order of kSystemBoxes.
constexpr bool protocol::SatelliteSystems::*kSystemMembers[] = {
    &protocol::SatelliteSystems::gps, &protocol::SatelliteSystems::sbas,
    &protocol::SatelliteSystems::galileo, &protocol::SatelliteSystems::beidou,
    &protocol::SatelliteSystems::glonass};

bool protocol::SatelliteSystems::*memberOf(Box box) {
  return kSystemMembers[index(box)];
}

}  // namespace

Settings::Settings(SettingsPort& port) : port_(port) {
  // As the window is laid out: NMEA starts locked, the frequency boxes hold a placeholder.
  at(Box::Nmea).enabled = false;
  for (EntryState& entry : state_.entries) {
    entry.text = kUnreadFrequency;
  }
}

// ---- The event rule.

void Settings::set(Box box, bool ticked) {
  if (at(box).ticked == ticked) {
    return;
  }
  at(box).ticked = ticked;
  run(box);
}

void Settings::chooseModelRow(int row) {
  const int rows = state_.model.filled ? static_cast<int>(std::size(kDynamicModelRows)) : 0;
  if (row < -1 || row >= rows || row == state_.model.row) {
    return;
  }
  state_.model.row = row;
  sendDynamicModel();
}

void Settings::type(Entry entry, const std::string& text) {
  at(entry).text = text;
}

void Settings::press(Entry entry) {
  setFrequency(entry, std::nullopt);
}

void Settings::run(Box box) {
  switch (box) {
    case Box::Outputs:
    case Box::Fll:
      sendSwitch(box);
      focus(Entry::Out1);
      break;
    case Box::Out1LowPower:
    case Box::Out2LowPower:
      sendSwitch(box);
      break;
    case Box::Pps:
      out1Function(Box::Pps, Box::Nmea, "1PPS");
      break;
    case Box::Nmea:
      out1Function(Box::Nmea, Box::Pps, "NMEA");
      break;
    case Box::Gps:
    case Box::Sbas:
    case Box::Galileo:
      applyGBoxRule();
      sendSatelliteSystems();
      break;
    case Box::BeiDou:
      pairedSystem(Box::BeiDou, Box::Glonass);
      break;
    case Box::Glonass:
      pairedSystem(Box::Glonass, Box::BeiDou);
      break;
  }
}

void Settings::send(const SettingValue& value) {
  sent_.push_back({value, port_.send(value)});
}

void Settings::sendSwitch(Box box) {
  send({.id = switchSetting(box), .on = ticked(box), .text = ticked(box) ? "on" : "off"});
}

void Settings::focus(Entry entry, bool caretAtEnd) {
  if (at(entry).enabled) {
    focusRequests_.push_back({entry, caretAtEnd});
  }
}

void Settings::lockEntry(Entry entry, bool locked) {
  at(entry).enabled = !locked;
  at(entry).setEnabled = !locked;
}

// ---- OUT1: a frequency, the 1PPS signal or NMEA sentences.

void Settings::out1Function(Box box, Box other, const char* caption) {
  sendSwitch(box);
  if (ticked(box)) {
    lock(other, true);
    lockEntry(Entry::Out1, true);
    at(Entry::Out1).text = caption;
    if (port_.capabilities().lowPowerCommands) {
      lock(Box::Out1LowPower, true);
      set(Box::Out1LowPower, false);
    }
  } else {
    lockEntry(Entry::Out1, false);
    // Reads the configuration back, so OUT1's frequency replaces the mode's caption; the other
    // box and low power come back through the control enabling when a device is accepted.
    port_.startUpAgain();
  }
  focus(Entry::Out1);
}

void Settings::applyOut1Function() {
  // The last rule wins when both boxes came back ticked.
  for (const auto& [box, other, caption] :
       {std::tuple{Box::Pps, Box::Nmea, "1PPS"}, std::tuple{Box::Nmea, Box::Pps, "NMEA"}}) {
    if (ticked(box)) {
      lock(other, true);
      lockEntry(Entry::Out1, true);
      at(Entry::Out1).text = caption;
      set(Box::Out1LowPower, false);
      lock(Box::Out1LowPower, true);
    }
  }
  if (!ticked(Box::Pps) && !ticked(Box::Nmea)) {
    lockEntry(Entry::Out1, false);
  }
}

// ---- Satellite systems.

int Settings::gSystemsTicked() const {
  int sum = 0;
  for (const Box box : kGBoxes) {
    sum += ticked(box) ? 1 : 0;
  }
  return sum;
}

void Settings::applyGBoxRule() {
  if (gSystemsTicked() > 0) {
    // With a G system in use, BeiDou and GLONASS exclude each other; GLONASS is looked at first.
    if (ticked(Box::Glonass)) {
      set(Box::BeiDou, false);
      lock(Box::BeiDou, true);
    }
    if (ticked(Box::BeiDou)) {
      set(Box::Glonass, false);
      lock(Box::Glonass, true);
    }
  } else {
    lock(Box::BeiDou, false);
    lock(Box::Glonass, false);
  }
}

void Settings::pairedSystem(Box box, Box other) {
  if (ticked(box)) {
    if (gSystemsTicked() > 0) {
      set(other, false);
      lock(other, true);
    }
    // BeiDou and GLONASS together only without any G system.
    if (ticked(other)) {
      clearAndLockGBoxes();
    }
  } else {
    for (const Box g : kGBoxes) {
      lock(g, false);
    }
    lock(other, false);
  }
  sendSatelliteSystems();
}

void Settings::clearAndLockGBoxes() {
  for (const Box box : kGBoxes) {
    set(box, false);
  }
  for (const Box box : kGBoxes) {
    lock(box, true);
  }
}

void Settings::makeSatelliteSystemsConsistent() {
  if (gSystemsTicked() > 0) {
    applyGBoxRule();
  } else if (ticked(Box::BeiDou) && ticked(Box::Glonass)) {
    clearAndLockGBoxes();
  }
}

void Settings::sendSatelliteSystems() {
  SettingValue value{.id = SettingId::Gnss};
  for (const Box box : kSystemBoxes) {
    value.systems.*memberOf(box) = ticked(box);
  }
  value.text = gnssNames(value.systems);
  send(value);
}

void Settings::sendDynamicModel() {
  const std::uint8_t model = protocol::dynamicModelByte(state_.model.row);
  const char* name = dynamicModelName(model);
  send({.id = SettingId::DynamicModel, .text = name, .model = model});
}

// ---- Frequencies.

void Settings::setFrequency(Entry entry, const std::optional<protocol::FixedPointHz>& given) {
  EntryState& e = at(entry);
  const std::optional<protocol::FixedPointHz> word =
      given ? given : protocol::frequencyEntry(e.text, port_.decimalSeparator()).word;
  e.accepted = word.has_value();
  if (word) {
    send({.id = settingOf(entry), .text = e.text, .frequency = *word});
  }
  focus(entry);
}

// ---- The factory reset.

void Settings::factoryReset() {
  const SettingValue out1 = factoryValue(SettingId::Out1);
  const SettingValue out2 = factoryValue(SettingId::Out2);
  set(Box::Outputs, factoryValue(SettingId::Outputs).on);
  at(Entry::Out1).text = out1.text;
  at(Entry::Out2).text = out2.text;
  set(Box::Fll, factoryValue(SettingId::Fll).on);
  set(Box::Pps, factoryValue(SettingId::Pps).on);
  set(Box::Nmea, factoryValue(SettingId::Nmea).on);
  // A device that stopped answering is asked nothing more: every send would fail at once, and
  // the pauses between them would only hold the caller.
  if (port_.capabilities().lowPowerCommands) {
    set(Box::Out1LowPower, factoryValue(SettingId::Out1LowPower).on);
    set(Box::Out2LowPower, factoryValue(SettingId::Out2LowPower).on);
    for (const Box box : {Box::Out1LowPower, Box::Out2LowPower}) {
      if (!port_.answering()) {
        return;
      }
      run(box);
      port_.pause(kFactoryPause);
    }
  }
  // Clearing 1PPS or NMEA above read the device's own frequencies back into the boxes: the
  // reset is for the factory's, so a box that can take a frequency is given it once more.
  for (const auto& [entry, value] :
       {std::pair{Entry::Out1, &out1}, std::pair{Entry::Out2, &out2}}) {
    if (at(entry).enabled) {
      at(entry).text = value->text;
    }
  }
  // Each setting is sent again, whether or not the boxes changed above.
  const std::function<void()> resends[] = {[this] { press(Entry::Out1); },
                                           [this] { press(Entry::Out2); },
                                           [this] { run(Box::Fll); }, [this] { run(Box::Pps); }};
  for (const auto& resend : resends) {
    if (!port_.answering()) {
      return;
    }
    resend();
    port_.pause(kFactoryPause);
  }
  if (!port_.answering()) {
    return;
  }
  run(Box::Nmea);
  focus(Entry::Out1, true);
  if (port_.capabilities().receiverSettings && port_.answering()) {
    const protocol::SatelliteSystems systems = factoryValue(SettingId::Gnss).systems;
    for (const Box box : kSystemBoxes) {
      set(box, systems.*memberOf(box));
    }
    chooseModelRow(protocol::dynamicModelRow(factoryValue(SettingId::DynamicModel).model));
    sendSatelliteSystems();
    port_.pause(kFactoryPause);
    sendDynamicModel();
  }
}

// ---- The start-up.

void Settings::beginStartUp() {
  set(Box::Outputs, true);
  lock(Box::Outputs, true);
  for (const Entry entry : {Entry::Out1, Entry::Out2}) {
    at(entry).text.clear();
    lockEntry(entry, true);
  }
}

void Settings::unlockForDevice() {
  lock(Box::Outputs, false);
  lockEntry(Entry::Out1, false);
  lockEntry(Entry::Out2, false);
  lock(Box::Fll, false);
}

void Settings::applyConfiguration(const protocol::Configuration& c) {
  const auto setIfRead = [this](Box box, const std::optional<bool>& value) {
    if (value) {
      set(box, *value);
    }
  };
  if (c.format == 0) {
    setIfRead(Box::Outputs, c.outputsEnabled);
    if (c.out1WholeHz) {
      at(Entry::Out1).text = std::to_string(*c.out1WholeHz);
    }
    focus(Entry::Out1, true);
    return;
  }
  const char separator = port_.decimalSeparator();
  if (c.out1Hz && at(Entry::Out1).enabled) {
    at(Entry::Out1).text = protocol::decimalText(*c.out1Hz, separator);
    focus(Entry::Out1, true);
  }
  if (c.out2Hz) {
    at(Entry::Out2).text = protocol::decimalText(*c.out2Hz, separator);
  }
  setIfRead(Box::Fll, c.fll);
  setIfRead(Box::Out1LowPower, c.out1LowPower);
  setIfRead(Box::Out2LowPower, c.out2LowPower);
  setIfRead(Box::Pps, c.onePps);
  setIfRead(Box::Outputs, c.outputsEnabled);
  if (c.gnssSelection) {
    const protocol::SatelliteSystems systems = protocol::satelliteSystemsOf(*c.gnssSelection);
    for (const Box box : kSystemBoxes) {
      set(box, systems.*memberOf(box));
    }
  }
  if (c.dynamicModel) {
    state_.model.filled = true;
    state_.model.row = -1;
    chooseModelRow(protocol::dynamicModelRow(*c.dynamicModel));
  }
  if (c.nmea) {
    set(Box::Nmea, *c.nmea);
    if (*c.nmea) {
      lock(Box::Pps, true);
    }
  }
}

bool Settings::enable(bool enabled) {
  if (enabled == enabled_) {
    return false;
  }
  enabled_ = enabled;
  for (const Box box : {Box::Outputs, Box::Pps, Box::Fll}) {
    lock(box, !enabled);
  }
  lockEntry(Entry::Out2, !enabled);
  lockEntry(Entry::Out1, !enabled);
  applyReceiverSettingsGates(enabled);
  if (!enabled) {
    at(Entry::Out1).text.clear();
    at(Entry::Out2).text.clear();
    state_.model.filled = false;
    state_.model.row = -1;
    return true;
  }
  applyOut1Function();
  return true;
}

void Settings::applyReceiverSettingsGates(bool enabled) {
  const protocol::FirmwareCapabilities& can = port_.capabilities();
  if (can.receiverSettingsLocked) {
    // This firmware has no satellite-system or dynamic-model settings, connected or not.
    state_.model = {.filled = false, .row = -1, .enabled = false};
    for (const Box box : kSystemBoxes) {
      lock(box, true);
    }
    for (const Box box : kSystemBoxes) {
      set(box, false);
    }
    // Clearing a box runs its handler, which unlocks its partners again: lock them once more.
    for (const Box box : kSystemBoxes) {
      lock(box, true);
    }
  } else {
    state_.model.enabled = enabled;
    for (const Box box : kSystemBoxes) {
      lock(box, !enabled);
    }
  }
  if (can.nmeaSetting) {
    lock(Box::Nmea, !enabled);
  } else if (!can.refused && ticked(Box::Nmea)) {
    // The tick was read from an earlier device; this firmware has no NMEA, so left alone it
    // would keep OUT1 locked with no way to free it. Clearing it tells this device nothing and
    // does not read its configuration again, as the box's handler would.
    at(Box::Nmea).ticked = false;
  }
  lock(Box::Out1LowPower, !(can.lowPowerControls && enabled));
  lock(Box::Out2LowPower, !(can.lowPowerControls && enabled));
}

// ---- Changes by setting, for front ends without a window.

std::string Settings::lockedReason() const {
  if (ticked(Box::Nmea)) {
    return "OUT1 carries NMEA (nmea=off first)";
  }
  if (ticked(Box::Pps)) {
    return "OUT1 carries 1PPS (pps=off first)";
  }
  return "the window does not let it be changed now";
}

std::optional<std::string> Settings::change(const SettingValue& value) {
  const SettingRow& row = settingRow(value.id);
  if (auto firmware = firmwareRefusal(value.id, port_.capabilities(), port_.firmwareText())) {
    return firmware;
  }
  switch (row.kind) {
    case ValueKind::Switch: {
      const Box box = *switchBox(value.id);
      if (ticked(box) != value.on && !state_[box].enabled) {
        return lockedReason();
      }
      set(box, value.on);
      return std::nullopt;
    }
    case ValueKind::Frequency: {
      const Entry entry = entryOf(value.id);
      if (!state_[entry].enabled || !state_[entry].setEnabled) {
        return lockedReason();
      }
      at(entry).text = value.text;
      setFrequency(entry, value.frequency);
      return std::nullopt;
    }
    case ValueKind::Systems:
      // Boxes are cleared before others are ticked, so that a box the rules locked beside a
      // cleared one is free again by the time it is wanted.
      for (const bool tick : {false, true}) {
        for (const Box box : kSystemBoxes) {
          if (value.systems.*memberOf(box) != tick || ticked(box) == tick) {
            continue;
          }
          if (!state_[box].enabled) {
            return std::string("the satellite-system rules lock ") + kSystemNames[index(box)] +
                   " now";
          }
          set(box, tick);
        }
      }
      return std::nullopt;
    case ValueKind::Model:
      if (!state_.model.enabled || !state_.model.filled) {
        return std::string("the dynamic-model list is locked now");
      }
      chooseModelRow(protocol::dynamicModelRow(value.model));
      return std::nullopt;
  }
  return std::nullopt;
}

std::vector<FocusRequest> Settings::takeFocusRequests() {
  return std::exchange(focusRequests_, {});
}

std::vector<SentSetting> Settings::takeSent() {
  return std::exchange(sent_, {});
}

}  // namespace qvr::device
