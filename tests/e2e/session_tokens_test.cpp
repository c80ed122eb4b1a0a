// LANGUAGE, LOGINACK, LOGOUT, OFFSET and RETURNSTATUS end to end.
#include <gtest/gtest.h>

#include <string>

#include "token_packets.h"

using nlohmann::json;
using tokenhex::ExpectTokenFields;
using tokenhex::FirstPacket;
using tokenhex::Line;
using tokenhex::Packet;
using tokenhex::TokenField;
using tokenhex::TokenLabels;

namespace {

// A login record of zeros but for its two ordering bytes (record offsets 124 and 125).
std::string LoginLine(const std::string& dir, const std::string& orderings) {
  return dir + " 0201023c00000000" + std::string(124 * 2, '0') + orderings +
         std::string((564 - 126) * 2, '0') + "\n";
}

}  // namespace

TEST(Language, LengthIsLeastSignificantByteFirstOnEveryConnection) {
  const std::string text = "73656c6563742031";  // "select 1"
  const RunResult run = DecodeHex(
      Line("c", "21 0a000000 01 20" + text) + LoginLine("2c", "0200") +   // most significant first
      Line("2c", "21 0a000000 01 20" + text) + LoginLine("3c", "0301") +  // least significant first
      Line("3c", "21 0a000000 01 20" + text));
  ASSERT_EQ(run.exitCode, 0) << run.err;
  ASSERT_EQ(run.frames.size(), 5u);
  for (size_t frame : {0u, 2u, 4u}) {
    const json& packet = FirstPacket(run, frame);
    ExpectTokenFields(packet, {
                                  {"Length", 9, 4, "decimal", 10},
                                  {"Language text", 13, 10, "dump", "0120" + text},
                              });
    EXPECT_EQ(TokenField(packet, 0)["note"], " byte(s)");
  }
}

TEST(Language, TextIsCappedByTheFrame) {
  // The header claims 253 more bytes than the frame holds and the length 255 more.
  const RunResult run = DecodeHex("c " + Packet("21 ff000000 6869", 0, 253) + "\n" +
                                  Line("c", "21 00000000 ffff"));  // empty text, then Pad
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const json& capped = FirstPacket(run, 0);
  EXPECT_EQ(TokenLabels(capped), (std::vector<std::string>{"Length", "Language text"}));
  EXPECT_EQ(TokenField(capped, 0)["value"], 255);
  EXPECT_EQ(TokenField(capped, 1)["size"], 2);
  // The packet's remaining 253 bytes are asked for as Pad, which the frame cannot give.
  EXPECT_EQ(capped["refused"]["label"], "Pad");
  EXPECT_EQ(capped["refused"]["size"], 253);
  ExpectTokenFields(FirstPacket(run, 1), {
                                             {"Length", 9, 4, "decimal", 0},
                                             {"Language text", 13, 0, "dump", ""},
                                             {"Pad", 13, 2, "none"},
                                         });
}

TEST(LoginAck, ShowsLengthInTheServersOrder) {
  const RunResult run = DecodeHex(
      Line("s", "ad 000a 06 05000000 00 0a000100") +  // no program name
                                                      // As a little-endian server sends it.
      Line("s", "ad 1100 05 05000000 07 46616b65544453 0f000700") +
      Line("s", "ad 0000 07 05000000 ff 41"));  // name longer than the frame
  ASSERT_EQ(run.exitCode, 0) << run.err;
  ASSERT_EQ(run.frames.size(), 3u);

  const json& failed = FirstPacket(run, 0);
  ExpectTokenFields(failed, {
                                {"Length", 9, 2, "decimal", 10},
                                {"Status", 11, 1, "decimal", 6},
                                {"TDS Version", 12, 4, "version", "5.0.0.0"},
                                {"Program name length", 16, 1, "decimal", 0},
                                {"Program version", 17, 4, "version", "10.0.1.0"},
                            });
  EXPECT_EQ(TokenField(failed, 0)["note"], " byte(s)");
  EXPECT_EQ(TokenField(failed, 1)["text"], "Login request failed");
  EXPECT_EQ(TokenField(failed, 3)["note"], " byte(s)");

  const json& ok = FirstPacket(run, 1);
  ExpectTokenFields(ok, {
                            {"Length", 9, 2, "decimal", 17},
                            {"Status", 11, 1, "decimal", 5},
                            {"TDS Version", 12, 4, "version", "5.0.0.0"},
                            {"Program name length", 16, 1, "decimal", 7},
                            {"Program name", 17, 7, "string", "FakeTDS"},
                            {"Program version", 24, 4, "version", "15.0.7.0"},
                        });
  EXPECT_EQ(TokenField(ok, 1)["text"], "Succesful completion");

  const json& cut = FirstPacket(run, 2);
  EXPECT_EQ(TokenField(cut, 1)["text"],
            "Complete a negotiation before completing the login request");
  EXPECT_EQ(cut["refused"]["label"], "Program name");
  EXPECT_EQ(cut["refused"]["size"], 255);
}

TEST(ShortTokens, LogoutOffsetAndReturnStatus) {
  const RunResult run =
      DecodeHex(Line("c", "71 00") + Line("c", "71 01") + Line("c", "78 016d 0007") +
                Line("c", "78 0001 0000") + Line("s", "79 ffffffff") + Line("s", "79 fffffffa 00"));
  ASSERT_EQ(run.exitCode, 0) << run.err;
  ASSERT_EQ(run.frames.size(), 6u);
  ExpectTokenFields(FirstPacket(run, 0), {{"Options", 9, 1, "decimal", 0}});
  EXPECT_EQ(TokenField(FirstPacket(run, 0), 0)["text"], "No options");
  EXPECT_EQ(TokenField(FirstPacket(run, 1), 0)["text"], "Unknown");

  ExpectTokenFields(FirstPacket(run, 2), {
                                             {"Keyword", 9, 2, "hex", 0x16D},
                                             {"Offset", 11, 2, "decimal", 7},
                                         });
  EXPECT_EQ(TokenField(FirstPacket(run, 2), 0)["text"], "TDS_OFF_SELECT");
  EXPECT_EQ(TokenField(FirstPacket(run, 3), 0)["text"], "Unknown");

  ExpectTokenFields(FirstPacket(run, 4), {{"Value", 9, 4, "signed", -1}});
  ExpectTokenFields(FirstPacket(run, 5), {
                                             {"Value", 9, 4, "signed", -6},
                                             {"Pad", 13, 1, "none"},
                                         });
}
