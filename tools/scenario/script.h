#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace qvr::scenario {

// A line the interpreter cannot make sense of. The runner adds the file and line number.
class ScriptError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// An output line that --check expects, with the line of the file it came from.
struct Expectation {
  int lineNumber = 0;
  std::string text;
};

// One command line of a scenario (blank and comment-only lines are dropped) and the `>` lines
// that follow it.
struct ScriptLine {
  int lineNumber = 0;
  std::string text;  // as written, without a trailing carriage return
  std::vector<Expectation> expected;
};

struct Script {
  std::vector<ScriptLine> lines;
  // `>` lines that come before the first command: nothing could have printed them.
  std::vector<Expectation> strayExpectations;
};

[[nodiscard]] Script splitScript(std::string_view text);

// The words of one line after its command word. A word may hold double-quoted parts, in which
// blanks, `#`, `\"` and `\\` stand for themselves (manufacturer="QVR Instruments"). A word
// that starts with `#` outside quotes begins a comment that runs to the end of the line.
class Arguments {
 public:
  explicit Arguments(std::string_view text) : text_(text) {}

  // True when only blanks or a comment are left.
  [[nodiscard]] bool atEnd();
  // The next word; `what` names it in the error when there is none.
  [[nodiscard]] std::string word(std::string_view what);
  [[nodiscard]] std::optional<std::string> optionalWord();
  // Everything after the blank that follows the previous word, verbatim: comment signs and
  // quotes included, so that any text can be typed into a text box.
  [[nodiscard]] std::string rest();
  void expectEnd();

 private:
  void skipBlanks();

  std::string_view text_;
  std::size_t position_ = 0;
};

// Number words of the language; each throws ScriptError naming `what`.
[[nodiscard]] long long parseInteger(std::string_view word, std::string_view what, long long min,
                                     long long max);
[[nodiscard]] std::uint16_t parseHex16(std::string_view word, std::string_view what);
[[nodiscard]] std::uint8_t parseHexByte(std::string_view word);

// Serial numbers and device strings are UTF-8 in the file and UTF-16 on the simulated bus.
[[nodiscard]] std::u16string utf16FromUtf8(std::string_view text);

// Two-digit lower-case hex bytes separated by single spaces.
[[nodiscard]] std::string hexBytes(const std::vector<std::uint8_t>& bytes);

}  // namespace qvr::scenario
