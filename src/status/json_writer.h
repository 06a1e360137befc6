#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/printable_text.h"

namespace qvr::status {

using protocol::TextBytes;

// A small JSON writer for the program's output. Everything it writes is ASCII: every character
// outside printable ASCII is a \u escape, so the output survives any terminal, code page or
// pipe unchanged, and a device string's bytes come back exactly as the code points U+0000 to
// U+00FF. Ill-formed UTF-8 becomes U+FFFD. Numbers never depend on the C or C++ locale.
//
// Members of an object are written as key() followed by one value or container; the writer
// puts the commas, and in the pretty form the line breaks and two-space indentation.
class JsonWriter {
 public:
  explicit JsonWriter(bool pretty) : pretty_(pretty) {}

  void beginObject();
  void endObject();
  void beginArray();
  void endArray();
  JsonWriter& key(std::string_view name);

  void string(std::string_view text, TextBytes bytes = TextBytes::Utf8);
  void integer(std::int64_t value);
  // `units` of 10^-decimals, exactly: scaled(-123456789, 7) is -12.3456789.
  void scaled(std::int64_t units, int decimals);
  void boolean(bool value);
  void null();

  // Members whose value may be unknown: null when it is.
  void stringMember(std::string_view name, const std::optional<std::string>& text,
                    TextBytes bytes = TextBytes::Utf8);
  void integerMember(std::string_view name, std::optional<std::int64_t> value);
  void booleanMember(std::string_view name, std::optional<bool> value);
  void scaledMember(std::string_view name, std::optional<std::int64_t> units, int decimals);

  // The document so far; complete once every container is closed.
  [[nodiscard]] const std::string& text() const { return out_; }

 private:
  void beforeValue();
  void newLine();

  struct Level {
    bool object;
    bool empty = true;
  };
  bool pretty_;
  bool afterKey_ = false;
  std::vector<Level> levels_;
  std::string out_;
};

// `units` of 10^-decimals as plain decimal text with exactly `decimals` decimals and '.' for the
// point: (-5, 3) is "-0.005". Exact, and the same in every locale.
[[nodiscard]] std::string scaledText(std::int64_t units, int decimals);

// `text` as a JSON string literal, quotes included.
[[nodiscard]] std::string jsonString(std::string_view text, TextBytes bytes = TextBytes::Utf8);

}  // namespace qvr::status
