// DONE, DONEPROC and DONEINPROC end to end.
#include "token_packets.h"

using namespace tokenhex;

namespace {

const char* const kCountValid = "........ ...1.... The count argument is valid";
const char* const kMoreResults = "........ .......1 More results to follow";
const json kRows = Note("rows");

}  // namespace

TEST(Done, StatusDecidesHowTheCountIsShown) {
  const std::vector<json> p =
      Packets(Line("s", "fd 0000 0000 00000005") +          // status 0
                  Line("s", "fd 0010 0001 0000000c") +      // count valid
                  Line("s", "fd 0011 0004 ffffffff") +      // more, count
                  Line("s", "fd 0008 0007 00000000") +      // a procedure
                  Line("s", "fd 0000 0000 00000000 fd00"),  // a second token
              5);
  ExpectFields(p[0],
               {{"Status", 9, 2, "flags", 0, {{"note", "Succesful Completion"}, {"bits", kAbsent}}},
                {"Transaction", 11, 2, "decimal", 0, Text("Not currently in a transaction")},
                {"Row count is not valid", 13, 4, "none", nullptr, kRows}});
  ExpectFields(
      p[1],
      {{"Status", 9, 2, "flags", 0x10, {{"bits", json::array({kCountValid})}, {"note", kAbsent}}},
       {"Transaction", 11, 2, "decimal", 1,
        Text("Request caused transaction to complete succesfully")},
       {"Row Count", 13, 4, "signed", 12, kRows}});
  ExpectFields(p[2],
               {{"Status", 9, 2, "flags", 0x11, Bits({kMoreResults, kCountValid})},
                {"Transaction", 11, 2, "decimal", 4, Text("Request caused transaction to abort")},
                {"Row Count", 13, 4, "signed", -1}});
  ExpectFields(p[3], {{"Status", 9, 2, "flags", 8,
                       Bits({"........ ....1... This is from the results of a stored procedure"})},
                      {"Transaction", 11, 2, "decimal", 7, Text("Unknown")},
                      {"Row count is not valid", 13, 4, "none"}});
  // Only the first token is decoded; the rest of the packet is one Pad.
  EXPECT_EQ(TokenLabels(p[4]), (Names{"Status", "Transaction", "Row count is not valid", "Pad"}));
  EXPECT_EQ(Key(p[4], 3, "size"), 2);
}

TEST(DoneProc, AlwaysShowsTheCount) {
  const std::vector<json> p = Packets(Line("s", "fe 0002 0003 00000007") +  // error, no count bit
                                          Line("s", "ff 0002 0003 00000007") +  // DONEINPROC alike
                                          Line("s", "fe 0000 0000 00000000") +
                                          Line("s", "ff 0008 0000 00000000"),  // no procedure bit
                                      4);
  for (size_t i = 0; i < 2; ++i) {
    ExpectFields(p[i], {{"Status", 9, 2, "flags", 2, Bits({"........ ......1. Error occured"})},
                        {"Transaction", 11, 2, "decimal", 3,
                         Text("Request caused a statement abort to occur")},
                        {"Row Count", 13, 4, "signed", 7, kRows}});
  }
  EXPECT_EQ(Key(p[2], 0, "note"), "Succesful Completion");
  EXPECT_EQ(Key(p[2], 2, "label"), "Row Count");
  EXPECT_EQ(Key(p[3], 0, "bits"), json::array());
}

TEST(Done, FrameEndingInsideTheToken) {
  const std::vector<json> p = Packets(Cut("s", "fd 00", 7) +               // 1 byte left
                                          Cut("s", "fe 00", 7) +           // the same
                                          Cut("s", "fd 0010 0000 00", 3),  // cut count
                                      3);
  for (size_t i = 0; i < 2; ++i) {
    EXPECT_TRUE(TokenLabels(p[i]).empty()) << p[i].dump();
    EXPECT_FALSE(p[i].contains("refused"));  // nothing asked for: no Pad either
  }
  EXPECT_EQ(TokenLabels(p[2]), (Names{"Status", "Transaction"}));
  ExpectHas(p[2].at("refused"), {{"label", "Row Count"}, {"left", 1}});
}
