#include "scenario/script.h"

#include <charconv>

namespace qvr::scenario {
namespace {

bool isBlank(char c) {
  return c == ' ' || c == '\t';
}

std::string quotedForError(std::string_view word) {
  return "\"" + std::string(word) + "\"";
}

}  // namespace

Script splitScript(std::string_view text) {
  Script script;
  int lineNumber = 0;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = text.find('\n', start);
    std::string_view line =
        text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
    ++lineNumber;
    if (!line.empty() && line.back() == '\r') {
      line.remove_suffix(1);
    }
    const std::size_t first = line.find_first_not_of(" \t");
    if (first != std::string_view::npos && line[first] == '>') {
      std::string_view expected = line.substr(first + 1);
      if (!expected.empty() && expected.front() == ' ') {
        expected.remove_prefix(1);
      }
      Expectation expectation{lineNumber, std::string(expected)};
      if (script.lines.empty()) {
        script.strayExpectations.push_back(std::move(expectation));
      } else {
        script.lines.back().expected.push_back(std::move(expectation));
      }
    } else if (first != std::string_view::npos && line[first] != '#') {
      script.lines.push_back(ScriptLine{lineNumber, std::string(line), {}});
    }
    if (end == std::string_view::npos) {
      break;
    }
    start = end + 1;
  }
  return script;
}

void Arguments::skipBlanks() {
  while (position_ < text_.size() && isBlank(text_[position_])) {
    ++position_;
  }
}

bool Arguments::atEnd() {
  skipBlanks();
  return position_ >= text_.size() || text_[position_] == '#';
}

std::optional<std::string> Arguments::optionalWord() {
  if (atEnd()) {
    return std::nullopt;
  }
  std::string word;
  bool quoted = false;
  while (position_ < text_.size()) {
    const char c = text_[position_];
    if (!quoted && isBlank(c)) {
      break;
    }
    ++position_;
    if (c == '"') {
      quoted = !quoted;
    } else if (quoted && c == '\\' && position_ < text_.size()) {
      word.push_back(text_[position_++]);
    } else {
      word.push_back(c);
    }
  }
  if (quoted) {
    throw ScriptError("unterminated quote");
  }
  return word;
}

std::string Arguments::word(std::string_view what) {
  std::optional<std::string> w = optionalWord();
  if (!w) {
    throw ScriptError("missing " + std::string(what));
  }
  return *w;
}

std::string Arguments::rest() {
  if (position_ < text_.size() && isBlank(text_[position_])) {
    ++position_;
  }
  std::string rest(text_.substr(position_));
  position_ = text_.size();
  return rest;
}

void Arguments::expectEnd() {
  if (!atEnd()) {
    const std::string extra = word("");
    throw ScriptError("unexpected " + quotedForError(extra));
  }
}

long long parseInteger(std::string_view word, std::string_view what, long long min, long long max) {
  long long value = 0;
  const auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), value);
  if (word.empty() || error != std::errc() || end != word.data() + word.size()) {
    throw ScriptError(std::string(what) + " is not a number: " + quotedForError(word));
  }
  if (value < min || value > max) {
    throw ScriptError(std::string(what) + " out of range: " + quotedForError(word));
  }
  return value;
}

namespace {

unsigned parseHex(std::string_view word, std::size_t maxDigits, std::string_view what) {
  unsigned value = 0;
  const auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), value, 16);
  if (word.empty() || word.size() > maxDigits || error != std::errc() ||
      end != word.data() + word.size()) {
    throw ScriptError(std::string(what) + " is not " + std::to_string(maxDigits) +
                      "-digit hex: " + quotedForError(word));
  }
  return value;
}

}  // namespace

std::uint16_t parseHex16(std::string_view word, std::string_view what) {
  return static_cast<std::uint16_t>(parseHex(word, 4, what));
}

std::uint8_t parseHexByte(std::string_view word) {
  return static_cast<std::uint8_t>(parseHex(word, 2, "byte"));
}

std::u16string utf16FromUtf8(std::string_view text) {
  std::u16string out;
  std::size_t i = 0;
  const auto byteAt = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  while (i < text.size()) {
    const unsigned lead = byteAt(i);
    int continuation = 0;
    char32_t code = 0;
    if (lead < 0x80) {
      code = lead;
    } else if ((lead & 0xE0) == 0xC0) {
      continuation = 1;
      code = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
      continuation = 2;
      code = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
      continuation = 3;
      code = lead & 0x07;
    } else {
      throw ScriptError("text is not UTF-8");
    }
    if (i + static_cast<std::size_t>(continuation) >= text.size()) {
      throw ScriptError("text is not UTF-8");
    }
    for (int k = 1; k <= continuation; ++k) {
      const unsigned next = byteAt(i + static_cast<std::size_t>(k));
      if ((next & 0xC0) != 0x80) {
        throw ScriptError("text is not UTF-8");
      }
      code = (code << 6) | (next & 0x3F);
    }
    i += static_cast<std::size_t>(continuation) + 1;
    if (code >= 0x10000) {
      code -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(code));
    }
  }
  return out;
}

std::string hexBytes(const std::vector<std::uint8_t>& bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  for (std::uint8_t b : bytes) {
    if (!text.empty()) {
      text.push_back(' ');
    }
    text.push_back(kDigits[b >> 4]);
    text.push_back(kDigits[b & 0x0F]);
  }
  return text;
}

}  // namespace qvr::scenario
