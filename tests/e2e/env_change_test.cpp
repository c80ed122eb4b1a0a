// ENVCHANGE end to end: entries bounded by the stated length alone.
#include "token_packets.h"

using namespace tokenhex;

TEST(EnvChange, EntriesUntilTheLengthIsUsedUp) {
  const std::vector<json> p =
      Packets(Line("s", "e3 000d 01 04 70756273 06 6d6173746572") +     // database master -> pubs
                  Line("s", "e3 000b 04 04 32303438 00 02 01 78 00") +  // two entries, empty olds
                  Line("s", "e3 0000 ffff") + Line("s", "e3 8000 01 00 00") +  // none
                  Line("s", "e3 0001 09 01 41 01 42 ff"),  // one whole entry, an Unknown type
              5);
  ExpectFields(p[0], {{"Length", 9, 2, "decimal", 13, kBytes},
                      {"Type", 11, 1, "decimal", 1, Text("The current database")},
                      {"New value length", 12, 1, "decimal", 4, kBytes},
                      {"New value", 13, 4, "string", "pubs"},
                      {"Old value length", 17, 1, "decimal", 6, kBytes},
                      {"Old value", 18, 6, "string", "master"}});

  EXPECT_EQ(TokenLabels(p[1]),
            (Names{"Length", "Type", "New value length", "New value", "Old value length", "Type",
                   "New value length", "New value", "Old value length"}));
  EXPECT_EQ(Key(p[1], 1, "text"), "The current packet size, in bytes");
  EXPECT_EQ(Key(p[1], 3, "value"), "2048");
  EXPECT_EQ(Key(p[1], 5, "text"), "The current national language");

  ExpectFields(p[2], {{"Length", 9, 2, "decimal", 0}, {"Pad", 11, 2, "none"}});
  ExpectFields(p[3], {{"Length", 9, 2, "decimal", 0x8000}, {"Pad", 11, 3, "none"}});
  EXPECT_EQ(TokenLabels(p[4]), (Names{"Length", "Type", "New value length", "New value",
                                      "Old value length", "Old value", "Pad"}));
  EXPECT_EQ(Key(p[4], 1, "text"), "Unknown");
  EXPECT_EQ(Key(p[4], 6, "size"), 1);
}
