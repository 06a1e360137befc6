#include "status/json_writer.h"

#include <gtest/gtest.h>

#include <clocale>
#include <locale>
#include <optional>
#include <random>
#include <string>
#include <string_view>

namespace qvr::status {
namespace {

TEST(JsonWriter, StringsComeOutAsAsciiWithEveryByteAccountedFor) {
  struct Case {
    std::string text;
    TextBytes bytes;
    const char* json;
  };
  const Case cases[] = {
      {"QVR000001", TextBytes::Latin1, R"("QVR000001")"},
      {"a\"b\\c/d", TextBytes::Utf8, R"("a\"b\\c/d")"},
      {"\b\f\n\r\t", TextBytes::Utf8, R"("\b\f\n\r\t")"},
      {std::string("x\0y", 3), TextBytes::Latin1, R"("x\u0000y")"},
      {"\x01\x1f\x7f", TextBytes::Latin1, R"("\u0001\u001f\u007f")"},
      // C1 controls, as a device string's bytes and as UTF-8.
      {"\x80\x9b\x9f", TextBytes::Latin1, R"("\u0080\u009b\u009f")"},
      {"\xC2\x9B", TextBytes::Utf8, R"("\u009b")"},
      // A device string's bytes are the low bytes of UTF-16 code units: each is its own
      // character, so "\xC3\xA9" is two of them and not the UTF-8 for one.
      {"\xC3\xA9\xFF", TextBytes::Latin1, R"("\u00c3\u00a9\u00ff")"},
      {"\xC3\xA9", TextBytes::Utf8, R"("\u00e9")"},
      {"\xE2\x82\xAC", TextBytes::Utf8, R"("\u20ac")"},
      {"\xF0\x9F\x98\x80", TextBytes::Utf8, R"("\ud83d\ude00")"},
      // Ill-formed UTF-8: a stray continuation byte, a truncated sequence, an overlong form, a
      // surrogate; each bad byte is one replacement character and the rest is kept.
      {"a\x80z", TextBytes::Utf8, R"("a\ufffdz")"},
      {"a\xE2\x82", TextBytes::Utf8, R"("a\ufffd\ufffd")"},
      {"\xC0\xAF", TextBytes::Utf8, R"("\ufffd\ufffd")"},
      {"\xED\xA0\x80", TextBytes::Utf8, R"("\ufffd\ufffd\ufffd")"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.json);
    EXPECT_EQ(jsonString(c.text, c.bytes), c.json);
  }
}

// The bytes a JSON string literal of a device string stands for, one per character; nothing
// when the literal holds anything but printable ASCII or an escape JSON does not have.
std::optional<std::string> latin1Literal(const std::string& literal) {
  if (literal.size() < 2 || literal.front() != '"' || literal.back() != '"') {
    return std::nullopt;
  }
  const std::string_view simple = "\"\\/bfnrt";
  const std::string_view meant = "\"\\/\b\f\n\r\t";
  std::string text;
  for (std::size_t i = 1; i + 1 < literal.size(); ++i) {
    const char c = literal[i];
    if (c < 0x20 || c > 0x7E || c == '"') {
      return std::nullopt;
    }
    if (c != '\\') {
      text += c;
    } else if (const std::size_t k = simple.find(literal.at(++i)); k != std::string_view::npos) {
      text += meant[k];
    } else if (literal[i] == 'u') {
      text += static_cast<char>(std::stoul(literal.substr(i + 1, 4), nullptr, 16));
      i += 4;
    } else {
      return std::nullopt;
    }
  }
  return text;
}

// Every byte string comes out as quoted printable ASCII, in either reading; a device string's
// bytes come back exactly.
TEST(JsonWriter, EveryByteStringIsPrintableAsciiAndADeviceStringReadsBack) {
  std::mt19937 random(7130);
  std::uniform_int_distribution<int> length(0, 16);
  std::uniform_int_distribution<int> anyByte(0, 255);
  for (int n = 0; n < 20000; ++n) {
    std::string text;
    for (int k = length(random); k > 0; --k) {
      text += static_cast<char>(anyByte(random));
    }
    SCOPED_TRACE(::testing::PrintToString(text));
    EXPECT_EQ(latin1Literal(jsonString(text, TextBytes::Latin1)), text);
    const std::string utf8 = jsonString(text, TextBytes::Utf8);
    EXPECT_TRUE(latin1Literal(utf8).has_value()) << utf8;
  }
}

TEST(JsonWriter, ScaledNumbersAreExact) {
  struct Case {
    std::int64_t units;
    int decimals;
    const char* text;
  };
  const Case cases[] = {
      {0, 7, "0.0000000"},
      {-5, 3, "-0.005"},
      {515012341, 7, "51.5012341"},
      {-1412338, 7, "-0.1412338"},
      {35200, 3, "35.200"},
      {-2147483648LL, 7, "-214.7483648"},
      {INT64_MIN, 0, "-9223372036854775808"},
      {42, 0, "42"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(scaledText(c.units, c.decimals), c.text);
  }
}

TEST(JsonWriter, CommasIndentationAndNulls) {
  const auto document = [](bool pretty) {
    JsonWriter json(pretty);
    json.beginObject();
    json.key("a").integer(-3);
    json.key("empty").beginArray();
    json.endArray();
    json.key("list").beginArray();
    json.boolean(true);
    json.null();
    json.beginObject();
    json.endObject();
    json.endArray();
    json.stringMember("s", std::nullopt);
    json.integerMember("n", std::nullopt);
    json.booleanMember("b", false);
    json.scaledMember("x", 12345, 2);
    json.endObject();
    return json.text();
  };
  EXPECT_EQ(document(false),
            R"({"a":-3,"empty":[],"list":[true,null,{}],"s":null,"n":null,"b":false,"x":123.45})");
  EXPECT_EQ(document(true),
            "{\n"
            "  \"a\": -3,\n"
            "  \"empty\": [],\n"
            "  \"list\": [\n"
            "    true,\n"
            "    null,\n"
            "    {}\n"
            "  ],\n"
            "  \"s\": null,\n"
            "  \"n\": null,\n"
            "  \"b\": false,\n"
            "  \"x\": 123.45\n"
            "}");
}

// A decimal comma and digit grouping, for the C++ side of the locale whatever is installed.
struct CommaPunctuation : std::numpunct<char> {
  char do_decimal_point() const override { return ','; }
  char do_thousands_sep() const override { return '.'; }
  std::string do_grouping() const override { return "\3"; }
};

// A user's locale with a decimal comma and digit grouping must not reach the output, neither
// through the C locale (printf) nor through the C++ global locale (streams). The C side needs
// such a locale installed; without one LC_NUMERIC is at least set to another than "C".
TEST(JsonWriter, NumbersIgnoreTheUsersLocale) {
  const std::string before = std::setlocale(LC_ALL, nullptr);
  bool commaInstalled = false;
  for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "German_Germany.1252"}) {
    if (std::setlocale(LC_ALL, name) != nullptr) {
      commaInstalled = true;
      break;
    }
  }
  if (!commaInstalled) {
    std::setlocale(LC_NUMERIC, "C.UTF-8");
  }
  const std::locale previous =
      std::locale::global(std::locale(std::locale::classic(), new CommaPunctuation));
  JsonWriter json(false);
  json.beginObject();
  json.key("lat").scaled(-123456789, 7);
  json.key("big").integer(1234567890123);
  json.endObject();
  std::locale::global(previous);
  std::setlocale(LC_ALL, before.c_str());
  EXPECT_EQ(json.text(), R"({"lat":-12.3456789,"big":1234567890123})");
}

}  // namespace
}  // namespace qvr::status
