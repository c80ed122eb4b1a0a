// CAPABILITY and CONTROL end to end.
#include "token_packets.h"

using namespace tokenhex;

TEST(Capability, RequestAndResponseMasksBitByBit) {
  const std::vector<json> p =
      Packets(Line("c",
                   "e2 0010"                                    // length 16
                   "01 07 80000001 800020"                      // requests
                   "02 05 10000000 80") +                       // responses
                  Line("c", "e2 0009 03 00 02 05 0000000060"),  // empty entry
              2);
  // Both entries use the 16 bytes up: no Pad.
  ExpectFields(
      p[0], {{"Length", 9, 2, "decimal", 16, kBytes},
             {"Capability Type", 11, 1, "decimal", 1,
              Text("Requests and data types that can be sent on this dialog")},
             {"Length of Value Mask", 12, 1, "decimal", 7, kBytes},
             {"Value Mask", 13, 4, "flags", 0x80000001u,
              Bits({"0x80000000000000 Language request", "0x00000001000000 Support NULL money"})},
             {"", 17, 3, "flags", 0x800020,
              Bits({"0x00000000800000 Support fetch previous cursor commands",
                    "0x00000000000020 Support 8 byte integers"})},
             {"Capability Type", 20, 1, "decimal", 2,
              Text("Responses and data types that should not be sent on this dialog")},
             {"Length of Value Mask", 21, 1, "decimal", 5},
             {"Value Mask", 22, 4, "flags", 0x10000000,
              Bits({"0x1000000000 No support for 1 byte integers"})},
             {"", 26, 1, "flags", 0x80, Bits({"0x0000000080 No support for debug token"})}});

  EXPECT_EQ(TokenLabels(p[1]),
            (Names{"Length", "Capability Type", "Length of Value Mask", "Capability Type",
                   "Length of Value Mask", "Value Mask", ""}));
  EXPECT_EQ(Key(p[1], 1, "text"), "Unknown");
  EXPECT_EQ(Key(p[1], 6, "bits"),
            json({"0x0000000040 Do not strip blank from fixed length character data",
                  "0x0000000020 No support for 8 byte integers"}));
}

TEST(Capability, UnknownShapesEndTheToken) {
  // A 14-byte request mask, a 4-byte response mask, a type 3 mask: each stops the frame at
  // once, without Pad and without a refused field.
  const std::vector<json> p =
      Packets(Line("c", "e2 0010 01 0e 0000000000000000000000000000") +
                  Line("c", "e2 0006 02 04 00000000") + Line("c", "e2 0004 03 02 0000") +
                  Line("c", "e2 0009 01 07 ffffffff ff"),  // the mask runs out of the frame
              4);
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(TokenLabels(p[i]), (Names{"Length", "Capability Type", "Length of Value Mask"}));
    EXPECT_FALSE(p[i].contains("refused")) << i;
  }
  ExpectHas(p[3].at("refused"), {{"label", ""}, {"size", 3}});
}

TEST(Control, FormatsRunUntilTheLengthIsUsedUp) {
  const std::vector<json> p = Packets(Line("s", "ae 0000") + Line("s", "ae 0005 03 616263 00") +
                                          Line("s", "ae 8000 01 02"),  // negative: no formats
                                      3);
  ExpectFields(p[0], {{"Length", 9, 2, "decimal", 0}});
  ExpectFields(p[1], {{"Length", 9, 2, "decimal", 5},
                      {"Format Length", 11, 1, "decimal", 3, kBytes},
                      {"Format", 12, 3, "hex", 0x616263},
                      {"Format Length", 15, 1, "decimal", 0}});
  ExpectFields(p[2], {{"Length", 9, 2, "decimal", 0x8000}, {"Pad", 11, 2, "none"}});
}
