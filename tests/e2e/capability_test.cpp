// CAPABILITY and CONTROL end to end.
#include <gtest/gtest.h>

#include "token_packets.h"

using nlohmann::json;
using tokenhex::ExpectTokenFields;
using tokenhex::FirstPacket;
using tokenhex::Line;
using tokenhex::TokenField;
using tokenhex::TokenLabels;

TEST(Capability, RequestAndResponseMasksBitByBit) {
  const RunResult run = DecodeHex(Line("c",
                                       "e2 0010"                                 // length 16
                                       "01 07 80000001 800020"                   // requests
                                       "02 05 10000000 80") +                    // responses
                                  Line("c", "e2 0009 03 00 02 05 0000000060"));  // empty entry
  ASSERT_EQ(run.exitCode, 0) << run.err;
  ASSERT_EQ(run.frames.size(), 2u);

  const json& both = FirstPacket(run, 0);
  // Both entries use the 16 bytes up: no Pad.
  ExpectTokenFields(both, {
                              {"Length", 9, 2, "decimal", 16},
                              {"Capability Type", 11, 1, "decimal", 1},
                              {"Length of Value Mask", 12, 1, "decimal", 7},
                              {"Value Mask", 13, 4, "flags", 0x80000001u},
                              {"", 17, 3, "flags", 0x800020},
                              {"Capability Type", 20, 1, "decimal", 2},
                              {"Length of Value Mask", 21, 1, "decimal", 5},
                              {"Value Mask", 22, 4, "flags", 0x10000000},
                              {"", 26, 1, "flags", 0x80},
                          });
  EXPECT_EQ(TokenField(both, 0)["note"], " byte(s)");
  EXPECT_EQ(TokenField(both, 1)["text"], "Requests and data types that can be sent on this dialog");
  EXPECT_EQ(TokenField(both, 2)["note"], " byte(s)");
  EXPECT_EQ(TokenField(both, 3)["bits"],
            json({"0x80000000000000 Language request", "0x00000001000000 Support NULL money"}));
  EXPECT_EQ(TokenField(both, 4)["bits"], json({"0x00000000800000 Support fetch previous cursor "
                                               "commands",
                                               "0x00000000000020 Support 8 byte integers"}));
  EXPECT_EQ(TokenField(both, 5)["text"],
            "Responses and data types that should not be sent on this dialog");
  EXPECT_EQ(TokenField(both, 7)["bits"], json({"0x1000000000 No support for 1 byte integers"}));
  EXPECT_EQ(TokenField(both, 8)["bits"], json({"0x0000000080 No support for debug token"}));

  const json& skipped = FirstPacket(run, 1);
  EXPECT_EQ(
      TokenLabels(skipped),
      (std::vector<std::string>{"Length", "Capability Type", "Length of Value Mask",
                                "Capability Type", "Length of Value Mask", "Value Mask", ""}));
  EXPECT_EQ(TokenField(skipped, 1)["text"], "Unknown");
  EXPECT_EQ(TokenField(skipped, 6)["bits"],
            json({"0x0000000040 Do not strip blank from fixed length character data",
                  "0x0000000020 No support for 8 byte integers"}));
}

TEST(Capability, UnknownShapesEndTheToken) {
  // A 14-byte request mask, a 4-byte response mask, a type 3 mask: each stops the frame at
  // once, without Pad and without a refused field.
  const RunResult run =
      DecodeHex(Line("c", "e2 0010 01 0e 0000000000000000000000000000") +
                Line("c", "e2 0006 02 04 00000000") + Line("c", "e2 0004 03 02 0000") +
                Line("c", "e2 0009 01 07 ffffffff ff"));  // the mask runs out of the frame
  ASSERT_EQ(run.exitCode, 0) << run.err;
  ASSERT_EQ(run.frames.size(), 4u);
  for (size_t frame = 0; frame < 3; ++frame) {
    const json& packet = FirstPacket(run, frame);
    EXPECT_EQ(TokenLabels(packet),
              (std::vector<std::string>{"Length", "Capability Type", "Length of Value Mask"}));
    EXPECT_FALSE(packet.contains("refused")) << frame;
  }
  EXPECT_EQ(FirstPacket(run, 3)["refused"]["label"], "");
  EXPECT_EQ(FirstPacket(run, 3)["refused"]["size"], 3);
}

TEST(Control, FormatsRunUntilTheLengthIsUsedUp) {
  const RunResult run = DecodeHex(Line("s", "ae 0000") + Line("s", "ae 0005 03 616263 00") +
                                  Line("s", "ae 8000 01 02"));  // negative: no formats
  ASSERT_EQ(run.exitCode, 0) << run.err;
  ASSERT_EQ(run.frames.size(), 3u);
  ExpectTokenFields(FirstPacket(run, 0), {{"Length", 9, 2, "decimal", 0}});
  ExpectTokenFields(FirstPacket(run, 1), {
                                             {"Length", 9, 2, "decimal", 5},
                                             {"Format Length", 11, 1, "decimal", 3},
                                             {"Format", 12, 3, "hex", 0x616263},
                                             {"Format Length", 15, 1, "decimal", 0},
                                         });
  EXPECT_EQ(TokenField(FirstPacket(run, 1), 1)["note"], " byte(s)");
  ExpectTokenFields(FirstPacket(run, 2), {
                                             {"Length", 9, 2, "decimal", 0x8000},
                                             {"Pad", 11, 2, "none"},
                                         });
}
