// LANGUAGE, LOGINACK, LOGOUT, OFFSET and RETURNSTATUS end to end.
#include "token_packets.h"

using namespace tokenhex;

namespace {

// A login record of zeros but for its two ordering bytes (record offsets 124 and 125).
std::string LoginLine(const std::string& dir, const std::string& orderings) {
  return dir + " 0201023c00000000" + std::string(124 * 2, '0') + orderings +
         std::string((564 - 126) * 2, '0') + "\n";
}

}  // namespace

TEST(Language, LengthIsLeastSignificantByteFirstOnEveryConnection) {
  const std::string text = "73656c6563742031";  // "select 1"
  const std::vector<json> p = Packets(
      Line("c", "21 0a000000 01 20" + text) + LoginLine("2c", "0200") +  // most significant first
          Line("2c", "21 0a000000 01 20" + text) + LoginLine("3c", "0301") +  // least first
          Line("3c", "21 0a000000 01 20" + text),
      5);
  for (size_t i : {0u, 2u, 4u}) {
    ExpectFields(p[i], {{"Length", 9, 4, "decimal", 10, kBytes},
                        {"Language text", 13, 10, "dump", "0120" + text}});
  }
}

TEST(Language, TextIsCappedByTheFrame) {
  // The header claims 253 more bytes than the frame holds and the length 255 more.
  const std::vector<json> p =
      Packets(Cut("c", "21 ff000000 6869", 253) + Line("c", "21 00000000 ffff"),  // empty, Pad
              2);
  EXPECT_EQ(TokenLabels(p[0]), (Names{"Length", "Language text"}));
  EXPECT_EQ(Key(p[0], 0, "value"), 255);
  EXPECT_EQ(Key(p[0], 1, "size"), 2);
  // The packet's remaining 253 bytes are asked for as Pad, which the frame cannot give.
  ExpectHas(p[0].at("refused"), {{"label", "Pad"}, {"size", 253}});
  ExpectFields(p[1], {{"Length", 9, 4, "decimal", 0},
                      {"Language text", 13, 0, "dump", ""},
                      {"Pad", 13, 2, "none"}});
}

TEST(LoginAck, ShowsLengthInTheServersOrder) {
  const std::vector<json> p =
      Packets(Line("s", "ad 000a 06 05000000 00 0a000100") +  // no program name
                                                              // As a little-endian server sends it.
                  Line("s", "ad 1100 05 05000000 07 46616b65544453 0f000700") +
                  Line("s", "ad 0000 07 05000000 ff 41"),  // name longer than the frame
              3);
  ExpectFields(p[0], {{"Length", 9, 2, "decimal", 10, kBytes},
                      {"Status", 11, 1, "decimal", 6, Text("Login request failed")},
                      {"TDS Version", 12, 4, "version", "5.0.0.0"},
                      {"Program name length", 16, 1, "decimal", 0, kBytes},
                      {"Program version", 17, 4, "version", "10.0.1.0"}});
  ExpectFields(p[1], {{"Length", 9, 2, "decimal", 17},
                      {"Status", 11, 1, "decimal", 5, Text("Succesful completion")},
                      {"TDS Version", 12, 4, "version", "5.0.0.0"},
                      {"Program name length", 16, 1, "decimal", 7},
                      {"Program name", 17, 7, "string", "FakeTDS"},
                      {"Program version", 24, 4, "version", "15.0.7.0"}});
  EXPECT_EQ(Key(p[2], 1, "text"), "Complete a negotiation before completing the login request");
  ExpectHas(p[2].at("refused"), {{"label", "Program name"}, {"size", 255}});
}

TEST(ShortTokens, LogoutOffsetAndReturnStatus) {
  const std::vector<json> p = Packets(Line("c", "71 00") + Line("c", "71 01") +
                                          Line("c", "78 016d 0007") + Line("c", "78 0001 0000") +
                                          Line("s", "79 ffffffff") + Line("s", "79 fffffffa 00"),
                                      6);
  ExpectFields(p[0], {{"Options", 9, 1, "decimal", 0, Text("No options")}});
  EXPECT_EQ(Key(p[1], 0, "text"), "Unknown");
  ExpectFields(p[2], {{"Keyword", 9, 2, "hex", 0x16D, Text("TDS_OFF_SELECT")},
                      {"Offset", 11, 2, "decimal", 7}});
  EXPECT_EQ(Key(p[3], 0, "text"), "Unknown");
  ExpectFields(p[4], {{"Value", 9, 4, "signed", -1}});
  ExpectFields(p[5], {{"Value", 9, 4, "signed", -6}, {"Pad", 13, 1, "none"}});
}
