#pragma once

#include <string>
#include <vector>

#include "platform/sim/sim_hid.h"
#include "ui/form.h"
#include "ui/main_window.h"

namespace qvr::scenario {

// A text in double quotes, with `"` and `\` escaped by a backslash.
[[nodiscard]] std::string quoted(const std::string& text);

// "CONTROL: key=value ...", the properties that mean something for the control's kind.
[[nodiscard]] std::string describeControl(const ui::Form& form, ui::ControlId id);

// "state: ..." with the connection state and the decoded receiver values.
[[nodiscard]] std::string describeState(const ui::MainWindow& window,
                                        const platform::sim::SimHid& hid);

}  // namespace qvr::scenario
