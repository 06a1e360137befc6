#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "device/device_link.h"
#include "device/settings_table.h"
#include "protocol/config_report.h"
#include "protocol/firmware.h"

namespace qvr::device {

// The check boxes that hold the settings, as the window shows them.
enum class Box : std::uint8_t {
  Outputs,
  Fll,
  Pps,
  Nmea,
  Out1LowPower,
  Out2LowPower,
  Gps,
  Sbas,
  Galileo,
  BeiDou,
  Glonass,
};
inline constexpr std::size_t kBoxCount = 11;
inline constexpr Box kSystemBoxes[] = {Box::Gps, Box::Sbas, Box::Galileo, Box::BeiDou,
                                       Box::Glonass};
// GPS, SBAS and Galileo combine freely; BeiDou and GLONASS are kept apart beside them.
inline constexpr Box kGBoxes[] = {Box::Gps, Box::Sbas, Box::Galileo};

// The two frequency entries, each a text and a Set button.
enum class Entry : std::uint8_t { Out1, Out2 };
inline constexpr std::size_t kEntryCount = 2;

struct BoxState {
  bool ticked = false;
  bool enabled = true;
  friend bool operator==(const BoxState&, const BoxState&) = default;
};

struct EntryState {
  std::string text;
  bool enabled = true;     // the text
  bool setEnabled = true;  // its Set button
  // Whether the latest press found the text a frequency (a white box) or not (a red one);
  // nothing before the first press.
  std::optional<bool> accepted;
  friend bool operator==(const EntryState&, const EntryState&) = default;
};

// The dynamic-model list: its three rows are there only once a device reported its model.
struct ModelListState {
  bool filled = false;
  int row = -1;  // -1: none selected
  bool enabled = true;
  friend bool operator==(const ModelListState&, const ModelListState&) = default;
};

// What the settings controls hold: values, texts and whether each may be changed.
struct SettingsState {
  std::array<BoxState, kBoxCount> boxes{};
  std::array<EntryState, kEntryCount> entries{};
  ModelListState model;

  [[nodiscard]] const BoxState& operator[](Box box) const {
    return boxes.at(static_cast<std::size_t>(box));
  }
  [[nodiscard]] const EntryState& operator[](Entry entry) const {
    return entries.at(static_cast<std::size_t>(entry));
  }
  friend bool operator==(const SettingsState&, const SettingsState&) = default;
};

// The rows of the dynamic-model list, in order.
inline constexpr const char* kDynamicModelRows[] = {"Stationary", "Portable", "Airborne"};

// Where a handler asks for the keyboard focus: an entry, with the caret after its text or not.
struct FocusRequest {
  Entry entry = Entry::Out1;
  bool caretAtEnd = false;
};

// One setting report the model asked for, and what became of it.
struct SentSetting {
  SettingValue value;
  SendResult result;
};

// What the model is driven through. The session implements it over the device; a test or a
// rehearsal may implement it over anything.
class SettingsPort {
 public:
  virtual ~SettingsPort() = default;
  [[nodiscard]] virtual const protocol::FirmwareCapabilities& capabilities() const = 0;
  // Sends the setting's command when its guard and this firmware let it through.
  virtual SendResult send(const SettingValue& value) = 0;
  virtual void pause(std::chrono::milliseconds duration) = 0;
  // The connection start-up, run again: after 1PPS or NMEA is cleared, the device's own
  // configuration is read back into the controls.
  virtual void startUpAgain() = 0;
  // False while the device does not answer: the factory reset asks it nothing more.
  [[nodiscard]] virtual bool answering() const = 0;
  // The decimal separator the user types frequencies with.
  [[nodiscard]] virtual char decimalSeparator() const = 0;
  // The firmware version as the window shows it, for a refusal that names it.
  [[nodiscard]] virtual const std::string& firmwareText() const = 0;
};

// The device's settings as the window's controls hold them, and the rules between them: the
// OUT1 functions (frequency, 1PPS or NMEA, low power), the satellite-system combinations, the
// firmware gates, the start-up re-run after 1PPS or NMEA is cleared, and the factory reset.
// A change goes in; the reports go out through the port, in order and with their pauses; the
// new state is read back from state(). Every front end changes settings through here.
//
// The event rule of the window holds here: changing a box's value runs that box's handler at
// once, nested in whatever runs, exactly once per actual change; setting the value it already
// has runs nothing. So does choosing another dynamic-model row.
class Settings {
 public:
  explicit Settings(SettingsPort& port);
  Settings(const Settings&) = delete;
  Settings& operator=(const Settings&) = delete;

  [[nodiscard]] const SettingsState& state() const { return state_; }

  // ---- What the user does in the window.
  void set(Box box, bool ticked);
  void chooseModelRow(int row);
  void type(Entry entry, const std::string& text);  // no handler runs, as in a text box
  void press(Entry entry);                          // the entry's Set button (or Enter)
  void factoryReset();

  // ---- One setting changed as the window's user would change it, for front ends without a
  // window: a box clicked, a frequency typed and set, the satellite-system boxes cleared and
  // then ticked to the list, a row chosen. The reason when the window would not let the user
  // make the change now (a locked control, a firmware without the setting); a change to what
  // the controls already show runs nothing and is no refusal.
  std::optional<std::string> change(const SettingValue& value);

  // ---- The connection start-up's steps, in the order the session runs them.
  // The entries emptied and locked, the outputs box ticked and locked.
  void beginStartUp();
  // Firmware accepted: the outputs box, both entries and FLL may be changed.
  void unlockForDevice();
  // The controls filled from the configuration report, the boxes' handlers running as usual.
  void applyConfiguration(const protocol::Configuration& configuration);
  // The satellite-system boxes made consistent with each other (firmware 1.07 on).
  void makeSatelliteSystemsConsistent();
  // The settings part of the control enabling: false when `enabled` is what it already was.
  bool enable(bool enabled);
  // The window starts enabled as far as the enabling knows, so its first call (false) runs.
  void resetEnabling() { enabled_ = true; }

  // The focus requests and the reports asked for since the last call, oldest first.
  [[nodiscard]] std::vector<FocusRequest> takeFocusRequests();
  [[nodiscard]] std::vector<SentSetting> takeSent();

 private:
  BoxState& at(Box box) { return state_.boxes.at(static_cast<std::size_t>(box)); }
  EntryState& at(Entry entry) { return state_.entries.at(static_cast<std::size_t>(entry)); }
  [[nodiscard]] bool ticked(Box box) const { return state_[box].ticked; }
  void lock(Box box, bool locked) { at(box).enabled = !locked; }
  void run(Box box);  // the box's handler, as a procedure
  void send(const SettingValue& value);
  void sendSwitch(Box box);
  void out1Function(Box box, Box other, const char* caption);
  void applyGBoxRule();
  void pairedSystem(Box box, Box other);
  void clearAndLockGBoxes();
  [[nodiscard]] int gSystemsTicked() const;
  void sendSatelliteSystems();
  void sendDynamicModel();
  void setFrequency(Entry entry, const std::optional<protocol::FixedPointHz>& given);
  void focus(Entry entry, bool caretAtEnd = false);
  void applyReceiverSettingsGates(bool enabled);
  void applyOut1Function();
  void lockEntry(Entry entry, bool locked);
  [[nodiscard]] std::string lockedReason() const;

  SettingsPort& port_;
  SettingsState state_;
  bool enabled_ = true;
  std::vector<FocusRequest> focusRequests_;
  std::vector<SentSetting> sent_;
};

}  // namespace qvr::device
