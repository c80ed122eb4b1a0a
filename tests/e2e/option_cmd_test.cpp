// OPTIONCMD end to end: every option's argument display, the options without one, and a real
// client's option commands.
#include <algorithm>
#include <cstdio>
#include <iterator>

#include "token_packets.h"

using namespace tokenhex;

namespace {

std::string Hex2(int value) {
  char text[4];
  std::snprintf(text, sizeof(text), "%02x", value & 0xFF);
  return text;
}

// The fields of an OPTIONCMD head (command, option and argument length given), then `argument`.
std::vector<Want> Head(int command, int option, int argumentLength,
                       const std::vector<Want>& argument = {}) {
  return With({{"Length", 9, 2, "decimal", nullptr, kBytes},
               {"Command", 11, 1, "decimal", command},
               {"Option", 12, 1, "decimal", option},
               {"Option Argument Length", 13, 1, "decimal", argumentLength, kBytes}},
              argument);
}

// The argument field: label "Argument", offset 14.
Want Argument(int size, const char* format, json value, json keys = json::object()) {
  return {"Argument", 14, size, format, std::move(value), std::move(keys)};
}

}  // namespace

TEST(OptionCmd, ArgumentDisplays) {
  const struct {
    const char* hex;
    int command, option, length;
    std::vector<Want> argument;
  } cases[] = {
      {"a6 0007 01 05 04 00000064",
       1,
       5,
       4,  // row count 100
       {{"Row Count", 14, 4, "decimal", 100, Note("Rows")}}},
      {"a6 0004 01 01 01 07", 1, 1, 1, {Argument(1, "decimal", 7, Text("Sunday"))}},  // first day
      {"a6 0004 01 01 01 00", 1, 1, 1, {Argument(1, "decimal", 0, Text("Unknown"))}},
      {"a6 0007 01 02 04 00008000", 1, 2, 4, {Argument(4, "decimal", 32768, kBytes)}},  // text size
      {"a6 0004 01 0e 01 01",
       1,
       0x0e,
       1,  // no execution: true
       {Argument(1, "decimal", 1, {{"note", "True"}, {"text", kAbsent}})}},
      {"a6 0004 01 0e 01 00", 1, 0x0e, 1, {Argument(1, "decimal", 0, Note("False"))}},
      {"a6 000c 01 06 09 706f72747567756573",
       1,
       6,
       9,  // language
       {Argument(9, "string", "portugues", kNoNote)}},
      {"a6 0004 01 07 01 05", 1, 7, 1, {Argument(1, "decimal", 5, Text("Year,Month,Day"))}},
      {"a6 0004 01 07 01 03", 1, 7, 1, {Argument(1, "decimal", 3, Text("Year,Month,Day"))}},
      {"a6 0004 01 08 01 02", 1, 8, 1, {Argument(1, "decimal", 2, Text("Unknown"))}},  // isolation
      {"a6 0004 01 08 01 03", 1, 8, 1, {Argument(1, "decimal", 3, Text("Level 3"))}},
      {"a6 0007 01 0f 04 00000002",
       1,
       0x0f,
       4,  // arithmetic: numeric truncation
       {Argument(4, "decimal", 2, Text("TDS_OPT_NUMERICTRUNC"))}},
      {"a6 0007 01 0f 04 00000003", 1, 0x0f, 4, {Argument(4, "decimal", 3, Text("Unknown"))}},
      {"a6 0007 01 22 04 01000000",
       1,
       0x22,
       4,  // true/false with length 4: 1 byte
       {Argument(1, "decimal", 1, Note("True")), {"Pad", 15, 3, "none"}}},
      {"a6 0004 09 01 01 02", 9, 1, 1, {Argument(1, "decimal", 2, Text("Tuesday"))}},  // unknown
  };
  std::string hex;
  for (const auto& c : cases) hex += Line("c", c.hex);
  const std::vector<json> p = Packets(hex, std::size(cases));
  for (size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(cases[i].hex);
    const auto& c = cases[i];
    ExpectFields(p[i], Head(c.command, c.option, c.length, c.argument));
  }
  EXPECT_EQ(Key(p[0], 1, "text"), "Set an option");
  EXPECT_EQ(Key(p[0], 2, "text"), "Set maximum row count to return");
  EXPECT_EQ(Key(p[14], 1, "text"), "Unknown");
}

// Every option with a 4-byte argument "01 00 00 00": the argument's label, size and format,
// or no argument at all.
TEST(OptionCmd, EveryOptionCode) {
  const struct {
    const char* label;
    int size;
    const char* format;
    std::vector<int> options;
  } displays[] = {
      {"Argument",
       1,
       "decimal",
       {0x01, 0x03, 0x04, 0x07, 0x08, 0x0D, 0x0E, 0x12, 0x14, 0x15, 0x17, 0x18, 0x19, 0x1A, 0x1B,
        0x1C, 0x22, 0x23, 0x26}},
      {"Argument", 4, "decimal", {0x02, 0x0F, 0x11, 0x24, 0x25}},
      {"Row Count", 4, "decimal", {0x05}},
      {"Argument", 4, "string", {0x06, 0x09, 0x0A, 0x1D, 0x1E, 0x1F, 0x20, 0x21}},
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
    // Without a display, -1 after the argument length: neither the argument nor Pad is shown.
    std::vector<Want> want = Head(1, option, 4);
    for (const auto& d : displays) {
      if (std::find(d.options.begin(), d.options.end(), option) == d.options.end()) continue;
      want.push_back({d.label, 14, d.size, d.format});
      if (d.size < 4) want.push_back({"Pad", 14 + d.size, 4 - d.size, "none"});
    }
    ExpectFields(p[i], want);
    EXPECT_FALSE(p[i].contains("refused"));
  }
}

TEST(OptionCmd, NoArgumentAndEarlyEnds) {
  const std::vector<json> p =
      Packets(Line("c", "a6 0003 02 02 00") +         // text size to its default: no argument
                  Line("c", "a6 0003 03 0b 00") +     // an option without a display, length 0
                  Line("c", "a6 0004 01 0b 01 00") +  // the same with length 1: -1
                  Cut("c", "a6 0004 01 0e 01", 1) +  // a true/false argument missing from the frame
                  Cut("c", "a6 0007 01 02 04 0080", 2),  // a fixed argument cut short
              5);
  ExpectFields(p[0], Head(2, 2, 0));
  EXPECT_EQ(Key(p[0], 1, "text"), "Set option to its default value");
  ExpectFields(p[1], Head(3, 0x0b, 0));
  EXPECT_EQ(Key(p[1], 1, "text"), "Request current setting of a specific option");
  EXPECT_EQ(Key(p[1], 2, "text"), "Unknown");
  for (size_t i : {2u, 3u}) {
    ExpectFields(p[i], Head(1, i == 2 ? 0x0b : 0x0e, 1));
    EXPECT_FALSE(p[i].contains("refused"));
  }
  ExpectFields(p[4], Head(1, 2, 4));
  ExpectHas(p[4].at("refused"), {{"label", "Argument"}, {"size", 4}});
}

TEST(OptionCmdCapture, RealClientSetsAndRequests) {
  const RunResult run = DecodeCapture("ctlib-options.pcap");
  // The text size is a 4-byte value in the connection's byte order: its place only.
  ExpectFields(FrameOf(run, 10), Head(1, 2, 4, {Argument(4, "decimal", nullptr)}));
  ExpectFields(FrameOf(run, 12),
               Head(1, 7, 1, {Argument(1, "decimal", 2, Text("Day,Month,Year"))}));
  ExpectFields(FrameOf(run, 14), Head(1, 1, 1, {Argument(1, "decimal", 1, Text("Monday"))}));
  ExpectFields(FrameOf(run, 16), Head(1, 8, 1, {Argument(1, "decimal", 3, Text("Level 3"))}));
  ExpectFields(FrameOf(run, 18), Head(1, 0x22, 1, {Argument(1, "decimal", 1, Note("True"))}));
  ExpectFields(FrameOf(run, 26), Head(1, 0x19, 1, {Argument(1, "decimal", 0, Note("False"))}));
  // Requests carry no argument.
  ExpectFields(FrameOf(run, 28), Head(3, 0x22, 0));
  ExpectFields(FrameOf(run, 32), Head(3, 2, 0));
}
