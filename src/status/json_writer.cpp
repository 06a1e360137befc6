#include "status/json_writer.h"

#include <algorithm>
#include <array>
#include <charconv>

#include "protocol/device_strings.h"

namespace qvr::status {
namespace {

// Ill-formed UTF-8 becomes U+FFFD, one for each byte that starts no character.
constexpr char32_t kReplacement = 0xFFFD;

void appendEscape(std::string& out, char32_t unit) {
  constexpr char kHex[] = "0123456789abcdef";
  out += "\\u";
  for (int shift = 12; shift >= 0; shift -= 4) {
    out.push_back(kHex[(unit >> shift) & 0xF]);
  }
}

void appendCharacter(std::string& out, char32_t c) {
  switch (c) {
    case '"':
      out += "\\\"";
      return;
    case '\\':
      out += "\\\\";
      return;
    case '\b':
      out += "\\b";
      return;
    case '\f':
      out += "\\f";
      return;
    case '\n':
      out += "\\n";
      return;
    case '\r':
      out += "\\r";
      return;
    case '\t':
      out += "\\t";
      return;
    default:
      break;
  }
  if (c >= 0x20 && c < 0x7F) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x10000) {
    appendEscape(out, c);
  } else {
    // Beyond the basic plane JSON escapes a character as its UTF-16 surrogate pair.
    const char32_t v = c - 0x10000;
    appendEscape(out, 0xD800 + (v >> 10));
    appendEscape(out, 0xDC00 + (v & 0x3FF));
  }
}

void appendString(std::string& out, std::string_view text, TextBytes bytes) {
  out.push_back('"');
  for (std::size_t i = 0; i < text.size();) {
    if (bytes == TextBytes::Latin1) {
      appendCharacter(out, static_cast<unsigned char>(text[i++]));
    } else {
      appendCharacter(out, protocol::nextUtf8(text, i).value_or(kReplacement));
    }
  }
  out.push_back('"');
}

}  // namespace

std::string scaledText(std::int64_t units, int decimals) {
  // The magnitude as unsigned, so that the most negative value has one too.
  const std::uint64_t magnitude =
      units < 0 ? ~static_cast<std::uint64_t>(units) + 1 : static_cast<std::uint64_t>(units);
  std::string digits = std::to_string(magnitude);
  const std::size_t places = static_cast<std::size_t>(std::max(decimals, 0));
  if (digits.size() <= places) {
    digits.insert(0, places + 1 - digits.size(), '0');
  }
  if (places > 0) {
    digits.insert(digits.size() - places, 1, '.');
  }
  return (units < 0 ? "-" : "") + digits;
}

std::string jsonString(std::string_view text, TextBytes bytes) {
  std::string out;
  appendString(out, text, bytes);
  return out;
}

void JsonWriter::newLine() {
  if (pretty_) {
    out_.push_back('\n');
    out_.append(2 * levels_.size(), ' ');
  }
}

void JsonWriter::beforeValue() {
  if (afterKey_) {
    afterKey_ = false;
    return;
  }
  if (!levels_.empty()) {
    if (!levels_.back().empty) {
      out_.push_back(',');
    }
    levels_.back().empty = false;
    newLine();
  }
}

void JsonWriter::beginObject() {
  beforeValue();
  out_.push_back('{');
  levels_.push_back({true});
}

void JsonWriter::endObject() {
  const bool empty = levels_.back().empty;
  levels_.pop_back();
  if (!empty) {
    newLine();
  }
  out_.push_back('}');
}

void JsonWriter::beginArray() {
  beforeValue();
  out_.push_back('[');
  levels_.push_back({false});
}

void JsonWriter::endArray() {
  const bool empty = levels_.back().empty;
  levels_.pop_back();
  if (!empty) {
    newLine();
  }
  out_.push_back(']');
}

JsonWriter& JsonWriter::key(std::string_view name) {
  beforeValue();
  appendString(out_, name, TextBytes::Utf8);
  out_ += pretty_ ? ": " : ":";
  afterKey_ = true;
  return *this;
}

void JsonWriter::string(std::string_view text, TextBytes bytes) {
  beforeValue();
  appendString(out_, text, bytes);
}

void JsonWriter::integer(std::int64_t value) {
  beforeValue();
  std::array<char, 24> buffer{};
  const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
  out_.append(buffer.data(), result.ptr);
}

void JsonWriter::scaled(std::int64_t units, int decimals) {
  beforeValue();
  out_ += scaledText(units, decimals);
}

void JsonWriter::boolean(bool value) {
  beforeValue();
  out_ += value ? "true" : "false";
}

void JsonWriter::null() {
  beforeValue();
  out_ += "null";
}

void JsonWriter::stringMember(std::string_view name, const std::optional<std::string>& text,
                              TextBytes bytes) {
  key(name);
  if (text) {
    string(*text, bytes);
  } else {
    null();
  }
}

void JsonWriter::integerMember(std::string_view name, std::optional<std::int64_t> value) {
  key(name);
  if (value) {
    integer(*value);
  } else {
    null();
  }
}

void JsonWriter::booleanMember(std::string_view name, std::optional<bool> value) {
  key(name);
  if (value) {
    boolean(*value);
  } else {
    null();
  }
}

void JsonWriter::scaledMember(std::string_view name, std::optional<std::int64_t> units,
                              int decimals) {
  key(name);
  if (units) {
    scaled(*units, decimals);
  } else {
    null();
  }
}

}  // namespace qvr::status
