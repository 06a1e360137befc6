// The scenario language itself: how lines are read, and how the runner reports a broken
// script or output that differs from what the script expects.

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "scenario/scenario.h"
#include "scenario/script.h"
#include "scenario/show.h"

namespace qvr::scenario {
namespace {

TEST(SplitScript, KeepsCommandsWithTheirExpectedLinesAndLineNumbers) {
  const Script script = splitScript(
      "> stray\r\n"
      "# comment\n"
      "\n"
      "start\r\n"
      ">  two blanks keep one\n"
      "  # indented comment\n"
      "  >indented\n"
      "tick 2");
  ASSERT_EQ(script.strayExpectations.size(), 1u);
  EXPECT_EQ(script.strayExpectations[0].lineNumber, 1);
  ASSERT_EQ(script.lines.size(), 2u);
  EXPECT_EQ(script.lines[0].lineNumber, 4);
  EXPECT_EQ(script.lines[0].text, "start");
  ASSERT_EQ(script.lines[0].expected.size(), 2u);
  EXPECT_EQ(script.lines[0].expected[0].text, " two blanks keep one");
  EXPECT_EQ(script.lines[0].expected[0].lineNumber, 5);
  EXPECT_EQ(script.lines[0].expected[1].text, "indented");
  EXPECT_EQ(script.lines[1].lineNumber, 8);
  EXPECT_TRUE(script.lines[1].expected.empty());
}

TEST(Arguments, QuotesEscapesAndComments) {
  Arguments args(R"(  123 manufacturer="QVR \"X\" # 1" "a\\b" plain # trailing comment)");
  EXPECT_EQ(args.word("serial"), "123");
  EXPECT_EQ(args.word("option"), "manufacturer=QVR \"X\" # 1");
  EXPECT_EQ(args.word("option"), "a\\b");
  EXPECT_EQ(args.optionalWord(), "plain");
  EXPECT_TRUE(args.atEnd());
  EXPECT_EQ(args.optionalWord(), std::nullopt);
  EXPECT_NO_THROW(args.expectEnd());
}

TEST(Arguments, RestIsVerbatimAfterOneBlank) {
  Arguments args("Out1Freq  10,5 # not a comment \"here\"");
  EXPECT_EQ(args.word("control"), "Out1Freq");
  EXPECT_EQ(args.rest(), " 10,5 # not a comment \"here\"");
  Arguments empty("Out1Freq");
  EXPECT_EQ(empty.word("control"), "Out1Freq");
  EXPECT_EQ(empty.rest(), "");
}

TEST(Arguments, Errors) {
  Arguments unterminated("\"abc");
  EXPECT_THROW((void)unterminated.word("serial"), ScriptError);
  Arguments missing("   # nothing but a comment");
  EXPECT_THROW((void)missing.word("serial"), ScriptError);
  Arguments extra("3 4");
  (void)extra.word("count");
  EXPECT_THROW(extra.expectEnd(), ScriptError);
}

TEST(Numbers, HexAndDecimalWords) {
  EXPECT_EQ(parseHex16("0108", "fw"), 0x0108);
  EXPECT_EQ(parseHex16("11A", "fw"), 0x011A);
  EXPECT_EQ(parseHexByte("FF"), 0xFF);
  EXPECT_EQ(parseHexByte("7"), 0x07);
  for (const char* bad : {"", "10000", "0x10", "-1", "12g"}) {
    EXPECT_THROW((void)parseHex16(bad, "fw"), ScriptError) << bad;
  }
  for (const char* bad : {"100", "", "+1", "g"}) {
    EXPECT_THROW((void)parseHexByte(bad), ScriptError) << bad;
  }
  EXPECT_EQ(parseInteger("-1", "row", -1, 5), -1);
  EXPECT_THROW((void)parseInteger("6", "row", -1, 5), ScriptError);
  EXPECT_THROW((void)parseInteger("1.5", "row", -1, 5), ScriptError);
  EXPECT_THROW((void)parseInteger("", "row", -1, 5), ScriptError);
}

TEST(Text, Utf8ToUtf16AndQuoting) {
  EXPECT_EQ(utf16FromUtf8("A\xC4\xB1\xC4\x80"), (std::u16string{u'A', 0x0131, 0x0100}));
  EXPECT_EQ(utf16FromUtf8("\xF0\x9F\x98\x80"), (std::u16string{0xD83D, 0xDE00}));
  EXPECT_THROW((void)utf16FromUtf8("\xC4"), ScriptError);
  EXPECT_THROW((void)utf16FromUtf8("\xFF"), ScriptError);
  EXPECT_THROW((void)utf16FromUtf8("\xC4\x41"), ScriptError);
  EXPECT_EQ(quoted(R"(say "a\b")"), R"("say \"a\\b\"")");
  EXPECT_EQ(hexBytes({0x00, 0x0A, 0xFF}), "00 0a ff");
}

struct Outcome {
  int status;
  std::string out;
  std::string err;
};

Outcome run(const std::string& script, bool check = true) {
  std::ostringstream out;
  std::ostringstream err;
  const int status = runScenario(script, "t.scn", check, out, err);
  return {status, out.str(), err.str()};
}

TEST(Runner, BrokenLinesAreReportedWithTheirNumbersAndNothingRuns) {
  const Outcome r =
      run("device 1\n"
          "start\n"
          "frobnicate\n"
          "show NoSuchControl\n"
          "tick x\n"
          "choose OUT1EN 0\n"
          "unplug 2\n"
          "device 3 colour=red\n"
          "locale ;\n"
          "config 1\n"
          "close now\n");
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "");  // start would have sent the message rates
  for (const char* line : {"t.scn:3: ", "t.scn:4: ", "t.scn:5: ", "t.scn:6: ", "t.scn:7: ",
                           "t.scn:8: ", "t.scn:9: ", "t.scn:10: ", "t.scn:11: "}) {
    EXPECT_NE(r.err.find(line), std::string::npos) << line << "\n" << r.err;
  }
  EXPECT_EQ(r.err.find("t.scn:1: "), std::string::npos);
  EXPECT_EQ(r.err.find("t.scn:2: "), std::string::npos);
}

TEST(Runner, StrayExpectationIsAnErrorOnlyWhenChecking) {
  EXPECT_EQ(run("> something\nshow Timer\n", true).status, 2);
  EXPECT_EQ(run("> something\nshow Timer\n", false).status, 0);
}

TEST(Runner, PrintsEventsInOrderAndMatchesExpectations) {
  const Outcome r =
      run("device \"S 1\" feature=14\n"
          "start\n"
          "> sent S 1 00 08 06 01 08 00 01 35 0a\n"
          "> sent S 1 00 08 06 01 08 00 01 22 0a\n"
          "> sent S 1 00 08 06 01 08 00 01 07 0a\n"
          "show Timer\n"
          "> Timer: enabled=true interval=100\n");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "sent S 1 00 08 06 01 08 00 01 35 0a\n"
            "sent S 1 00 08 06 01 08 00 01 22 0a\n"
            "sent S 1 00 08 06 01 08 00 01 07 0a\n"
            "Timer: enabled=true interval=100\n");
}

TEST(Runner, ReportsEveryDifferenceWithLineNumbers) {
  const Outcome r =
      run("show Timer\n"
          "> Timer: enabled=true interval=100\n"
          "show Timer\n"
          "show Timer\n"
          "> Timer: enabled=false interval=100\n"
          "> one line too many\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("t.scn:2: expected: Timer: enabled=true interval=100\n"), std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("t.scn:2:   actual: Timer: enabled=false interval=100\n"),
            std::string::npos);
  EXPECT_NE(r.err.find("t.scn:3: unexpected: Timer: enabled=false interval=100\n"),
            std::string::npos);
  EXPECT_NE(r.err.find("t.scn:6:   actual: (nothing)\n"), std::string::npos);
  EXPECT_EQ(r.err.find("t.scn:5:"), std::string::npos);
  // Without --check the same script is only run.
  EXPECT_EQ(run("show Timer\n> nonsense\n", false).status, 0);
}

TEST(Runner, TickFollowsTheTimersIntervalAndEnabledState) {
  // Before the window load the timer is off: ticks pass time but poll nothing, so the
  // hot-plugged device is not found until the load.
  const Outcome r =
      run("device 9\n"
          "tick 3\n"
          "show state\n"
          "> state: found=false configured=false listready=false pending=false fw= interval=100 "
          "timer=false handles=0 lat= lon= alt=0 known=false drift=0 sats=0 cno=0 clockreq=false "
          "status=00\n");
  EXPECT_EQ(r.status, 0) << r.err;
}

TEST(Runner, DescribesEachKindOfControl) {
  World world;
  const ui::Form& form = world.window.form();
  EXPECT_EQ(describeControl(form, form.find("Label5")),
            "Label5: enabled=true visible=true caption=\"Device\" back=transparent border=none "
            "left=200 top=195 width=1395 height=270");
  EXPECT_EQ(describeControl(form, form.find("PicSat")),
            "PicSat: enabled=true visible=true left=200 top=5775 width=5580 height=1500 "
            "back=FFFFFF border=single");
  EXPECT_EQ(describeControl(form, form.find("Image1")),
            "Image1: enabled=true visible=true left=4830 top=600 width=2430 height=750");
  EXPECT_EQ(describeControl(form, form.find("CNoLine(4)")).rfind("CNoLine(4): visible=", 0), 0u);
}

}  // namespace
}  // namespace qvr::scenario
