#include "programs/common/option_parser.h"

#include <CLI/CLI.hpp>
#include <algorithm>

#include "programs/common/command_line.h"

namespace qvr::platform {
namespace {

constexpr std::size_t kWidth = 80;
// Where an option's description starts: two spaces, the option, at least two spaces.
constexpr std::size_t kDescriptionColumn = 22;

const DeclaredOption kHelp{"-h,--help", "show this help and exit"};
const DeclaredOption kVersion{"--version", "show the program's version and exit"};

std::vector<std::string> split(std::string_view text, char separator) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (std::size_t at = text.find(separator); at != std::string_view::npos;
       at = text.find(separator, start)) {
    parts.emplace_back(text.substr(start, at - start));
    start = at + 1;
  }
  parts.emplace_back(text.substr(start));
  return parts;
}

std::string joined(const std::vector<std::string>& words, std::string_view separator) {
  std::string text;
  for (const std::string& word : words) {
    text += (text.empty() ? "" : std::string(separator)) + word;
  }
  return text;
}

// The name a value is read by: the first long one, "--help" of "-h,--help".
std::string longName(const DeclaredOption& option) {
  for (const std::string& name : split(option.names, ',')) {
    if (name.rfind("--", 0) == 0) {
      return name;
    }
  }
  return option.names;
}

bool named(const DeclaredOption& option, std::string_view name) {
  const std::vector<std::string> names = split(option.names, ',');
  return std::find(names.begin(), names.end(), name) != names.end();
}

// Words of `text`, a bracketed group ("[--watch [SECONDS]]") counting as one, filled into lines
// of at most kWidth columns; the first line starts at column `first`, the others at `indent`.
std::string wrap(std::string_view text, std::size_t first, std::size_t indent) {
  std::vector<std::string> words;
  int depth = 0;
  std::string word;
  for (const char c : text) {
    if (c == ' ' && depth == 0) {
      if (!word.empty()) {
        words.push_back(word);
      }
      word.clear();
      continue;
    }
    depth += c == '[' ? 1 : (c == ']' ? -1 : 0);
    word += c;
  }
  if (!word.empty()) {
    words.push_back(word);
  }
  std::string out;
  std::size_t column = first;
  bool lineEmpty = true;
  for (const std::string& w : words) {
    if (!lineEmpty && column + 1 + w.size() > kWidth) {
      out += '\n' + std::string(indent, ' ');
      column = indent;
      lineEmpty = true;
    }
    if (!lineEmpty) {
      out += ' ';
      ++column;
    }
    out += w;
    column += w.size();
    lineEmpty = false;
  }
  return out + '\n';
}

// "  --name VALUE      description", the description on a line of its own when the name leaves
// it no room.
std::string entry(const std::string& shown, const std::string& description) {
  std::string line = "  " + shown;
  if (line.size() + 2 > kDescriptionColumn) {
    line += '\n' + std::string(kDescriptionColumn, ' ');
  } else {
    line.resize(kDescriptionColumn, ' ');
  }
  return line + wrap(description, kDescriptionColumn, kDescriptionColumn);
}

std::string shownName(const DeclaredOption& option) {
  std::string shown = joined(split(option.names, ','), ", ");
  switch (option.form) {
    case ValueForm::None:
      return shown;
    case ValueForm::Required:
      return shown + ' ' + option.value;
    case ValueForm::AfterEquals:
      return shown + "[=" + option.value + ']';
    case ValueForm::NextIfLike:
      return shown + " [" + option.value + ']';
  }
  return shown;
}

// The options a command takes, with the two every command has.
std::vector<DeclaredOption> withStandard(const std::vector<DeclaredOption>& options) {
  std::vector<DeclaredOption> all = options;
  all.push_back(kHelp);
  all.push_back(kVersion);
  return all;
}

std::string quotedWords(const std::vector<std::string>& words) {
  return "'" + joined(words, " ") + "'";
}

// A command's options as CLI11 reads them: each one "--name" or "--name VALUE" by now.
void declare(CLI::App& app, const std::vector<DeclaredOption>& options) {
  app.set_help_flag();
  app.allow_extras();
  for (const DeclaredOption& option : withStandard(options)) {
    if (option.form == ValueForm::None) {
      app.add_flag(option.names);
    } else {
      app.add_option(option.names)
          ->expected(1)
          ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    }
  }
}

}  // namespace

std::optional<std::string> ParsedLine::last(const std::string& name) const {
  const auto found = values.find(name);
  if (found == values.end() || found->second.empty()) {
    return std::nullopt;
  }
  return found->second.back();
}

OptionParser::OptionParser(std::string program, DeclaredCommand main,
                           std::vector<DeclaredCommand> commands)
    : program_(std::move(program)), main_(std::move(main)), commands_(std::move(commands)) {}

const DeclaredCommand* OptionParser::find(std::string_view command) const {
  if (command.empty()) {
    return &main_;
  }
  const auto found =
      std::find_if(commands_.begin(), commands_.end(),
                   [&](const DeclaredCommand& declared) { return declared.name == command; });
  return found == commands_.end() ? nullptr : &*found;
}

const DeclaredOption* OptionParser::findOption(std::string_view name) const {
  for (const DeclaredOption* standard : {&kHelp, &kVersion}) {
    if (named(*standard, name)) {
      return standard;
    }
  }
  const auto in = [&](const DeclaredCommand& declared) -> const DeclaredOption* {
    const auto found =
        std::find_if(declared.options.begin(), declared.options.end(),
                     [&](const DeclaredOption& option) { return named(option, name); });
    return found == declared.options.end() ? nullptr : &*found;
  };
  if (const DeclaredOption* option = in(main_)) {
    return option;
  }
  for (const DeclaredCommand& declared : commands_) {
    if (const DeclaredOption* option = in(declared)) {
      return option;
    }
  }
  return nullptr;
}

// CLI11 2.1.2 reads "--name=" as "--name" with its value still to come, and takes the next word
// for any value that may be left out; so every option the program declares reaches it spelled
// out here, as "--name" or "--name VALUE". Operands never reach it: "--" ends the options, and
// the command (which may come after its options) goes first.
ParsedLine OptionParser::parse(const std::vector<std::string>& args) const {
  ParsedLine line;
  std::vector<std::string> spelled;
  std::string refusal;  // the first, said once the command is known, whose help it points to
  std::size_t i = 0;
  const auto takeValue = [&]() -> std::optional<std::string> {
    if (i + 1 < args.size() && args[i + 1] != "--") {
      return args[++i];
    }
    return std::nullopt;
  };
  for (; i < args.size() && args[i] != "--"; ++i) {
    const std::string& arg = args[i];
    if (arg.size() < 2 || arg[0] != '-') {
      line.operands.push_back(arg);
      continue;
    }
    const std::size_t equals = arg.rfind("--", 0) == 0 ? arg.find('=') : std::string::npos;
    const std::string name = arg.substr(0, equals);
    const std::optional<std::string> attached =
        equals == std::string::npos ? std::nullopt : std::optional(arg.substr(equals + 1));
    const DeclaredOption* option = findOption(name);
    if (option == nullptr) {
      spelled.push_back(arg);  // unknown: CLI11 leaves it over
      continue;
    }
    spelled.push_back(name);
    switch (option->form) {
      case ValueForm::None:
        if (attached && refusal.empty()) {
          refusal = "option '" + name + "' takes no value";
        }
        break;
      case ValueForm::Required:
        if (attached) {
          spelled.push_back(*attached);
        } else if (const auto next = takeValue()) {
          spelled.push_back(*next);
        } else if (refusal.empty()) {
          refusal = "option '" + name + "' needs a value";
        }
        break;
      case ValueForm::AfterEquals:
        spelled.push_back(attached.value_or(option->absent));
        break;
      case ValueForm::NextIfLike:
        if (attached) {
          spelled.push_back(*attached);
        } else if (i + 1 < args.size() && option->looksLikeValue(args[i + 1])) {
          spelled.push_back(args[++i]);
        } else {
          spelled.push_back(option->absent);
        }
        break;
    }
  }
  if (i < args.size()) {
    line.operands.insert(line.operands.end(), args.begin() + static_cast<std::ptrdiff_t>(i) + 1,
                         args.end());
  }

  const DeclaredCommand* declared = &main_;
  if (!commands_.empty() && !line.operands.empty()) {
    declared = find(line.operands.front());
    if (declared == nullptr || declared == &main_) {
      throw UsageError("unknown command '" + line.operands.front() + "'", "");
    }
    line.command = declared->name;
    line.operands.erase(line.operands.begin());
  }
  if (!refusal.empty()) {
    throw UsageError(refusal, line.command);
  }

  CLI::App app;
  declare(app, main_.options);
  CLI::App* active = &app;
  if (declared != &main_) {
    active = app.add_subcommand(declared->name);
    declare(*active, declared->options);
    spelled.insert(spelled.begin(), declared->name);
  }
  try {
    // CLI11 takes the arguments last first.
    std::reverse(spelled.begin(), spelled.end());
    app.parse(spelled);
  } catch (const CLI::ParseError& e) {
    throw UsageError(e.what(), line.command);
  }
  for (const std::string& left : app.remaining(true)) {
    const std::string name = left.substr(0, left.find('='));
    if (findOption(name) == nullptr) {
      throw UsageError("unknown option '" + left + "'", line.command);
    }
    // Another command's option: without a command the program says what is missing.
    if (!line.command.empty()) {
      throw UsageError("option '" + name + "' does not go with '" + line.command + "'",
                       line.command);
    }
  }
  if (!declared->takesOperands && !line.operands.empty()) {
    throw UsageError("unexpected argument '" + line.operands.front() + "'", line.command);
  }
  for (const DeclaredOption& option : withStandard(declared->options)) {
    const CLI::Option* parsed = active->get_option(longName(option));
    if (parsed->count() == 0) {
      continue;
    }
    line.values[longName(option)] = option.form == ValueForm::None
                                        ? std::vector<std::string>(parsed->count())
                                        : parsed->results();
  }
  return line;
}

std::string OptionParser::help(std::string_view command) const {
  const DeclaredCommand* declared = find(command);
  const std::string usage = "Usage: " + program_ + ' ';
  std::string text;
  for (const std::string& synopsis : split(declared->synopsis, '\n')) {
    text += (text.empty() ? usage
                          : std::string(usage.size() - program_.size() - 1, ' ') + program_ + ' ') +
            wrap(synopsis, usage.size(), usage.size());
  }
  text += wrap(declared->purpose, 0, 0);
  if (declared == &main_ && !commands_.empty()) {
    text += "\nCommands:\n";
    for (const DeclaredCommand& each : commands_) {
      text += entry(each.name, each.purpose);
    }
  }
  text += "\nOptions:\n";
  for (const DeclaredOption& option : withStandard(declared->options)) {
    text += entry(shownName(option), option.description);
  }
  if (!declared->notes.empty()) {
    text += '\n' + declared->notes;
  }
  return text;
}

std::string OptionParser::bashCompletion() const {
  const std::string function = "_" + program_;
  std::vector<std::string> commandNames;
  for (const DeclaredCommand& declared : commands_) {
    commandNames.push_back(declared.name);
  }
  // Which options take a value, and which of those a file name.
  std::vector<std::string> valued;
  std::vector<std::string> files;
  std::string cases;
  const auto optionWords = [&](const DeclaredCommand& declared) {
    std::vector<std::string> words;
    for (const DeclaredOption& option : withStandard(declared.options)) {
      for (const std::string& name : split(option.names, ',')) {
        words.push_back(name);
        if (option.form == ValueForm::Required) {
          (option.value == "FILE" ? files : valued).push_back(name);
        }
      }
    }
    return words;
  };
  for (const DeclaredCommand& declared : commands_) {
    cases += "    " + declared.name + ") options=" + quotedWords(optionWords(declared)) + " ;;\n";
  }
  std::vector<std::string> mainWords = optionWords(main_);
  cases += "    *) options=" + quotedWords(mainWords) + " ;;\n";
  const auto alternatives = [](std::vector<std::string> words) {
    std::sort(words.begin(), words.end());
    words.erase(std::unique(words.begin(), words.end()), words.end());
    return joined(words, "|");
  };
  std::string script = "# bash completion for " + program_ +
                       ", made from its option declarations\n" + function +
                       "() {\n"
                       "  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}\n"
                       "  local command='' word options\n";
  if (!commandNames.empty()) {
    script += "  for word in \"${COMP_WORDS[@]:1:COMP_CWORD-1}\"; do\n    case $word in\n      " +
              alternatives(commandNames) +
              ")\n        command=$word\n        break\n        ;;\n    esac\n  done\n";
  }
  script += "  case $prev in\n";
  if (!files.empty()) {
    script += "    " + alternatives(files) +
              ")\n      mapfile -t COMPREPLY < <(compgen -f -- \"$cur\")\n      return\n      ;;\n";
  }
  if (!valued.empty()) {
    script += "    " + alternatives(valued) + ")\n      COMPREPLY=()\n      return\n      ;;\n";
  }
  script += "  esac\n  case $command in\n" + cases + "  esac\n";
  if (!commandNames.empty()) {
    script +=
        "  if [[ -z $command && $cur != -* ]]; then\n    options=" + quotedWords(commandNames) +
        "\n  fi\n";
  }
  script += "  mapfile -t COMPREPLY < <(compgen -W \"$options\" -- \"$cur\")\n}\ncomplete -F " +
            function + ' ' + program_ + '\n';
  return script;
}

std::optional<int> answerEarly(const OptionParser& parser, const EarlyAnswer& answer,
                               const std::string& version, std::ostream& out, std::ostream& err) {
  const std::string& program = parser.program();
  if (!answer.error.empty()) {
    err << program << ": " << answer.error << "\nTry '" << program
        << (answer.command.empty() ? "" : " " + answer.command)
        << " --help' for more information.\n";
    return 2;
  }
  if (answer.help) {
    out << parser.help(answer.command);
    return finishOutput(0, out, err, program);
  }
  if (answer.version) {
    out << program << ' ' << version << '\n';
    return finishOutput(0, out, err, program);
  }
  return std::nullopt;
}

}  // namespace qvr::platform
