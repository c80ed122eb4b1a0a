// EVENTNOTICE and MSG end to end, with a MSG's arguments decoded inline.
#include <gtest/gtest.h>

#include "token_packets.h"

using nlohmann::json;
using tokenhex::ExpectTokenFields;
using tokenhex::FirstPacket;
using tokenhex::Line;
using tokenhex::TokenField;
using tokenhex::TokenLabels;

TEST(EventNotice, ShowsTheEventName) {
  const RunResult run = DecodeHex(Line("s", "a2 0006 05 6576656e74") +
                                  Line("s", "a2 0001 00 ffff"));  // no name; the rest is Pad
  ASSERT_EQ(run.exitCode, 0) << run.err;
  ASSERT_EQ(run.frames.size(), 2u);
  ExpectTokenFields(FirstPacket(run, 0), {
                                             {"Length", 9, 2, "decimal", 6},
                                             {"Event name Length", 11, 1, "decimal", 5},
                                             {"Event name", 12, 5, "string", "event"},
                                         });
  EXPECT_EQ(TokenField(FirstPacket(run, 0), 0)["note"], " byte(s)");
  EXPECT_EQ(TokenField(FirstPacket(run, 0), 1)["note"], " byte(s)");
  ExpectTokenFields(FirstPacket(run, 1), {
                                             {"Length", 9, 2, "decimal", 1},
                                             {"Event name Length", 11, 1, "decimal", 0},
                                             {"Pad", 12, 2, "none"},
                                         });
}

TEST(GenericMessage, ShowsStatusAndMessageId) {
  const RunResult run = DecodeHex(Line("c", "65 03 00 0004 ffff") + Line("c", "65 03 00 2000") +
                                  Line("c", "65 03 00 8000") + Line("c", "65 03 00 0000") +
                                  Line("c", "65 03 00 0008") + Line("c", "65 03 00 0009") +
                                  Line("c", "65 03 00 000a"));
  ASSERT_EQ(run.exitCode, 0) << run.err;
  ASSERT_EQ(run.frames.size(), 7u);
  const json& challenge = FirstPacket(run, 0);
  ExpectTokenFields(challenge, {
                                   {"Length", 9, 1, "decimal", 3},
                                   {"Status", 10, 1, "decimal", 0},
                                   {"Message Id", 11, 2, "hex", 4},
                                   {"Pad", 13, 2, "none"},
                               });
  EXPECT_EQ(TokenField(challenge, 0)["note"], " byte(s)");
  EXPECT_EQ(TokenField(challenge, 1)["text"], "No arguments follows");
  EXPECT_EQ(TokenField(challenge, 2)["text"], "TDS_MSG_SEC_CHALLENGE");
  const std::vector<std::string> texts = {"Reserved for CS/I implementation",
                                          "Reserved by application",
                                          "Unknown",
                                          "TDS_MSG_SQL_TBLNAME",
                                          "TDS_MSG_GW_RESERVED",
                                          "TDS_MSG_OMNI_CAPABILITIES"};
  for (size_t i = 0; i < texts.size(); ++i) {
    EXPECT_EQ(TokenField(FirstPacket(run, i + 1), 2)["text"], texts[i]) << i;
  }
}

TEST(GenericMessage, ArgumentsAreAParameterFormatAndValues) {
  const RunResult run =
      DecodeHex(Line("s",
                     "65 03 01 0001"                      // MSG with arguments, TDS_MSG_SEC_ENCRYPT
                     "ec 000a 0001 00 00 00000000 30 00"  // PARAMFMT: one TDS_INT1
                     "d7 2a"                              // PARAMS
                     "fd00")                              // the rest: Pad
                + Line("s", "d7 07")  // a later PARAMS uses the message's format
                + Line("s",
                       "65 03 03 0002"                   // status 3: Unknown, bit 0 set
                       "000a 0001 00 00 00000000 38 00"  // a format without its token type byte
                       "0000002a")                       // values without theirs
                + Line("s", "65 03 01 0001 ec 000a 0001 00 00 00000000 24 00 d7 2a")  // no rule
                + Line("s", "d7 07"));
  ASSERT_EQ(run.exitCode, 0) << run.err;
  ASSERT_EQ(run.frames.size(), 5u);

  const json& msg = FirstPacket(run, 0);
  ExpectTokenFields(msg, {
                             {"Length", 9, 1, "decimal", 3},
                             {"Status", 10, 1, "decimal", 1},
                             {"Message Id", 11, 2, "hex", 1},
                             {"TDS Token Type", 13, 1, "hex", 0xEC},
                             {"Length", 14, 2, "decimal", 10},
                             {"No. of Params", 16, 2, "decimal", 1},
                             {"Param Name Length", 18, 1, "decimal", 0},
                             {"Status", 19, 1, "flags", 0},
                             {"User Type", 20, 4, "signed", 0},
                             {"Data Type", 24, 1, "hex", 0x30},
                             {"Locale length", 25, 1, "decimal", 0},
                             {"TDS Token Type", 26, 1, "hex", 0xD7},
                             {"Data", 27, 1, "decimal", 42},
                             {"Pad", 28, 2, "none"},
                         });
  EXPECT_EQ(TokenField(msg, 1)["text"], "Arguments follows this message");
  EXPECT_EQ(TokenField(msg, 2)["text"], "TDS_MSG_SEC_ENCRYPT");
  EXPECT_EQ(TokenField(msg, 3)["text"], "Description of Parameter Data");
  EXPECT_EQ(TokenField(msg, 11)["text"], "Parameter Data");
  ExpectTokenFields(FirstPacket(run, 1), {{"Data", 9, 1, "decimal", 7}});

  const json& bare = FirstPacket(run, 2);
  EXPECT_EQ(TokenField(bare, 1)["text"], "Unknown");
  EXPECT_EQ(TokenLabels(bare),
            (std::vector<std::string>{"Length", "Status", "Message Id", "Length", "No. of Params",
                                      "Param Name Length", "Status", "User Type", "Data Type",
                                      "Locale length", "Data"}));
  EXPECT_EQ(TokenField(bare, 10)["value"], 42);

  // A format that fails stops the message: no values, no Pad, and no format afterwards.
  EXPECT_EQ(TokenLabels(FirstPacket(run, 3)).back(), "Data Type");
  ExpectTokenFields(FirstPacket(run, 4), {{"No state information available", 9, 1, "dump", "07"}});
}
