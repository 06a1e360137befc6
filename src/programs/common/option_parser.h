#pragma once

#include <map>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace qvr::platform {

// How an option takes its value.
enum class ValueForm {
  None,         // --name
  Required,     // --name VALUE or --name=VALUE
  AfterEquals,  // --name or --name=VALUE: a separate word is never taken for it
  NextIfLike,   // --name, --name=VALUE, or --name VALUE when the word looks like one
};

struct DeclaredOption {
  std::string names;        // "-h,--help"; the values are read by the first long name
  std::string description;  // one paragraph, wrapped to the help's width
  std::string value;        // "SECONDS", as the help shows it; empty for a flag
  ValueForm form = ValueForm::None;
  std::string absent;  // the value of an optional value that was left out
  bool (*looksLikeValue)(std::string_view word) = nullptr;  // ValueForm::NextIfLike
};

// A program, or one of its commands, as its --help shows it.
struct DeclaredCommand {
  std::string name;                     // the command's word; empty for the program itself
  std::string synopsis;                 // after "Usage: PROGRAM "; a line of its own for each '\n'
  std::string purpose;                  // one sentence
  std::vector<DeclaredOption> options;  // -h, --help and --version are there without asking
  std::string notes;                    // after the options, as written (at most 80 columns)
  bool takesOperands = false;           // words that are neither options nor their values
};

// A command line that is refused: said as "PROGRAM: MESSAGE" with a hint to the help of
// `command` (the program's own when empty).
class UsageError : public std::runtime_error {
 public:
  UsageError(const std::string& message, std::string command)
      : std::runtime_error(message), command_(std::move(command)) {}
  [[nodiscard]] const std::string& command() const { return command_; }

 private:
  std::string command_;
};

struct ParsedLine {
  std::string command;  // empty: none given
  // Each option given, by its long name, with its values in the order given (empty for a flag).
  std::map<std::string, std::vector<std::string>> values;
  std::vector<std::string> operands;

  [[nodiscard]] bool given(const std::string& name) const { return values.contains(name); }
  // The value given last, which is the one that counts.
  [[nodiscard]] std::optional<std::string> last(const std::string& name) const;
};

// One program's command line, declared once: parsed with CLI11, and its help and its shell
// completion made from the same declarations.
class OptionParser {
 public:
  OptionParser(std::string program, DeclaredCommand main,
               std::vector<DeclaredCommand> commands = {});

  // Throws UsageError.
  [[nodiscard]] ParsedLine parse(const std::vector<std::string>& args) const;

  // The help of a command, or of the program for an empty name.
  [[nodiscard]] std::string help(std::string_view command = {}) const;

  // A bash completion script for the program, its commands and their options.
  [[nodiscard]] std::string bashCompletion() const;

  [[nodiscard]] const std::string& program() const { return program_; }

 private:
  [[nodiscard]] const DeclaredCommand* find(std::string_view command) const;
  [[nodiscard]] const DeclaredOption* findOption(std::string_view name) const;

  std::string program_;
  DeclaredCommand main_;
  std::vector<DeclaredCommand> commands_;
};

// What every program does before its work: a refusal said (2), the help or the version printed
// (0, or 1 when they could not be written); nothing when the program goes on.
struct EarlyAnswer {
  std::string error;    // empty: the command line was understood
  std::string command;  // whose help, and the help the hint to a refusal names
  bool help = false;
  bool version = false;
};
[[nodiscard]] std::optional<int> answerEarly(const OptionParser& parser, const EarlyAnswer& answer,
                                             const std::string& version, std::ostream& out,
                                             std::ostream& err);

}  // namespace qvr::platform
