// OPTIONCMD end to end: every option's argument display, the options without one, and a real
// client's option commands.
#include <cstdio>

#include "token_packets.h"

using namespace tokenhex;

namespace {

const json kNone = json();

std::string Hex2(int value) {
  char text[4];
  std::snprintf(text, sizeof(text), "%02x", value & 0xFF);
  return text;
}

// The fields of an OPTIONCMD head (command, option and argument length given).
std::vector<Want> Head(int command, int option, int argumentLength) {
  return {{"Length", 9, 2, "decimal"},
          {"Command", 11, 1, "decimal", command},
          {"Option", 12, 1, "decimal", option},
          {"Option Argument Length", 13, 1, "decimal", argumentLength}};
}

}  // namespace

TEST(OptionCmd, ArgumentDisplays) {
  const std::vector<json> p =
      Packets(Line("c", "a6 0007 01 05 04 00000064") +                // row count 100
                  Line("c", "a6 0004 01 01 01 07") +                  // first day: Sunday
                  Line("c", "a6 0004 01 01 01 00") +                  // first day 0
                  Line("c", "a6 0007 01 02 04 00008000") +            // text size 32768
                  Line("c", "a6 0004 01 0e 01 01") +                  // no execution: true
                  Line("c", "a6 0004 01 0e 01 00") +                  // false
                  Line("c", "a6 000c 01 06 09 706f72747567756573") +  // language "portugues"
                  Line("c", "a6 0004 01 07 01 05") +                  // date format 5
                  Line("c", "a6 0004 01 07 01 03") +                  // date format 3
                  Line("c", "a6 0004 01 08 01 02") +                  // isolation 2
                  Line("c", "a6 0004 01 08 01 03") +                  // isolation 3
                  Line("c", "a6 0007 01 0f 04 00000002") +  // arithmetic: numeric truncation
                  Line("c", "a6 0007 01 0f 04 00000003") +  // both flags
                  Line("c", "a6 0007 01 22 04 01000000") +  // true/false with length 4: 1 byte
                  Line("c", "a6 0004 09 01 01 02"),
              15);  // an unknown command
  ExpectFields(p[0], With(Head(1, 5, 4), {{"Row Count", 14, 4, "decimal", 100}}));
  EXPECT_EQ(Key(p[0], 0, "note"), " byte(s)");
  EXPECT_EQ(Key(p[0], 1, "text"), "Set an option");
  EXPECT_EQ(Key(p[0], 2, "text"), "Set maximum row count to return");
  EXPECT_EQ(Key(p[0], 3, "note"), " byte(s)");
  EXPECT_EQ(Key(p[0], 4, "note"), "Rows");

  ExpectFields(p[1], With(Head(1, 1, 1), {{"Argument", 14, 1, "decimal", 7}}));
  EXPECT_EQ(Key(p[1], 4, "text"), "Sunday");
  EXPECT_EQ(Key(p[2], 4, "text"), "Unknown");

  ExpectFields(p[3], With(Head(1, 2, 4), {{"Argument", 14, 4, "decimal", 32768}}));
  EXPECT_EQ(Key(p[3], 4, "note"), " byte(s)");

  ExpectFields(p[4], With(Head(1, 0x0e, 1), {{"Argument", 14, 1, "decimal", 1}}));
  EXPECT_EQ(Key(p[4], 4, "note"), "True");
  EXPECT_EQ(Key(p[4], 4, "text"), kNone);
  EXPECT_EQ(Key(p[5], 4, "note"), "False");
  EXPECT_EQ(Key(p[5], 4, "value"), 0);

  ExpectFields(p[6], With(Head(1, 6, 9), {{"Argument", 14, 9, "string", "portugues"}}));
  EXPECT_EQ(Key(p[6], 4, "note"), kNone);

  EXPECT_EQ(Key(p[7], 4, "text"), "Year,Month,Day");
  EXPECT_EQ(Key(p[8], 4, "text"), "Year,Month,Day");
  EXPECT_EQ(Key(p[9], 4, "text"), "Unknown");
  EXPECT_EQ(Key(p[10], 4, "text"), "Level 3");

  ExpectFields(p[11], With(Head(1, 0x0f, 4), {{"Argument", 14, 4, "decimal", 2}}));
  EXPECT_EQ(Key(p[11], 4, "text"), "TDS_OPT_NUMERICTRUNC");
  EXPECT_EQ(Key(p[12], 4, "text"), "Unknown");

  ExpectFields(p[13],
               With(Head(1, 0x22, 4), {{"Argument", 14, 1, "decimal", 1}, {"Pad", 15, 3, "none"}}));
  EXPECT_EQ(Key(p[13], 4, "note"), "True");

  ExpectFields(p[14], With(Head(9, 1, 1), {{"Argument", 14, 1, "decimal", 2}}));
  EXPECT_EQ(Key(p[14], 1, "text"), "Unknown");
  EXPECT_EQ(Key(p[14], 4, "text"), "Tuesday");
}

// Every option with a 4-byte argument "01 00 00 00": the argument's label, size and format,
// or no argument at all.
TEST(OptionCmd, EveryOptionCode) {
  struct Display {
    const char* label;  // nullptr: no argument display
    int size;
    const char* format;
  };
  const auto displayOf = [](int option) -> Display {
    switch (option) {
      case 0x01:
      case 0x07:
      case 0x08:
        return {"Argument", 1, "decimal"};
      case 0x02:
      case 0x0F:
      case 0x11:
      case 0x24:
      case 0x25:
        return {"Argument", 4, "decimal"};
      case 0x05:
        return {"Row Count", 4, "decimal"};
      case 0x06:
      case 0x09:
      case 0x0A:
      case 0x1D:
      case 0x1E:
      case 0x1F:
      case 0x20:
      case 0x21:
        return {"Argument", 4, "string"};
      case 0x03:
      case 0x04:
      case 0x0D:
      case 0x0E:
      case 0x12:
      case 0x14:
      case 0x15:
      case 0x17:
      case 0x18:
      case 0x19:
      case 0x1A:
      case 0x1B:
      case 0x1C:
      case 0x22:
      case 0x23:
      case 0x26:
        return {"Argument", 1, "decimal"};
      default:
        return {nullptr, 0, ""};
    }
  };
  std::vector<int> options;
  for (int option = 0; option <= 0x28; ++option) options.push_back(option);
  options.push_back(0xff);
  std::string hex;
  for (int option : options) hex += Line("c", "a6 0007 01" + Hex2(option) + "04 01000000");
  const std::vector<json> p = Packets(hex, options.size());
  for (size_t i = 0; i < options.size(); ++i) {
    const int option = options[i];
    SCOPED_TRACE("option " + std::to_string(option));
    const Display d = displayOf(option);
    if (!d.label) {
      // -1 after the argument length: neither the argument nor Pad is shown.
      ExpectFields(p[i], Head(1, option, 4));
      EXPECT_FALSE(p[i].contains("refused"));
      continue;
    }
    std::vector<Want> want = With(Head(1, option, 4), {{d.label, 14, d.size, d.format}});
    if (d.size < 4) want.push_back({"Pad", 14 + d.size, 4 - d.size, "none"});
    ExpectFields(p[i], want);
  }
}

TEST(OptionCmd, NoArgumentAndEarlyEnds) {
  const std::vector<json> p =
      Packets(Line("c", "a6 0003 02 02 00") +         // text size to its default: no argument
                  Line("c", "a6 0003 03 0b 00") +     // an option without a display, length 0
                  Line("c", "a6 0004 01 0b 01 00") +  // the same with length 1: -1
                  Cut("c", "a6 0004 01 0e 01", 1) +  // a true/false argument missing from the frame
                  Cut("c", "a6 0007 01 02 04 0080", 2),
              5);  // a fixed argument cut short
  ExpectFields(p[0], Head(2, 2, 0));
  EXPECT_EQ(Key(p[0], 1, "text"), "Set option to its default value");
  ExpectFields(p[1], Head(3, 0x0b, 0));
  EXPECT_EQ(Key(p[1], 1, "text"), "Request current setting of a specific option");
  EXPECT_EQ(Key(p[1], 2, "text"), "Unknown");
  ExpectFields(p[2], Head(1, 0x0b, 1));
  EXPECT_FALSE(p[2].contains("refused"));
  ExpectFields(p[3], Head(1, 0x0e, 1));
  EXPECT_FALSE(p[3].contains("refused"));
  ExpectFields(p[4], Head(1, 2, 4));
  ASSERT_TRUE(p[4].contains("refused"));
  EXPECT_EQ(p[4]["refused"]["label"], "Argument");
  EXPECT_EQ(p[4]["refused"]["size"], 4);
}

TEST(OptionCmdCapture, RealClientSetsAndRequests) {
  const RunResult run =
      RunTdsdecode({TestData("captures/ctlib-options.pcap"), "-o", "json", "--no-reassemble"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  // The text size is a 4-byte value in the connection's byte order: its place only.
  ExpectFields(FrameOf(run, 10), With(Head(1, 2, 4), {{"Argument", 14, 4, "decimal"}}));
  const json dateFormat = FrameOf(run, 12);
  ExpectFields(dateFormat, With(Head(1, 7, 1), {{"Argument", 14, 1, "decimal", 2}}));
  EXPECT_EQ(Key(dateFormat, 4, "text"), "Day,Month,Year");
  const json firstDay = FrameOf(run, 14);
  ExpectFields(firstDay, With(Head(1, 1, 1), {{"Argument", 14, 1, "decimal", 1}}));
  EXPECT_EQ(Key(firstDay, 4, "text"), "Monday");
  const json isolation = FrameOf(run, 16);
  ExpectFields(isolation, With(Head(1, 8, 1), {{"Argument", 14, 1, "decimal", 3}}));
  EXPECT_EQ(Key(isolation, 4, "text"), "Level 3");
  const json ansiNull = FrameOf(run, 18);
  ExpectFields(ansiNull, With(Head(1, 0x22, 1), {{"Argument", 14, 1, "decimal", 1}}));
  EXPECT_EQ(Key(ansiNull, 4, "note"), "True");
  const json chained = FrameOf(run, 26);
  ExpectFields(chained, With(Head(1, 0x19, 1), {{"Argument", 14, 1, "decimal", 0}}));
  EXPECT_EQ(Key(chained, 4, "note"), "False");
  // Requests carry no argument.
  ExpectFields(FrameOf(run, 28), Head(3, 0x22, 0));
  ExpectFields(FrameOf(run, 32), Head(3, 2, 0));
}
