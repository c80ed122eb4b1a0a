// ENVCHANGE end to end: entries bounded by the stated length alone.
#include <gtest/gtest.h>

#include "token_packets.h"

using nlohmann::json;
using tokenhex::ExpectTokenFields;
using tokenhex::FirstPacket;
using tokenhex::Line;
using tokenhex::TokenField;
using tokenhex::TokenLabels;

TEST(EnvChange, EntriesUntilTheLengthIsUsedUp) {
  const RunResult run =
      DecodeHex(Line("s", "e3 000d 01 04 70756273 06 6d6173746572") +  // database master -> pubs
                Line("s", "e3 000b 04 04 32303438 00 02 01 78 00") +   // two entries, empty olds
                Line("s", "e3 0000 ffff") + Line("s", "e3 8000 01 00 00") +  // none
                Line("s", "e3 0001 09 01 41 01 42 ff"));  // one whole entry, an Unknown type
  ASSERT_EQ(run.exitCode, 0) << run.err;
  ASSERT_EQ(run.frames.size(), 5u);

  const json& database = FirstPacket(run, 0);
  ExpectTokenFields(database, {
                                  {"Length", 9, 2, "decimal", 13},
                                  {"Type", 11, 1, "decimal", 1},
                                  {"New value length", 12, 1, "decimal", 4},
                                  {"New value", 13, 4, "string", "pubs"},
                                  {"Old value length", 17, 1, "decimal", 6},
                                  {"Old value", 18, 6, "string", "master"},
                              });
  EXPECT_EQ(TokenField(database, 1)["text"], "The current database");
  for (size_t i : {0u, 2u, 4u}) EXPECT_EQ(TokenField(database, i)["note"], " byte(s)");

  const json& two = FirstPacket(run, 1);
  EXPECT_EQ(TokenLabels(two),
            (std::vector<std::string>{"Length", "Type", "New value length", "New value",
                                      "Old value length", "Type", "New value length", "New value",
                                      "Old value length"}));
  EXPECT_EQ(TokenField(two, 1)["text"], "The current packet size, in bytes");
  EXPECT_EQ(TokenField(two, 3)["value"], "2048");
  EXPECT_EQ(TokenField(two, 5)["text"], "The current national language");

  ExpectTokenFields(FirstPacket(run, 2), {
                                             {"Length", 9, 2, "decimal", 0},
                                             {"Pad", 11, 2, "none"},
                                         });
  ExpectTokenFields(FirstPacket(run, 3), {
                                             {"Length", 9, 2, "decimal", 0x8000},
                                             {"Pad", 11, 3, "none"},
                                         });
  const json& one = FirstPacket(run, 4);
  EXPECT_EQ(TokenLabels(one),
            (std::vector<std::string>{"Length", "Type", "New value length", "New value",
                                      "Old value length", "Old value", "Pad"}));
  EXPECT_EQ(TokenField(one, 1)["text"], "Unknown");
  EXPECT_EQ(TokenField(one, 6)["size"], 1);
}
