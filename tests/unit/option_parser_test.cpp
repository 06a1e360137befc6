#include "programs/common/option_parser.h"

#include <gtest/gtest.h>

#include <random>
#include <sstream>

namespace qvr::platform {
namespace {

bool startsWithDigit(std::string_view word) {
  return !word.empty() && word[0] >= '0' && word[0] <= '9';
}

const OptionParser& parser() {
  static const OptionParser tool(
      "tool", {.synopsis = "[options]", .purpose = "Does.", .options = {{"--flag", "f"}}},
      {{.name = "run",
        .synopsis = "run",
        .purpose = "Runs.",
        .options = {{"--flag", "f"},
                    {"-v,--value", "v", "V", ValueForm::Required},
                    {"--count", "c", "N", ValueForm::AfterEquals, "1"},
                    {"--every", "e", "S", ValueForm::NextIfLike, "60", startsWithDigit}},
        .takesOperands = true},
       {.name = "stop", .synopsis = "stop", .purpose = "Stops."}});
  return tool;
}

// Each form of value in each spelling, with what is left for the operands; or the refusal.
TEST(OptionParser, SpellsOutEveryFormOfValue) {
  struct Case {
    std::vector<std::string> args;
    std::string expected;  // "--name=value..." of every option, then "| operands"; or the error
  };
  const Case cases[] = {
      {{"run", "--value=a", "--value", "b", "-v", "c"}, "--value=a,b,c |"},
      {{"--value=", "run"}, "--value= |"},
      {{"run", "--value", "-x"}, "--value=-x |"},
      {{"run", "--count", "5"}, "--count=1 | 5"},
      {{"run", "--count=", "--count=7"}, "--count=,7 |"},
      {{"run", "--every", "5", "--every", "x"}, "--every=5,60 | x"},
      {{"--every=x", "run"}, "--every=x |"},
      {{"run", "--", "--flag", "-v"}, "| --flag -v"},
      {{"--", "run", "a"}, "| a"},
      {{"run", "--flag", "--flag"}, "--flag=, |"},
      {{"run", "--flag=yes"}, "option '--flag' takes no value"},
      {{"run", "--value"}, "option '--value' needs a value"},
      {{"run", "--value", "--"}, "option '--value' needs a value"},
      {{"run", "--nope=1"}, "unknown option '--nope=1'"},
      {{"run", "-x"}, "unknown option '-x'"},
      {{"stop", "--count"}, "option '--count' does not go with 'stop'"},
      {{"stop", "extra"}, "unexpected argument 'extra'"},
      {{"walk"}, "unknown command 'walk'"},
      {{"--flag"}, "--flag= |"},
  };
  for (const Case& c : cases) {
    std::string joined;
    for (const std::string& arg : c.args) {
      joined += arg + ' ';
    }
    SCOPED_TRACE(joined);
    std::string got;
    try {
      const ParsedLine line = parser().parse(c.args);
      for (const auto& [name, values] : line.values) {
        got += name + '=';
        for (std::size_t i = 0; i < values.size(); ++i) {
          got += (i == 0 ? "" : ",") + values[i];
        }
        got += ' ';
      }
      got += '|';
      for (const std::string& operand : line.operands) {
        got += ' ' + operand;
      }
    } catch (const UsageError& e) {
      got = e.what();
    }
    EXPECT_EQ(got, c.expected);
  }
}

// Descriptions of any length and any words fill lines of at most 80 columns, every word kept in
// its order.
TEST(OptionParser, HelpKeepsEveryWordWithinEightyColumns) {
  std::mt19937 random(7130);
  const auto between = [&random](int low, int high) {
    return std::uniform_int_distribution(low, high)(random);
  };
  for (int round = 0; round < 200; ++round) {
    std::vector<DeclaredOption> options;
    std::vector<std::string> words;
    for (int option = between(1, 4); option > 0; --option) {
      std::string description;
      for (int word = between(1, 40); word > 0; --word) {
        words.push_back('w' + std::to_string(words.size()) + std::string(between(0, 50), 'x'));
        description += words.back() + ' ';
      }
      options.push_back({"--" + std::string(between(1, 30), 'o'), description});
    }
    const std::string help =
        OptionParser("p", {.synopsis = "x", .purpose = "P.", .options = options}).help();
    std::istringstream lines(help);
    std::size_t found = 0;
    for (std::string line; std::getline(lines, line);) {
      EXPECT_LE(line.size(), 80U) << line;
      std::istringstream tokens(line);
      for (std::string token; tokens >> token;) {
        found += found < words.size() && token == words[found] ? 1 : 0;
      }
    }
    EXPECT_EQ(found, words.size()) << help;
  }
}

}  // namespace
}  // namespace qvr::platform
