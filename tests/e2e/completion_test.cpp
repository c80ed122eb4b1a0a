// DONE, DONEPROC and DONEINPROC end to end.
#include <gtest/gtest.h>

#include "token_packets.h"

using nlohmann::json;
using tokenhex::ExpectTokenFields;
using tokenhex::FirstPacket;
using tokenhex::Line;
using tokenhex::Packet;
using tokenhex::TokenField;
using tokenhex::TokenLabels;

namespace {

const char* const kCountValid = "........ ...1.... The count argument is valid";
const char* const kMoreResults = "........ .......1 More results to follow";

}  // namespace

TEST(Done, StatusDecidesHowTheCountIsShown) {
  const RunResult run = DecodeHex(Line("s", "fd 0000 0000 00000005") +       // status 0
                                  Line("s", "fd 0010 0001 0000000c") +       // count valid
                                  Line("s", "fd 0011 0004 ffffffff") +       // more results, count
                                  Line("s", "fd 0008 0007 00000000") +       // from a procedure
                                  Line("s", "fd 0000 0000 00000000 fd00"));  // a second token
  ASSERT_EQ(run.exitCode, 0) << run.err;
  ASSERT_EQ(run.frames.size(), 5u);

  const json& success = FirstPacket(run, 0);
  ExpectTokenFields(success, {
                                 {"Status", 9, 2, "flags", 0},
                                 {"Transaction", 11, 2, "decimal", 0},
                                 {"Row count is not valid", 13, 4, "none"},
                             });
  EXPECT_EQ(TokenField(success, 0)["note"], "Succesful Completion");
  EXPECT_FALSE(TokenField(success, 0).contains("bits"));
  EXPECT_EQ(TokenField(success, 1)["text"], "Not currently in a transaction");
  EXPECT_EQ(TokenField(success, 2)["note"], "rows");

  const json& counted = FirstPacket(run, 1);
  ExpectTokenFields(counted, {
                                 {"Status", 9, 2, "flags", 0x10},
                                 {"Transaction", 11, 2, "decimal", 1},
                                 {"Row Count", 13, 4, "signed", 12},
                             });
  EXPECT_EQ(TokenField(counted, 0)["bits"], json({kCountValid}));
  EXPECT_FALSE(TokenField(counted, 0).contains("note"));
  EXPECT_EQ(TokenField(counted, 1)["text"], "Request caused transaction to complete succesfully");
  EXPECT_EQ(TokenField(counted, 2)["note"], "rows");

  const json& more = FirstPacket(run, 2);
  EXPECT_EQ(TokenField(more, 0)["bits"], json({kMoreResults, kCountValid}));
  EXPECT_EQ(TokenField(more, 1)["text"], "Request caused transaction to abort");
  EXPECT_EQ(TokenField(more, 2)["value"], -1);

  const json& fromProc = FirstPacket(run, 3);
  EXPECT_EQ(TokenField(fromProc, 0)["bits"],
            json({"........ ....1... This is from the results of a stored procedure"}));
  EXPECT_EQ(TokenField(fromProc, 1)["text"], "Unknown");
  EXPECT_EQ(TokenField(fromProc, 2)["label"], "Row count is not valid");

  // Only the first token is decoded; the rest of the packet is one Pad.
  EXPECT_EQ(TokenLabels(FirstPacket(run, 4)),
            (std::vector<std::string>{"Status", "Transaction", "Row count is not valid", "Pad"}));
  EXPECT_EQ(TokenField(FirstPacket(run, 4), 3)["size"], 2);
}

TEST(DoneProc, AlwaysShowsTheCount) {
  const RunResult run = DecodeHex(Line("s", "fe 0002 0003 00000007") +  // error, no count bit
                                  Line("s", "ff 0002 0003 00000007") +  // DONEINPROC alike
                                  Line("s", "fe 0000 0000 00000000") +
                                  Line("s", "ff 0008 0000 00000000"));  // no procedure bit here
  ASSERT_EQ(run.exitCode, 0) << run.err;
  ASSERT_EQ(run.frames.size(), 4u);
  for (size_t frame = 0; frame < 2; ++frame) {
    const json& packet = FirstPacket(run, frame);
    ExpectTokenFields(packet, {
                                  {"Status", 9, 2, "flags", 2},
                                  {"Transaction", 11, 2, "decimal", 3},
                                  {"Row Count", 13, 4, "signed", 7},
                              });
    EXPECT_EQ(TokenField(packet, 0)["bits"], json({"........ ......1. Error occured"}));
    EXPECT_EQ(TokenField(packet, 1)["text"], "Request caused a statement abort to occur");
    EXPECT_EQ(TokenField(packet, 2)["note"], "rows");
  }
  EXPECT_EQ(TokenField(FirstPacket(run, 2), 0)["note"], "Succesful Completion");
  EXPECT_EQ(TokenField(FirstPacket(run, 2), 2)["label"], "Row Count");
  EXPECT_EQ(TokenField(FirstPacket(run, 3), 0)["bits"], json::array());
}

TEST(Done, FrameEndingInsideTheToken) {
  const RunResult run = DecodeHex("s " + Packet("fd 00", 0, 7) + "\n" +            // 1 byte left
                                  "s " + Packet("fe 00", 0, 7) + "\n" +            // the same
                                  "s " + Packet("fd 0010 0000 00", 0, 3) + "\n");  // cut count
  ASSERT_EQ(run.exitCode, 0) << run.err;
  ASSERT_EQ(run.frames.size(), 3u);
  for (size_t frame = 0; frame < 2; ++frame) {
    const json& packet = FirstPacket(run, frame);
    EXPECT_TRUE(TokenLabels(packet).empty()) << packet.dump();
    EXPECT_FALSE(packet.contains("refused"));  // nothing asked for: no Pad either
  }
  const json& cut = FirstPacket(run, 2);
  EXPECT_EQ(TokenLabels(cut), (std::vector<std::string>{"Status", "Transaction"}));
  EXPECT_EQ(cut["refused"]["label"], "Row Count");
  EXPECT_EQ(cut["refused"]["left"], 1);
}
