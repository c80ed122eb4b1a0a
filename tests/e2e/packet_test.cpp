// The packet layer end to end: title, summary, header fields, lengths, unknown types, dumps,
// several packets in one frame, and refusals that stop the frame.
#include "token_packets.h"

using namespace tokenhex;

namespace {

json OnlyFrame(const std::string& hex) {
  RunResult r = DecodeHex(hex);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.frames.size(), 1u) << r.out;
  return r.frames.empty() ? json::object() : r.frames[0];
}

// The status bits of the frame's first packet.
json StatusBits(const std::string& hex) {
  return OnlyFrame(hex)["packets"][0]["fields"][1]["bits"];
}

// The six header fields of a packet of the given type, length and channel at `at`.
std::vector<Want> Header(int at, json type, json typeKeys, json length, json channel = 0) {
  return {{"TDS Message Type", at, 1, "decimal", std::move(type), std::move(typeKeys)},
          {"Status", at + 1, 1, "flags", 1},
          {"Length", at + 2, 2, "decimal", std::move(length), kBytes},
          {"Channel", at + 4, 2, "decimal", std::move(channel)},
          {"Packet No.", at + 6, 1, "decimal"},
          {"Window", at + 7, 1, "decimal"}};
}

}  // namespace

TEST(PacketLayer, OnePacketShowsTitleSummaryHeaderAndContents) {
  const json frame = OnlyFrame(
      "c 0f 01 000c 0000 02 03"  // type 15, last buffer, length 12, channel 0, no. 2, window 3
      "  a0 010203\n");          // obsolete token 0xA0 and three data bytes
  ExpectHas(frame, {{"frame", 1}, {"conn", 1}, {"dir", "c2s"}, {"result", 0}});
  ASSERT_EQ(frame["packets"].size(), 1u);
  const json& p = frame["packets"][0];
  ExpectHas(p, {{"title", "TDS"},
                {"name", "Sybase Tabular Data Stream Protocol"},
                {"summary", "Sybase TDS: (Normal TDS request or response)"},
                {"refused", kAbsent}});
  ExpectFieldsFrom(p, 0,
                   {{"TDS Message Type",
                     0,
                     1,
                     "decimal",
                     15,
                     {{"text", "Normal TDS request or response"}, {"note", kAbsent}}},
                    {"Status", 1, 1, "flags", 1, Bits({".......1 Last buffer in logical message"})},
                    {"Length", 2, 2, "decimal", 12, kBytes},
                    {"Channel", 4, 2, "decimal", 0},
                    {"Packet No.", 6, 1, "decimal", 2},
                    {"Window", 7, 1, "decimal", 3},
                    {"TDS Token Type", 8, 1, "hex", 0xA0, Text("Obsolete")},
                    {"Obselete Token", 9, 3, "dump", "010203", Note(" byte(s) of data")}});
}

TEST(PacketLayer, StatusBitsShowSetTextsAndClearTextsOfPairs) {
  const char* const kNotLast = ".......0 Not the last buffer in logical message";
  // 0x05: last buffer and attention; the other bits' clear texts are empty.
  EXPECT_EQ(StatusBits("c 0f05000c00000000 a0000000\n"),
            json({".......1 Last buffer in logical message", ".....1.. Attention request buffer"}));
  // 0x00 shows the clear text of bit 0 only; 0xF0 lies outside the header's mask.
  EXPECT_EQ(StatusBits("c 0f00000c00000000 a0000000\n"), json::array({kNotLast}));
  EXPECT_EQ(StatusBits("c 0ff0000c00000000 a0000000\n"), json::array({kNotLast}));
  // The 0x02 text keeps its trailing blank.
  EXPECT_EQ(StatusBits("c 0f0a000c00000000 a0000000\n"),
            json({kNotLast, "......1. Ack to the last received attention ",
                  "....1... Event notification buffer"}));
}

TEST(PacketLayer, ShortLengthsStopTheHeader) {
  // Length 7: nothing after "Length", no further packet even though bytes remain.
  json frame = OnlyFrame("c 0f010007000000000f01000c00000000a0000000\n");
  ASSERT_EQ(frame["packets"].size(), 1u);
  EXPECT_EQ(Labels(frame["packets"][0]), (Names{"TDS Message Type", "Status", "Length"}));
  EXPECT_EQ(frame["result"], 0);
  // Length 8 of a non-token type: the whole header, then an empty dump.
  frame = OnlyFrame("c 0301 0008 0001 02 03\n");
  ExpectFieldsFrom(
      frame["packets"][0], 0,
      With(Header(0, 3, json::object(), 8, 1), {{"Obselete Message Type", 8, 0, "dump", ""}}));
}

TEST(PacketLayer, OtherMessageTypesAreDumped) {
  // RPC command (type 3) with 20 data bytes: one dump, no "Pad".
  json frame = OnlyFrame("c 0301001c00000000 000102030405060708090a0b0c0d0e0f10111213\n");
  EXPECT_EQ(frame["packets"][0]["summary"], "Sybase TDS: (RPC command)");
  EXPECT_EQ(frame["result"], 0);
  ExpectFieldsFrom(frame["packets"][0], 6,
                   {{"Obselete Message Type", 8, 20, "dump",
                     "000102030405060708090a0b0c0d0e0f10111213", kNoNote}});
  // Types 0 and 200 are unknown: "Unknown" in the summary and the result 1.
  for (const char* type : {"00", "c8"}) {
    SCOPED_TRACE(type);
    frame = OnlyFrame(std::string("s ") + type + "01000a00000000 abcd\n");
    EXPECT_EQ(frame["result"], 1);
    EXPECT_EQ(frame["packets"][0]["summary"], "Sybase TDS: (Unknown)");
    ExpectFieldsFrom(frame["packets"][0], 0,
                     With(Header(0, nullptr, Text("Unknown"), 10),
                          {{"Obselete Message Type", 8, 2, "dump", "abcd"}}));
  }
}

TEST(PacketLayer, FollowingPacketsInOneFrame) {
  // An unknown type first, a known one second: two titles, the result of the first.
  json frame = OnlyFrame("s c801000900000000 ff  0f01000a00000000 a0ee\n");
  ASSERT_EQ(frame["packets"].size(), 2u);
  EXPECT_EQ(frame["result"], 1);
  const json& second = frame["packets"][1];
  EXPECT_EQ(second["summary"], "Sybase TDS: (Normal TDS request or response)");
  ExpectFieldsFrom(
      second, 0,
      With(Header(9, 15, json::object(), 10),
           {{"TDS Token Type", 17, 1, "hex", 0xA0}, {"Obselete Token", 18, 1, "dump", "ee"}}));
  // Exactly 8 bytes after the first packet: no second packet.
  EXPECT_EQ(OnlyFrame("c 0301000900000000 ff 0f01000800000000\n")["packets"].size(), 1u);
  // Nine bytes after it: a second packet, cut short by the frame.
  frame = OnlyFrame("c 0301000900000000 ff 0f01000c00000000 a0\n");
  ASSERT_EQ(frame["packets"].size(), 2u);
  EXPECT_EQ(frame["packets"][1]["refused"]["label"], "Pad");
}

TEST(PacketLayer, RemainingCountOfOneShowsOnlyTheTitle) {
  const json frame = OnlyFrame("c 0f\n");
  ASSERT_EQ(frame["packets"].size(), 1u);
  EXPECT_EQ(frame["packets"][0]["summary"], "");
  EXPECT_TRUE(frame["packets"][0]["fields"].empty());
}

TEST(PacketLayer, RefusedFieldsStopTheFrame) {
  // The frame ends inside "Length".
  json p = OnlyFrame("c 0f0100\n")["packets"][0];
  EXPECT_EQ(Labels(p), (Names{"TDS Message Type", "Status"}));
  EXPECT_EQ(p["refused"], (json{{"label", "Length"}, {"size", 2}, {"left", 1}}));
  // The packet says 20 bytes, the frame holds 11: the dump takes what is there and the "Pad"
  // of the rest is refused; nothing follows.
  p = OnlyFrame("c 0f01001400000000 a0 0102\n")["packets"][0];
  ExpectFields(p, {{"Obselete Token", 9, 2, "dump", "0102"}});
  EXPECT_EQ(p["refused"], (json{{"label", "Pad"}, {"size", 9}, {"left", 0}}));
}

TEST(TokenDispatch, ObsoleteAndUnknownTokensAreDumped) {
  json p = OnlyFrame("c 0f01000b00000000 42 0102\n")["packets"][0];
  ExpectFieldsFrom(p, 6,
                   {{"TDS Token Type", 8, 1, "hex", 0x42, Text("Unknown")},
                    {"Obselete Token", 9, 2, "dump", "0102"}});
  // The range row 0xFE..0xFF names 0xFF.
  p = OnlyFrame("c 0f01000900000000 ff\n")["packets"][0];
  EXPECT_EQ((*FindField(p, "TDS Token Type"))["text"],
            "Completion Status of Stored Procedure Commands");
  // Token 0x2A is listed as obsolete and has no decoder.
  p = OnlyFrame("c 1001000a00000000 2a 99\n")["packets"][0];
  EXPECT_EQ(p["summary"], "Sybase TDS: (Urgent TDS request or response)");
  ExpectFieldsFrom(p, 6,
                   {{"TDS Token Type", 8, 1, "hex", 0x2A, Text("Obsolete")},
                    {"Obselete Token", 9, 1, "dump", "99"}});
}
