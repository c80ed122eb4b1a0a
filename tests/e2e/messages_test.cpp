// ERROR, INFO and EED end to end, with the message tail they share.
#include <gtest/gtest.h>

#include "token_packets.h"

using nlohmann::json;
using tokenhex::ExpectTokenFields;
using tokenhex::FirstPacket;
using tokenhex::Line;
using tokenhex::Packet;
using tokenhex::TokenField;
using tokenhex::TokenLabels;

using Names = std::vector<std::string>;

TEST(ErrorInfo, HeadAndTail) {
  const RunResult run =
      DecodeHex(Line("s", "aa 000c 000000d0 01 10 0000 00 00 0001") +  // everything empty: 14 bytes
                Line("s",
                     "ab 0017 ffffffff 02 0a"  // INFO -1
                     "0005 68656c6c6f"         // "hello"
                     "03 535256 02 7370"       // server "SRV", procedure "sp"
                     "0007 fd00"));            // line 7, then another token: Pad
  ASSERT_EQ(run.exitCode, 0) << run.err;
  ASSERT_EQ(run.frames.size(), 2u);

  const json& error = FirstPacket(run, 0);
  ExpectTokenFields(error, {
                               {"Length", 9, 2, "decimal", 12},
                               {"Error number", 11, 4, "signed", 208},
                               {"Error state", 15, 1, "decimal", 1},
                               {"Error class", 16, 1, "decimal", 16},
                               {"Message Length", 17, 2, "decimal", 0},
                               {"Server name length", 19, 1, "decimal", 0},
                               {"Proc. name length", 20, 1, "decimal", 0},
                               {"Line number", 21, 2, "decimal", 1},
                           });
  for (size_t i : {0u, 4u, 5u, 6u}) EXPECT_EQ(TokenField(error, i)["note"], " byte(s)");

  const json& info = FirstPacket(run, 1);
  EXPECT_EQ(TokenLabels(info),
            (Names{"Length", "Info number", "Info state", "Info class", "Message Length",
                   "Info Message", "Server name length", "Server Name", "Proc. name length",
                   "Proc. name", "Line number", "Pad"}));
  EXPECT_EQ(TokenField(info, 1)["value"], -1);
  EXPECT_EQ(TokenField(info, 5)["value"], "hello");
  EXPECT_EQ(TokenField(info, 7)["value"], "SRV");
  EXPECT_EQ(TokenField(info, 9)["value"], "sp");
  EXPECT_EQ(TokenField(info, 10)["value"], 7);
  EXPECT_EQ(TokenField(info, 11)["size"], 2);
}

TEST(ErrorInfo, MessageLengthFrom0x8000CountsAsNone) {
  const RunResult run =
      DecodeHex(Line("s", "aa 0000 00000001 00 00 8000 03 535256 00 0002") +
                // The frame ends inside the server name.
                "s " + Packet("aa 0000 00000001 00 00 0002 6869 05 5352", 0, 5) + "\n");
  ASSERT_EQ(run.exitCode, 0) << run.err;
  ASSERT_EQ(run.frames.size(), 2u);
  const json& none = FirstPacket(run, 0);
  EXPECT_EQ(TokenLabels(none),
            (Names{"Length", "Error number", "Error state", "Error class", "Message Length",
                   "Server name length", "Server Name", "Proc. name length", "Line number"}));
  EXPECT_EQ(TokenField(none, 4)["value"], 0x8000);
  EXPECT_EQ(TokenField(none, 5)["offset"], 19);
  EXPECT_EQ(TokenField(none, 6)["value"], "SRV");

  const json& cut = FirstPacket(run, 1);
  EXPECT_EQ(TokenLabels(cut).back(), "Server name length");
  EXPECT_EQ(TokenField(cut, 5)["value"], "hi");
  EXPECT_EQ(cut["refused"]["label"], "Server Name");
  EXPECT_EQ(cut["refused"]["size"], 5);
}

TEST(Eed, ExtendedHeadThenTail) {
  const RunResult run =
      DecodeHex(Line("s",
                     "e5 0000 ffffffff 01 0e"  // unsigned number
                     "05 5a5a5a5a5a"           // SQL state in hexadecimal
                     "01 0002"                 // status, transaction state
                     "0003 6d7367 00 00 0004") +
                Line("s", "e5 0000 00000fa2 01 0e 00 00 0000 0000 00 00 0004 ee"));  // no SQL state
  ASSERT_EQ(run.exitCode, 0) << run.err;
  ASSERT_EQ(run.frames.size(), 2u);

  const json& eed = FirstPacket(run, 0);
  ExpectTokenFields(eed, {
                             {"Length", 9, 2, "decimal", 0},
                             {"Message Number", 11, 4, "decimal", 4294967295u},
                             {"Message State", 15, 1, "decimal", 1},
                             {"Class of the message", 16, 1, "decimal", 14},
                             {"SQL state length", 17, 1, "decimal", 5},
                             {"SQL state", 18, 5, "hex", "5a5a5a5a5a"},
                             {"Status", 23, 1, "hex", 1},
                             {"Transaction", 24, 2, "decimal", 2},
                             {"Message Length", 26, 2, "decimal", 3},
                             {"Message", 28, 3, "string", "msg"},
                             {"Server name length", 31, 1, "decimal", 0},
                             {"Proc. name length", 32, 1, "decimal", 0},
                             {"Line number", 33, 2, "decimal", 4},
                         });
  EXPECT_EQ(TokenField(eed, 4)["note"], " byte(s)");
  EXPECT_EQ(TokenField(eed, 6)["text"], "Extended error follows");
  EXPECT_EQ(TokenField(eed, 7)["text"], "Transaction still in progress");

  const json& plain = FirstPacket(run, 1);
  EXPECT_EQ(TokenLabels(plain).at(5), "Status");
  EXPECT_EQ(TokenField(plain, 5)["text"], "No extended error");
  EXPECT_EQ(TokenLabels(plain).back(), "Pad");
}
