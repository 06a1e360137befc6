#include "scenario/scenario.h"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <memory>

#include "protocol/ubx_parser.h"
#include "scenario/show.h"
#include "ui/controls.h"

namespace qvr::scenario {
namespace {

using platform::sim::DeviceProfile;

constexpr int kMaxTicks = 1'000'000;

std::string lineOf(std::string_view fileName, int lineNumber) {
  return std::string(fileName) + ":" + std::to_string(lineNumber) + ": ";
}

// Report bytes as the `sent` line shows them: up to the last non-zero byte, at least two.
std::vector<std::uint8_t> significantBytes(std::span<const std::uint8_t> report) {
  std::size_t length = report.size();
  while (length > 2 && report[length - 1] == 0) {
    --length;
  }
  std::vector<std::uint8_t> bytes(report.begin(),
                                  report.begin() + static_cast<std::ptrdiff_t>(length));
  bytes.resize(std::max<std::size_t>(bytes.size(), 2), 0);
  return bytes;
}

// "LINE1 / LINE2 / LINE3" from a message box text whose lines end in "\r\n".
std::string joinedMessageLines(const std::string& text) {
  std::string joined;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = text.find("\r\n", start);
    joined += text.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (end == std::string::npos) {
      return joined;
    }
    joined += " / ";
    start = end + 2;
  }
}

// ---------------------------------------------------------------------------------------------
// Argument helpers shared by the commands.

ui::ControlId controlArgument(Arguments& arguments, const ParseContext& context) {
  const std::string name = arguments.word("control");
  const ui::ControlId id = context.form.find(name);
  if (id == ui::kNoControl) {
    throw ScriptError("unknown control \"" + name + "\"");
  }
  return id;
}

ui::ControlId controlOfKind(Arguments& arguments, const ParseContext& context, ui::ControlKind kind,
                            const char* kindName) {
  const ui::ControlId id = controlArgument(arguments, context);
  if (context.form[id].kind != kind) {
    throw ScriptError(context.form.nameOf(id) + " is not a " + kindName);
  }
  return id;
}

std::string serialArgument(Arguments& arguments, const ParseContext& context) {
  std::string serial = arguments.word("serial number");
  if (context.serials.count(serial) == 0) {
    throw ScriptError("no device with serial number \"" + serial + "\"");
  }
  return serial;
}

int intArgument(Arguments& arguments, std::string_view what, long long min, long long max) {
  return static_cast<int>(parseInteger(arguments.word(what), what, min, max));
}

// ---------------------------------------------------------------------------------------------
// The commands, in the order of the language's description.

// device SERIAL [fw=HHHH] [input=N] [feature=N] [pid=HHHH] [manufacturer=TEXT] [product=TEXT]
//        [unreadable-serial] [unreadable-strings] [unopenable] [receiver=off] [start=warm]
// Without its receiver a device sends exactly what the script gives it (`ubx`, `bytes`) and
// the status byte `status` last set.
Action parseDevice(Arguments& arguments, ParseContext& context) {
  const std::string serial = arguments.word("serial number");
  DeviceProfile device;
  device.serial = utf16FromUtf8(serial);
  while (std::optional<std::string> option = arguments.optionalWord()) {
    const std::size_t equals = option->find('=');
    const std::string key = option->substr(0, equals);
    const std::string value = equals == std::string::npos ? "" : option->substr(equals + 1);
    const bool hasValue = equals != std::string::npos;
    if (key == "fw" && hasValue) {
      device.versionNumber = parseHex16(value, "fw");
    } else if (key == "pid" && hasValue) {
      device.productId = parseHex16(value, "pid");
    } else if (key == "input" && hasValue) {
      device.inputLength = static_cast<std::uint16_t>(parseInteger(value, "input", 0, 0xFFFF));
    } else if (key == "feature" && hasValue) {
      device.featureLength = static_cast<std::uint16_t>(parseInteger(value, "feature", 0, 0xFFFF));
    } else if (key == "manufacturer" && hasValue) {
      device.manufacturer = utf16FromUtf8(value);
    } else if (key == "product" && hasValue) {
      device.product = utf16FromUtf8(value);
    } else if (*option == "unreadable-serial") {
      device.unreadableSerial = true;
    } else if (*option == "unreadable-strings") {
      device.unreadableStrings = true;
    } else if (*option == "unopenable") {
      device.unopenable = true;
    } else if (*option == "receiver=off") {
      device.receiver = false;
    } else if (*option == "start=warm") {
      device.start = platform::sim::Start::Warm;
    } else {
      throw ScriptError("unknown device option \"" + *option + "\"");
    }
  }
  context.serials.insert(serial);
  return [serial, device](World& world) { world.attach(serial, device); };
}

Action parseUnplug(Arguments& arguments, ParseContext& context) {
  const std::string serial = serialArgument(arguments, context);
  arguments.expectEnd();
  return [serial](World& world) { world.hid.unplug(world.device(serial)); };
}

Action parsePlug(Arguments& arguments, ParseContext& context) {
  const std::string serial = serialArgument(arguments, context);
  arguments.expectEnd();
  return [serial](World& world) { world.hid.plug(world.device(serial)); };
}

Action parseStart(Arguments& arguments, ParseContext&) {
  arguments.expectEnd();
  return [](World& world) { world.window.load(); };
}

// Each tick waits the Timer's interval as it stands when the tick begins; a disabled timer
// lets the time pass without polling, as a stopped timer would.
Action parseTick(Arguments& arguments, ParseContext&) {
  int count = 1;
  if (!arguments.atEnd()) {
    count = intArgument(arguments, "tick count", 0, kMaxTicks);
  }
  arguments.expectEnd();
  return [count](World& world) {
    for (int i = 0; i < count; ++i) {
      const ui::Control& timer = world.window.form()[ui::ctl::Timer];
      world.system.advance(std::chrono::milliseconds(timer.interval));
      if (timer.enabled) {
        world.window.tick();
      }
    }
  };
}

Action parseWait(Arguments& arguments, ParseContext&) {
  const int ms = intArgument(arguments, "milliseconds", 0, std::numeric_limits<int>::max());
  arguments.expectEnd();
  return [ms](World& world) { world.system.advance(std::chrono::milliseconds(ms)); };
}

Action parseClick(Arguments& arguments, ParseContext& context) {
  const ui::ControlId id = controlArgument(arguments, context);
  arguments.expectEnd();
  return [id](World& world) { world.window.form().userClick(id); };
}

Action parseChoose(Arguments& arguments, ParseContext& context) {
  const ui::ControlId id = controlOfKind(arguments, context, ui::ControlKind::ComboBox, "list");
  const int index = intArgument(arguments, "row", -1, std::numeric_limits<int>::max());
  arguments.expectEnd();
  return [id, index](World& world) { world.window.form().userChoose(id, index); };
}

Action parseType(Arguments& arguments, ParseContext& context) {
  const ui::ControlId id = controlOfKind(arguments, context, ui::ControlKind::TextBox, "text box");
  const std::string text = arguments.rest();
  return [id, text](World& world) { world.window.form().userType(id, text); };
}

Action parseKey(Arguments& arguments, ParseContext& context) {
  const ui::ControlId id = controlArgument(arguments, context);
  const int code = intArgument(arguments, "key code", 0, 0xFFFF);
  arguments.expectEnd();
  return [id, code](World& world) { world.window.form().userKey(id, code); };
}

Action parseLocale(Arguments& arguments, ParseContext&) {
  const std::string separator = arguments.word("decimal separator");
  if (separator != "." && separator != ",") {
    throw ScriptError("decimal separator must be . or ,");
  }
  arguments.expectEnd();
  return [s = separator[0]](World& world) { world.system.setDecimalSeparator(s); };
}

Action parseConfig(Arguments& arguments, ParseContext& context) {
  const std::string serial = serialArgument(arguments, context);
  std::vector<std::uint8_t> report;
  while (std::optional<std::string> byte = arguments.optionalWord()) {
    report.push_back(parseHexByte(*byte));
  }
  if (report.empty()) {
    throw ScriptError("missing configuration bytes");
  }
  return [serial, report](World& world) { world.device(serial).setConfiguration(report); };
}

std::vector<std::uint8_t> hexBytesArgument(Arguments& arguments) {
  std::vector<std::uint8_t> bytes;
  while (std::optional<std::string> byte = arguments.optionalWord()) {
    bytes.push_back(parseHexByte(*byte));
  }
  return bytes;
}

// ubx SERIAL CLASS ID HEX...: the receiver sends this frame, sync bytes and checksum added.
Action parseUbx(Arguments& arguments, ParseContext& context) {
  const std::string serial = serialArgument(arguments, context);
  const std::uint8_t messageClass = parseHexByte(arguments.word("message class"));
  const std::uint8_t messageId = parseHexByte(arguments.word("message ID"));
  const std::vector<std::uint8_t> frame =
      protocol::ubxFrame(messageClass, messageId, hexBytesArgument(arguments));
  return [serial, frame](World& world) { world.device(serial).injectBytes(frame); };
}

// bytes SERIAL HEX...: raw receiver bytes, for broken frames.
Action parseBytes(Arguments& arguments, ParseContext& context) {
  const std::string serial = serialArgument(arguments, context);
  const std::vector<std::uint8_t> bytes = hexBytesArgument(arguments);
  if (bytes.empty()) {
    throw ScriptError("missing bytes");
  }
  return [serial, bytes](World& world) { world.device(serial).injectBytes(bytes); };
}

// report SERIAL HEX...: one whole input report, byte 0 first, zero-filled to the input length;
// queued reports go out before anything the receiver sends.
Action parseReport(Arguments& arguments, ParseContext& context) {
  const std::string serial = serialArgument(arguments, context);
  const std::vector<std::uint8_t> report = hexBytesArgument(arguments);
  if (report.empty()) {
    throw ScriptError("missing report bytes");
  }
  return [serial, report](World& world) { world.device(serial).queueInputReport(report); };
}

// status SERIAL HH: the status byte of the device's input reports from now on.
Action parseStatus(Arguments& arguments, ParseContext& context) {
  const std::string serial = serialArgument(arguments, context);
  const std::uint8_t status = parseHexByte(arguments.word("status byte"));
  arguments.expectEnd();
  return [serial, status](World& world) { world.device(serial).setStatusByte(status); };
}

// silent SERIAL / talk SERIAL: the device stops sending input reports / starts again.
Action parseSilent(Arguments& arguments, ParseContext& context) {
  const std::string serial = serialArgument(arguments, context);
  arguments.expectEnd();
  return [serial](World& world) { world.device(serial).setSilent(true); };
}

Action parseTalk(Arguments& arguments, ParseContext& context) {
  const std::string serial = serialArgument(arguments, context);
  arguments.expectEnd();
  return [serial](World& world) { world.device(serial).setSilent(false); };
}

// hang SERIAL / answer SERIAL: the device's firmware stops answering / answers again.
Action parseHang(Arguments& arguments, ParseContext& context) {
  const std::string serial = serialArgument(arguments, context);
  arguments.expectEnd();
  return [serial](World& world) { world.device(serial).hang(); };
}

Action parseAnswer(Arguments& arguments, ParseContext& context) {
  const std::string serial = serialArgument(arguments, context);
  arguments.expectEnd();
  return [serial](World& world) { world.device(serial).answer(); };
}

Action parseClose(Arguments& arguments, ParseContext&) {
  arguments.expectEnd();
  return [](World& world) { world.window.unload(); };
}

Action parseShow(Arguments& arguments, ParseContext& context) {
  if (!arguments.atEnd()) {
    Arguments lookahead = arguments;
    if (lookahead.word("") == "state") {
      lookahead.expectEnd();
      return [](World& world) { world.output.push_back(describeState(world.window, world.hid)); };
    }
  }
  const ui::ControlId id = controlArgument(arguments, context);
  arguments.expectEnd();
  return [id](World& world) { world.output.push_back(describeControl(world.window.form(), id)); };
}

// ---------------------------------------------------------------------------------------------

struct ParsedLine {
  const ScriptLine* line;
  Action action;
};

// Reports every difference between what a command printed and what the script expected.
bool matches(const ScriptLine& line, const std::vector<std::string>& printed,
             std::string_view fileName, std::ostream& err) {
  bool same = true;
  const std::size_t count = std::max(printed.size(), line.expected.size());
  for (std::size_t i = 0; i < count; ++i) {
    if (i < line.expected.size()) {
      const Expectation& expected = line.expected[i];
      if (i < printed.size() && printed[i] == expected.text) {
        continue;
      }
      same = false;
      err << lineOf(fileName, expected.lineNumber) << "expected: " << expected.text << '\n';
      err << lineOf(fileName, expected.lineNumber)
          << "  actual: " << (i < printed.size() ? printed[i] : std::string("(nothing)")) << '\n';
    } else {
      same = false;
      err << lineOf(fileName, line.lineNumber) << "unexpected: " << printed[i] << '\n';
    }
  }
  return same;
}

}  // namespace

World::World() : window(hid, system) {
  // Receivers run on the window's virtual clock, so `tick` and `wait` move them on too.
  hid.setClock([this] { return system.now(); });
  hid.setReportListener([this](const platform::sim::SimDevice& device,
                               std::span<const std::uint8_t> report) {
    output.push_back("sent " + scriptSerialOf(device) + " " + hexBytes(significantBytes(report)));
  });
  system.setMessageListener([this](const std::string& title, const std::string& text) {
    output.push_back("message " + title + ": " + joinedMessageLines(text));
  });
  system.setAddressListener(
      [this](const std::string& address) { output.push_back("opened " + address); });
  system.setClockListener([this](const platform::UtcTime& t) {
    char line[48];
    std::snprintf(line, sizeof line, "clock %04d-%02d-%02d %02d:%02d:%02d.%03d", t.year, t.month,
                  t.day, t.hour, t.minute, t.second, t.milliseconds);
    output.push_back(line);
  });
}

void World::attach(const std::string& serial, DeviceProfile device) {
  devices_.emplace_back(serial, &hid.attach(std::move(device)));
}

platform::sim::SimDevice& World::device(const std::string& serial) {
  for (auto& [name, device] : devices_) {
    if (name == serial) {
      return *device;
    }
  }
  throw ScriptError("no device with serial number \"" + serial + "\"");
}

std::string World::scriptSerialOf(const platform::sim::SimDevice& device) const {
  for (const auto& [name, d] : devices_) {
    if (d == &device) {
      return name;
    }
  }
  return "?";
}

const std::vector<CommandEntry>& commands() {
  static const std::vector<CommandEntry> table = {
      {"device", parseDevice}, {"unplug", parseUnplug}, {"plug", parsePlug},
      {"start", parseStart},   {"tick", parseTick},     {"wait", parseWait},
      {"click", parseClick},   {"choose", parseChoose}, {"type", parseType},
      {"key", parseKey},       {"locale", parseLocale}, {"config", parseConfig},
      {"close", parseClose},   {"show", parseShow},     {"ubx", parseUbx},
      {"bytes", parseBytes},   {"status", parseStatus}, {"report", parseReport},
      {"silent", parseSilent}, {"talk", parseTalk},     {"hang", parseHang},
      {"answer", parseAnswer},
  };
  return table;
}

int runScenario(std::string_view text, std::string_view fileName, bool check, std::ostream& out,
                std::ostream& err) {
  const Script script = splitScript(text);
  // The window is built before the lines are read so that control names can be checked
  // against the real form.
  auto world = std::make_unique<World>();
  ParseContext context{world->window.form(), {}};

  bool wrong = false;
  if (check) {
    for (const Expectation& stray : script.strayExpectations) {
      err << lineOf(fileName, stray.lineNumber) << "expected output before any command\n";
      wrong = true;
    }
  }
  std::vector<ParsedLine> parsed;
  for (const ScriptLine& line : script.lines) {
    try {
      Arguments arguments(line.text);
      const std::string name = arguments.word("command");
      const auto& table = commands();
      const auto entry = std::find_if(table.begin(), table.end(),
                                      [&](const CommandEntry& c) { return c.name == name; });
      if (entry == table.end()) {
        throw ScriptError("unknown command \"" + name + "\"");
      }
      parsed.push_back(ParsedLine{&line, entry->parse(arguments, context)});
    } catch (const ScriptError& e) {
      err << lineOf(fileName, line.lineNumber) << e.what() << '\n';
      wrong = true;
    }
  }
  if (wrong) {
    return 2;
  }

  bool differed = false;
  for (const ParsedLine& p : parsed) {
    world->output.clear();
    try {
      p.action(*world);
    } catch (const std::exception& e) {
      out.flush();
      err << lineOf(fileName, p.line->lineNumber) << "failed: " << e.what() << '\n';
      return 2;
    }
    for (const std::string& printed : world->output) {
      out << printed << '\n';
    }
    if (check && !matches(*p.line, world->output, fileName, err)) {
      differed = true;
    }
  }
  return differed ? 1 : 0;
}

}  // namespace qvr::scenario
