#pragma once

#include <functional>
#include <ostream>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/sim/sim_hid.h"
#include "platform/sim/sim_system.h"
#include "scenario/script.h"
#include "ui/main_window.h"

namespace qvr::scenario {

// Everything a scenario acts on: the real window controller on a simulated bus and a virtual
// clock, and the lines printed by the command that is running.
class World {
 public:
  World();
  World(const World&) = delete;
  World& operator=(const World&) = delete;

  platform::sim::SimHid hid;
  platform::sim::SimSystem system;
  ui::MainWindow window;
  std::vector<std::string> output;

  void attach(const std::string& serial, platform::sim::DeviceProfile device);
  // Several devices may share a serial number; a script's SERIAL names the first of them.
  [[nodiscard]] platform::sim::SimDevice& device(const std::string& serial);

 private:
  [[nodiscard]] std::string scriptSerialOf(const platform::sim::SimDevice& device) const;

  // Serial numbers as the script wrote them, so that output names devices the same way even
  // when the host would read them differently.
  std::vector<std::pair<std::string, platform::sim::SimDevice*>> devices_;
};

using Action = std::function<void(World&)>;

// What the commands of a script may refer to, checked before anything runs.
struct ParseContext {
  const ui::Form& form;
  std::set<std::string> serials;  // declared by the `device` lines read so far
};

struct CommandEntry {
  std::string_view name;
  Action (*parse)(Arguments& arguments, ParseContext& context);
};

// The command table of the scenario language.
[[nodiscard]] const std::vector<CommandEntry>& commands();

// Checks every line, then runs the script, printing each command's output lines on `out`.
// With `check`, compares them with the `>` lines and reports differences on `err`. Returns
// the exit status: 0 success, 1 output differed from the expected lines, 2 the script is
// wrong (errors on `err`, naming `fileName` and the line).
[[nodiscard]] int runScenario(std::string_view text, std::string_view fileName, bool check,
                              std::ostream& out, std::ostream& err);

}  // namespace qvr::scenario
